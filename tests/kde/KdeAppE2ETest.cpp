// The real program on a headless KWin with the installed effect: what a person would see, in KWin's
// screenshots, with input through the compositor.
#include "kde/EffectBus.h"
#include "kde/EffectPlugins.h"
#include "kde/WaylandWindow.h"
#include "support/AppProcess.h"
#include "support/AppSandbox.h"
#include "support/DBusSignalRecorder.h"
#include "support/KWinSession.h"
#include "support/Rgb.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>

using namespace std::chrono_literals;
using kdetest::kInterface;
using kdetest::kPath;
using kdetest::kService;
using kdetest::pixelAt;
using testsupport::AppProcess;
using testsupport::AppSandbox;
using testsupport::DBusSignalRecorder;
using testsupport::Environment;
using testsupport::KWinFakeInput;
using testsupport::KWinSession;
using testsupport::Rgb;

namespace {

const Rgb kRed{255, 0, 0};

// The program's environment in `kwin`: its own settings and caches, KWin's bus and display.
Environment programEnvironment(const AppSandbox& sandbox, const KWinSession& kwin) {
    Environment env = sandbox.environment("");
    env.erase("DISPLAY");
    const Environment session = kwin.clientEnvironment();
    for (const char* name : {"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE"})
        env[name] = session.at(name);
    env["QT_QPA_PLATFORM"] = "wayland";
    return env;
}

bool waitForPixel(KWinSession& kwin, QPoint point, Rgb expected, int tolerance = 3) {
    return KWinSession::waitUntil(
        [&] {
            const QImage shot = kwin.screenshot(QRect(point, QSize(1, 1)));
            return !shot.isNull() && pixelAt(shot, {0, 0}).near(expected, tolerance);
        },
        5s);
}

class KdeAppE2ETest : public testing::Test {
  protected:
    std::unique_ptr<KWinSession> startKWin(bool withEffect) {
        plugins_ = std::make_unique<kdetest::EffectPlugins>();
        return std::make_unique<KWinSession>(KWinSession::Options{
            .kwinrc = withEffect ? kdetest::kEnableEffect : "", .pluginDir = plugins_->dir()});
    }

    void pressShortcut(KWinSession& kwin) {
        for (std::uint32_t key : {KWinFakeInput::kKeyLeftMeta, KWinFakeInput::kKeyLeftShift, KWinFakeInput::kKeyH})
            kwin.input().setKey(key, true);
        for (std::uint32_t key : {KWinFakeInput::kKeyH, KWinFakeInput::kKeyLeftShift, KWinFakeInput::kKeyLeftMeta})
            kwin.input().setKey(key, false);
    }

