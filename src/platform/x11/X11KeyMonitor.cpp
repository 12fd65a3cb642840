#include "platform/x11/X11KeyMonitor.h"

#include "platform/x11/X11Connection.h"

#include <QGuiApplication>
#include <QWindow>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <algorithm>
#include <memory>

namespace {

struct DeviceInfoFree {
    void operator()(XIDeviceInfo* info) const { XIFreeDeviceInfo(info); }
};

struct XFreeDeleter {
    void operator()(Window* windows) const { XFree(windows); }
};

} // namespace

X11KeyMonitor::X11KeyMonitor(X11Connection& connection, const KeyTranslator& translator)
    : connection_(connection), translator_(translator) {}

X11KeyMonitor::~X11KeyMonitor() {
    stop();
}

bool X11KeyMonitor::start(Handler handler) {
    if (connection_.xinputOpcode() < 0 || !handler)
        return false;
    stop();

    int count = 0;
    std::unique_ptr<XIDeviceInfo, DeviceInfoFree> devices(
        XIQueryDevice(connection_.display(), XIAllMasterDevices, &count));
    for (int i = 0; devices && i < count; ++i)
        if (devices.get()[i].use == XIMasterKeyboard)
            keyboards_.push_back(devices.get()[i].deviceid);
    if (keyboards_.empty())
        return false;

    handler_ = std::move(handler);
    handlerId_ = connection_.addHandler([this](XEvent& event) { handleEvent(event); });
    // Selected per master keyboard rather than for all master devices: the pointer monitor owns that entry
    // of the root window's masks on this connection, and each selection replaces its entry.
    select(true);
    // Once started, the next key press anywhere is ours to see.
    XSync(connection_.display(), False);
    connection_.flush();
    return true;
}

void X11KeyMonitor::stop() {
    if (!handler_)
        return;
    select(false);
    connection_.removeHandler(handlerId_);
    handlerId_ = 0;
    handler_ = nullptr;
    keyboards_.clear();
}

void X11KeyMonitor::select(bool on) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on)
        XISetMask(bits, XI_RawKeyPress);
    std::vector<XIEventMask> masks(keyboards_.size());
    for (size_t i = 0; i < keyboards_.size(); ++i) {
        masks[i].deviceid = keyboards_[i];
        masks[i].mask_len = sizeof bits;
        masks[i].mask = bits;
    }
    XISelectEvents(connection_.display(), connection_.rootWindow(), masks.data(), int(masks.size()));
    connection_.flush();
}

void X11KeyMonitor::handleEvent(XEvent& event) {
    if (event.xcookie.type != GenericEvent || event.xcookie.extension != connection_.xinputOpcode() ||
        event.xcookie.evtype != XI_RawKeyPress || !event.xcookie.data || !handler_)
        return;
    const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
    if (std::find(keyboards_.begin(), keyboards_.end(), raw->deviceid) == keyboards_.end())
        return;
    const std::optional<TranslatedKey> key =
        translator_.translateWithCurrentState(std::uint32_t(raw->detail));
    if (!key)
        return;                 // a modifier or lock key on its own
    Handler handler = handler_; // survives the handler stopping this monitor
    handler(*key);
}

bool X11KeyMonitor::applicationHasKeyboardFocus() {
    Display* display = connection_.display();
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    // The round trips may have queued events that the socket notifier will not announce.
    struct FlushOnReturn {
        X11Connection& connection;
        ~FlushOnReturn() { connection.flush(); }
    } flushOnReturn{connection_};
    if (focus == None || focus == PointerRoot)
        return false;

    std::vector<Window> ours;
    for (QWindow* window : QGuiApplication::allWindows())
        if (window->handle())
            ours.push_back(Window(window->winId()));
    if (ours.empty())
        return false;

    // The focus may sit on a child of one of our windows (or, with a window manager, on our client window
    // inside its frame): walk up to the root.
    const Window root = connection_.rootWindow();
    for (Window window = focus; window != None && window != root;) {
        if (std::find(ours.begin(), ours.end(), window) != ours.end())
            return true;
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &childCount))
            return false;
        std::unique_ptr<Window, XFreeDeleter> freeChildren(children);
        window = parent;
    }
    return false;
}
