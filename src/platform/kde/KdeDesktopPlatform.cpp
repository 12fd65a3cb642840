#include "platform/kde/KdeDesktopPlatform.h"

#include "platform/compositor/CompositorPartTrust.h"
#include "platform/kde/KGlobalAccelShortcut.h"
#include "platform/kde/KdeHighlightOverlay.h"
#include "platform/kde/KdeKeyMonitor.h"
#include "platform/wayland/WaylandKeyTranslator.h"

#include "lumarex/Product.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <cstdio>

namespace {

// Loading runs the effect's constructor in KWin's main loop.
constexpr int kLoadTimeoutMs = 5000;

// Plasma's command-line configuration tool is named after its KDE Frameworks generation, which a Plasma
// session announces in KDE_SESSION_VERSION.
QString kwriteconfig() {
    return qEnvironmentVariableIntValue("KDE_SESSION_VERSION") >= 6 ? QStringLiteral("kwriteconfig6")
                                                                    : QStringLiteral("kwriteconfig5");
}

} // namespace

KdeDesktopPlatform::KdeDesktopPlatform(std::optional<QDBusConnection> bus) : bus_(std::move(bus)) {}
KdeDesktopPlatform::~KdeDesktopPlatform() = default;

QDBusConnection KdeDesktopPlatform::bus() const {
    // The session bus is opened only once the application object exists.
    return bus_ ? *bus_ : QDBusConnection::sessionBus();
}

bool KdeDesktopPlatform::loadEffect() {
    QDBusMessage load =
        QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), QStringLiteral("/Effects"),
                                       QStringLiteral("org.kde.kwin.Effects"), QStringLiteral("loadEffect"));
    load << QString::fromLatin1(kEffectId);
    const QDBusMessage reply = bus().call(load, QDBus::Block, kLoadTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

CompositorHighlightClient& KdeDesktopPlatform::effect() {
    if (!effect_)
        effect_ = std::make_unique<CompositorHighlightClient>(bus(), kEffect);
    return *effect_;
}

KGlobalAccelShortcut& KdeDesktopPlatform::shortcut() {
    if (!shortcut_)
        shortcut_ = std::make_unique<KGlobalAccelShortcut>(bus());
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
                    "\"%2 --file kwinrc --group Plugins --key %1Enabled true\" and then "
                    "\"dbus-send --session --dest=org.kde.KWin /KWin org.kde.KWin.reconfigure\". If it "
                    "is not listed there, install it: the package %3, or \"make install\" of a Lumarex "
                    "built with KWin's development files.")
                    .arg(id, kwriteconfig(), QString::fromLatin1(product::kwinEffectPackage)),
                QStringLiteral("The Lumarex KWin effect that is loaded is version %1, but this Lumarex is "
                               "version %2. Install Lumarex %2 again with its effect (the package ") +
                    QString::fromLatin1(product::kwinEffectPackage) +
                    QStringLiteral("), then log out and back in."),
                {QStringLiteral("KWin Effect"), QStringLiteral("Turn on the Lumarex KWin effect"),
                 QStringLiteral("Required for the highlight"), QStringLiteral("Turn On")}},
            [this] {
                // Loading helps only where no effect answers; another version needs a new install.
                if (!effect().version().isEmpty())
                    return CompositorPartTrust::Remedy{};
                if (loadEffect())
                    return CompositorPartTrust::Remedy{true, {}};
                return CompositorPartTrust::Remedy{
                    false,
                    effectTrust().problem() + QStringLiteral("\n\n") +
                        QStringLiteral("KWin refused to load the effect now: it is not installed where "
                                       "this KWin looks for effects, or it was built for another KWin. "
                                       "Install its package (%1) again, then log out and back in.")
                            .arg(QString::fromLatin1(product::kwinEffectPackage))};
            });
    }
    return *trust_;
}

AccessibilityTrust& KdeDesktopPlatform::trust() {
    return effectTrust();
}

KeyTranslator& KdeDesktopPlatform::keyTranslator() {
    // With the compositor's keymap, so a key records as the desktop's shortcut service will bind it.
    if (!translator_)
        translator_ = std::make_unique<WaylandKeyTranslator>();
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
