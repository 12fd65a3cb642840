#include "highlight/CursorHighlightWindow.h"

#include "highlight/HighlightSettings.h"
#include "highlight/OverlayFakes.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace fakes;

class CursorHighlightWindowTest : public testing::Test, protected FakeOverlayRig {};

TEST_F(CursorHighlightWindowTest, ShowAndHideDriveOneWindowTimerAndMonitor) {
    QSignalSpy visibility(&overlay, &CursorHighlightWindow::isVisibleChanged);
    EXPECT_FALSE(overlay.isVisible());
    EXPECT_FALSE(overlay.isTracking());

    overlay.show();
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_TRUE(overlay.isPositionTimerActive());
    EXPECT_EQ(activePressWatches(), 1);
    EXPECT_EQ(surface.created, 1);
    EXPECT_GE(surface.contentSets, 1) << "the circles are drawn before the first showing";

    // A second show while visible must not leave a first timer or monitor behind.
    overlay.show();
    EXPECT_EQ(activePressWatches(), 1);

    overlay.hide();
    EXPECT_FALSE(overlay.isVisible());
    EXPECT_FALSE(overlay.isTracking());
    EXPECT_EQ(activePressWatches(), 0);
    overlay.hide(); // hiding a hidden overlay changes nothing
    EXPECT_EQ(activePressWatches(), 0);

    overlay.show();
    EXPECT_EQ(surface.created, 1) << "the window is made once and reused";
    EXPECT_EQ(surface.shown, 3);
    EXPECT_EQ(visibility.count(), 3) << "changes only: shown, hidden, shown";
}

TEST_F(CursorHighlightWindowTest, CentresTheWindowOnThePointer) {
    overlay.show();
    ASSERT_FALSE(surface.moves.empty());
    EXPECT_EQ(surface.moves.back(), QPoint(450, 250));

    // A larger circle grows the window; it stays centred.
    settings.setClickSize(140);
    EXPECT_EQ(overlay.surface()->size(), QSize(142, 142));
    EXPECT_EQ(surface.moves.back(), QPoint(500 - 71, 300 - 71));

    // No screen: the tick does nothing and the window stays where it was.
    const size_t moves = surface.moves.size();
    pointer.position.reset();
    QSignalSpy tick(&overlay, &QObject::destroyed); // just an event loop turn or two
    tick.wait(50);
    EXPECT_EQ(surface.moves.size(), moves);
}

TEST_F(CursorHighlightWindowTest, OutsizedCirclesFromTheSettingsFileKeepTheWindowBounded) {
    settings.setBaseSize(1e9); // a hand-edited file: the window's image would need exabytes
    overlay.show();
    const int bound = CursorHighlightWindow::maxWindowSize;
    EXPECT_EQ(overlay.surface()->size(), QSize(bound, bound));
    EXPECT_EQ(surface.moves.back(), QPoint(500 - bound / 2, 300 - bound / 2));

    settings.setBaseSize(500);
    EXPECT_EQ(overlay.surface()->size(), QSize(502, 502));
    settings.setBaseSize(-20);
    EXPECT_EQ(overlay.surface()->size(), QSize(100, 100));
}

