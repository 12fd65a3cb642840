#include "platform/gnome/GnomeAccessibilityTrust.h"

#include "platform/gnome/GnomeShellExtension.h"

#include <QMessageBox>

GnomeAccessibilityTrust::GnomeAccessibilityTrust(GnomeShellExtension& extension, QString expectedVersion)
    : extension_(extension), expectedVersion_(std::move(expectedVersion)) {}

bool GnomeAccessibilityTrust::isTrusted() {
    return problem().isEmpty();
}

QString GnomeAccessibilityTrust::problem() {
    const QString version = extension_.version();
    const QString uuid = QString::fromLatin1(GnomeShellExtension::kUuid);
    if (version.isEmpty())
        return QStringLiteral(
                   "On GNOME, Lumarex draws the highlight and hears its shortcut through its GNOME Shell "
                   "extension, which is not active. Enable it with \"gnome-extensions enable %1\" (or in the "
                   "Extensions application). GNOME loads a newly installed extension only after you log out "
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
    const QString text = problem();
    if (text.isEmpty())
        return true;
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
