#include "platform/x11/X11Connection.h"

#include "platform/x11/X11ErrorRouter.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>

#include <vector>

std::unique_ptr<X11Connection> X11Connection::open() {
    // The pointer tracker speaks Xlib on a thread of its own; this is the first Xlib call.
    XInitThreads();
    // Qt talks to the server through xcb only, so Xlib's process-wide handlers are ours alone.
    X11ErrorRouter::install();
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    return std::make_unique<X11Connection>(display);
}

X11Connection::X11Connection(Display* display) : display_(display) {
    X11ErrorRouter::setHandler(display_, [this](const X11ErrorRouter::Error& error) {
        std::vector<ErrorHandler> handlers;
        for (const auto& entry : errorHandlers_)
            handlers.push_back(entry.second);
        bool handled = false;
        for (const ErrorHandler& handler : handlers)
            handled = handler({error.code, error.resource}) || handled;
        return handled;
    });
    int event = 0, error = 0, opcode = 0;
    if (XQueryExtension(display_, "XInputExtension", &opcode, &event, &error)) {
        int major = 2, minor = 2;
        if (XIQueryVersion(display_, &major, &minor) == Success)
            xinputOpcode_ = opcode;
    }
    if (XFixesQueryExtension(display_, &event, &error)) {
        int major = 5, minor = 0;
        XFixesQueryVersion(display_, &major, &minor);
        xfixesEventBase_ = event;
    }
}

X11Connection::~X11Connection() {
    notifier_.reset();
    X11ErrorRouter::setHandler(display_, {});
    XCloseDisplay(display_);
}

std::string X11Connection::displayName() const {
    return DisplayString(display_);
}

unsigned long X11Connection::rootWindow() const {
    return DefaultRootWindow(display_);
}

int X11Connection::screen() const {
    return DefaultScreen(display_);
}

int X11Connection::addHandler(Handler handler) {
    // The connection may be opened before the application object exists (to report a missing
    // display early); the notifier needs the application's thread, so it comes with the first reader.
    if (!notifier_) {
        notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(display_), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &X11Connection::processEvents);
    }
    const int id = nextHandlerId_++;
    handlers_.emplace(id, std::move(handler));
    return id;
}

void X11Connection::removeHandler(int id) {
    handlers_.erase(id);
}

int X11Connection::addErrorHandler(ErrorHandler handler) {
    const int id = nextHandlerId_++;
    errorHandlers_.emplace(id, std::move(handler));
    return id;
}

void X11Connection::removeErrorHandler(int id) {
    errorHandlers_.erase(id);
}

void X11Connection::flush() {
    XFlush(display_);
    if (!drainQueued_ && XEventsQueued(display_, QueuedAlready) > 0) {
        drainQueued_ = true;
        QMetaObject::invokeMethod(this, &X11Connection::processEvents, Qt::QueuedConnection);
    }
}

void X11Connection::processEvents() {
    drainQueued_ = false;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        const bool cookie = event.xcookie.type == GenericEvent && event.xcookie.extension == xinputOpcode_ &&
                            XGetEventData(display_, &event.xcookie);
        // A handler may remove itself (or another) while we iterate: walk a snapshot of the ids.
        std::vector<int> ids;
        ids.reserve(handlers_.size());
        for (const auto& entry : handlers_)
            ids.push_back(entry.first);
        for (int id : ids) {
            auto it = handlers_.find(id);
            if (it == handlers_.end())
                continue;
            Handler handler = it->second; // survives the handler removing itself
            handler(event);
        }
        if (cookie)
            XFreeEventData(display_, &event.xcookie);
    }
}
