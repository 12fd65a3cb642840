#pragma once

#include "platform/DesktopPlatform.h"

#include <memory>

class X11AccessibilityTrust;
class X11Connection;
class X11KeyTranslator;
class X11PointerTracker;

// The X11 backend (an X.Org session, or XWayland where nothing better serves): the application draws
// the highlight into an override-redirect window of its own connection, kept on the pointer by the
// pointer tracker's thread; presses and keys come from XInput 2 raw events. It owns that connection,
// the tracker, the key translator and the trust probe.
// Thread-safety: GUI thread only.
class X11DesktopPlatform : public DesktopPlatform {
  public:
    // Opens the display named by $DISPLAY; null when it cannot be opened. Works before the application
    // object exists; everything else is made at first use, after it.
    static std::unique_ptr<X11DesktopPlatform> open();

    explicit X11DesktopPlatform(std::unique_ptr<X11Connection> connection);
    ~X11DesktopPlatform() override;
    X11DesktopPlatform(const X11DesktopPlatform&) = delete;
    X11DesktopPlatform& operator=(const X11DesktopPlatform&) = delete;

    AccessibilityTrust& trust() override;
    KeyTranslator& keyTranslator() override;
    std::unique_ptr<KeyMonitor> makeGlobalKeyMonitor() override;
    std::unique_ptr<HighlightOverlay> makeOverlay(HighlightSettings& settings, Click& click) override;

  private:
    std::unique_ptr<X11Connection> connection_;
    std::unique_ptr<X11KeyTranslator> translator_;
    std::unique_ptr<X11AccessibilityTrust> trust_;
    // Follows the pointer and reads presses on its own thread and connections; outlives every overlay.
    std::unique_ptr<X11PointerTracker> tracker_;
};
