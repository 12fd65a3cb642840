#pragma once

#include <QPoint>

#include <functional>
#include <optional>

// Watches the pointer globally, whichever application it is over: left-button presses, and whether the
// pointer has started to move. Thread-safety: GUI thread only; handlers run on the GUI thread.
class PointerMonitor {
  public:
    virtual ~PointerMonitor() = default;

    // Starts delivering left-button presses. False when the platform refuses (then no presses arrive).
    virtual bool startWatchingPresses(std::function<void()> onLeftPress) = 0;
    virtual void stopWatchingPresses() = 0;

    // Asks for one call of `onMotion` at the next pointer motion, then the watch ends by itself. False
    // when the platform cannot report motion; the caller must then poll the position itself.
    virtual bool watchNextMotion(std::function<void()> onMotion) = 0;
    virtual void cancelMotionWatch() = 0;

    // The pointer's position in global screen coordinates (top-left origin), or none without a screen.
    virtual std::optional<QPoint> position() = 0;
};
