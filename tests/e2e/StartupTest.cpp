// Start-up with what a user may have lying around: a settings file of their own, a damaged one, or no
// X display at all.
#include <gtest/gtest.h>

#include "e2e/LumarexSession.h"

#include "support/AppProcess.h"
#include "support/AppSandbox.h"

using namespace e2e;
using namespace testsupport;

namespace {

TEST(StartupTest, SettingsFileWrittenBeforeLaunchIsWhatIsDrawn) {
    LumarexSession session(LumarexSession::Compositor::On, "[General]\n"
                                                           "baseColor=#0000FF\n"
                                                           "baseOpacity=0.5\n"
                                                           "baseSize=60\n"
                                                           "clickColor=#00FF00\n"
                                                           "clickOpacity=0.8\n"
                                                           "clickSize=20\n"
                                                           "toggleShortcut=\n");
    ASSERT_TRUE(session.launch()) << session.app().stderrText();
    ASSERT_TRUE(session.control("--show").status.ok());
    ASSERT_TRUE(session.pointAndWaitForOverlay(500, 300));

    const Rgb blue = Rgb::fromHex(0x0000FF);
    const Rgb base = blendOnGrey(blue, 0.5);
    EXPECT_TRUE(session.waitForPixel(500, 300, base).near(base, 4)) << session.screen().pixel(500, 300);
    EXPECT_TRUE(session.screen().pixel(525, 300).near(base, 4)) << "a 60 px circle reaches 25 px out";
    EXPECT_TRUE(session.screen().pixel(500, 335).near(grey, 2)) << "and not 35 px";

    // The 20 px click circle shows inside the larger base circle, whose rim stays as it was.
    const Rgb click = Rgb::over(Rgb::fromHex(0x00FF00), 0.8, base);
    const auto pressed = session.click(1);
    const auto samples = session.sample(pressed, 1200ms, {{500, 300}, {515, 300}});
    EXPECT_TRUE(strongest(samples, 0, base).near(click, 8))
        << "strongest colour seen " << strongest(samples, 0, base);
    for (const auto& s : samples) {
        EXPECT_TRUE(s.colours[1].near(base, 4)) << "rim at " << s.t << " s: " << s.colours[1];
    }
}

TEST(StartupTest, DamagedSettingsFileFallsBackToTheDefaultLook) {
    std::string junk = "\x89PNG\r\n\x1a\n";
    junk += std::string("\0\0\0\rIHDR", 8);
    junk += "\n[General\nbaseColor=#12\nbaseOpacity=lots\nbaseSize=\nclickSize=wide\n\xff\xfe=\x01\n";
    LumarexSession session(LumarexSession::Compositor::On, junk);
    ASSERT_TRUE(session.launch()) << session.app().stderrText();
    ASSERT_TRUE(session.control("--show").status.ok());
    ASSERT_TRUE(session.pointAndWaitForOverlay(500, 300));
    const Rgb base = blendOnGrey(red, 0.3);
    EXPECT_TRUE(session.waitForPixel(500, 300, base).near(base, 4)) << session.screen().pixel(500, 300);
    EXPECT_TRUE(session.screen().pixel(513, 300).near(base, 4)) << "30 px circle";
    EXPECT_TRUE(session.screen().pixel(518, 300).near(grey, 2));
    EXPECT_TRUE(session.app().running());
    EXPECT_TRUE(session.control("--quit").status.ok());
    auto status = session.app().waitForExit(10s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->ok()) << status->describe();
}

// Numbers no slider can set, text that is no colour and a shortcut longer than any are kept to what the
// window allows; with garbage lines added the next start falls back to the default look. Either way a
// circle of a sane size shows.
TEST(StartupTest, ImpossibleValuesInAHandEditedFileDrawASaneCircleAtBothStarts) {
    const std::string hostile = "[General]\n"
                                "baseSize=1e308\n"
                                "clickSize=-5\n"
                                "baseOpacity=NaN\n"
                                "clickOpacity=abc\n"
                                "baseColor=#zzzzzz\n"
                                "clickColor=" +
                                std::string(3000, 'f') + "\ntoggleShortcut=" + std::string(10000, 'H') + "\n";
    struct Start {
        std::string file;
        Rgb colour;
        int radius;
        const char* said;
    };
    // "#zzzzzz" reads as black, the opacity falls back to 0.3 and the size is held to 100.
    const Start starts[] = {{hostile, Rgb::fromHex(0x000000), 50, "out of range"},
                            {hostile + "= = =\n[[[\n\x01\x02 garbage\nbaseSize\n", red, 15, "malformed"}};
    LumarexSession session(LumarexSession::Compositor::On);
    for (const Start& start : starts) {
        SCOPED_TRACE(start.said);
        session.sandbox().writeSettings(start.file);
        ASSERT_TRUE(session.launch()) << session.app().stderrText();
        ASSERT_TRUE(session.control("--show").status.ok());
        ASSERT_TRUE(session.pointAndWaitForOverlay(500, 300));
        const Rgb base = blendOnGrey(start.colour, 0.3);
        EXPECT_TRUE(session.waitForPixel(500, 300, base).near(base, 4)) << session.screen().pixel(500, 300);
        EXPECT_TRUE(session.screen().pixel(500 + start.radius - 3, 300).near(base, 4)) << "inside the rim";
        EXPECT_TRUE(session.screen().pixel(500 + start.radius + 3, 300).near(grey, 2)) << "outside it";
        EXPECT_NE(session.app().stderrText().find(start.said), std::string::npos)
            << session.app().stderrText();
        ASSERT_TRUE(session.control("--quit").status.ok());
        const auto status = session.app().waitForExit(10s);
        ASSERT_TRUE(status);
        EXPECT_TRUE(status->ok()) << status->describe();
    }
}

TEST(StartupTest, WithoutDisplayItSaysSoAndFails) {
    AppSandbox sandbox;
    for (const char* option : {"", "--show", "--quit"}) {
        std::vector<std::string> args;
        if (*option) {
            args.push_back(option);
        }
        auto result = AppProcess::run(LUMAREX_BINARY_PATH, args, sandbox.environment(""));
        EXPECT_TRUE(result.status.exited) << option << ": " << result.status.describe();
        EXPECT_EQ(result.status.code, 1) << option;
        EXPECT_NE(result.err.find("DISPLAY"), std::string::npos) << option << ": " << result.err;
    }
}

TEST(StartupTest, AWaylandDesktopWithoutABackendIsRefusedEvenWithXWayland) {
    XvfbServer xwayland;
    AppSandbox sandbox;
    Environment environment = sandbox.environment(xwayland.displayName());
    environment["WAYLAND_DISPLAY"] = "wayland-0";
    environment["XDG_CURRENT_DESKTOP"] = "Sway";
    // No notification service either: that is said, and the status stays the same.
    environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + sandbox.root().string() + "/no-bus";
    auto result = AppProcess::run(LUMAREX_BINARY_PATH, {}, environment);
    EXPECT_EQ(result.status.code, 1) << result.status.describe();
    EXPECT_NE(result.err.find("cannot highlight the pointer on the Wayland desktop Sway"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("cannot show this in a notification either"), std::string::npos) << result.err;
}

TEST(StartupTest, ControlCommandsWithNothingRunningFail) {
    XvfbServer server;
    AppSandbox sandbox;
    for (const char* option : {"--show", "--hide", "--toggle", "--quit"}) {
        auto result =
            AppProcess::run(LUMAREX_BINARY_PATH, {option}, sandbox.environment(server.displayName()));
        EXPECT_EQ(result.status.code, 1) << option << ": " << result.status.describe();
        EXPECT_FALSE(result.err.empty()) << option;
    }
}

} // namespace
