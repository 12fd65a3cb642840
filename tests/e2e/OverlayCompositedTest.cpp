// The highlight as a person sees it on a desktop with a compositing manager: translucent circles over
// whatever lies below, following the pointer, reacting to left presses only.
#include <gtest/gtest.h>

#include "e2e/LumarexSession.h"

#include <algorithm>
#include <thread>

using namespace e2e;
using namespace testsupport;

namespace {

const Rgb baseLook = blendOnGrey(red, 0.3);
const Rgb clickLook = Rgb::over(red, 0.6, baseLook); // click circle over base circle
const Rgb clickRing = blendOnGrey(red, 0.6);         // click circle only (outside the base circle)

class OverlayCompositedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session.launch()) << session.app().stderrText();
        ASSERT_TRUE(session.control("--show").status.ok());
        ASSERT_TRUE(session.pointAndWaitForOverlay(500, 300));
        ASSERT_TRUE(session.waitForPixel(500, 300, baseLook).near(baseLook, 4));
    }

    double clickedLineAfter(LumarexSession::Clock::time_point from, size_t occurrence) {
        auto at = session.app().waitForLine("clicked", 10s, occurrence);
        return at ? std::chrono::duration<double>(*at - from).count() : -1.0;
    }

    LumarexSession session{LumarexSession::Compositor::On};
};

TEST_F(OverlayCompositedTest, BaseCircleIsTranslucentClickThroughAndFollowsThePointer) {
    const auto overlay = session.windows().findViewable(overlayName);
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->x, 450);
    EXPECT_EQ(overlay->y, 250);
    EXPECT_EQ(overlay->width, 100);
    EXPECT_EQ(overlay->height, 100);
    EXPECT_TRUE(overlay->overrideRedirect);
    EXPECT_TRUE(overlay->inputShapeEmpty);

    EXPECT_TRUE(session.screen().pixel(500, 300).near(baseLook, 4));
    // 20 px away is outside the 30 px circle but inside the 100 px window: untouched background.
    for (auto [x, y] : {std::pair{520, 300}, {480, 300}, {500, 280}, {455, 255}}) {
        EXPECT_TRUE(session.screen().pixel(x, y).near(grey, 2))
            << x << "," << y << " shows " << session.screen().pixel(x, y);
    }

    // Presses go to the window beneath the highlight.
    EXPECT_TRUE(session.pressReachesBackground());

    ASSERT_TRUE(session.pointAndWaitForOverlay(700, 500));
    EXPECT_TRUE(session.waitForPixel(700, 500, baseLook).near(baseLook, 4));
    EXPECT_TRUE(session.waitForPixel(500, 300, grey).near(grey, 2));
    // Past the screen edge it is not clamped.
    ASSERT_TRUE(session.pointAndWaitForOverlay(1279, 799));
}

TEST_F(OverlayCompositedTest, LeftClickFadesTheClickCircleInAfterATenthAndOutAgain) {
    const auto pressed = session.click(1);
    const auto samples = session.sample(pressed, 1500ms, {{500, 300}, {518, 300}});
    ASSERT_GT(samples.size(), 50u);

    for (const auto& s : samples) {
        const Rgb centre = s.colours[0];
        const Rgb ring = s.colours[1];
        if (s.t < 0.08) {
            EXPECT_TRUE(centre.near(baseLook, 4))
                << "click look before its delay, at " << s.t << " s: " << centre;
            EXPECT_TRUE(ring.near(grey, 4)) << "at " << s.t << " s: " << ring;
        }
        if (s.t >= 1.0) {
            EXPECT_TRUE(centre.near(baseLook, 4)) << "click look still there at " << s.t << " s: " << centre;
            EXPECT_TRUE(ring.near(grey, 4)) << "at " << s.t << " s: " << ring;
        }
    }
    const Rgb peakRing = strongest(samples, 1, grey, 0.15, 0.8);
    EXPECT_TRUE(peakRing.near(clickRing, 8))
        << "brightest click ring seen " << peakRing << ", full look " << clickRing;
    // About 0.25 s after the press the circle is well on its way in (the spring is at ~80 % then).
    const auto at = std::find_if(samples.begin(), samples.end(), [](const Sample& s) { return s.t >= 0.3; });
    ASSERT_NE(at, samples.end());
    EXPECT_GT(at->colours[1].r, grey.r + (clickRing.r - grey.r) / 2)
        << "at " << at->t << " s: " << at->colours[1];
    EXPECT_LT(at->colours[0].g, baseLook.g - (baseLook.g - clickLook.g) / 2);

    EXPECT_EQ(session.app().count("clicked"), 1u);
    EXPECT_GE(clickedLineAfter(pressed, 1), 0.09);
}

TEST_F(OverlayCompositedTest, TwoPressesFiftyMillisecondsApartGiveOneClickFromTheSecond) {
    session.click(1);
    std::this_thread::sleep_for(50ms); // the gap between the presses
    const auto second = session.click(1);
    const auto samples = session.sample(second, 700ms, {{518, 300}});
    const double firstLine = clickedLineAfter(second, 1);
    EXPECT_GE(firstLine, 0.09) << "the first press was not cancelled by the second";
    EXPECT_TRUE(strongest(samples, 0, grey).near(clickRing, 8)) << strongest(samples, 0, grey);

    // A later press is the marker: any stray line from the pair would have come before its line.
    const auto marker = session.click(1);
    EXPECT_GE(clickedLineAfter(marker, 2), 0.09);
    EXPECT_EQ(session.app().count("clicked"), 2u) << session.app().stdoutText();
}

