// One instance per user and display, with the real program: a second plain launch hands over to the
// running one, --background opens nothing, a killed instance's socket is taken over, and a file in the
// way or a hung instance are named in words while the launch runs on.
#include "support/AppProcess.h"
#include "support/AppSandbox.h"
#include "support/Wait.h"
#include "support/WindowFinder.h"
#include "support/XConnection.h"
#include "support/XvfbServer.h"

// Before the X headers, whose None and Status macros clash with its names.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

using namespace testsupport;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string mainWindowName = "Cursor settings";
const std::string overlayName = "Lumarex highlight";

class SingleInstanceE2ETest : public testing::Test {
  protected:
    SingleInstanceE2ETest() : x(server.displayName()), windows(server.displayName()) {}

    Environment environment() const { return sandbox.environment(server.displayName()); }

    std::unique_ptr<AppProcess> start(const std::vector<std::string>& arguments = {}) {
        return std::make_unique<AppProcess>(LUMAREX_BINARY_PATH, arguments, environment());
    }
    AppProcess::Result control(const std::string& option) {
        return AppProcess::run(LUMAREX_BINARY_PATH, {option}, environment());
    }
    // Commands are answered from the event loop: this returns once the instance serves them.
    bool waitUntilServing() {
        return pollUntil([&] { return control("--hide").status.ok(); }, 30s, 50ms);
    }

    // The socket every invocation on this display uses.
    fs::path socketPath() const {
        std::string display = server.displayName();
        for (char& c : display)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return sandbox.root() / "runtime" / ("lumarex-" + std::to_string(::getuid()) + "-" + display);
    }

    // _NET_WM_PID of every viewable main window.
    std::vector<int> mainWindowPids() {
        std::vector<int> pids;
        for (const WindowInfo& window : windows.findAll(mainWindowName)) {
            if (!window.viewable)
                continue;
            Atom type = None;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(x.display(), window.id, x.atom("_NET_WM_PID"), 0, 1, False, XA_CARDINAL,
                                   &type, &format, &count, &after, &data) == Success &&
                data && count == 1 && format == 32)
                pids.push_back(int(*reinterpret_cast<unsigned long*>(data)));
            if (data)
                XFree(data);
        }
        return pids;
    }
    bool waitForMainWindowOf(int pid, std::chrono::milliseconds timeout = 20s) {
        return pollUntil(
            [&] {
                for (int shown : mainWindowPids())
                    if (shown == pid)
                        return true;
                return false;
            },
            timeout, 20ms);
    }

    XvfbServer server;
    AppSandbox sandbox;
    XConnection x;
    WindowFinder windows;
};

TEST_F(SingleInstanceE2ETest, SecondPlainLaunchBringsUpTheFirstOnesWindowAndQuitEndsTheOneInstance) {
    auto first = start({"--background"});
    ASSERT_TRUE(waitUntilServing()) << first->stderrText();
    EXPECT_FALSE(windows.waitForViewable(mainWindowName, 500ms)) << "--background opens no window";

    const auto second = AppProcess::run(LUMAREX_BINARY_PATH, {}, environment());
    EXPECT_TRUE(second.status.ok()) << second.status.describe() << ": " << second.err;
    EXPECT_EQ(second.err, "");
    ASSERT_TRUE(waitForMainWindowOf(first->pid())) << "the first instance's window comes up";
    EXPECT_EQ(mainWindowPids(), std::vector<int>{first->pid()}) << "and no second instance runs";

    const auto quit = control("--quit");
    EXPECT_TRUE(quit.status.ok()) << quit.err;
    const auto ended = first->waitForExit(10s);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(ended->ok()) << ended->describe();
    EXPECT_FALSE(fs::exists(socketPath())) << "the instance takes its socket with it";
    const auto none = control("--show");
    EXPECT_EQ(none.status.code, 1);
    EXPECT_NE(none.err.find("no running Lumarex instance"), std::string::npos) << none.err;
}

// What a session sends at logout, and Ctrl+C in a terminal: the normal way out.
TEST_F(SingleInstanceE2ETest, TerminationSignalsQuitCleanlyAndTakeTheSocketAlong) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        auto instance = start({"--background"});
        ASSERT_TRUE(waitUntilServing()) << instance->stderrText();
        instance->signal(signal);
        const auto ended = instance->waitForExit(10s);
        ASSERT_TRUE(ended);
        EXPECT_TRUE(ended->ok()) << ended->describe();
        EXPECT_FALSE(fs::exists(socketPath()));
    }
}

