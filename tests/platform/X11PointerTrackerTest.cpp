// The tracker thread against a real X server: XTest motion and presses, pointer warps, a window destroyed by
// another client, and the server going away.
#include <gtest/gtest.h>

#include "platform/x11/X11PointerTracker.h"
#include "support/XConnection.h"
#include "support/XTestDriver.h"
#include "support/XvfbServer.h"

#include <X11/Xlib.h>
#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

using namespace testsupport;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int width = 100;
constexpr int height = 60;

// An override-redirect window of the test's own client, whose moves the test reads as ConfigureNotify.
class TestWindow {
  public:
    explicit TestWindow(XConnection& connection) : display_(connection.display()) {
        XSetWindowAttributes attributes = {};
        attributes.override_redirect = True;
        attributes.event_mask = StructureNotifyMask;
        id_ = XCreateWindow(display_, connection.root(), 0, 0, width, height, 0, CopyFromParent, InputOutput,
                            CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
        XMapWindow(display_, id_);
        XSync(display_, False);
    }
    ~TestWindow() {
        if (id_)
            XDestroyWindow(display_, id_);
        XSync(display_, False);
    }
    unsigned long id() const { return id_; }
    void destroy() {
        XDestroyWindow(display_, id_);
        XSync(display_, False);
        id_ = 0;
    }

    // Waits for the window's top-left corner to reach (x, y).
    bool waitForOrigin(int x, int y, std::chrono::milliseconds timeout = 5s) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == ConfigureNotify && event.xconfigure.window == id_ &&
                    event.xconfigure.x == x && event.xconfigure.y == y)
                    return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd pfd{ConnectionNumber(display_), POLLIN, 0};
            ::poll(&pfd, 1, static_cast<int>(std::max<long>(left.count(), 0)));
        }
        return false;
    }

  private:
    Display* display_;
    unsigned long id_ = 0;
};

