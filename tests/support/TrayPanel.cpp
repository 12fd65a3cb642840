#include "support/TrayPanel.h"

#include "support/Wait.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <functional>
#include <stdexcept>

namespace testsupport {

namespace {

long cardinal(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long value = -1;
    if (XGetWindowProperty(display, window, property, 0, 1, False, AnyPropertyType, &type, &format, &count,
                           &after, &data) == Success &&
        data && count == 1 && format == 32)
        value = long(*reinterpret_cast<unsigned long*>(data));
    if (data)
        XFree(data);
    return value;
}

bool hasProperty(Display* display, Window window, Atom property) {
    int count = 0;
    Atom* atoms = XListProperties(display, window, &count);
    bool found = false;
    for (int i = 0; i < count; ++i)
        found = found || atoms[i] == property;
    if (atoms)
        XFree(atoms);
    return found;
}

void forEachDescendant(Display* display, Window window, const std::function<void(Window)>& visit) {
    Window root, parent;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return;
    for (unsigned i = 0; i < count; ++i) {
        visit(children[i]);
        forEachDescendant(display, children[i], visit);
    }
    if (children)
        XFree(children);
}

} // namespace

TrayPanel::TrayPanel(const std::string& displayName) : connection_(displayName) {
    const std::string trayer = ChildProcess::findProgram("trayer");
    if (trayer.empty())
        throw std::runtime_error("trayer is not installed (run scripts/bootstrap)");
    ChildProcess::Options options;
    options.argv = {trayer,        "--edge",        "top",      "--align", "right",
                    "--widthtype", "request",       "--height", "32",      "--SetDockType",
                    "true",        "--transparent", "false"};
    options.env = ChildProcess::inheritedEnvironment();
    options.env["DISPLAY"] = displayName;
    options.silenceStdout = true;
    options.silenceStderr = true;
    trayer_ = std::make_unique<ChildProcess>(options);

    Display* display = connection_.display();
    const Atom selection = connection_.atom("_NET_SYSTEM_TRAY_S0");
    // A selection owner sends no event to a client that is not its requestor: poll.
    if (!pollUntil([&] { return XGetSelectionOwner(display, selection) != None || !trayer_->running(); },
                   std::chrono::seconds(15)) ||
        !trayer_->running())
        throw std::runtime_error("trayer did not take the system tray selection");
    // The panel is the viewable top-level window of trayer's that holds the tray.
    pollUntil(
        [&] {
            for (const WindowInfo& window : WindowFinder(displayName).findAll("panel"))
                if (window.viewable)
                    panel_ = window.id;
            return panel_ != 0;
        },
        std::chrono::seconds(10));
}

TrayPanel::~TrayPanel() {
    trayer_->terminate();
}

void TrayPanel::raise() {
    if (panel_) {
        XRaiseWindow(connection_.display(), panel_);
        connection_.sync();
    }
}

std::optional<WindowInfo> TrayPanel::findIcon(int pid) {
    Display* display = connection_.display();
    const Atom xembedInfo = connection_.atom("_XEMBED_INFO");
    const Atom wmPid = connection_.atom("_NET_WM_PID");
    std::optional<WindowInfo> icon;
    if (!panel_)
        return icon;
    // Only windows reparented into the tray count: an icon not yet embedded is a top-level window.
    forEachDescendant(display, panel_, [&](Window window) {
        if (icon || !hasProperty(display, window, xembedInfo) || cardinal(display, window, wmPid) != pid)
            return;
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
            return;
        WindowInfo info;
        info.id = window;
        info.width = attributes.width;
        info.height = attributes.height;
        info.viewable = true;
        Window child;
        XTranslateCoordinates(display, window, connection_.root(), 0, 0, &info.x, &info.y, &child);
        icon = info;
    });
    return icon;
}

std::optional<WindowInfo> TrayPanel::waitForIcon(int pid, std::chrono::milliseconds timeout) {
    std::optional<WindowInfo> icon;
    // The embedding is a reparent inside trayer's windows, which sends the root no event: poll.
    pollUntil([&] { return (icon = findIcon(pid)).has_value(); }, timeout, std::chrono::milliseconds(20));
    return icon;
}

} // namespace testsupport
