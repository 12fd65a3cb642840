#include "highlight/CursorHighlightView.h"
#include "highlight/Click.h"
#include "highlight/HighlightSettings.h"

#include <QElapsedTimer>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Mode = CursorHighlightView::RenderMode;

class CursorHighlightViewTest : public testing::Test {
  protected:
    QTemporaryDir dir;
    HighlightSettings settings{dir.filePath("Lumarex.conf")};
    Click click;
    double now = 100.0;
    CursorHighlightView view{click, settings, [this] { return now; }};

    QImage render(Mode mode = Mode::Translucent) {
        QImage image(100, 100, QImage::Format_ARGB32);
        view.render(image, mode);
        EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
        return image;
    }
    // Raises the flag and lets the fade-in run to its end on the injected clock.
    void clickAndSettle() {
        click.setClicked(true);
        now += 2.0;
    }
};

// Premultiplied pixel, 20 px right of the centre of a 100×100 image.
QRgb at(const QImage& image, int dx) {
    return image.pixel(50 + dx, 50);
}

} // namespace

TEST_F(CursorHighlightViewTest, DefaultsDrawTranslucentBaseCircleOnly) {
    const QImage image = render();
    const QRgb centre = at(image, 0);
    EXPECT_NEAR(qAlpha(centre), 0.3 * 255, 1.5);
    EXPECT_EQ(qRed(centre), qAlpha(centre));
    EXPECT_EQ(qGreen(centre) + qBlue(centre), 0);
    EXPECT_EQ(at(image, 20), 0u);
    EXPECT_EQ(view.clickOpacity(), 0.0);
}

TEST_F(CursorHighlightViewTest, ClickCircleFadesInOverBaseCircle) {
    click.setClicked(true);
    now += 0.05;
    const double early = view.clickOpacity();
    EXPECT_GT(early, 0.0);
    EXPECT_LT(early, 1.0);
    now += 2.0;
    EXPECT_EQ(view.clickOpacity(), 1.0);

    const QImage image = render();
    // Click circle (0.6) over base circle (0.3): 0.6 + 0.3 × 0.4 = 0.72.
    EXPECT_NEAR(qAlpha(at(image, 0)), 0.72 * 255, 2);
    // Outside the 30 px base circle but inside the 40 px click circle.
    EXPECT_NEAR(qAlpha(at(image, 17)), 0.6 * 255, 1.5);
    EXPECT_EQ(at(image, 25), 0u);
}

TEST_F(CursorHighlightViewTest, SmallClickCircleLeavesBaseRimVisible) {
    settings.setBaseSize(60);
    settings.setClickSize(20);
    settings.setClickColor(Qt::blue);
    clickAndSettle();
    const QImage image = render();
    EXPECT_GT(qBlue(at(image, 0)), 100);
    const QRgb rim = at(image, 20);
    EXPECT_NEAR(qAlpha(rim), 0.3 * 255, 1.5);
    EXPECT_EQ(qRed(rim), qAlpha(rim));
    EXPECT_EQ(qBlue(rim), 0);
}

TEST_F(CursorHighlightViewTest, ZeroClickOpacityShowsNoClickLook) {
    settings.setClickOpacity(0);
    clickAndSettle();
    EXPECT_EQ(view.clickOpacity(), 1.0);
    EXPECT_EQ(at(render(), 17), 0u);
    EXPECT_TRUE(view.shape({100, 100}).contains({67, 50}) == false);
}

TEST_F(CursorHighlightViewTest, SolidModeIsOpaqueAliasedAndMatchesShape) {
    settings.setClickColor(Qt::blue);
    const auto expectPixelsMatchShape = [&] {
        const QImage image = render(Mode::Solid);
        const QRegion shape = view.shape(image.size());
        int partial = 0;
        int outsideShape = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const int alpha = qAlpha(image.pixel(x, y));
                partial += alpha != 0 && alpha != 255;
                outsideShape += (alpha == 255) != shape.contains(QPoint(x, y));
            }
        EXPECT_EQ(partial, 0);
        EXPECT_EQ(outsideShape, 0);
        return image;
    };

    QImage image = expectPixelsMatchShape();
    EXPECT_EQ(at(image, 0), qRgba(255, 0, 0, 255));
    EXPECT_EQ(at(image, 17), 0u);

    clickAndSettle();
    image = expectPixelsMatchShape();
    EXPECT_EQ(at(image, 0), qRgba(0, 0, 255, 255));
    EXPECT_EQ(at(image, 17), qRgba(0, 0, 255, 255));

    // A barely visible circle would show as a solid disc; it is left out instead.
    settings.setClickOpacity(0.05);
    settings.setBaseOpacity(0);
    EXPECT_TRUE(view.shape({100, 100}).isEmpty());
    EXPECT_EQ(at(render(Mode::Solid), 0), 0u);
}

