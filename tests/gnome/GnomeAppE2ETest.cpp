// The real program on a headless GNOME Shell with the installed extension: what a person would see, in
// the Shell's screenshots, with input through the compositor.
#include "gnome/ExtensionBus.h"
#include "gnome/ProgramEnvironment.h"
#include "support/AppProcess.h"
#include "support/AppSandbox.h"
#include "support/DBusSignalRecorder.h"
#include "support/GnomeShellSession.h"
#include "support/Rgb.h"
#include "support/StagedInstall.h"

#include <QDBusInterface>
#include <QElapsedTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>

using namespace std::chrono_literals;
using gnometest::kInterface;
using gnometest::kPath;
using gnometest::kService;
using gnometest::pixelAt;
using gnometest::programEnvironment;
using testsupport::AppProcess;
using testsupport::AppSandbox;
using testsupport::DBusSignalRecorder;
using testsupport::Environment;
using testsupport::GnomeShellSession;
using testsupport::Rgb;
using testsupport::StagedInstall;

namespace {

const Rgb kRed{255, 0, 0};

// The bounding box of what differs between two screenshots below the top bar, whose clock may tick.
QRect changedArea(const QImage& before, const QImage& after) {
    QRect changed;
    for (int y = 40; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            if (pixelAt(before, {x, y}).distance(pixelAt(after, {x, y})) > 2)
                changed |= QRect(x, y, 1, 1);
    return changed;
}

class GnomeAppE2ETest : public testing::Test {
  protected:
    std::unique_ptr<GnomeShellSession> startShell(bool withExtension) {
        staged_ = std::make_unique<StagedInstall>(LUMAREX_CMAKE_COMMAND, LUMAREX_BUILD_DIR,
                                                  gnometest::extensionComponent());
        GnomeShellSession::Options options;
        options.extraDataDirs = {staged_->dataDir()};
        if (withExtension)
            options.enabledExtensions = {LUMAREX_GNOME_EXTENSION_UUID};
        return std::make_unique<GnomeShellSession>(options);
    }

    // Waits until the screen at `point` shows `expected`.
    static bool waitForPixel(GnomeShellSession& shell, QPoint point, Rgb expected, int tolerance = 8) {
        return GnomeShellSession::waitUntil(
            [&] {
                const QImage shot = shell.screenshot(QRect(point, QSize(1, 1)));
                return !shot.isNull() && pixelAt(shot, {0, 0}).near(expected, tolerance);
            },
            5s);
    }

    std::unique_ptr<StagedInstall> staged_;
    AppSandbox sandbox_;
};

TEST_F(GnomeAppE2ETest, HighlightFollowsThePointerClicksToggleAndGoesWithTheProgram) {
    auto shell = startShell(true);
    {
        QSettings settings(QString::fromStdString(sandbox_.settingsFile().string()), QSettings::IniFormat);
        settings.setValue("toggleShortcut", QString::fromUtf8("⌘⇧H"));
    }
    AppProcess app(LUMAREX_BINARY_PATH, {"--background"}, programEnvironment(sandbox_, *shell));

    // Another application's native Wayland window, which takes the keyboard focus as it opens: the circle
    // must show over it, and the shortcut must reach Lumarex while it has the focus.
    const QImage desktop = shell->screenshot();
    AppProcess other(LUMAREX_WAYLAND_WINDOW_PATH, {"#2050c0", "500", "400"},
                     programEnvironment(sandbox_, *shell));
    QImage withWindow;
    QRect window;
    ASSERT_TRUE(GnomeShellSession::waitUntil(
        [&] {
            withWindow = shell->screenshot();
            window = changedArea(desktop, withWindow);
            return window.width() >= 500 && window.height() >= 400;
        },
        20s))
        << other.stderrText();

    QDBusInterface extension(kService, kPath, kInterface, shell->bus());
    const auto run = AppProcess::run(LUMAREX_BINARY_PATH, {"--show"}, programEnvironment(sandbox_, *shell));
    ASSERT_TRUE(run.status.ok()) << run.status.describe() << run.err;
    ASSERT_TRUE(GnomeShellSession::waitUntil([&] { return extension.property("Shown").toBool(); }, 5s))
        << app.stderrText();

    const QPoint positions[] = {{150, 650}, window.center(), {1150, 700}};
    for (const QPoint at : positions) {
        if (window.contains(at + QPoint(40, 0)) != window.contains(at))
            continue; // keep the check clear of the window's edge
        shell->movePointer(at.x(), at.y());
        EXPECT_TRUE(waitForPixel(*shell, at, Rgb::over(kRed, 0.3, pixelAt(withWindow, at))))
            << "at " << at.x() << "," << at.y();
    }

    // A press, held until the extension reports it; the click circle rises 0.1 s later and falls again.
    const QPoint at = positions[2];
    const QPoint ring = at + QPoint(18, 0); // outside the 30-point base, inside the 40-point click circle
    const Rgb under = pixelAt(withWindow, ring);
    const Rgb clicked = Rgb::over(kRed, 0.6, under);
    DBusSignalRecorder pressed(shell->bus(), kService, kPath, kInterface, "LeftPressed");
    shell->setButton(GnomeShellSession::kLeftButton, true);
    ASSERT_TRUE(GnomeShellSession::waitUntil([&] { return pressed.count() > 0; }, 5s));
    QElapsedTimer sincePress;
    sincePress.start();
    shell->setButton(GnomeShellSession::kLeftButton, false);
    struct Sample {
        qint64 ms;
        Rgb colour;
    };
    std::vector<Sample> trace;
    while (sincePress.elapsed() < 1500) {
        const QImage shot = shell->screenshot(QRect(ring, QSize(1, 1)));
        if (!shot.isNull())
            trace.push_back({sincePress.elapsed(), pixelAt(shot, {0, 0})});
    }
    std::string traced;
    for (const Sample& s : trace)
        traced += std::to_string(s.ms) + " ms: " + std::to_string(s.colour.r) + "; ";
    // Nothing before the 0.1 s delay; then at least 90 % of the click circle's strength; at the end
    // (0.3 s held, then the 0.3 s spring down) nothing again.
    const double full = clicked.r - under.r;
    for (const Sample& s : trace) {
        if (s.ms < 90) {
            EXPECT_TRUE(s.colour.near(under, 4)) << traced;
        }
    }
    const bool rose = std::any_of(trace.begin(), trace.end(),
                                  [&](const Sample& s) { return s.colour.r - under.r >= 0.9 * full; });
    EXPECT_TRUE(rose) << traced;
    ASSERT_FALSE(trace.empty());
    EXPECT_TRUE(trace.back().colour.near(under, 4)) << traced;
    EXPECT_TRUE(app.waitForLine("clicked", 2s));

    // The shortcut, bound by the Shell, toggles the highlight off and on.
    for (const bool shownAfter : {false, true}) {
        for (std::uint32_t keysym : {0xffebu, 0xffe1u, 0x68u})
            shell->setKey(keysym, true);
        for (std::uint32_t keysym : {0x68u, 0xffe1u, 0xffebu})
            shell->setKey(keysym, false);
        EXPECT_TRUE(GnomeShellSession::waitUntil(
            [&] { return extension.property("Shown").toBool() == shownAfter; }, 5s))
            << "shown after the shortcut: " << shownAfter;
    }

    // A killed program leaves nothing on screen.
    app.signal(SIGKILL);
    EXPECT_TRUE(GnomeShellSession::waitUntil([&] { return !extension.property("Shown").toBool(); }, 1s));
    EXPECT_TRUE(waitForPixel(*shell, at, pixelAt(withWindow, at), 2));
}

TEST_F(GnomeAppE2ETest, WithoutTheExtensionItSaysWhatToDo) {
    auto shell = startShell(false);
    AppProcess app(LUMAREX_BINARY_PATH, {}, programEnvironment(sandbox_, *shell));
    EXPECT_TRUE(app.waitForStderr("gnome-extensions enable lumarex@quorvel.example", 20s))
        << app.stderrText();
    // Plain GNOME has no tray: no icon, and no complaint about it either.
    EXPECT_FALSE(app.waitForStderr("ystemTray", 3s)) << app.stderrText();
}

} // namespace
