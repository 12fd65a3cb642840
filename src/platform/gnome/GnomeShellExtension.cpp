#include "platform/gnome/GnomeShellExtension.h"

GnomeShellExtension::GnomeShellExtension(QDBusConnection bus, QObject* parent)
    : CompositorHighlightClient(std::move(bus), {kService, kPath, kInterface}, parent) {
    this->bus().connect(kService, kPath, kInterface, QStringLiteral("ShortcutPressed"), this,
                        SLOT(onShortcutPressed()));
}

void GnomeShellExtension::setShortcut(const QString& shortcutText, const QString& accelerator) {
    shortcutText_ = shortcutText;
    send(QStringLiteral("SetShortcut"), {accelerator});
}

void GnomeShellExtension::onShortcutPressed() {
    emit shortcutPressed();
}
