// The relaunch offer in the real program: the trust answer is flipped through the override file while it
// runs, and the "Restart Required" alert is answered from the keyboard (Return for "Restart Now", the
// default button; Escape for "Later").
#include "support/AppProcess.h"
#include "support/AppSandbox.h"
#include "support/Wait.h"
#include "support/WindowFinder.h"
#include "support/XConnection.h"
#include "support/XTestDriver.h"
#include "support/XvfbServer.h"

// Before the X headers, whose None and Status macros clash with its names.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

using namespace testsupport;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string mainWindowName = "Cursor settings";
const std::string alertName = "Restart Required";

class RelaunchE2ETest : public testing::Test {
  protected:
    RelaunchE2ETest() : x(server.displayName()), input(x), windows(server.displayName()) { setTrust("0"); }

    ~RelaunchE2ETest() override {
        // The copy the program started is not our child: end it by the process id on its window, first,
        // as it holds the output pipes of the program we started.
        for (int pid : windowPids())
            if (!app || pid != app->pid())
                ::kill(pid, SIGTERM);
        app.reset();
    }

    fs::path trustFile() const { return sandbox.root() / "trust"; }
    void setTrust(const char* answer) { std::ofstream(trustFile(), std::ios::trunc) << answer; }

    void launch(const std::string& program = LUMAREX_BINARY_PATH) {
        Environment env = sandbox.environment(server.displayName());
        env["LUMAREX_TRUST_FILE"] = trustFile().string();
        app = std::make_unique<AppProcess>(program, std::vector<std::string>{}, env);
        ASSERT_TRUE(windows.waitForViewable(mainWindowName, 20s)) << app->stderrText();
        // The launch reads the trust before the event loop runs, and commands are answered from the event
        // loop: only a change after the answer is a grant while running.
        const auto answer = AppProcess::run(LUMAREX_BINARY_PATH, {"--hide"}, env);
        ASSERT_TRUE(answer.status.ok()) << answer.err;
    }

    // Waits for the alert, gives it the keyboard and presses `key` in it.
    bool answerAlert(const std::string& key) {
        const auto alert = windows.waitForViewable(alertName, 10s);
        if (!alert)
            return false;
        XSetInputFocus(x.display(), alert->id, RevertToParent, CurrentTime);
        x.sync();
        input.tapKey(key);
        return windows.waitForGone(alertName, 10s);
    }

    // _NET_WM_PID of every main window on the display.
    std::vector<int> windowPids() {
        std::vector<int> pids;
        for (const WindowInfo& window : windows.findAll(mainWindowName)) {
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

    XvfbServer server;
    AppSandbox sandbox;
    XConnection x;
    XTestDriver input;
    WindowFinder windows;
    std::unique_ptr<AppProcess> app;
};

TEST_F(RelaunchE2ETest, LaterEndsTheOfferForThisRun) {
    launch();
    setTrust("1");
    ASSERT_TRUE(answerAlert("Escape"));

    // Revoked and granted again: the poll has ended, so no second alert.
    setTrust("0");
    EXPECT_FALSE(windows.waitForViewable(alertName, 2500ms));
    setTrust("1");
    EXPECT_FALSE(windows.waitForViewable(alertName, 2500ms));
    EXPECT_TRUE(app->running());
    EXPECT_EQ(windowPids(), std::vector<int>{app->pid()}) << "no second copy";
}

TEST_F(RelaunchE2ETest, RestartNowStartsANewCopyAndTheOldOneQuits) {
    launch();
    setTrust("1");
    const auto alert = windows.waitForViewable(alertName, 10s);
    ASSERT_TRUE(alert) << "the grant is seen within a second or so";
    XSetInputFocus(x.display(), alert->id, RevertToParent, CurrentTime);
    x.sync();
    input.tapKey("Return");
    const auto chosen = AppProcess::Clock::now();

    const int oldPid = app->pid();
    int newPid = 0;
    ASSERT_TRUE(pollUntil(
        [&] {
            for (int pid : windowPids())
                if (pid != oldPid)
                    newPid = pid;
            return newPid != 0;
        },
        20s))
        << "no new copy";
    const auto exit = app->waitForExit(20s);
    ASSERT_TRUE(exit) << "the old copy keeps running";
    const auto exited = AppProcess::Clock::now();
    // 0.5 s until the new copy is opened, 1.0 s after it started: never sooner than 1.5 s.
    EXPECT_GE(exited - chosen, 1500ms);
    EXPECT_TRUE(windows.waitFor(
        mainWindowName, [](const std::optional<WindowInfo>& w) { return w && w->viewable; }, 5s));
    EXPECT_EQ(windowPids(), std::vector<int>{newPid}) << "only the new copy remains";
    EXPECT_FALSE(windows.waitForViewable(alertName, 2s)) << "trusted at its launch: no alert in the new copy";

    // The new copy took the command socket, and the old one's exit left it in place: the control options
    // reach the one copy that runs.
    Environment env = sandbox.environment(server.displayName());
    const auto hide = AppProcess::run(LUMAREX_BINARY_PATH, {"--hide"}, env);
    EXPECT_TRUE(hide.status.ok()) << hide.err;
    const auto quit = AppProcess::run(LUMAREX_BINARY_PATH, {"--quit"}, env);
    EXPECT_TRUE(quit.status.ok()) << quit.err;
    EXPECT_TRUE(windows.waitForGone(mainWindowName, 10s)) << "--quit ends the new copy";
}

TEST_F(RelaunchE2ETest, FailedRestartIsReportedAndTheProgramKeepsRunning) {
    // A copy of the program whose file is gone once it runs: starting it again must fail.
    const fs::path copy = sandbox.root() / "lumarex-copy";
    fs::copy_file(LUMAREX_BINARY_PATH, copy);
    launch(copy.string());
    fs::remove(copy);
    setTrust("1");
    ASSERT_TRUE(answerAlert("Return"));
    ASSERT_TRUE(pollUntil(
        [&] {
            for (const auto& line : app->stdoutLines())
                if (line.text.rfind("Failed to restart app: ", 0) == 0)
                    return true;
            return false;
        },
        10s))
        << app->stdoutText();
    EXPECT_FALSE(app->waitForExit(2500ms)) << "the program stays open";
    EXPECT_EQ(windowPids(), std::vector<int>{app->pid()});
}

} // namespace
