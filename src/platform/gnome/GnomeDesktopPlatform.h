#pragma once

#include "platform/DesktopPlatform.h"

#include <memory>

class CompositorPartTrust;
class GnomeExtensionInstaller;
class GnomeShellExtension;
class WaylandKeyTranslator;

// The GNOME backend on Wayland: the Lumarex GNOME Shell extension draws the highlight, reports presses
// and binds the shortcut; this side drives it over the session bus. It owns the extension's client, the
// trust probe and the key translator (xkbcommon with a US layout, for the recorder's key events).
// Thread-safety: GUI thread only; everything is made at first use, after the application object.
class GnomeDesktopPlatform : public DesktopPlatform {
  public:
    GnomeDesktopPlatform();
    ~GnomeDesktopPlatform() override;
    GnomeDesktopPlatform(const GnomeDesktopPlatform&) = delete;
    GnomeDesktopPlatform& operator=(const GnomeDesktopPlatform&) = delete;

    AccessibilityTrust& trust() override;
    KeyTranslator& keyTranslator() override;
    std::unique_ptr<KeyMonitor> makeGlobalKeyMonitor() override;
    std::unique_ptr<HighlightOverlay> makeOverlay(HighlightSettings& settings, Click& click) override;

  private:
    GnomeShellExtension& extension();
    CompositorPartTrust& gnomeTrust();

    std::unique_ptr<GnomeShellExtension> extension_;
    std::unique_ptr<GnomeExtensionInstaller> installer_;
    std::unique_ptr<CompositorPartTrust> trust_;
    std::unique_ptr<WaylandKeyTranslator> translator_;
};
