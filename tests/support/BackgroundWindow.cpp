#include "support/BackgroundWindow.h"

#include "support/ScreenGrabber.h"
#include "support/Wait.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace testsupport {

BackgroundWindow::BackgroundWindow(XConnection& connection, Rgb colour)
    : connection_(connection), colour_(colour) {
    Display* display = connection_.display();
    const int screen = DefaultScreen(display);
    XColor xcolour{};
    xcolour.red = static_cast<unsigned short>(colour.r * 257);
    xcolour.green = static_cast<unsigned short>(colour.g * 257);
    xcolour.blue = static_cast<unsigned short>(colour.b * 257);
    xcolour.flags = DoRed | DoGreen | DoBlue;
    XAllocColor(display, DefaultColormap(display, screen), &xcolour);

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = xcolour.pixel;
    window_ =
        XCreateWindow(display, connection_.root(), 0, 0, static_cast<unsigned>(connection_.screenWidth()),
                      static_cast<unsigned>(connection_.screenHeight()), 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XStoreName(display, window_, "Test background");
    XMapWindow(display, window_);
    XLowerWindow(display, window_);
    connection_.sync();
}

BackgroundWindow::~BackgroundWindow() {
    XDestroyWindow(connection_.display(), window_);
    connection_.sync();
}

void BackgroundWindow::raise() {
    XRaiseWindow(connection_.display(), window_);
    connection_.sync();
}

void BackgroundWindow::lower() {
    XLowerWindow(connection_.display(), window_);
    connection_.sync();
}

bool BackgroundWindow::waitShownAt(int x, int y, std::chrono::milliseconds timeout) const {
    ScreenGrabber grabber(connection_);
    return pollUntil([&] { return grabber.pixel(x, y).near(colour_, 1); }, timeout);
}

} // namespace testsupport
