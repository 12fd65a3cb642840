#pragma once

#include "platform/AccessibilityTrust.h"

#include <QPointer>
#include <QString>

class CompositorHighlightClient;
class QMessageBox;

// Where a compositor part draws the highlight and reports presses (the GNOME Shell extension, the KWin
// effect), "trusted" means: the part is enabled and answers, with this program's version. What the user
// is told when it is not comes from the backend.
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
    };

    CompositorPartTrust(CompositorHighlightClient& client, QString expectedVersion, Texts texts);

    bool isTrusted() override;
    bool prompt(QWidget* parent = nullptr) override;

    // What is wrong and what to do, for the prompt and standard error; empty while trusted.
    QString problem();

  private:
    CompositorHighlightClient& client_;
    QString expectedVersion_;
    Texts texts_;
    QPointer<QMessageBox> dialog_;
};
