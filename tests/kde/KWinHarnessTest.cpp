// The headless KWin harness itself: fake input reaches a native Wayland client where it was aimed,
// screenshots come back with the workspace's pixels, and nothing it started outlives it.
#include "kde/WaylandWindow.h"
#include "support/ChildProcess.h"
#include "support/KWinSession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace std::chrono_literals;
using testsupport::KWinFakeInput;
using testsupport::KWinSession;

namespace {

// Processes whose environment names `runtimeDir` as their runtime folder.
int processesUsing(const std::filesystem::path& runtimeDir) {
    return int(testsupport::ChildProcess::processesUsing(runtimeDir.string()).size());
}

} // namespace

TEST(KWinHarness, InputReachesAWaylandClientScreenshotsShowItAndTeardownLeavesNothing) {
    std::filesystem::path runtimeDir;
    {
        KWinSession kwin;
        runtimeDir = kwin.runtimeDir();
        EXPECT_GT(processesUsing(runtimeDir), 0);

        kdetest::WaylandWindow window(kwin, "#00ff00");
        const QImage shot = kwin.screenshot();
        ASSERT_FALSE(shot.isNull());
        EXPECT_EQ(shot.size(), QSize(1280, 800));
        EXPECT_EQ(QColor(shot.pixel(640, 400)), QColor(0, 255, 0));

        kwin.input().moveTo(300, 200);
        kwin.input().setButton(KWinFakeInput::kLeftButton, true);
        kwin.input().setButton(KWinFakeInput::kLeftButton, false);
        EXPECT_EQ(window.nextLine(10s), "press 300 200");
        kwin.input().setKey(KWinFakeInput::kKeyH, true);
        kwin.input().setKey(KWinFakeInput::kKeyH, false);
        EXPECT_EQ(window.nextLine(10s), "key h");
    }
    EXPECT_EQ(processesUsing(runtimeDir), 0);
}
