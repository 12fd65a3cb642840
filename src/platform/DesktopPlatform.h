#pragma once

#include <memory>

class AccessibilityTrust;
class Click;
class HighlightOverlay;
class HighlightSettings;
class KeyMonitor;
class KeyTranslator;

// The backend that serves this desktop session, as the platform factory chose and built it. It owns
// every platform object it hands out by reference (trust, key translator, and whatever connections and
// threads they share), so it must outlive everything made from it. Nothing outside src/platform/ knows
// which backend it is.
// Thread-safety: GUI thread only.
class DesktopPlatform {
  public:
    virtual ~DesktopPlatform() = default;

    // Whether the process may watch input meant for other applications (global shortcuts).
    virtual AccessibilityTrust& trust() = 0;
    // The process's one key translator, shared by the shortcut recorder and every key monitor.
    virtual KeyTranslator& keyTranslator() = 0;
    // A monitor of key presses meant for any application, or null when the session offers none.
    virtual std::unique_ptr<KeyMonitor> makeGlobalKeyMonitor() = 0;
    // The highlight as this desktop shows it, following `settings` and `click`, which outlive it.
    virtual std::unique_ptr<HighlightOverlay> makeOverlay(HighlightSettings& settings, Click& click) = 0;
};
