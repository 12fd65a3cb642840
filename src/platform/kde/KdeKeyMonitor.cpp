#include "platform/kde/KdeKeyMonitor.h"

#include "platform/kde/KGlobalAccelShortcut.h"
#include "settings/ShortcutText.h"

KdeKeyMonitor::KdeKeyMonitor(KGlobalAccelShortcut& shortcut) : shortcut_(shortcut) {}

KdeKeyMonitor::~KdeKeyMonitor() {
    stop();
}

bool KdeKeyMonitor::start(Handler handler) {
    stop();
    KGlobalAccelShortcut* shortcut = &shortcut_;
    connection_ = QObject::connect(
        &shortcut_, &KGlobalAccelShortcut::pressed, &shortcut_, [shortcut, handler = std::move(handler)] {
            if (auto key = keyPressOfShortcutText(shortcut->shortcutText()))
                handler(*key);
        });
    return true;
}

void KdeKeyMonitor::stop() {
    QObject::disconnect(connection_);
}
