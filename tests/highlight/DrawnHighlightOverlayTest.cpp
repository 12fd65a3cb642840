#include "highlight/DrawnHighlightOverlay.h"

#include "highlight/HighlightSettings.h"
#include "highlight/OverlayFakes.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace fakes;

// Driven through the controller, as the application drives it.
class DrawnHighlightOverlayTest : public testing::Test, protected FakeOverlayRig {};

TEST_F(DrawnHighlightOverlayTest, CentresTheWindowOnThePointer) {
    overlay.show();
    ASSERT_FALSE(surface.moves.empty());
    EXPECT_EQ(surface.moves.back(), QPoint(450, 250));

    // A larger circle grows the window; it stays centred.
    settings.setClickSize(140);
    EXPECT_EQ(drawn->surface()->size(), QSize(142, 142));
    EXPECT_EQ(surface.moves.back(), QPoint(500 - 71, 300 - 71));

    // No screen: the tick does nothing and the window stays where it was.
    const size_t moves = surface.moves.size();
    pointer.position.reset();
    QSignalSpy tick(&overlay, &QObject::destroyed); // just an event loop turn or two
    tick.wait(50);
    EXPECT_EQ(surface.moves.size(), moves);
}

TEST_F(DrawnHighlightOverlayTest, OutsizedCirclesFromTheSettingsFileKeepTheWindowBounded) {
    settings.setBaseSize(1e9); // a hand-edited file: the window's image would need exabytes
    overlay.show();
    const int bound = DrawnHighlightOverlay::maxWindowSize;
    EXPECT_EQ(drawn->surface()->size(), QSize(bound, bound));
    EXPECT_EQ(surface.moves.back(), QPoint(500 - bound / 2, 300 - bound / 2));

    settings.setBaseSize(500);
    EXPECT_EQ(drawn->surface()->size(), QSize(502, 502));
    settings.setBaseSize(-20);
    EXPECT_EQ(drawn->surface()->size(), QSize(100, 100));
}

TEST_F(DrawnHighlightOverlayTest, TimerRestsWhileThePointerIsStillAndWakesOnMotion) {
    overlay.show();
    QElapsedTimer elapsed;
    elapsed.start();
    while (drawn->isPositionTimerActive() && elapsed.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_FALSE(drawn->isPositionTimerActive()) << "a still pointer lets the 60 Hz timer rest";
    EXPECT_TRUE(drawn->isTracking()) << "a slow safety poll remains while visible";
    ASSERT_TRUE(pointer.onMotion);

    pointer.position = QPoint(600, 400);
    pointer.onMotion();
    EXPECT_TRUE(drawn->isPositionTimerActive());
    EXPECT_EQ(surface.moves.back(), QPoint(550, 350));

    overlay.hide();
    EXPECT_FALSE(pointer.onMotion) << "hiding ends the motion watch";
    EXPECT_FALSE(drawn->isTracking());
}

TEST_F(DrawnHighlightOverlayTest, WithoutMotionReportsTheTimerKeepsTicking) {
    pointer.reportsMotion = false;
    overlay.show();
    QSignalSpy spin(&overlay, &QObject::destroyed);
    spin.wait(250);
    EXPECT_TRUE(drawn->isPositionTimerActive());
}

TEST_F(DrawnHighlightOverlayTest, ScaledDesktopDoublesTheWindowAndKeepsItCentred) {
    double scale = 2.0;
    drawn->setDeviceScaleSource([&] { return scale; });
    overlay.show();
    EXPECT_EQ(drawn->surface()->size(), QSize(200, 200));
    EXPECT_EQ(surface.moves.back(), QPoint(400, 200));

    // The scale is asked again at every show, and nonsense from the source counts as 1.
    overlay.hide();
    scale = std::numeric_limits<double>::quiet_NaN();
    overlay.show();
    EXPECT_EQ(drawn->surface()->size(), QSize(100, 100));
    EXPECT_EQ(surface.moves.back(), QPoint(450, 250));
}

// A surface that follows the pointer itself takes the place of the position timer; presses and the
// click task stay with the controller.
TEST_F(DrawnHighlightOverlayTest, SurfaceThatFollowsThePointerReplacesThePositionTimer) {
    surface.canFollow = true;
    overlay.show();
    EXPECT_TRUE(surface.following);
    EXPECT_FALSE(drawn->isPositionTimerActive());
    EXPECT_TRUE(drawn->isTracking());
    EXPECT_EQ(surface.moves.back(), QPoint(450, 250)) << "still placed on the pointer before it shows";
    EXPECT_FALSE(pointer.onMotion) << "no motion watch of its own";

    overlay.show(); // a second show leaves one follower
    EXPECT_EQ(surface.followStarts, 2);
    EXPECT_TRUE(surface.following);
    EXPECT_EQ(activePressWatches(), 1);

    overlay.hide();
    EXPECT_FALSE(surface.following);
    EXPECT_FALSE(drawn->isTracking());

    overlay.show();
    EXPECT_TRUE(surface.following) << "follows again after hide and show";
    testing::internal::CaptureStdout();
    pointer.onPress();
    QSignalSpy raised(&overlay.click(), &Click::isClickedChanged);
    ASSERT_TRUE(raised.wait(1000));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "clicked\n");
}

} // namespace
