// The headless Shell harness itself: input reaches the Shell, screenshots come back at the monitor's
// size, and nothing it started outlives it.
#include "support/ChildProcess.h"
#include "support/GnomeShellSession.h"

#include <QDBusInterface>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace std::chrono_literals;
using testsupport::GnomeShellSession;

namespace {

// Processes whose environment names `runtimeDir` as their runtime folder.
int processesUsing(const std::filesystem::path& runtimeDir) {
    return int(testsupport::ChildProcess::processesUsing(runtimeDir.string()).size());
}

} // namespace

TEST(GnomeShellHarness, InputReachesTheShellScreenshotsComeBackAndTeardownLeavesNothing) {
    std::filesystem::path runtimeDir;
    {
        GnomeShellSession shell;
        runtimeDir = shell.runtimeDir();
        EXPECT_GT(processesUsing(runtimeDir), 0);

        const QImage shot = shell.screenshot();
        ASSERT_FALSE(shot.isNull());
        EXPECT_EQ(shot.size(), QSize(1280, 800));

        // A click on Activities (top left of the top bar) opens the Overview: pointer motion and the
        // button both arrived where they were aimed.
        const auto overviewActive = [&] {
            return shell.property("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "OverviewActive")
                .toBool();
        };
        ASSERT_FALSE(overviewActive());
        shell.movePointer(40, 12);
        shell.setButton(GnomeShellSession::kLeftButton, true);
        shell.setButton(GnomeShellSession::kLeftButton, false);
        EXPECT_TRUE(GnomeShellSession::waitUntil([&] { return overviewActive(); }, 10s));
    }
    EXPECT_EQ(processesUsing(runtimeDir), 0);
}