TEST_F(OverlayCompositedTest, RightAndMiddleClicksShowAndPrintNothing) {
    const auto pressed = session.click(3);
    session.click(2);
    const auto samples = session.sample(pressed, 600ms, {{500, 300}, {518, 300}});
    for (const auto& s : samples) {
        EXPECT_TRUE(s.colours[0].near(baseLook, 4)) << "at " << s.t << " s: " << s.colours[0];
        EXPECT_TRUE(s.colours[1].near(grey, 4)) << "at " << s.t << " s: " << s.colours[1];
    }
    const auto marker = session.click(1);
    EXPECT_GE(clickedLineAfter(marker, 1), 0.09);
    EXPECT_EQ(session.app().count("clicked"), 1u) << session.app().stdoutText();
}

TEST_F(OverlayCompositedTest, APressWhileTheLookFadesInStartsASecondLookOnceTheFirstEnds) {
    // The first look's flag falls at 0.4 s; this press raises it again at 0.45 s, so the look lasts until
    // 0.75 s and only then fades. A lone press would have faded out completely by 0.8 s.
    const auto first = session.click(1);
    std::this_thread::sleep_until(first + 350ms);
    session.click(1);
    const auto samples = session.sample(first, 1800ms, {{518, 300}});
    const Rgb late = strongest(samples, 0, grey, 0.8, 0.9);
    EXPECT_GT(late.distance(grey), 15) << "no second look: " << late;
    for (const auto& s : samples) {
        if (s.t >= 1.5) {
            EXPECT_TRUE(s.colours[0].near(grey, 4)) << "at " << s.t << " s: " << s.colours[0];
        }
    }
    EXPECT_TRUE(session.app().waitForLine("clicked", 5s, 2));
}

TEST_F(OverlayCompositedTest, HideToggleAndQuitFromTheCommandLine) {
    const auto shownFirst = session.windows().findViewable(overlayName);
    ASSERT_TRUE(shownFirst);
    // Showing what is already shown, then hiding once, must leave nothing watching presses.
    EXPECT_TRUE(session.control("--show").status.ok());
    auto hide = session.control("--hide");
    EXPECT_TRUE(hide.status.ok()) << hide.status.describe() << " " << hide.err;
    EXPECT_TRUE(session.windows().waitForGone(overlayName, 10s));
    EXPECT_TRUE(session.waitForPixel(500, 300, grey).near(grey, 2));
    EXPECT_TRUE(session.control("--hide").status.ok()) << "hiding twice is harmless";
    const auto ignored = session.click(1);
    const auto hiddenSamples = session.sample(ignored, 500ms, {{500, 300}});
    EXPECT_TRUE(strongest(hiddenSamples, 0, grey).near(grey, 2)) << "something drawn while hidden";
    EXPECT_EQ(session.app().count("clicked"), 0u) << "a press was still watched while hidden";

    EXPECT_TRUE(session.control("--toggle").status.ok());
    const auto shownAgain = session.pointAndWaitForOverlay(600, 400);
    ASSERT_TRUE(shownAgain);
    EXPECT_EQ(shownAgain->id, shownFirst->id) << "the overlay window is made once and reused";
    EXPECT_TRUE(session.waitForPixel(600, 400, baseLook).near(baseLook, 4));
    EXPECT_TRUE(session.screen().pixel(500, 300).near(grey, 2));

    EXPECT_TRUE(session.control("--toggle").status.ok());
    EXPECT_TRUE(session.windows().waitForGone(overlayName, 10s));
    EXPECT_TRUE(session.waitForPixel(600, 400, grey).near(grey, 2));

    auto quit = session.control("--quit");
    EXPECT_TRUE(quit.status.ok()) << quit.status.describe() << " " << quit.err;
    auto status = session.app().waitForExit(10s);
    ASSERT_TRUE(status) << "still running after --quit";
    EXPECT_TRUE(status->ok()) << status->describe();
    EXPECT_FALSE(session.windows().find(mainWindowName).has_value() &&
                 session.windows().find(mainWindowName)->viewable);

    // Nothing runs any more: the command says so and fails.
    auto orphan = session.control("--show");
    EXPECT_EQ(orphan.status.code, 1) << orphan.status.describe();
    EXPECT_FALSE(orphan.err.empty());
}

} // namespace

// A desktop scaled by two (Qt's scale factor, as for Xft.dpi 192) gets circles twice as many pixels wide.
TEST(OverlayScaledTest, CirclesKeepTheirSizeInPointsOnAScaledDesktop) {
    LumarexSession session{LumarexSession::Compositor::On};
    ASSERT_TRUE(session.launch({{"QT_SCALE_FACTOR", "2"}})) << session.app().stderrText();
    session.input().move(500, 300);
    ASSERT_TRUE(session.control("--show").status.ok());
    ASSERT_TRUE(session.waitForPixel(500, 300, baseLook).near(baseLook, 4));
    const auto overlay = session.windows().findViewable(overlayName);
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->width, 200);
    EXPECT_EQ(overlay->x, 400);
    // A 30 point circle is 60 pixels across: 25 px from the centre is inside, 35 px is background.
    EXPECT_TRUE(session.screen().pixel(525, 300).near(baseLook, 4)) << session.screen().pixel(525, 300);
    EXPECT_TRUE(session.screen().pixel(500, 335).near(grey, 2)) << session.screen().pixel(500, 335);
}
