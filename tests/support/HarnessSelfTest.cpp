// Checks the end-to-end harness itself against a real Xvfb, without the application.
// GoogleTest before Xlib: Xlib defines macros (None, Bool) that clash with GoogleTest names.
#include <gtest/gtest.h>

#include "support/AppProcess.h"
#include "support/BackgroundWindow.h"
#include "support/ScreenGrabber.h"
#include "support/Wait.h"
#include "support/WindowFinder.h"
#include "support/XConnection.h"
#include "support/XTestDriver.h"
#include "support/XvfbServer.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/shape.h>
#include <csignal>
#include <cstring>
#include <poll.h>

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

const Rgb grey = Rgb::fromHex(0x808080);

// A 32-bit window filled with one premultiplied ARGB colour, as a translucent overlay would be.
Window createArgbWindow(XConnection& connection, int x, int y, int size, Rgb colour, double alpha) {
    Display* display = connection.display();
    XVisualInfo info;
    if (!XMatchVisualInfo(display, DefaultScreen(display), 32, TrueColor, &info)) {
        return 0;
    }
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.colormap = XCreateColormap(display, connection.root(), info.visual, AllocNone);
    attributes.border_pixel = 0;
    attributes.background_pixel = 0;
    const Window window = XCreateWindow(
        display, connection.root(), x, y, static_cast<unsigned>(size), static_cast<unsigned>(size), 0, 32,
        InputOutput, info.visual, CWOverrideRedirect | CWColormap | CWBorderPixel | CWBackPixel, &attributes);
    XMapRaised(display, window);
    const auto a = static_cast<unsigned long>(std::lround(alpha * 255));
    auto premultiplied = [&](int c) { return static_cast<unsigned long>(std::lround(c * alpha)); };
    const unsigned long pixel = (a << 24) | (premultiplied(colour.r) << 16) | (premultiplied(colour.g) << 8) |
                                premultiplied(colour.b);
    GC gc = XCreateGC(display, window, 0, nullptr);
    XSetForeground(display, gc, pixel);
    // Paint once it is mapped: content drawn before the map could be dropped.
    XSync(display, False);
    XFillRectangle(display, window, gc, 0, 0, static_cast<unsigned>(size), static_cast<unsigned>(size));
    XFreeGC(display, gc);
    XSync(display, False);
    return window;
}

} // namespace

TEST(HarnessSelfTest, ServerBackgroundPointerAndWindowsWithoutCompositor) {
    int serverPid = 0;
    std::string name;
    {
        XvfbServer server;
        serverPid = server.serverPid();
        name = server.displayName();
        XConnection connection(name);
        EXPECT_EQ(connection.screenWidth(), 1280);
        EXPECT_EQ(connection.screenHeight(), 800);
        EXPECT_EQ(DefaultDepth(connection.display(), 0), 24);

        BackgroundWindow background(connection, grey);
        ASSERT_TRUE(background.waitShownAt(640, 400, 5s));
        ScreenGrabber grabber(connection);
        const ScreenImage all = grabber.grabAll();
        for (auto [x, y] : {std::pair{0, 0}, {1279, 799}, {500, 300}}) {
            EXPECT_EQ(all.at(x, y), grey) << "at " << x << "," << y;
        }

        XTestDriver driver(connection);
        driver.move(500, 300);
        EXPECT_EQ(driver.pointer().x, 500);
        EXPECT_EQ(driver.pointer().y, 300);
        driver.move(17, 790);
        EXPECT_EQ(driver.pointer().x, 17);
        EXPECT_EQ(driver.pointer().y, 790);

        // A named window with an empty input region and a bounding mask, as the overlay has.
        WindowFinder finder(name);
        EXPECT_FALSE(finder.find("Probe window"));
        const Window probe =
            XCreateSimpleWindow(connection.display(), connection.root(), 450, 250, 100, 100, 0, 0, 0xFF0000);
        XStoreName(connection.display(), probe, "Probe window");
        XShapeCombineRectangles(connection.display(), probe, ShapeInput, 0, 0, nullptr, 0, ShapeSet,
                                Unsorted);
        XRectangle inner{25, 25, 50, 50};
        XShapeCombineRectangles(connection.display(), probe, ShapeBounding, 0, 0, &inner, 1, ShapeSet,
                                Unsorted);
        XMapRaised(connection.display(), probe);
        connection.sync();
        auto shown = finder.waitForViewable("Probe window", 5s);
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->x, 450);
        EXPECT_EQ(shown->y, 250);
        EXPECT_EQ(shown->width, 100);
        EXPECT_TRUE(shown->inputShapeEmpty);
        EXPECT_TRUE(shown->boundingShaped);
        EXPECT_FALSE(finder.find("Test background")->inputShapeEmpty);
        // The mask decides what is painted: red inside, background outside it but within the window.
        EXPECT_TRUE(pollUntil([&] { return grabber.pixel(500, 300) == Rgb::fromHex(0xFF0000); }, 5s));
        EXPECT_EQ(grabber.pixel(460, 260), grey);

        XMoveWindow(connection.display(), probe, 100, 120);
        connection.sync();
        auto moved = finder.waitFor(
            "Probe window", [](auto& w) { return w && w->x == 100 && w->y == 120; }, 5s);
        EXPECT_TRUE(moved);
        XUnmapWindow(connection.display(), probe);
        connection.sync();
        EXPECT_TRUE(finder.waitForGone("Probe window", 5s));
    }
    // Teardown leaves no server behind. (Its display number may already serve a test running in
    // parallel, so connecting to the name again proves nothing.)
    EXPECT_NE(::kill(serverPid, 0), 0);
}

