#include "platform/x11/X11ErrorRouter.h"

#include <X11/Xlib.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>

namespace {

struct Registry {
    std::mutex mutex;
    std::map<Display*, X11ErrorRouter::Handler> handlers;
};

// Never destroyed: a thread still reading its connection while the process exits may get an error.
Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

int route(Display* display, XErrorEvent* event) {
    const X11ErrorRouter::Error error{event->error_code, event->request_code, event->minor_code,
                                      event->resourceid};
    X11ErrorRouter::Handler handler;
    {
        std::lock_guard lock(registry().mutex);
        if (auto it = registry().handlers.find(display); it != registry().handlers.end())
            handler = it->second;
    }
    if (!handler || !handler(error))
        X11ErrorRouter::report(display, error);
    return 0;
}

int reportIOError(Display* display) {
    X11ErrorRouter::reportBrokenConnection(DisplayString(display));
    // What then happens is the connection's exit handler's choice: Xlib's own ends the process.
    return 0;
}

} // namespace

void X11ErrorRouter::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        XSetErrorHandler(route);
        XSetIOErrorHandler(reportIOError);
    });
}

void X11ErrorRouter::report(Display* display, const Error& error) {
    char text[256] = {};
    XGetErrorText(display, error.code, text, sizeof text);
    std::fprintf(stderr, "lumarex: X error: %s (request %d.%d)\n", text, error.request, error.minorRequest);
}

void X11ErrorRouter::reportBrokenConnection(const char* displayName) {
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true))
        std::fprintf(stderr, "lumarex: lost the connection to the X server %s; quitting\n", displayName);
}

void X11ErrorRouter::setHandler(Display* display, Handler handler) {
    std::lock_guard lock(registry().mutex);
    if (handler)
        registry().handlers[display] = std::move(handler);
    else
        registry().handlers.erase(display);
}
