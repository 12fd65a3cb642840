#include "support/XConnection.h"

#include <X11/Xlib.h>
#include <mutex>
#include <stdexcept>

namespace testsupport {

namespace {

// Xlib's default handler ends the process on any protocol error; a window that vanished between two
// requests must not end a test run.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

XConnection::XConnection(const std::string& displayName) : name_(displayName) {
    static std::once_flag handlerInstalled;
    std::call_once(handlerInstalled, [] { XSetErrorHandler(ignoreXError); });
    display_ = XOpenDisplay(displayName.c_str());
    if (!display_) {
        throw std::runtime_error("cannot open X display " + displayName);
    }
}

XConnection::~XConnection() {
    if (display_) {
        XCloseDisplay(display_);
    }
}

XWindowId XConnection::root() const {
    return DefaultRootWindow(display_);
}

int XConnection::screenWidth() const {
    return DisplayWidth(display_, DefaultScreen(display_));
}

int XConnection::screenHeight() const {
    return DisplayHeight(display_, DefaultScreen(display_));
}

void XConnection::sync() const {
    XSync(display_, False);
}

unsigned long XConnection::atom(const char* name) const {
    return XInternAtom(display_, name, False);
}

} // namespace testsupport
