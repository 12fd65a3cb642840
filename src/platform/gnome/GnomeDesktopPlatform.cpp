#include "platform/gnome/GnomeDesktopPlatform.h"

#include "platform/compositor/CompositorPartTrust.h"
#include "platform/gnome/GnomeExtensionInstaller.h"
#include "platform/gnome/GnomeHighlightOverlay.h"
#include "platform/gnome/GnomeKeyMonitor.h"
#include "platform/gnome/GnomeShellExtension.h"
#include "platform/wayland/WaylandKeyTranslator.h"

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

CompositorPartTrust& GnomeDesktopPlatform::gnomeTrust() {
    if (!trust_) {
        const QString uuid = QString::fromLatin1(GnomeShellExtension::kUuid);
        const QString version = QString::fromLatin1(product::version);
        installer_ = std::make_unique<GnomeExtensionInstaller>(QDBusConnection::sessionBus(), version);
        trust_ = std::make_unique<CompositorPartTrust>(
            extension(), version,
            CompositorPartTrust::Texts{
                QStringLiteral("GNOME Shell Extension"),
                QStringLiteral(
                    "On GNOME, Lumarex draws the highlight and hears its shortcut through its GNOME Shell "
                    "extension, which is not active. Press Enable in Lumarex's settings window, or enable it "
                    "with \"gnome-extensions enable %1\" (or in the Extensions application). GNOME loads a "
                    "newly installed extension only after you log out and back in.")
                    .arg(uuid),
                QStringLiteral(
                    "The Lumarex GNOME Shell extension that is active is version %1, but this Lumarex "
                    "is version %2. Install Lumarex %2 again (it brings its extension), then log out "
                    "and back in."),
                {QStringLiteral("GNOME Shell Extension"),
                 QStringLiteral("Enable the Lumarex GNOME Shell extension"),
                 QStringLiteral("Required for the highlight and its shortcut"), QStringLiteral("Enable")}},
            [this] {
                const GnomeExtensionInstaller::Result result = installer_->installAndEnable();
                return CompositorPartTrust::Remedy{result.active, result.message};
            });
    }
    return *trust_;
}

AccessibilityTrust& GnomeDesktopPlatform::trust() {
    return gnomeTrust();
}

KeyTranslator& GnomeDesktopPlatform::keyTranslator() {
    // With the compositor's keymap, so a key records as the desktop's shortcut service will bind it.
    if (!translator_)
        translator_ = std::make_unique<WaylandKeyTranslator>();
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
