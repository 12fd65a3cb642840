#pragma once

#include "platform/AccessibilityTrust.h"

#include <QPointer>
#include <QString>

#include <functional>

class CompositorHighlightClient;
class QMessageBox;

// Where a compositor part draws the highlight and reports presses (the GNOME Shell extension, the KWin
// effect), "trusted" means: the part is enabled and answers, with this program's version. What the user
// is told when it is not comes from the backend; where the compositor can load the part on request, the
// prompt asks it to first.
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
        // Added to `missing` when the compositor refused to load the part when asked.
        QString refused = {};
    };
    // Asks the compositor to load the part now; false when it refuses.
    using Loader = std::function<bool()>;

    // Without a loader the prompt only tells the user what to do.
    CompositorPartTrust(CompositorHighlightClient& client, QString expectedVersion, Texts texts, Loader load = {});

    bool isTrusted() override;
    bool prompt(QWidget* parent = nullptr) override;

    // What is wrong and what to do, for the prompt and standard error; empty while trusted.
    QString problem();

  private:
    CompositorHighlightClient& client_;
    QString expectedVersion_;
    Texts texts_;
    Loader load_;
    QPointer<QMessageBox> dialog_;
};
