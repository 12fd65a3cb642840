#include "platform/gnome/GnomeAccessibilityTrust.h"

#include "platform/gnome/GnomeExtensionInstaller.h"
#include "platform/gnome/GnomeShellExtension.h"

#include <QMessageBox>

#include <cstdio>

GnomeAccessibilityTrust::GnomeAccessibilityTrust(GnomeShellExtension& extension, QString expectedVersion,
                                                 std::unique_ptr<GnomeExtensionInstaller> installer)
    : extension_(extension), expectedVersion_(std::move(expectedVersion)), installer_(std::move(installer)) {}

GnomeAccessibilityTrust::~GnomeAccessibilityTrust() = default;

AccessibilityTrust::Wording GnomeAccessibilityTrust::wording() const {
    return {QStringLiteral("GNOME Shell Extension"),
            QStringLiteral("Enable the Lumarex GNOME Shell extension"),
            QStringLiteral("Required for the highlight and its shortcut"), QStringLiteral("Enable")};
}

bool GnomeAccessibilityTrust::isTrusted() {
    return problem().isEmpty();
}

QString GnomeAccessibilityTrust::problem() {
    const QString version = extension_.version();
    const QString uuid = QString::fromLatin1(GnomeShellExtension::kUuid);
    if (version.isEmpty())
        return QStringLiteral(
                   "On GNOME, Lumarex draws the highlight and hears its shortcut through its GNOME Shell "
                   "extension, which is not active. Press Enable in Lumarex's settings window, or enable it "
                   "with "
                   "\"gnome-extensions enable %1\" (or in the Extensions application). GNOME loads a newly "
                   "installed extension only after you log out "
                   "and back in.")
            .arg(uuid);
    if (version != expectedVersion_)
        return QStringLiteral(
                   "The Lumarex GNOME Shell extension that is active is version %1, but this Lumarex "
                   "is version %2. Install Lumarex %2 again (it brings its extension), then log out "
                   "and back in.")
            .arg(version, expectedVersion_);
    return {};
}

bool GnomeAccessibilityTrust::prompt(QWidget* parent) {
    QString text = problem();
    if (text.isEmpty())
        return true;
    if (installer_) {
        const GnomeExtensionInstaller::Result result = installer_->installAndEnable();
        // Once the Shell runs it, the settings window's next look at the trust clears the warning.
        if (result.active)
            return isTrusted();
        if (!result.message.isEmpty())
            text = result.message;
    }
    std::fprintf(stderr, "lumarex: %s\n", qPrintable(text));
    if (!dialog_) {
        dialog_ = new QMessageBox(QMessageBox::Information, QStringLiteral("GNOME Shell Extension"), text,
                                  QMessageBox::Ok, parent);
        dialog_->setObjectName("accessibilityPrompt");
        dialog_->setAttribute(Qt::WA_DeleteOnClose);
        dialog_->setModal(false);
    }
    dialog_->setText(text);
    dialog_->show();
    dialog_->raise();
    return false;
}
