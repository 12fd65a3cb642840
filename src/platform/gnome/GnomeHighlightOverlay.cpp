#include "platform/gnome/GnomeHighlightOverlay.h"

#include "highlight/HighlightSettings.h"
#include "platform/gnome/GnomeAccelerator.h"
#include "platform/gnome/GnomeShellExtension.h"

#include <cstdio>

GnomeHighlightOverlay::GnomeHighlightOverlay(GnomeShellExtension& extension, HighlightSettings& settings,
                                             Click& click)
    : CompositorHighlightOverlay(extension, settings, click), extension_(extension) {
    keep(QObject::connect(&settings, &HighlightSettings::toggleShortcutChanged, &extension_,
                          [this] { sendShortcut(); }));
    sendShortcut();
}

void GnomeHighlightOverlay::resendAll() {
    // The shortcut first: once the highlight shows again, its shortcut works again too.
    sendShortcut();
    CompositorHighlightOverlay::resendAll();
}

void GnomeHighlightOverlay::sendShortcut() {
    const QString text = settings().toggleShortcut();
    const QString accelerator = GnomeAccelerator::fromShortcutText(text);
    if (!text.isEmpty() && accelerator.isEmpty())
        std::fprintf(stderr, "lumarex: GNOME has no name for the key of the shortcut %s; it is not bound\n",
                     qPrintable(text));
    extension_.setShortcut(text, accelerator);
}
