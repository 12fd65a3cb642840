#include "platform/kde/KdeDesktopPlatform.h"

#include "platform/compositor/CompositorPartTrust.h"
#include "platform/kde/KGlobalAccelShortcut.h"
#include "platform/kde/KdeHighlightOverlay.h"
#include "platform/kde/KdeKeyMonitor.h"
#include "platform/x11/X11KeyTranslator.h"

#include "lumarex/Product.h"

#include <QDBusConnection>

#include <cstdio>

KdeDesktopPlatform::KdeDesktopPlatform() = default;
KdeDesktopPlatform::~KdeDesktopPlatform() = default;

CompositorHighlightClient& KdeDesktopPlatform::effect() {
    if (!effect_)
        effect_ = std::make_unique<CompositorHighlightClient>(QDBusConnection::sessionBus(), kEffect);
    return *effect_;
}

KGlobalAccelShortcut& KdeDesktopPlatform::shortcut() {
    if (!shortcut_)
        shortcut_ = std::make_unique<KGlobalAccelShortcut>(QDBusConnection::sessionBus());
    return *shortcut_;
}

CompositorPartTrust& KdeDesktopPlatform::effectTrust() {
    if (!trust_) {
        const QString id = QString::fromLatin1(kEffectId);
        trust_ = std::make_unique<CompositorPartTrust>(
            effect(), QString::fromLatin1(product::version),
            CompositorPartTrust::Texts{
                QStringLiteral("KWin Effect"),
                QStringLiteral(
                    "On Plasma, Lumarex draws the highlight through its KWin effect, \"Lumarex Highlight\", "
                    "which is not loaded. Turn it on in System Settings under Desktop Effects, or run "
                    "\"kwriteconfig5 --file kwinrc --group Plugins --key %1Enabled true\" and then "
                    "\"dbus-send --session --dest=org.kde.KWin /KWin org.kde.KWin.reconfigure\". If it "
                    "is not listed there, install Lumarex again: it brings the effect.")
                    .arg(id),
                QStringLiteral("The Lumarex KWin effect that is loaded is version %1, but this Lumarex is "
                               "version %2. Install Lumarex %2 again (it brings its effect), then log out "
                               "and back in.")});
    }
    return *trust_;
}

AccessibilityTrust& KdeDesktopPlatform::trust() {
    return effectTrust();
}

KeyTranslator& KdeDesktopPlatform::keyTranslator() {
    // Wayland key events carry xkb key codes and modifier masks, which this translator reads.
    if (!translator_)
        translator_ = std::make_unique<X11KeyTranslator>("evdev", "pc105", "us");
    return *translator_;
}

std::unique_ptr<KeyMonitor> KdeDesktopPlatform::makeGlobalKeyMonitor() {
    return std::make_unique<KdeKeyMonitor>(shortcut());
}

std::unique_ptr<HighlightOverlay> KdeDesktopPlatform::makeOverlay(HighlightSettings& settings, Click& click) {
    if (const QString problem = effectTrust().problem(); !problem.isEmpty())
        std::fprintf(stderr, "lumarex: %s\n", qPrintable(problem));
    return std::make_unique<KdeHighlightOverlay>(effect(), shortcut(), settings, click);
}
