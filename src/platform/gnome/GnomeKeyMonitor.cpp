#include "platform/gnome/GnomeKeyMonitor.h"

#include "platform/gnome/GnomeShellExtension.h"
#include "settings/ShortcutText.h"

GnomeKeyMonitor::GnomeKeyMonitor(GnomeShellExtension& extension) : extension_(extension) {}

GnomeKeyMonitor::~GnomeKeyMonitor() {
    stop();
}

bool GnomeKeyMonitor::start(Handler handler) {
    stop();
    GnomeShellExtension* extension = &extension_;
    connection_ =
        QObject::connect(&extension_, &GnomeShellExtension::shortcutPressed, &extension_,
                         [extension, handler = std::move(handler)] {
                             if (auto key = keyPressOfShortcutText(extension->shortcutText()))
                                 handler(*key);
                         });
    return true;
}

void GnomeKeyMonitor::stop() {
    QObject::disconnect(connection_);
}
