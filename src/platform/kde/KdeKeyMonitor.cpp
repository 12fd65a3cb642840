#include "platform/kde/KdeKeyMonitor.h"

#include "platform/gnome/GnomeAccelerator.h"
#include "platform/kde/KGlobalAccelShortcut.h"

KdeKeyMonitor::KdeKeyMonitor(KGlobalAccelShortcut& shortcut) : shortcut_(shortcut) {}

KdeKeyMonitor::~KdeKeyMonitor() {
    stop();
}

bool KdeKeyMonitor::start(Handler handler) {
    stop();
    KGlobalAccelShortcut* shortcut = &shortcut_;
    connection_ = QObject::connect(
        &shortcut_, &KGlobalAccelShortcut::pressed, &shortcut_, [shortcut, handler = std::move(handler)] {
            if (auto key = GnomeAccelerator::keyOfShortcutText(shortcut->shortcutText()))
                handler(*key);
        });
    return true;
}

void KdeKeyMonitor::stop() {
    QObject::disconnect(connection_);
}
