#include "support/WindowFinder.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>
#include <algorithm>
#include <poll.h>

namespace testsupport {

namespace {

std::string textProperty(Display* display, Window window, Atom property) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, AnyPropertyType, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        if (format == 8) {
            text.assign(reinterpret_cast<char*>(data), count);
        }
        XFree(data);
    }
    return text;
}

void collect(Display* display, Window window, int depth, std::vector<Window>& out) {
    Window root, parent;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) {
        return;
    }
    for (unsigned i = 0; i < count; ++i) {
        out.push_back(children[i]);
        if (depth > 0) {
            collect(display, children[i], depth - 1, out);
        }
    }
    if (children) {
        XFree(children);
    }
}

} // namespace

WindowFinder::WindowFinder(const std::string& displayName) : connection_(displayName) {
    XSelectInput(connection_.display(), connection_.root(), SubstructureNotifyMask);
    connection_.sync();
}

std::optional<WindowInfo> WindowFinder::describe(XWindowId window) const {
    Display* display = connection_.display();
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) {
        return std::nullopt;
    }
    WindowInfo info;
    info.id = window;
    info.name = textProperty(display, window, connection_.atom("_NET_WM_NAME"));
    if (info.name.empty()) {
        info.name = textProperty(display, window, XA_WM_NAME);
    }
    Window child;
    XTranslateCoordinates(display, window, connection_.root(), -attributes.border_width,
                          -attributes.border_width, &info.x, &info.y, &child);
    info.width = attributes.width;
    info.height = attributes.height;
    info.depth = attributes.depth;
    info.viewable = attributes.map_state == IsViewable;
    info.overrideRedirect = attributes.override_redirect;

    int count = 0, ordering = 0;
    if (XRectangle* rects = XShapeGetRectangles(display, window, ShapeInput, &count, &ordering)) {
        XFree(rects);
    }
    info.inputShapeEmpty = count == 0;
    Bool boundingShaped = False, clipShaped = False;
    int xb, yb, xc, yc;
    unsigned wb, hb, wc, hc;
    XShapeQueryExtents(display, window, &boundingShaped, &xb, &yb, &wb, &hb, &clipShaped, &xc, &yc, &wc, &hc);
    info.boundingShaped = boundingShaped;
    return info;
}

std::vector<WindowInfo> WindowFinder::findAll(const std::string& name) const {
    std::vector<Window> windows;
    collect(connection_.display(), connection_.root(), 1, windows);
    std::vector<WindowInfo> found;
    for (Window window : windows) {
        if (auto info = describe(window); info && info->name == name) {
            found.push_back(*info);
        }
    }
    return found;
}

std::optional<WindowInfo> WindowFinder::find(const std::string& name) const {
    auto all = findAll(name);
    if (all.empty()) {
        return std::nullopt;
    }
    auto viewable = std::find_if(all.begin(), all.end(), [](const WindowInfo& w) { return w.viewable; });
    return viewable != all.end() ? *viewable : all.front();
}

std::optional<WindowInfo> WindowFinder::findViewable(const std::string& name) const {
    auto info = find(name);
    if (info && info->viewable) {
        return info;
    }
    return std::nullopt;
}

std::optional<WindowInfo>
WindowFinder::waitFor(const std::string& name,
                      const std::function<bool(const std::optional<WindowInfo>&)>& condition,
                      std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    Display* display = connection_.display();
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        // Drain what woke us; the state is re-read from the server anyway.
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
        auto state = find(name);
        if (condition(state)) {
            return state ? state : std::optional<WindowInfo>(WindowInfo{});
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        // Structure events on the root wake us at once; the cap also catches changes that send none
        // (a property set on an already mapped window, windows nested below a frame).
        if (XEventsQueued(display, QueuedAlready) > 0) {
            continue; // read while querying; the socket would not wake us for these
        }
        pollfd pfd{ConnectionNumber(display), POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(std::min<long>(left.count(), 50)));
    }
}

std::optional<WindowInfo> WindowFinder::waitForViewable(const std::string& name,
                                                        std::chrono::milliseconds timeout) {
    return waitFor(
        name, [](const std::optional<WindowInfo>& w) { return w && w->viewable; }, timeout);
}

bool WindowFinder::waitForGone(const std::string& name, std::chrono::milliseconds timeout) {
    return waitFor(
               name, [](const std::optional<WindowInfo>& w) { return !w || !w->viewable; }, timeout)
        .has_value();
}

} // namespace testsupport