TEST_F(SingleInstanceE2ETest, BackgroundInstanceAnswersShowAndABackgroundLaunchLeavesItAlone) {
    auto instance = start({"--background"});
    ASSERT_TRUE(waitUntilServing()) << instance->stderrText();
    const auto show = control("--show");
    EXPECT_TRUE(show.status.ok()) << show.err;
    EXPECT_TRUE(windows.waitForViewable(overlayName, 10s)) << "the highlight is shown";
    const auto again = AppProcess::run(LUMAREX_BINARY_PATH, {"--background"}, environment());
    EXPECT_TRUE(again.status.ok()) << again.err;
    EXPECT_FALSE(windows.waitForViewable(mainWindowName, 500ms)) << "a start at login opens nothing";
    EXPECT_TRUE(instance->running());
}

TEST_F(SingleInstanceE2ETest, AfterKillNineANewLaunchTakesOverTheSocket) {
    auto killed = start();
    ASSERT_TRUE(waitForMainWindowOf(killed->pid())) << killed->stderrText();
    ASSERT_TRUE(waitUntilServing());
    ::kill(killed->pid(), SIGKILL);
    ASSERT_TRUE(killed->waitForExit(10s));
    struct stat status {};
    ASSERT_EQ(::lstat(socketPath().c_str(), &status), 0) << "a killed instance leaves its socket behind";
    EXPECT_TRUE(S_ISSOCK(status.st_mode));

    auto next = start();
    ASSERT_TRUE(waitForMainWindowOf(next->pid())) << next->stderrText();
    EXPECT_TRUE(
        next->waitForStderr("taking over the command socket of a Lumarex that is no longer running", 5s))
        << next->stderrText();
    ASSERT_TRUE(waitUntilServing());
    EXPECT_TRUE(control("--show").status.ok());
    EXPECT_TRUE(windows.waitForViewable(overlayName, 10s));
    EXPECT_TRUE(control("--quit").status.ok());
    EXPECT_TRUE(next->waitForExit(10s));
}

TEST_F(SingleInstanceE2ETest, AFileInTheWayIsNamedAndTheLaunchRunsOn) {
    std::ofstream(socketPath()) << "not a socket";
    auto instance = start();
    ASSERT_TRUE(waitForMainWindowOf(instance->pid())) << instance->stderrText();
    EXPECT_TRUE(instance->waitForStderr("is in the way of the command socket and is not a socket", 5s))
        << instance->stderrText();
    const auto show = control("--show");
    EXPECT_EQ(show.status.code, 1) << show.status.describe();
    EXPECT_NE(show.err.find(socketPath().string() + " is not a command socket"), std::string::npos)
        << show.err;
    for (const std::string& text : {instance->stderrText(), show.err})
        EXPECT_EQ(text.find("QLocalSocket"), std::string::npos) << text;
    EXPECT_TRUE(fs::is_regular_file(socketPath())) << "someone else's file is left alone";
    EXPECT_TRUE(instance->running());
}

TEST_F(SingleInstanceE2ETest, AHungInstanceIsNamedAndANewLaunchStartsAnyway) {
    auto hung = start();
    ASSERT_TRUE(waitForMainWindowOf(hung->pid())) << hung->stderrText();
    ASSERT_TRUE(waitUntilServing());
    ::kill(hung->pid(), SIGSTOP);

    const auto before = std::chrono::steady_clock::now();
    const auto toggle = control("--toggle");
    EXPECT_EQ(toggle.status.code, 1);
    EXPECT_NE(toggle.err.find("did not answer within 2 seconds"), std::string::npos) << toggle.err;
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);

    auto next = start();
    EXPECT_TRUE(next->waitForStderr("did not answer within 2 seconds; starting a new one", 10s))
        << next->stderrText();
    ASSERT_TRUE(waitForMainWindowOf(next->pid())) << next->stderrText();
    ASSERT_TRUE(waitUntilServing()) << "the new instance answers the control options";

    // When the hung one comes back and quits, the new one keeps its socket.
    ::kill(hung->pid(), SIGCONT);
    hung->terminate();
    EXPECT_TRUE(control("--show").status.ok());
    EXPECT_TRUE(windows.waitForViewable(overlayName, 10s));
}

TEST_F(SingleInstanceE2ETest, TwoLaunchesAtOnceLeaveOneInstance) {
    auto a = start();
    auto b = start();
    // One of them hands over to the other and exits 0.
    std::optional<ExitStatus> ended;
    AppProcess* running = nullptr;
    ASSERT_TRUE(pollUntil(
        [&] {
            if ((ended = a->waitForExit(0ms)))
                running = b.get();
            else if ((ended = b->waitForExit(0ms)))
                running = a.get();
            return ended.has_value();
        },
        30s, 20ms));
    EXPECT_TRUE(ended->ok()) << ended->describe();
    ASSERT_TRUE(waitForMainWindowOf(running->pid())) << running->stderrText();
    EXPECT_EQ(mainWindowPids(), std::vector<int>{running->pid()});
    EXPECT_TRUE(running->running());
}

} // namespace
