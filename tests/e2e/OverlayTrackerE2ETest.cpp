// The overlay's pointer tracker as the running program shows it: a quit while it is busy, a window
// destroyed by another client, and the X server going away.
#include <gtest/gtest.h>

#include "e2e/LumarexSession.h"

#include <X11/Xlib.h>

#include <atomic>
#include <csignal>
#include <thread>

using namespace e2e;
using namespace testsupport;

namespace {

const Rgb baseLook = blendOnGrey(red, 0.3);

TEST(OverlayTrackerE2ETest, QuitWhileThePointerCirclesEndsWithinASecond) {
    LumarexSession session{LumarexSession::Compositor::On};
    ASSERT_TRUE(session.launch()) << session.app().stderrText();
    ASSERT_TRUE(session.control("--show").status.ok());
    ASSERT_TRUE(session.pointAndWaitForOverlay(500, 300));

    std::atomic<bool> circling{true};
    std::thread mover([&] {
        XConnection own(session.server().displayName());
        XTestDriver driver(own);
        while (circling)
            driver.circle(640, 400, 200, 120, 100ms);
    });
    auto quit = session.control("--quit");
    const auto delivered = LumarexSession::Clock::now();
    auto status = session.app().waitForExit(5s);
    const auto took = LumarexSession::Clock::now() - delivered;
    circling = false;
    mover.join();
    EXPECT_TRUE(quit.status.ok()) << quit.status.describe() << " " << quit.err;
    ASSERT_TRUE(status) << "still running after --quit";
    EXPECT_TRUE(status->ok()) << status->describe();
    EXPECT_LT(took, 1s);
}

TEST(OverlayTrackerE2ETest, OverlayWindowDestroyedByAnotherClientIsMadeAnewAtTheNextShow) {
    LumarexSession session{LumarexSession::Compositor::On};
    ASSERT_TRUE(session.launch()) << session.app().stderrText();
    ASSERT_TRUE(session.control("--show").status.ok());
    const auto first = session.pointAndWaitForOverlay(500, 300);
    ASSERT_TRUE(first);

    {
        XConnection other(session.server().displayName());
        XDestroyWindow(other.display(), first->id);
        other.sync();
    }
    ASSERT_TRUE(session.windows().waitForGone(overlayName, 10s));
    // The tracker keeps moving the window it no longer has until it learns so.
    for (int x = 420; x <= 580; x += 40)
        session.input().move(x, 300);

    ASSERT_TRUE(session.control("--hide").status.ok());
    ASSERT_TRUE(session.control("--show").status.ok());
    const auto again = session.pointAndWaitForOverlay(600, 400);
    ASSERT_TRUE(again) << session.app().stderrText();
    EXPECT_NE(again->id, first->id);
    EXPECT_TRUE(again->inputShapeEmpty) << "the new window lets clicks through too";
    EXPECT_TRUE(session.waitForPixel(600, 400, baseLook).near(baseLook, 4));
    EXPECT_TRUE(session.app().waitForStderr("destroyed by another program", 5s));
    EXPECT_EQ(session.app().stderrText().find("X error"), std::string::npos) << session.app().stderrText();
}

// No X connection of the test may be open when the server dies: Xlib would end the test process.
TEST(OverlayTrackerE2ETest, ServerGoingAwayEndsTheProgramWithAClearMessage) {
    auto server = std::make_unique<XvfbServer>(XvfbServer::Options{});
    AppSandbox sandbox;
    const Environment environment = sandbox.environment(server->displayName());
    AppProcess app(LUMAREX_BINARY_PATH, {}, environment);
    {
        WindowFinder finder(server->displayName());
        ASSERT_TRUE(finder.waitForViewable(mainWindowName, 20s)) << app.stderrText();
        ASSERT_TRUE(AppProcess::run(LUMAREX_BINARY_PATH, {"--show"}, environment).status.ok());
        ASSERT_TRUE(finder.waitForViewable(overlayName, 10s));
    }
    ::kill(server->serverPid(), SIGKILL);
    const auto status = app.waitForExit(10s);
    ASSERT_TRUE(status) << "still running after its X server went away";
    EXPECT_TRUE(status->exited) << "ended by a signal: " << status->describe();
    EXPECT_EQ(status->code, 1) << status->describe();
    // Qt may notice first and say so in its own words; either way the reader sees the line a little later.
    EXPECT_TRUE(app.waitForStderr("connection", 5s)) << app.stderrText();
    const std::string err = app.stderrText();
    EXPECT_TRUE(err.find("lost the connection to the X server") != std::string::npos ||
                err.find("X11 connection broke") != std::string::npos)
        << err;
}

} // namespace
