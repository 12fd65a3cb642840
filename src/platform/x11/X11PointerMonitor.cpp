#include "platform/x11/X11PointerMonitor.h"

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11PointerTracker.h"
#include "platform/x11/X11RawEventSelection.h"

#include <QMetaObject>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace {
constexpr int leftButton = 1;
}

X11PointerMonitor::X11PointerMonitor(X11Connection& connection, X11PointerTracker* tracker)
    : connection_(connection), tracker_(tracker) {
    handlerId_ = connection_.addHandler([this](XEvent& event) { handleEvent(event); });
}

X11PointerMonitor::~X11PointerMonitor() {
    if (pressesOnTracker_)
        tracker_->watchPresses({});
    onLeftPress_ = nullptr;
    onMotion_ = nullptr;
    selectEvents();
    connection_.removeHandler(handlerId_);
}

bool X11PointerMonitor::startWatchingPresses(std::function<void()> onLeftPress) {
    if (tracker_ && tracker_->isRunning()) {
        pressesOnTracker_ = true;
        tracker_->watchPresses([receiver = &guiThread_, handler = std::move(onLeftPress)] {
            QMetaObject::invokeMethod(receiver, handler, Qt::QueuedConnection);
        });
        return true;
    }
    if (connection_.xinputOpcode() < 0)
        return false;
    onLeftPress_ = std::move(onLeftPress);
    selectEvents();
    return true;
}

void X11PointerMonitor::stopWatchingPresses() {
    if (pressesOnTracker_) {
        pressesOnTracker_ = false;
        tracker_->watchPresses({});
        return;
    }
    onLeftPress_ = nullptr;
    selectEvents();
}

bool X11PointerMonitor::watchNextMotion(std::function<void()> onMotion) {
    if (connection_.xinputOpcode() < 0)
        return false;
    onMotion_ = std::move(onMotion);
    selectEvents();
    return true;
}

void X11PointerMonitor::cancelMotionWatch() {
    if (!onMotion_)
        return;
    onMotion_ = nullptr;
    selectEvents();
}

std::optional<QPoint> X11PointerMonitor::position() {
    Display* display = connection_.display();
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int mask = 0;
    const bool onScreen =
        XQueryPointer(display, connection_.rootWindow(), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
    connection_.flush();
    if (!onScreen)
        return std::nullopt;
    return QPoint(rootX, rootY);
}

// Raw motion is selected only while someone waits for the next motion: a moving pointer would
// otherwise wake us for every device report.
void X11PointerMonitor::selectEvents() {
    if (connection_.xinputOpcode() < 0)
        return;
    X11RawEventSelection::select(connection_.display(), connection_.rootWindow(), XIAllMasterDevices,
                                 {onLeftPress_ ? XI_RawButtonPress : 0, onMotion_ ? XI_RawMotion : 0});
    connection_.flush();
}

void X11PointerMonitor::handleEvent(XEvent& event) {
    if (event.xcookie.type != GenericEvent || event.xcookie.extension != connection_.xinputOpcode() ||
        !event.xcookie.data)
        return;
    if (event.xcookie.evtype == XI_RawButtonPress) {
        const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
        if (raw->detail == leftButton && onLeftPress_) {
            auto handler = onLeftPress_;
            handler();
        }
    } else if (event.xcookie.evtype == XI_RawMotion && onMotion_) {
        auto handler = std::move(onMotion_);
        onMotion_ = nullptr;
        selectEvents();
        handler();
    }
}
