#pragma once

#include "support/Rgb.h"
#include "support/XConnection.h"

#include <chrono>

namespace testsupport {

// A full-screen window of one solid colour, so that what a translucent overlay shows over it is a blend a
// test can compute. Override-redirect, so it needs no window manager and keeps the geometry it was given;
// it selects no input, so presses over it count as presses in some other program.
// Thread-safety: as its XConnection.
class BackgroundWindow {
  public:
    BackgroundWindow(XConnection& connection, Rgb colour);
    ~BackgroundWindow();
    BackgroundWindow(const BackgroundWindow&) = delete;
    BackgroundWindow& operator=(const BackgroundWindow&) = delete;

    Rgb colour() const { return colour_; }
    XWindowId window() const { return window_; }
    // Stacks it above every window mapped so far (windows mapped later go above it).
    void raise();
    void lower();
    // Waits until the screen shows the colour at (x, y): a compositor paints some time after the map.
    bool waitShownAt(int x, int y, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  private:
    XConnection& connection_;
    Rgb colour_;
    XWindowId window_ = 0;
};

} // namespace testsupport
