// The tray icon of the real program in an XEmbed tray (Debian's trayer) on Xvfb: it is embedded, a left
// click and its menu toggle the highlight (judged by screen pixels), the menu's check follows the overlay,
// and "Start at Login" writes and removes the autostart entry. Menus are worked from the keyboard, as a
// person may: Down from nothing selects the first item, Up the last.
#include <gtest/gtest.h>

#include "e2e/LumarexSession.h"

#include "support/AppProcess.h"
#include "support/TrayPanel.h"
#include "support/Wait.h"

#include <X11/Xlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace e2e;
using namespace testsupport;

namespace {

namespace fs = std::filesystem;

// The menu is a top-level popup titled after the application.
const std::string menuName = "Lumarex";

class TrayE2ETest : public testing::Test {
  protected:
    TrayE2ETest() : session(LumarexSession::Compositor::On), tray(session.server().displayName()) {}

    void SetUp() override {
        ASSERT_TRUE(session.launch()) << session.app().stderrText();
        tray.raise(); // above the background the session raised over everything
        const auto found = tray.waitForIcon(session.app().pid(), 20s);
        ASSERT_TRUE(found) << "the icon is embedded in the tray; " << session.app().stderrText();
        icon = *found;
    }

    void clickIcon(int button) {
        session.input().move(icon.x + icon.width / 2, icon.y + icon.height / 2);
        // Two right presses within the toolkit's double-click interval (400 ms) make a double click, which
        // opens no menu; a person opening the menu again is slower than that. The wait is for the
        // interval itself, not for a state.
        if (button == 3)
            std::this_thread::sleep_until(lastRightPress + 600ms);
        const auto pressed = session.click(button);
        if (button == 3)
            lastRightPress = pressed;
    }

    // Opens the icon's menu, waits until it has the keyboard, and presses `keys` in it.
    void chooseFromMenu(const std::vector<std::string>& keys) {
        clickIcon(3);
        ASSERT_TRUE(session.windows().waitForViewable(menuName, 10s)) << "the menu opens";
        // The popup grabs the keyboard once it shows; until then our own grab succeeds.
        XConnection probe(session.server().displayName());
        ASSERT_TRUE(pollUntil(
            [&] {
                const int result = XGrabKeyboard(probe.display(), probe.root(), False, GrabModeAsync,
                                                 GrabModeAsync, CurrentTime);
                if (result == GrabSuccess)
                    XUngrabKeyboard(probe.display(), CurrentTime);
                probe.sync();
                return result == AlreadyGrabbed;
            },
            10s, 10ms));
        for (const std::string& key : keys)
            session.input().tapKey(key);
        ASSERT_TRUE(session.windows().waitForGone(menuName, 10s)) << "the menu closes after the choice";
    }

    // Whether the highlight shows at a point of the grey background, looked at where a person would.
    bool highlightShows() {
        session.input().move(640, 400);
        const Rgb base = blendOnGrey(red, 0.3);
        return session.waitForPixel(640, 400, base, 6, 5s).near(base, 6);
    }
    bool highlightGone() {
        session.input().move(640, 400);
        return session.windows().waitForGone(overlayName, 5s) &&
               session.waitForPixel(640, 400, grey, 2, 5s).near(grey, 2);
    }

    fs::path autostartFile() {
        return session.sandbox().configHome() / "autostart" / "example.quorvel.Lumarex.desktop";
    }

    LumarexSession session;
    TrayPanel tray;
    WindowInfo icon;
    LumarexSession::Clock::time_point lastRightPress;
};

TEST_F(TrayE2ETest, IconIsEmbeddedAndALeftClickTogglesTheHighlight) {
    EXPECT_GT(icon.width, 8);
    EXPECT_GT(icon.height, 8);
    // The artwork's dark blue square fills most of it, once the icon has painted itself.
    const Rgb square = Rgb::fromHex(0x222840);
    const Rgb seen =
        session.waitForPixel(icon.x + icon.width / 2, icon.y + icon.height * 3 / 4, square, 40, 10s);
    EXPECT_TRUE(seen.near(square, 40)) << seen;

    clickIcon(1);
    EXPECT_TRUE(highlightShows()) << session.screen().pixel(640, 400);
    clickIcon(1); // soon after the first: the toolkit calls it a double click, which toggles as well
    EXPECT_TRUE(highlightGone()) << session.screen().pixel(640, 400);
    clickIcon(1);
    EXPECT_TRUE(highlightShows()) << session.screen().pixel(640, 400);
}

TEST_F(TrayE2ETest, MenuTogglesTheHighlightAndItsCheckFollowsTheOverlay) {
    chooseFromMenu({"Down", "Return"}); // "Highlight Cursor"
    EXPECT_TRUE(highlightShows()) << session.screen().pixel(640, 400);

    // Hidden from elsewhere: the item is unchecked again, so choosing it shows the highlight.
    ASSERT_TRUE(session.control("--hide").status.ok());
    ASSERT_TRUE(highlightGone());
    chooseFromMenu({"Down", "Return"});
    EXPECT_TRUE(highlightShows()) << "had the check not followed, this choice would have hidden it";
    chooseFromMenu({"Down", "Return"});
    EXPECT_TRUE(highlightGone());
}

TEST_F(TrayE2ETest, StartAtLoginCreatesAndRemovesTheAutostartEntry) {
    EXPECT_FALSE(fs::exists(autostartFile()));
    chooseFromMenu({"Up", "Up", "Up", "Return"}); // Quit, About Quorvel, Start at Login
    ASSERT_TRUE(pollUntil([&] { return fs::exists(autostartFile()); }, 5s)) << session.app().stderrText();
    std::stringstream content;
    content << std::ifstream(autostartFile()).rdbuf();
    EXPECT_NE(content.str().find("\nExec="), std::string::npos);
    EXPECT_NE(content.str().find(" --background\n"), std::string::npos) << content.str();
    const auto validated = AppProcess::run("/usr/bin/desktop-file-validate", {autostartFile().string()},
                                           session.sandbox().environment(""));
    EXPECT_TRUE(validated.status.ok()) << validated.out << validated.err;

    chooseFromMenu({"Up", "Up", "Up", "Return"});
    EXPECT_TRUE(pollUntil([&] { return !fs::exists(autostartFile()); }, 5s));
    EXPECT_TRUE(session.app().running());
}

TEST(TrayLaterE2ETest, ATrayThatStartsLaterGetsTheIcon) {
    LumarexSession session(LumarexSession::Compositor::Off);
    ASSERT_TRUE(session.launch()) << session.app().stderrText();
    ASSERT_TRUE(session.control("--hide").status.ok()) << "runs normally without a tray";
    TrayPanel tray(session.server().displayName());
    EXPECT_TRUE(tray.waitForIcon(session.app().pid(), 20s));
    EXPECT_TRUE(session.app().running());
}

} // namespace
