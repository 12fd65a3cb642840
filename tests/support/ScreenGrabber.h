#pragma once

#include "support/Rgb.h"

#include <string>
#include <vector>

namespace testsupport {

class XConnection;

// A rectangle of screen pixels.
struct ScreenImage {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels; // row-major

    // Screen coordinates; must lie inside the grabbed rectangle.
    Rgb at(int screenX, int screenY) const { return pixels[(screenY - y) * width + (screenX - x)]; }
};

// Reads what the screen shows: the root window's pixels (XGetImage on the root window returns the
// framebuffer, so with a compositing manager it holds the composited, blended result).
// Thread-safety: as its XConnection.
class ScreenGrabber {
  public:
    explicit ScreenGrabber(XConnection& connection) : connection_(connection) {}

    // Throws std::runtime_error if the rectangle cannot be read.
    ScreenImage grab(int x, int y, int width, int height) const;
    ScreenImage grabAll() const;
    Rgb pixel(int x, int y) const;
    // Writes a PNG of the whole screen; returns false on failure.
    bool savePng(const std::string& path) const;

  private:
    XConnection& connection_;
};

} // namespace testsupport
