#include "highlight/CursorHighlightWindow.h"

#include "highlight/HighlightSettings.h"
#include "highlight/OverlayFakes.h"
#include "platform/HighlightOverlay.h"

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
    EXPECT_FALSE(drawn->isTracking());

    overlay.show();
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_TRUE(drawn->isPositionTimerActive());
    EXPECT_EQ(activePressWatches(), 1);
    EXPECT_EQ(surface.created, 1);
    EXPECT_GE(surface.contentSets, 1) << "the circles are drawn before the first showing";

    // A second show while visible must not leave a first timer or monitor behind.
    overlay.show();
    EXPECT_EQ(activePressWatches(), 1);

    overlay.hide();
    EXPECT_FALSE(overlay.isVisible());
    EXPECT_FALSE(drawn->isTracking());
    EXPECT_EQ(activePressWatches(), 0);
    overlay.hide(); // hiding a hidden overlay changes nothing
    EXPECT_EQ(activePressWatches(), 0);

    overlay.show();
    EXPECT_EQ(surface.created, 1) << "the window is made once and reused";
    EXPECT_EQ(surface.shown, 3);
    EXPECT_EQ(visibility.count(), 3) << "changes only: shown, hidden, shown";
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

// A backend where the compositor draws: it only hears show, hide and the press watch, and reads the
// click flag it was made with.
class RecordingOverlay : public HighlightOverlay {
  public:
    RecordingOverlay(std::vector<std::string>& log, PressHandler& press) : log_(log), press_(press) {}
    void show() override { log_.push_back("show"); }
    void hide() override { log_.push_back("hide"); }
    bool startWatchingPresses(PressHandler onLeftPress) override {
        log_.push_back("watch");
        press_ = std::move(onLeftPress);
        return true;
    }
    void stopWatchingPresses() override {
        log_.push_back("unwatch");
        press_ = nullptr;
    }

  private:
    std::vector<std::string>& log_;
    PressHandler& press_;
};

TEST(CursorHighlightWindowOverAnyBackendTest, AnOverlayDrawnElsewhereGetsShowHidePressesAndTheClickFlag) {
    QTemporaryDir directory;
    HighlightSettings settings(directory.filePath("Lumarex.conf"));
    std::vector<std::string> log;
    HighlightOverlay::PressHandler press;
    Click* madeWith = nullptr;
    CursorHighlightWindow controller(
        [&](HighlightSettings&, Click& click) {
            madeWith = &click;
            return std::make_unique<RecordingOverlay>(log, press);
        },
        settings);
    EXPECT_EQ(madeWith, &controller.click()) << "the overlay reads the controller's own flag";

    controller.show();
    ASSERT_TRUE(press);
    controller.setOwnWindowTest([](QPoint position) { return position.x() < 100; });
    testing::internal::CaptureStdout();
    press(QPoint(50, 50)); // on our own window: nothing
    press(std::nullopt);   // position unknown: counts
    QSignalSpy raised(&controller.click(), &Click::isClickedChanged);
    ASSERT_TRUE(raised.wait(1000));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "clicked\n");

    controller.hide();
    EXPECT_EQ(log, (std::vector<std::string>{"show", "watch", "unwatch", "hide"}));
}

} // namespace
