#include "e2e/SettingsSession.h"

#include "support/ReadOnlyFolder.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace e2e;
using testsupport::Rgb;

namespace {

// Width of the circle drawn around (x, y): the run of pixels on that row that differ from the grey.
int circleWidthAt(testsupport::ScreenGrabber& screen, int x, int y) {
    const auto row = screen.grab(x - 60, y, 121, 1);
    int width = 0;
    for (const Rgb& pixel : row.pixels)
        if (!pixel.near(SettingsSession::grey, 12))
            ++width;
    return width;
}

} // namespace

// While the overlay is visible, dragging the base size slider resizes the circle on screen as the knob
// moves, and each value is in the settings file at once.
TEST(SettingsViewE2ETest, SizeSliderDragResizesTheVisibleCircle) {
    SettingsSession session;
    session.launch();
    ASSERT_TRUE(session.control("--show").status.ok());

    const Rect handle = session.at("baseSizeSliderHandle");
    const Rect slider = session.at("baseSizeSlider");
    const Rect window = session.at("window");
    // Below the window, over the grey background; the slider follows the pointer's x alone.
    const int freeY = window.y + window.height + 80;
    ASSERT_LT(freeY + 60, SettingsSession::screenHeight);

    session.input().move(handle.centerX(), handle.centerY());
    // Where the circle appears, it has the stored default size.
    session.input().move(handle.centerX(), freeY);
    int width = 0;
    ASSERT_TRUE(testsupport::pollUntil(
        [&] {
            return std::abs((width = circleWidthAt(session.screen(), handle.centerX(), freeY)) - 30) <= 3;
        },
        10s))
        << "circle " << width << " px wide before the drag";

    session.input().move(handle.centerX(), handle.centerY());
    session.input().press(1);
    double previous = 30.0;
    for (int step = 1; step <= 2; ++step) {
        // Along the slider while pressed, then straight down, out of the window, still pressed.
        const int x = slider.x + slider.width * (step == 1 ? 55 : 90) / 100;
        session.input().move(x, handle.centerY());
        session.input().move(x, freeY);
        double stored = 0;
        ASSERT_TRUE(testsupport::pollUntil(
            [&] {
                stored = session.stored("baseSize").toDouble();
                width = circleWidthAt(session.screen(), x, freeY);
                return stored > previous + 20 && std::abs(width - stored) <= 3;
            },
            10s))
            << "step " << step << ": stored size " << stored << ", circle " << width << " px wide";
        previous = stored;
    }
    session.input().release(1);
    EXPECT_GT(previous, 80.0);
}

// A settings folder that cannot be written: the change takes effect for this run, and the program says
// where and why it cannot keep it, once, instead of letting it vanish at the next start.
TEST(SettingsViewE2ETest, AReadOnlySettingsFolderIsSaidOnceAndTheChangeStillHolds) {
    SettingsSession session;
    testsupport::ReadOnlyFolder folder(session.sandbox().settingsFile().parent_path());
    if (!folder.unavailable().empty())
        GTEST_SKIP() << folder.unavailable();
    folder.write("Lumarex.conf", "[General]\nbaseSize=44\n");
    ASSERT_TRUE(folder.seal());
    session.launch();

    session.clickOn("baseSizeSlider");
    ASSERT_TRUE(session.app().waitForStderr(
        "Settings cannot be saved to " + session.sandbox().settingsFile().string(), 10s))
        << session.app().stderrText();
    session.clickOn("window");
    session.clickOn("baseSizeSlider");
    ASSERT_TRUE(session.control("--show").status.ok()) << "still serving";
    const std::string err = session.app().stderrText();
    EXPECT_EQ(err.find("Settings cannot be saved"), err.rfind("Settings cannot be saved"))
        << "said once: " << err;
    EXPECT_EQ(session.stored("baseSize").toDouble(), 44.0) << "the file is as it was";
}
