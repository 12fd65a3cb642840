#pragma once

#include "platform/AccessibilityTrust.h"

#include <QPointer>
#include <QString>

class GnomeShellExtension;
class QMessageBox;

// On GNOME the highlight, the presses and the shortcut all go through the Lumarex Shell extension, so
// "trusted" means: the extension is enabled and answers, with this program's version.
// Thread-safety: GUI thread only.
class GnomeAccessibilityTrust : public AccessibilityTrust {
  public:
    GnomeAccessibilityTrust(GnomeShellExtension& extension, QString expectedVersion);

    bool isTrusted() override;
    bool prompt(QWidget* parent = nullptr) override;

    // What is wrong and what to do, for the prompt and standard error; empty while trusted.
    QString problem();

  private:
    GnomeShellExtension& extension_;
    QString expectedVersion_;
    QPointer<QMessageBox> dialog_;
};
