#pragma once

#include "platform/AccessibilityTrust.h"

#include <QPointer>
#include <QString>

#include <functional>

class CompositorHighlightClient;
class QMessageBox;

// Where a compositor part draws the highlight and reports presses (the GNOME Shell extension, the KWin
// effect), "trusted" means: the part is enabled and answers, with this program's version. What the user
// is told when it is not comes from the backend; where the backend can install, enable or load the part,
// the prompt does that first.
// Thread-safety: GUI thread only.
class CompositorPartTrust : public AccessibilityTrust {
  public:
    struct Texts {
        // The prompt's window title.
        QString title;
        // The part does not answer: what it does and how to turn it on.
        QString missing;
        // The part answers with another version: %1 is its version, %2 this program's.
        QString otherVersion;
        // The settings window's warning row.
        Wording wording;
    };
    // What the backend's remedy did: the part runs now, or `message` says what is left to do (empty: the
    // usual text).
    struct Remedy {
        bool active = false;
        QString message;
    };
    // Tries to bring the part up now (install, enable, load), as far as the compositor allows.
    using Fix = std::function<Remedy()>;

    // Without a fix the prompt only tells the user what to do.
    CompositorPartTrust(CompositorHighlightClient& client, QString expectedVersion, Texts texts,
                        Fix fix = {});

    bool isTrusted() override;
    bool prompt(QWidget* parent = nullptr) override;
    Wording wording() const override { return texts_.wording; }
    // The part's signals reach monitors made before it came, and the overlay sends its state again.
    bool grantNeedsRestart() const override { return false; }

    // What is wrong and what to do, for the prompt and standard error; empty while trusted.
    QString problem();

  private:
    CompositorHighlightClient& client_;
    QString expectedVersion_;
    Texts texts_;
    Fix fix_;
    QPointer<QMessageBox> dialog_;
};