// Keeps the pointer circling fast through XTest from a thread and a connection of its own, for a busy
// tracker.
class CirclingPointer {
  public:
    explicit CirclingPointer(const std::string& displayName)
        : thread_([this, displayName] {
              XConnection own(displayName);
              XTestDriver driver(own);
              while (!stop_)
                  driver.circle(640, 400, 200, 240, 100ms, 4.0);
          }) {}
    ~CirclingPointer() {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class X11PointerTrackerTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { server = new XvfbServer(); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override { input.move(640, 400); }

    // XTest input is flushed, not synced: once this returns the server has queued its raw events for the
    // tracker, and a tracker sync() afterwards has handled them.
    void syncInput() { connection.sync(); }

    static XvfbServer* server;
    XConnection connection{server->displayName()};
    XTestDriver input{connection};
    TestWindow window{connection};
    X11PointerTracker tracker{server->displayName(), [] { ADD_FAILURE() << "connection lost"; }};
};

XvfbServer* X11PointerTrackerTest::server = nullptr;

TEST_F(X11PointerTrackerTest, CentresTheWindowOnThePointerAndWakesFromRestOnMotion) {
    ASSERT_TRUE(tracker.isRunning());
    tracker.follow(window.id(), width, height);
    EXPECT_TRUE(window.waitForOrigin(640 - 50, 400 - 30)) << "moved at once when asked to follow";

    input.move(300, 200);
    EXPECT_TRUE(window.waitForOrigin(250, 170));
    ASSERT_TRUE(tracker.waitUntilResting(5s)) << "the tracker rests once the pointer stands still";

    input.move(900, 700);
    EXPECT_TRUE(window.waitForOrigin(850, 670)) << "motion wakes the resting tracker";

    // A new size re-centres at once, even with the pointer still.
    tracker.follow(window.id(), 200, 40);
    EXPECT_TRUE(window.waitForOrigin(800, 680));
}

TEST_F(X11PointerTrackerTest, WarpWithoutRawMotionIsFollowedWithinAQuarterSecond) {
    tracker.follow(window.id(), width, height);
    ASSERT_TRUE(window.waitForOrigin(590, 370));
    ASSERT_TRUE(tracker.waitUntilResting(5s));

    // A warp moves the pointer without any device report, so no raw motion arrives.
    XWarpPointer(connection.display(), None, connection.root(), 0, 0, 0, 0, 1000, 150);
    connection.sync();
    const auto warped = Clock::now();
    ASSERT_TRUE(window.waitForOrigin(950, 120));
    const auto late = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - warped);
    EXPECT_LE(late.count(), 250);
}

// At rest the pointer query waits in the server for the slow poll; neither motion nor a caller may wait
// for that poll.
TEST_F(X11PointerTrackerTest, AtRestMotionAndRequestsDoNotWaitForTheSlowPoll) {
    X11PointerTracker::Timing timing;
    timing.restPoll = 20s;
    X11PointerTracker slow(
        server->displayName(), [] { ADD_FAILURE() << "connection lost"; }, timing);
    slow.follow(window.id(), width, height);
    ASSERT_TRUE(window.waitForOrigin(590, 370));
    ASSERT_TRUE(slow.waitUntilResting(5s));

    const auto asked = Clock::now();
    slow.watchPresses([] {});
    slow.sync();
    slow.sync();
    EXPECT_LT(Clock::now() - asked, 2s) << "requests end the pending wait";
    ASSERT_TRUE(slow.isResting());

    input.move(200, 100);
    EXPECT_TRUE(window.waitForOrigin(150, 70, 2s)) << "motion ends the rest";
    const auto stopping = Clock::now();
    slow.stopFollowing();
    EXPECT_LT(Clock::now() - stopping, 2s);
}

TEST_F(X11PointerTrackerTest, ADeviceReportingWithoutMovingThePointerGetsFramesNotABusyLoop) {
    tracker.follow(window.id(), width, height);
    ASSERT_TRUE(window.waitForOrigin(590, 370));
    ASSERT_TRUE(tracker.waitUntilResting(5s));
    // A mouse pushed against a screen edge: reports 250 times a second, the pointer stays where it is.
    const auto queries = tracker.queries();
    const auto start = Clock::now();
    while (Clock::now() - start < 1s) {
        input.move(640, 400);
        syncInput();
        std::this_thread::sleep_for(4ms);
    }
    EXPECT_LE(tracker.queries() - queries, 100u) << "at most the frame rate, and a little";
}

TEST_F(X11PointerTrackerTest, OnlyLeftPressesReachTheHandlerEachOnce) {
    std::atomic<int> presses{0};
    tracker.watchPresses([&] { ++presses; });
    tracker.sync(); // the selection is in place
    for (int button : {3, 2, 1})
        input.click(button);
    syncInput();
    tracker.sync();
    EXPECT_EQ(presses.load(), 1);

    tracker.watchPresses({});
    input.click(1);
    syncInput();
    tracker.sync();
    EXPECT_EQ(presses.load(), 1) << "no presses after the watch ended";
}

TEST_F(X11PointerTrackerTest, StoppingAndFollowingAgainWhileThePointerCircles) {
    std::optional<CirclingPointer> circling(std::in_place, server->displayName());
    for (int round = 0; round < 20; ++round) {
        tracker.follow(window.id(), width, height);
        tracker.sync();
        tracker.stopFollowing();
        const auto moves = tracker.moves();
        tracker.sync();
        EXPECT_EQ(tracker.moves(), moves) << "moved after stopFollowing() returned, round " << round;
    }
    tracker.follow(window.id(), width, height);
    circling.reset();
    const auto at = input.pointer();
    EXPECT_TRUE(window.waitForOrigin(at.x - 50, at.y - 30)) << "follows again after the last stop";
}

TEST_F(X11PointerTrackerTest, EndsPromptlyWhileBusy) {
    CirclingPointer circling(server->displayName());
    for (int i = 0; i < 5; ++i) {
        std::atomic<int> presses{0};
        auto busy = std::make_unique<X11PointerTracker>(server->displayName(), [] {});
        busy->watchPresses([&] { ++presses; });
        busy->follow(window.id(), width, height);
        busy->sync();
        busy.reset(); // joins the thread; a hang here fails the test by its time-out
    }
}

TEST_F(X11PointerTrackerTest, WindowDestroyedBehindItsBackIsLeftAloneAndAnotherCanBeFollowed) {
    tracker.follow(window.id(), width, height);
    ASSERT_TRUE(window.waitForOrigin(590, 370));
    testing::internal::CaptureStderr();
    window.destroy();
    for (int x = 100; x < 400; x += 30) {
        input.move(x, 300);
        syncInput();
        tracker.sync();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "")
        << "moves of the gone window are not errors to report";

    TestWindow another(connection);
    tracker.follow(another.id(), width, height);
    EXPECT_TRUE(another.waitForOrigin(370 - 50, 300 - 30));
}

TEST(X11PointerTrackerServerTest, ServerGoingAwayEndsTheThreadAndReportsOnce) {
    auto server = std::make_unique<XvfbServer>();
    unsigned long window = 0;
    {
        // A window that outlives its maker's connection, for the tracker to keep moving.
        XConnection maker(server->displayName());
        XSetCloseDownMode(maker.display(), RetainPermanent);
        window = XCreateSimpleWindow(maker.display(), maker.root(), 0, 0, width, height, 0, 0, 0);
        XMapWindow(maker.display(), window);
        maker.sync();
    }
    std::mutex mutex;
    std::condition_variable reported;
    int losses = 0;
    X11PointerTracker tracker(server->displayName(), [&] {
        std::lock_guard lock(mutex);
        ++losses;
        reported.notify_all();
    });
    tracker.follow(window, width, height);
    tracker.watchPresses([] {});
    tracker.sync();

    ::kill(server->serverPid(), SIGKILL);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(reported.wait_for(lock, 10s, [&] { return losses > 0; }));
    EXPECT_EQ(losses, 1);
    EXPECT_FALSE(tracker.isRunning());
    lock.unlock();
    tracker.stopFollowing(); // returns at once on a dead tracker
    tracker.sync();
}

} // namespace
