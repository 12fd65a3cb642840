#include "e2e/SettingsSession.h"

#include <gtest/gtest.h>

using namespace e2e;
using testsupport::Rgb;
using testsupport::ScreenImage;

namespace {

bool samePixels(const ScreenImage& a, const ScreenImage& b) {
    return a.pixels == b.pixels;
}

} // namespace

// Recording through the real keyboard path: XTest key presses reach the program through the X server
// and its toolkit, so this also shows that shortcuts of the application do not get the press first.
TEST(RecorderE2ETest, RecordsTheNextPressAtOnceAndResetClearsIt) {
    SettingsSession session;
    session.launch();
    const Rect button = session.at("shortcutRecorderButton");
    // The outline's left edge, half-way down.
    const int edgeX = button.x, edgeY = button.centerY();
    const ScreenImage idle = session.screen().grab(button.x, button.y, button.width, button.height);
    const Rgb idleEdge = session.screen().pixel(edgeX, edgeY);

    session.clickOn("shortcutRecorderButton");
    // Armed: the outline changes colour, the title stays.
    Rgb armedEdge;
    ASSERT_TRUE(testsupport::pollUntil(
        [&] { return !(armedEdge = session.screen().pixel(edgeX, edgeY)).near(idleEdge, 10); }, 10s))
        << "outline did not change when armed: " << armedEdge;

    session.input().pressKey("Super_L");
    session.input().pressKey("Shift_L");
    session.input().tapKey("h");
    session.input().releaseKey("Shift_L");
    session.input().releaseKey("Super_L");
    ASSERT_TRUE(session.waitForStored("toggleShortcut", QString::fromUtf8("⌘⇧H")))
        << "stored: " << session.stored("toggleShortcut").toString().toStdString();
    // The title is now the short shortcut text: the prompt's pixels are gone.
    ASSERT_TRUE(testsupport::pollUntil(
        [&] {
            return !samePixels(session.screen().grab(button.x, button.y, button.width, button.height), idle);
        },
        10s));

    // Control+Q is the program's Quit: while armed it is recorded instead of carried out.
    session.waitForNewGeometry();
    session.clickOn("shortcutRecorderButton");
    session.input().pressKey("Control_L");
    session.input().tapKey("q");
    session.input().releaseKey("Control_L");
    ASSERT_TRUE(session.waitForStored("toggleShortcut", QString::fromUtf8("⌃Q")));
    EXPECT_TRUE(session.app().running());

    // Reset clears it: the file is rewritten and the button looks as it did at first.
    session.clickOn("resetButton");
    ASSERT_TRUE(session.waitForStored("toggleShortcut", QString()));
    EXPECT_EQ(session.stored("baseSize").toDouble(), 30.0);
    session.input().move(1200, 750); // no hover look anywhere near the button
    EXPECT_TRUE(testsupport::pollUntil(
        [&] {
            return samePixels(session.screen().grab(button.x, button.y, button.width, button.height), idle);
        },
        10s))
        << "the button does not look as it did before recording";
}

// Pressing the button twice leaves the recorder idle: the next key press is not recorded.
TEST(RecorderE2ETest, DisarmedRecorderRecordsNothing) {
    SettingsSession session;
    session.launch();
    session.clickOn("shortcutRecorderButton");
    session.clickOn("shortcutRecorderButton");
    session.input().tapKey("h");
    // A click on the size slider's groove after the key press: once its value is in the file, the key
    // press has been handled too, and every save writes the shortcut along with the size.
    const Rect slider = session.at("baseSizeSlider");
    session.input().move(slider.x + slider.width - 5, slider.centerY());
    session.input().click();
    ASSERT_TRUE(testsupport::pollUntil([&] { return session.stored("baseSize").toDouble() > 30.0; }, 10s));
    EXPECT_EQ(session.stored("toggleShortcut").toString(), "");
}
