#include "platform/kde/KdeHighlightOverlay.h"

#include "highlight/HighlightSettings.h"
#include "platform/compositor/CompositorHighlightClient.h"
#include "platform/kde/KGlobalAccelShortcut.h"

KdeHighlightOverlay::KdeHighlightOverlay(CompositorHighlightClient& effect, KGlobalAccelShortcut& shortcut,
                                         HighlightSettings& settings, Click& click)
    : CompositorHighlightOverlay(effect, settings, click) {
    keep(QObject::connect(&settings, &HighlightSettings::toggleShortcutChanged, &shortcut,
                          [&shortcut, &settings] { shortcut.setShortcut(settings.toggleShortcut()); }));
    shortcut.setShortcut(settings.toggleShortcut());
}
