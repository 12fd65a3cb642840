#include "support/XTestDriver.h"

#include "support/XConnection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <thread>

namespace testsupport {

XTestDriver::XTestDriver(XConnection& connection) : connection_(connection) {
    int eventBase, errorBase, major, minor;
    if (!XTestQueryExtension(connection_.display(), &eventBase, &errorBase, &major, &minor)) {
        throw std::runtime_error("X server has no XTest extension");
    }
}

void XTestDriver::move(int x, int y) {
    XTestFakeMotionEvent(connection_.display(), -1, x, y, CurrentTime);
    connection_.sync();
}

void XTestDriver::press(int button) {
    XTestFakeButtonEvent(connection_.display(), static_cast<unsigned>(button), True, CurrentTime);
    connection_.sync();
}

void XTestDriver::release(int button) {
    XTestFakeButtonEvent(connection_.display(), static_cast<unsigned>(button), False, CurrentTime);
    connection_.sync();
}

void XTestDriver::click(int button) {
    press(button);
    release(button);
}

unsigned XTestDriver::keycode(const std::string& keysymName) const {
    const KeySym keysym = XStringToKeysym(keysymName.c_str());
    if (keysym == NoSymbol) {
        throw std::runtime_error("unknown keysym " + keysymName);
    }
    const KeyCode code = XKeysymToKeycode(connection_.display(), keysym);
    if (code == 0) {
        throw std::runtime_error("no keycode for " + keysymName);
    }
    return code;
}

void XTestDriver::pressKey(const std::string& keysymName) {
    XTestFakeKeyEvent(connection_.display(), keycode(keysymName), True, CurrentTime);
    connection_.sync();
}

void XTestDriver::releaseKey(const std::string& keysymName) {
    XTestFakeKeyEvent(connection_.display(), keycode(keysymName), False, CurrentTime);
    connection_.sync();
}

void XTestDriver::tapKey(const std::string& keysymName) {
    pressKey(keysymName);
    releaseKey(keysymName);
}

XTestDriver::Point XTestDriver::pointer() const {
    Window rootReturn, childReturn;
    int rootX = 0, rootY = 0, winX, winY;
    unsigned mask;
    XQueryPointer(connection_.display(), connection_.root(), &rootReturn, &childReturn, &rootX, &rootY, &winX,
                  &winY, &mask);
    return {rootX, rootY};
}

long XTestDriver::circle(int centerX, int centerY, int radius, double hz,
                         std::chrono::duration<double> duration, double revolutionsPerSecond) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto period = std::chrono::duration<double>(1.0 / hz);
    const long total = std::lround(duration.count() * hz);
    for (long i = 0; i < total; ++i) {
        const double t = i / hz;
        const double angle = 2.0 * std::numbers::pi * revolutionsPerSecond * t;
        move(centerX + static_cast<int>(std::lround(radius * std::cos(angle))),
             centerY + static_cast<int>(std::lround(radius * std::sin(angle))));
        // Pacing, not waiting: the next move is due at a fixed instant.
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(period * (i + 1)));
    }
    return total;
}

} // namespace testsupport
