#pragma once

#include "platform/AccessibilityTrust.h"

#include <QPointer>
#include <QString>

#include <memory>

class GnomeExtensionInstaller;
class GnomeShellExtension;
class QMessageBox;

// On GNOME the highlight, the presses and the shortcut all go through the Lumarex Shell extension, so
// "trusted" means: the extension is enabled and answers, with this program's version. The prompt installs
// and enables it where it can, and says what is left to do where it cannot.
// Thread-safety: GUI thread only.
class GnomeAccessibilityTrust : public AccessibilityTrust {
  public:
    GnomeAccessibilityTrust(GnomeShellExtension& extension, QString expectedVersion,
                            std::unique_ptr<GnomeExtensionInstaller> installer);
    ~GnomeAccessibilityTrust() override;

    bool isTrusted() override;
    bool prompt(QWidget* parent = nullptr) override;
    Wording wording() const override;
    // The extension's signals reach monitors made before it came, and the overlay sends its state again.
    bool grantNeedsRestart() const override { return false; }

    // What is wrong and what to do, for the prompt and standard error; empty while trusted.
    QString problem();

  private:
    GnomeShellExtension& extension_;
    QString expectedVersion_;
    std::unique_ptr<GnomeExtensionInstaller> installer_;
    QPointer<QMessageBox> dialog_;
};
