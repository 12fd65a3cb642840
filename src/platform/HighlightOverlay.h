#pragma once

#include <QPoint>

#include <functional>
#include <optional>

// The highlight as a desktop backend puts it on screen: the base circle centred on the pointer and
// following it while shown, and the click look while the click flag is raised. The look comes from the
// settings and the click flag the backend was made with; it follows their change signals by itself.
//
// This is the one level at which every backend meets the overlay controller, which never learns which
// kind runs:
// - where the application draws (X11), the backend composes a click-through surface, a pointer monitor
//   and the drawing view, and moves the surface itself;
// - where the compositor draws (a GNOME Shell extension, a KWin effect), the backend sends the look,
//   show, hide and the click flag over the session bus, and the compositor moves and animates the
//   circles.
// Either way the backend reports left presses anywhere on the desktop.
// Thread-safety: GUI thread only; handlers run on the GUI thread.
class HighlightOverlay {
  public:
    // Where the pointer was at a press, when the backend knows it, in the toolkit's coordinates (those of
    // its window geometry, which a scaled desktop divides from device pixels).
    using PressHandler = std::function<void(std::optional<QPoint> position)>;

    virtual ~HighlightOverlay() = default;

    // Shows the highlight where the pointer is now and keeps it there until hide(). Showing a shown
    // highlight brings it to the pointer again.
    virtual void show() = 0;
    virtual void hide() = 0;

    // Reports left-button presses made anywhere until stopWatchingPresses(). False when the desktop
    // refuses; then none arrive.
    virtual bool startWatchingPresses(PressHandler onLeftPress) = 0;
    virtual void stopWatchingPresses() = 0;
};
