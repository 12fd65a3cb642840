// Without a compositing manager a translucent window would show as an opaque square: the highlight must
// fall back to solid circles cut out of the screen, and go translucent once a compositor appears.
#include <gtest/gtest.h>

#include "e2e/LumarexSession.h"

#include <sstream>

using namespace e2e;
using namespace testsupport;

namespace {

size_t linesMentioning(const std::string& text, const std::string& word) {
    std::istringstream in(text);
    size_t count = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find(word) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

TEST(OverlayShapedTest, SolidCirclesAndNoSquareWithoutCompositor) {
    LumarexSession session(LumarexSession::Compositor::Off);
    ASSERT_TRUE(session.launch()) << session.app().stderrText();
    ASSERT_TRUE(session.control("--show").status.ok());
    const auto overlay = session.pointAndWaitForOverlay(500, 300);
    ASSERT_TRUE(overlay);
    EXPECT_TRUE(overlay->inputShapeEmpty);

    EXPECT_TRUE(session.waitForPixel(500, 300, red).near(red, 4)) << session.screen().pixel(500, 300);
    // The rest of the 100 px square shows the background, not black.
    for (auto [x, y] : {std::pair{530, 300}, {470, 300}, {500, 270}, {451, 251}, {548, 348}, {518, 300}}) {
        EXPECT_TRUE(session.screen().pixel(x, y).near(grey, 2))
            << x << "," << y << " shows " << session.screen().pixel(x, y);
    }
    EXPECT_TRUE(session.pressReachesBackground());

    // The click circle (40 px) is cut out as well while shown, and removed again.
    const auto pressed = session.click(1);
    const auto samples = session.sample(pressed, 1500ms, {{518, 300}, {530, 300}});
    EXPECT_TRUE(strongest(samples, 0, grey, 0, 0.9).near(red, 4)) << "the click circle never showed";
    for (const auto& s : samples) {
        EXPECT_TRUE(s.colours[1].near(grey, 2))
            << "outside both circles at " << s.t << " s: " << s.colours[1];
        if (s.t >= 1.0) {
            EXPECT_TRUE(s.colours[0].near(grey, 2)) << "click circle left behind at " << s.t << " s";
        }
    }
    EXPECT_TRUE(session.app().waitForLine("clicked", 5s));

    EXPECT_EQ(linesMentioning(session.app().stderrText(), "composit"), 1u) << session.app().stderrText();

    // A compositor arriving later switches the highlight to translucency.
    session.server().startCompositor();
    const Rgb translucent = blendOnGrey(red, 0.3);
    EXPECT_TRUE(session.waitForPixel(500, 300, translucent, 4, 10s).near(translucent, 4))
        << session.screen().pixel(500, 300);
    EXPECT_TRUE(session.screen().pixel(530, 300).near(grey, 2));
}

} // namespace