TEST(HarnessSelfTest, CompositorBlendsTranslucentWindowIntoRootImage) {
    XvfbServer server({.compositor = true});
    ASSERT_TRUE(server.compositorRunning());
    XConnection connection(server.displayName());
    EXPECT_NE(XGetSelectionOwner(connection.display(), connection.atom("_NET_WM_CM_S0")), None);
    BackgroundWindow background(connection, grey);
    ASSERT_TRUE(background.waitShownAt(20, 20, 5s));

    const Rgb red = Rgb::fromHex(0xFF0000);
    const Window window = createArgbWindow(connection, 400, 200, 100, red, 0.3);
    ASSERT_NE(window, 0UL);
    ScreenGrabber grabber(connection);
    const Rgb expected = Rgb::over(red, 0.3, grey);
    Rgb seen;
    EXPECT_TRUE(pollUntil([&] { return (seen = grabber.pixel(450, 250)).near(expected, 3); }, 5s))
        << "root shows " << seen << ", blend would be " << expected;
    EXPECT_EQ(grabber.pixel(399, 250), grey);

    // Without the compositor the same window is no blend any more.
    server.stopCompositor();
    EXPECT_EQ(XGetSelectionOwner(connection.display(), connection.atom("_NET_WM_CM_S0")), None);
    XClearArea(connection.display(), window, 0, 0, 0, 0, True);
    connection.sync();
    EXPECT_TRUE(pollUntil([&] { return !grabber.pixel(450, 250).near(expected, 3); }, 5s))
        << "still " << grabber.pixel(450, 250);
}

TEST(HarnessSelfTest, XTestInputArrivesAsRawAndCoreEvents) {
    XvfbServer server;
    XConnection connection(server.displayName());
    Display* display = connection.display();
    int opcode, event, error;
    ASSERT_TRUE(XQueryExtension(display, "XInputExtension", &opcode, &event, &error));
    int major = 2, minor = 2;
    ASSERT_EQ(XIQueryVersion(display, &major, &minor), Success);

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(display, connection.root(), &mask, 1);
    connection.sync();

    XConnection input(server.displayName());
    XTestDriver driver(input);
    driver.move(300, 300);
    driver.click(3);

    bool sawMotion = false;
    int pressedButton = 0;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (pressedButton == 0 && std::chrono::steady_clock::now() < deadline) {
        if (XPending(display) == 0) {
            pollfd pfd{ConnectionNumber(display), POLLIN, 0};
            ::poll(&pfd, 1, 100);
            continue;
        }
        XEvent e;
        XNextEvent(display, &e);
        if (e.type == GenericEvent && e.xcookie.extension == opcode && XGetEventData(display, &e.xcookie)) {
            auto* raw = static_cast<XIRawEvent*>(e.xcookie.data);
            if (e.xcookie.evtype == XI_RawMotion) {
                sawMotion = true;
            } else if (e.xcookie.evtype == XI_RawButtonPress) {
                pressedButton = raw->detail;
            }
            XFreeEventData(display, &e.xcookie);
        }
    }
    EXPECT_TRUE(sawMotion);
    EXPECT_EQ(pressedButton, 3);
}

TEST(HarnessSelfTest, ProcessOutputIsSeenLineByLineAndExitStatusReported) {
    const std::string sh = ChildProcess::findProgram("sh");
    ASSERT_FALSE(sh.empty());
    Environment env{{"PATH", "/usr/bin:/bin"}};
    {
        // The last line would come only after half a minute: lines must be seen while it runs.
        AppProcess process(sh, {"-c", "echo ready; echo oops >&2; sleep 30; echo never"}, env);
        auto at = process.waitForLine("ready", 10s);
        ASSERT_TRUE(at);
        EXPECT_GE(*at, process.startedAt());
        EXPECT_TRUE(process.waitForStderr("oops", 10s));
        EXPECT_TRUE(process.running());
        EXPECT_EQ(process.count("never"), 0u);
        const ExitStatus status = process.terminate();
        EXPECT_EQ(status.signal, SIGTERM) << status.describe();
    }
    auto result = AppProcess::run(sh, {"-c", "printf 'a\\nb'; echo err >&2; exit 3"}, env);
    EXPECT_TRUE(result.status.exited);
    EXPECT_EQ(result.status.code, 3);
    EXPECT_EQ(result.out, "a\nb\n");
    EXPECT_EQ(result.err, "err\n");
    EXPECT_EQ(AppProcess::run(sh, {"-c", "test -z \"$HOME\""}, env).status.code, 0) << "environment leaked";

    EXPECT_THROW(AppProcess("/nonexistent/program", {}, env), std::runtime_error);
}