// A settings file may hold any diameter: a circle wider than the image fills it, in both modes, and
// the solid mask lists only the image's own pixels (an X shape takes 16-bit coordinates).
TEST_F(CursorHighlightViewTest, OutsizedCirclesFillTheImageAndTheMaskStaysInside) {
    settings.setBaseOpacity(1.0);
    const QRegion whole(0, 0, 100, 100);
    for (double diameter : {150.0, 1e6, 1e12}) {
        settings.setBaseSize(diameter);
        const QRegion shape = view.shape({100, 100});
        EXPECT_EQ(shape, whole) << diameter;
        EXPECT_EQ(view.shape({100, 100}, Mode::Translucent), whole) << diameter;
        const QImage solid = render(Mode::Solid);
        const QImage translucent = render(Mode::Translucent);
        for (QPoint corner : {QPoint(0, 0), QPoint(99, 0), QPoint(0, 99), QPoint(99, 99)}) {
            EXPECT_EQ(solid.pixel(corner), qRgba(255, 0, 0, 255)) << diameter;
            EXPECT_EQ(translucent.pixel(corner), qRgba(255, 0, 0, 255)) << diameter;
        }
    }
}

TEST_F(CursorHighlightViewTest, RedrawsOnLookChangesOnly) {
    QSignalSpy redraws(&view, &CursorHighlightView::needsRedraw);
    settings.setBaseColor(Qt::green);
    settings.setBaseOpacity(0.4);
    settings.setBaseSize(50);
    settings.setClickColor(Qt::green);
    settings.setClickOpacity(0.4);
    settings.setClickSize(50);
    EXPECT_EQ(redraws.count(), 6);
    settings.setToggleShortcut("⌘K");
    EXPECT_EQ(redraws.count(), 6);
    EXPECT_FALSE(view.isAnimating());
}

TEST_F(CursorHighlightViewTest, AnimationTimerRunsOnlyWhileTheCircleFades) {
    EXPECT_FALSE(view.isAnimating());
    QSignalSpy redraws(&view, &CursorHighlightView::needsRedraw);
    QSignalSpy flag(&click, &Click::isClickedChanged);
    click.setClicked(true);
    EXPECT_TRUE(view.isAnimating());
    EXPECT_EQ(redraws.count(), 1);
    now += 2.0;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view.isAnimating(); }, 5000));
    EXPECT_GE(redraws.count(), 2);

    // The flag comes down on its own and the fade-out runs and stops the same way.
    ASSERT_TRUE(flag.wait(5000));
    EXPECT_FALSE(click.isClicked());
    EXPECT_TRUE(view.isAnimating());
    now += 2.0;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view.isAnimating(); }, 5000));
    EXPECT_EQ(view.clickOpacity(), 0.0);
}

TEST(CursorHighlightViewTimingTest, FlagIsLoweredOnceAboutAThirdOfASecondAfterEachRise) {
    QTemporaryDir dir;
    HighlightSettings settings(dir.filePath("Lumarex.conf"));
    Click click;
    CursorHighlightView view(click, settings);
    QSignalSpy flag(&click, &Click::isClickedChanged);

    QElapsedTimer elapsed;
    elapsed.start();
    click.setClicked(true);
    click.setClicked(true); // no change: no second lowering
    ASSERT_TRUE(flag.wait(5000));
    EXPECT_GE(elapsed.elapsed(), 290);
    ASSERT_EQ(flag.count(), 2);
    EXPECT_FALSE(flag.at(1).at(0).toBool());

    // A new rise is lowered again by its own timer.
    click.setClicked(true);
    ASSERT_TRUE(flag.wait(5000));
    EXPECT_FALSE(click.isClicked());
    EXPECT_EQ(flag.count(), 4);
}
