// The toggle shortcut in the real program on a private X server, typed through XTest: with another
// client focused (the global monitor) and with the program's own window focused (the local monitor).
#include "support/AppProcess.h"
#include "support/AppSandbox.h"
#include "support/WindowFinder.h"
#include "support/XConnection.h"
#include "support/XTestDriver.h"
#include "support/XvfbServer.h"

// Before the X headers, whose None and Status macros clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace {

using namespace testsupport;
using namespace std::chrono_literals;

const std::string mainWindowName = "Cursor settings";
const std::string overlayName = "Lumarex highlight";

class ShortcutE2ETest : public testing::Test {
  protected:
    ShortcutE2ETest() : server(), x(server.displayName()), input(x), windows(server.displayName()) {
        sandbox.writeSettings("[General]\ntoggleShortcut=\xE2\x8C\x98\xE2\x87\xA7H\n"); // ⌘⇧H
    }

    ~ShortcutE2ETest() override {
        app.reset();
        if (other)
            XDestroyWindow(x.display(), other);
        x.sync();
    }

    void launch() {
        app = std::make_unique<AppProcess>(LUMAREX_BINARY_PATH, std::vector<std::string>{},
                                           sandbox.environment(server.displayName()));
        ASSERT_TRUE(windows.waitForViewable(mainWindowName, 20s)) << app->stderrText();
        // Commands are answered from the event loop, which runs once the launch (monitors included) is done.
        const auto answer =
            AppProcess::run(LUMAREX_BINARY_PATH, {"--hide"}, sandbox.environment(server.displayName()));
        ASSERT_TRUE(answer.status.ok()) << answer.err;
    }

    // A plain window of another client that takes the keyboard focus (no window manager here).
    void focusOtherClient() {
        Display* display = x.display();
        other = XCreateSimpleWindow(display, x.root(), 700, 100, 300, 200, 0, 0, 0xffffff);
        XStoreName(display, other, "Another program");
        XMapWindow(display, other);
        x.sync();
        ASSERT_TRUE(windows.waitForViewable("Another program", 10s));
        XSetInputFocus(display, other, RevertToParent, CurrentTime);
        x.sync();
    }

    void focusMainWindow() {
        const auto main = windows.findViewable(mainWindowName);
        ASSERT_TRUE(main);
        XSetInputFocus(x.display(), main->id, RevertToParent, CurrentTime);
        x.sync();
    }

    void pressShortcut() {
        input.pressKey("Super_L");
        input.pressKey("Shift_L");
        input.tapKey("h");
        input.releaseKey("Shift_L");
        input.releaseKey("Super_L");
    }

    bool overlayShown() { return windows.waitForViewable(overlayName, 10s).has_value(); }
    bool overlayHidden() { return windows.waitForGone(overlayName, 10s); }
    // A second toggle of the same press would follow the first within a few event-loop turns.
    bool overlayStaysShown() { return !windows.waitForGone(overlayName, 1500ms); }

    XvfbServer server;
    AppSandbox sandbox;
    XConnection x;
    XTestDriver input;
    WindowFinder windows;
    std::unique_ptr<AppProcess> app;
    XWindowId other = 0;
};

TEST_F(ShortcutE2ETest, ShortcutInAnotherProgramShowsThenHidesTheHighlight) {
    launch();
    // Xvfb lets any local client select raw key events on the root window: the launch found us trusted.
    std::ifstream settingsFile(sandbox.settingsFile());
    const std::string settings((std::istreambuf_iterator<char>(settingsFile)), {});
    EXPECT_NE(settings.find("accessibilityGranted=true"), std::string::npos) << settings;
    focusOtherClient();
    pressShortcut();
    ASSERT_TRUE(overlayShown()) << app->stderrText();
    EXPECT_TRUE(overlayStaysShown()) << "one press, one toggle";
    pressShortcut();
    EXPECT_TRUE(overlayHidden());

    // Near misses do nothing: the key alone, an extra modifier, a missing one.
    input.tapKey("h");
    input.pressKey("Super_L");
    input.pressKey("Shift_L");
    input.pressKey("Alt_L");
    input.tapKey("h");
    input.releaseKey("Alt_L");
    input.releaseKey("Shift_L");
    input.tapKey("h");
    input.releaseKey("Super_L");
    EXPECT_FALSE(windows.waitForViewable(overlayName, 1500ms));
    EXPECT_TRUE(app->running());
}

TEST_F(ShortcutE2ETest, CapsLockAndNumLockDoNotBreakTheMatch) {
    launch();
    focusOtherClient();
    input.tapKey("Caps_Lock");
    input.tapKey("Num_Lock");
    pressShortcut();
    EXPECT_TRUE(overlayShown()) << app->stderrText();
    pressShortcut();
    EXPECT_TRUE(overlayHidden());
    input.tapKey("Caps_Lock");
    input.tapKey("Num_Lock");
}

TEST_F(ShortcutE2ETest, WithOurWindowFocusedOnePressTogglesExactlyOnce) {
    launch();
    focusMainWindow();
    pressShortcut();
    ASSERT_TRUE(overlayShown());
    EXPECT_TRUE(overlayStaysShown()) << "seen by both monitors, toggled twice";
    pressShortcut();
    EXPECT_TRUE(overlayHidden());
}

} // namespace