TEST_F(CursorHighlightWindowTest, TimerRestsWhileThePointerIsStillAndWakesOnMotion) {
    overlay.show();
    QElapsedTimer elapsed;
    elapsed.start();
    while (overlay.isPositionTimerActive() && elapsed.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_FALSE(overlay.isPositionTimerActive()) << "a still pointer lets the 60 Hz timer rest";
    EXPECT_TRUE(overlay.isTracking()) << "a slow safety poll remains while visible";
    ASSERT_TRUE(pointer.onMotion);

    pointer.position = QPoint(600, 400);
    pointer.onMotion();
    EXPECT_TRUE(overlay.isPositionTimerActive());
    EXPECT_EQ(surface.moves.back(), QPoint(550, 350));

    overlay.hide();
    EXPECT_FALSE(pointer.onMotion) << "hiding ends the motion watch";
    EXPECT_FALSE(overlay.isTracking());
}

TEST_F(CursorHighlightWindowTest, WithoutMotionReportsTheTimerKeepsTicking) {
    pointer.reportsMotion = false;
    overlay.show();
    QSignalSpy spin(&overlay, &QObject::destroyed);
    spin.wait(250);
    EXPECT_TRUE(overlay.isPositionTimerActive());
}

TEST_F(CursorHighlightWindowTest, PressRaisesTheFlagAfterOneTenthOfASecondAndPrintsOnce) {
    overlay.show();
    Click& click = overlay.click();
    QSignalSpy raised(&click, &Click::isClickedChanged);

    testing::internal::CaptureStdout();
    QElapsedTimer sincePress;
    pointer.onPress();
    QSignalSpy gap(&overlay, &QObject::destroyed);
    gap.wait(50);
    EXPECT_FALSE(click.isClicked());
    sincePress.start();
    pointer.onPress(); // cancels the first
    ASSERT_TRUE(raised.wait(1000));
    const qint64 delay = sincePress.elapsed();
    EXPECT_TRUE(raised.first().first().toBool());
    EXPECT_GE(delay, 95) << "measured from the second press";

    gap.wait(150);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output, "clicked\n") << "two presses 50 ms apart give one click";
}

TEST_F(CursorHighlightWindowTest, PendingPressOutlivesHideAndShowClearsTheFlag) {
    overlay.show();
    testing::internal::CaptureStdout();
    pointer.onPress();
    overlay.hide();
    QSignalSpy raised(&overlay.click(), &Click::isClickedChanged);
    ASSERT_TRUE(raised.wait(1000)) << "a hide does not cancel the pending click";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "clicked\n");
    overlay.click().setClicked(true);
    overlay.show();
    EXPECT_FALSE(overlay.click().isClicked());
}

TEST_F(CursorHighlightWindowTest, PressesOnOwnWindowsShowNothing) {
    overlay.setOwnWindowTest([](QPoint position) { return position.x() < 100; });
    overlay.show();
    pointer.position = QPoint(50, 50);
    pointer.onPress();
    QSignalSpy raised(&overlay.click(), &Click::isClickedChanged);
    EXPECT_FALSE(raised.wait(250));
}

} // namespace

namespace {

TEST_F(CursorHighlightWindowTest, ScaledDesktopDoublesTheWindowAndKeepsItCentred) {
    double scale = 2.0;
    overlay.setDeviceScaleSource([&] { return scale; });
    overlay.show();
    EXPECT_EQ(overlay.surface()->size(), QSize(200, 200));
    EXPECT_EQ(surface.moves.back(), QPoint(400, 200));

    // The scale is asked again at every show, and nonsense from the source counts as 1.
    overlay.hide();
    scale = std::numeric_limits<double>::quiet_NaN();
    overlay.show();
    EXPECT_EQ(overlay.surface()->size(), QSize(100, 100));
    EXPECT_EQ(surface.moves.back(), QPoint(450, 250));
}

} // namespace

namespace {

// A surface that follows the pointer itself takes the place of the position timer; presses and the
// click task stay with the controller.
TEST_F(CursorHighlightWindowTest, SurfaceThatFollowsThePointerReplacesThePositionTimer) {
    surface.canFollow = true;
    overlay.show();
    EXPECT_TRUE(surface.following);
    EXPECT_FALSE(overlay.isPositionTimerActive());
    EXPECT_TRUE(overlay.isTracking());
    EXPECT_EQ(surface.moves.back(), QPoint(450, 250)) << "still placed on the pointer before it shows";
    EXPECT_FALSE(pointer.onMotion) << "no motion watch of its own";

    overlay.show(); // a second show leaves one follower
    EXPECT_EQ(surface.followStarts, 2);
    EXPECT_TRUE(surface.following);
    EXPECT_EQ(activePressWatches(), 1);

    overlay.hide();
    EXPECT_FALSE(surface.following);
    EXPECT_FALSE(overlay.isTracking());

    overlay.show();
    EXPECT_TRUE(surface.following) << "follows again after hide and show";
    testing::internal::CaptureStdout();
    pointer.onPress();
    QSignalSpy raised(&overlay.click(), &Click::isClickedChanged);
    ASSERT_TRUE(raised.wait(1000));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "clicked\n");
}

} // namespace
