#pragma once

#include "platform/DesktopPlatform.h"
#include "platform/compositor/CompositorHighlightClient.h"

#include <QDBusConnection>

#include <memory>
#include <optional>

class CompositorPartTrust;
class KGlobalAccelShortcut;
class WaylandKeyTranslator;

// The KDE Plasma backend on Wayland: the Lumarex KWin effect draws the highlight and reports presses,
// driven over the session bus; Plasma's global-shortcut service binds the toggle shortcut. It owns the
// effect's client, the shortcut, the trust probe and the key translator (xkbcommon with a US layout, for
// the recorder's key events).
// Thread-safety: GUI thread only; everything is made at first use, after the application object.
class KdeDesktopPlatform : public DesktopPlatform {
  public:
    static constexpr CompositorHighlightClient::Endpoint kEffect{
        "example.quorvel.Lumarex.KWin", "/example/quorvel/Lumarex/KWin", "example.quorvel.Lumarex.KWin1"};
    // The effect's plugin id, which KWin's configuration and its Effects interface name it by.
    static constexpr auto kEffectId = "lumarex_highlight";

    // `bus` is the session bus unless another is given (tests).
    explicit KdeDesktopPlatform(std::optional<QDBusConnection> bus = std::nullopt);
    ~KdeDesktopPlatform() override;
    KdeDesktopPlatform(const KdeDesktopPlatform&) = delete;
    KdeDesktopPlatform& operator=(const KdeDesktopPlatform&) = delete;

    AccessibilityTrust& trust() override;
    KeyTranslator& keyTranslator() override;
    std::unique_ptr<KeyMonitor> makeGlobalKeyMonitor() override;
    std::unique_ptr<HighlightOverlay> makeOverlay(HighlightSettings& settings, Click& click) override;

  private:
    QDBusConnection bus() const;
    bool loadEffect();
    CompositorHighlightClient& effect();
    KGlobalAccelShortcut& shortcut();
    CompositorPartTrust& effectTrust();

    std::optional<QDBusConnection> bus_;
    std::unique_ptr<CompositorHighlightClient> effect_;
    std::unique_ptr<KGlobalAccelShortcut> shortcut_;
    std::unique_ptr<CompositorPartTrust> trust_;
    std::unique_ptr<WaylandKeyTranslator> translator_;
};
