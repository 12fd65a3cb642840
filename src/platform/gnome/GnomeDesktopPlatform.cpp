#include "platform/gnome/GnomeDesktopPlatform.h"

#include "platform/gnome/GnomeAccessibilityTrust.h"
#include "platform/gnome/GnomeExtensionInstaller.h"
#include "platform/gnome/GnomeHighlightOverlay.h"
#include "platform/gnome/GnomeKeyMonitor.h"
#include "platform/gnome/GnomeShellExtension.h"
#include "platform/x11/X11KeyTranslator.h"

#include "lumarex/Product.h"

#include <QDBusConnection>

#include <cstdio>

GnomeDesktopPlatform::GnomeDesktopPlatform() = default;
GnomeDesktopPlatform::~GnomeDesktopPlatform() = default;

GnomeShellExtension& GnomeDesktopPlatform::extension() {
    if (!extension_)
        extension_ = std::make_unique<GnomeShellExtension>(QDBusConnection::sessionBus());
    return *extension_;
}

GnomeAccessibilityTrust& GnomeDesktopPlatform::gnomeTrust() {
    if (!trust_)
        trust_ = std::make_unique<GnomeAccessibilityTrust>(
            extension(), QString::fromLatin1(product::version),
            std::make_unique<GnomeExtensionInstaller>(QDBusConnection::sessionBus(),
                                                      QString::fromLatin1(product::version)));
    return *trust_;
}

AccessibilityTrust& GnomeDesktopPlatform::trust() {
    return gnomeTrust();
}

KeyTranslator& GnomeDesktopPlatform::keyTranslator() {
    // Wayland key events carry xkb key codes and modifier masks, which this translator reads.
    if (!translator_)
        translator_ = std::make_unique<X11KeyTranslator>("evdev", "pc105", "us");
    return *translator_;
}

std::unique_ptr<KeyMonitor> GnomeDesktopPlatform::makeGlobalKeyMonitor() {
    return std::make_unique<GnomeKeyMonitor>(extension());
}

std::unique_ptr<HighlightOverlay> GnomeDesktopPlatform::makeOverlay(HighlightSettings& settings,
                                                                    Click& click) {
    if (const QString problem = gnomeTrust().problem(); !problem.isEmpty())
        std::fprintf(stderr, "lumarex: %s\n", qPrintable(problem));
    return std::make_unique<GnomeHighlightOverlay>(extension(), settings, click);
}