    std::unique_ptr<kdetest::EffectPlugins> plugins_;
    AppSandbox sandbox_;
};

TEST_F(KdeAppE2ETest, HighlightFollowsThePointerClicksToggleFromAnotherAppAndGoesWithTheProgram) {
    auto kwin = startKWin(true);
    {
        QSettings settings(QString::fromStdString(sandbox_.settingsFile().string()), QSettings::IniFormat);
        settings.setValue("toggleShortcut", QString::fromUtf8("⌘⇧H"));
    }
    const QImage desktop = kwin->screenshot();
    AppProcess app(LUMAREX_BINARY_PATH, {"--background"}, programEnvironment(sandbox_, *kwin));
    QDBusInterface effect(kService, kPath, kInterface, kwin->bus());
    // Until the program has started, --show finds no instance to talk to.
    AppProcess::Result run;
    ASSERT_TRUE(KWinSession::waitUntil(
        [&] { return (run = AppProcess::run(LUMAREX_BINARY_PATH, {"--show"}, programEnvironment(sandbox_, *kwin)))
                  .status.ok(); },
        20s))
        << run.status.describe() << run.err << app.stderrText();
    ASSERT_TRUE(KWinSession::waitUntil([&] { return effect.property("Shown").toBool(); }, 5s))
        << app.stderrText();

    for (const QPoint at : {QPoint(150, 650), QPoint(1150, 700)}) {
        kwin->input().moveTo(at.x(), at.y());
        EXPECT_TRUE(waitForPixel(*kwin, at, Rgb::over(kRed, 0.3, pixelAt(desktop, at))))
            << "at " << at.x() << "," << at.y() << app.stderrText();
    }
    // Another application's native Wayland window, which has the keyboard from now on.
    kdetest::WaylandWindow window(*kwin, "#00ff00");
    const QPoint at(700, 420);
    kwin->input().moveTo(at.x(), at.y());
    EXPECT_TRUE(waitForPixel(*kwin, at, Rgb::over(kRed, 0.3, {0, 255, 0})));

    // A press; the click circle rises 0.1 s later and falls again after 0.3 s, with the 0.3 s spring.
    const QPoint ring = at + QPoint(18, 0); // outside the 30-point base, inside the 40-point click circle
    const Rgb under{0, 255, 0};
    const Rgb clicked = Rgb::over(kRed, 0.6, under);
    QElapsedTimer sincePress;
    kwin->input().setButton(KWinFakeInput::kLeftButton, true);
    sincePress.start();
    kwin->input().setButton(KWinFakeInput::kLeftButton, false);
    struct Sample {
        qint64 ms;
        Rgb colour;
    };
    std::vector<Sample> trace;
    while (sincePress.elapsed() < 1500) {
        const QImage shot = kwin->screenshot(QRect(ring, QSize(1, 1)));
        if (!shot.isNull())
            trace.push_back({sincePress.elapsed(), pixelAt(shot, {0, 0})});
    }
    std::string traced;
    for (const Sample& s : trace)
        traced += std::to_string(s.ms) + " ms: " + std::to_string(s.colour.r) + "; ";
    // Nothing before the 0.1 s delay; then at least 90 % of the click circle's strength; at the end
    // (0.3 s held, then the spring down) nothing again.
    const double full = clicked.r - under.r;
    for (const Sample& s : trace) {
        if (s.ms < 90) {
            EXPECT_TRUE(s.colour.near(under, 4)) << traced;
        }
    }
    EXPECT_TRUE(std::any_of(trace.begin(), trace.end(),
                            [&](const Sample& s) { return s.colour.r - under.r >= 0.9 * full; }))
        << traced;
    ASSERT_FALSE(trace.empty());
    EXPECT_TRUE(trace.back().colour.near(under, 4)) << traced;
    EXPECT_TRUE(app.waitForLine("clicked", 2s));

    // The shortcut, pressed while the other application has the keyboard, toggles the highlight off and on.
    for (const bool shownAfter : {false, true}) {
        pressShortcut(*kwin);
        EXPECT_TRUE(KWinSession::waitUntil([&] { return effect.property("Shown").toBool() == shownAfter; }, 5s))
            << "shown after the shortcut: " << shownAfter << app.stderrText();
    }

    // The effect reloaded (as after a KWin restart): the program sends its state again.
    QDBusInterface effects("org.kde.KWin", "/Effects", "org.kde.kwin.Effects", kwin->bus());
    effects.call("unloadEffect", LUMAREX_KWIN_EFFECT_ID);
    ASSERT_TRUE(KWinSession::waitUntil([&] { return !effect.isValid(); }, 5s));
    QDBusReply<bool> loaded = effects.call("loadEffect", LUMAREX_KWIN_EFFECT_ID);
    ASSERT_TRUE(loaded.isValid() && loaded.value());
    EXPECT_TRUE(KWinSession::waitUntil([&] { return effect.property("Shown").toBool(); }, 5s));
    EXPECT_TRUE(waitForPixel(*kwin, at, Rgb::over(kRed, 0.3, under)));

    // A killed program leaves nothing on screen.
    app.signal(SIGKILL);
    EXPECT_TRUE(KWinSession::waitUntil([&] { return !effect.property("Shown").toBool(); }, 1s));
    EXPECT_TRUE(waitForPixel(*kwin, at, under, 0));
}

TEST_F(KdeAppE2ETest, WithoutTheEffectItSaysWhatToDoAndShowsTheWarningRow) {
    auto kwin = startKWin(false);
    AppProcess app(LUMAREX_BINARY_PATH, {}, programEnvironment(sandbox_, *kwin));
    EXPECT_TRUE(app.waitForStderr("--key lumarex_highlightEnabled true", 20s)) << app.stderrText();
    EXPECT_TRUE(app.waitForLine("Accessibility permissions granted: false", 20s)) << app.stdoutText();
    EXPECT_TRUE(app.running());
}

} // namespace
