// The real program on a headless KWin with the installed effect: what a person would see, in KWin's
// screenshots, with input through the compositor.
#include "kde/EffectBus.h"
#include "kde/TrayWatcher.h"
#include "kde/WaylandWindow.h"
#include "support/AppProcess.h"
#include "support/AppSandbox.h"
#include "support/DBusSignalRecorder.h"
#include "support/KWinSession.h"
#include "support/Rgb.h"
#include "support/StagedInstall.h"

#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusVariant>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <memory>

using namespace std::chrono_literals;
using kdetest::kInterface;
using kdetest::kPath;
using kdetest::kService;
using kdetest::pixelAt;
using kdetest::TrayWatcher;
using testsupport::AppProcess;
using testsupport::AppSandbox;
using testsupport::DBusSignalRecorder;
using testsupport::Environment;
using testsupport::KWinFakeInput;
using testsupport::KWinSession;
using testsupport::Rgb;
using testsupport::StagedInstall;

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

// The entries of a com.canonical.dbusmenu layout (id, properties, children as variants), depth first.
void collectMenuEntries(const QDBusArgument& layout, std::map<QString, int>& idByLabel) {
    int id = 0;
    QVariantMap properties;
    layout.beginStructure();
    layout >> id >> properties;
    layout.beginArray();
    while (!layout.atEnd()) {
        QDBusVariant child;
        layout >> child;
        collectMenuEntries(qvariant_cast<QDBusArgument>(child.variant()), idByLabel);
    }
    layout.endArray();
    layout.endStructure();
    idByLabel[properties.value("label").toString()] = id;
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
        staged_ = std::make_unique<StagedInstall>(LUMAREX_CMAKE_COMMAND, LUMAREX_BUILD_DIR, "kwin-effect");
        return std::make_unique<KWinSession>(KWinSession::Options{
            .kwinrc = withEffect ? kdetest::kEnableEffect : "",
            .pluginDir = staged_->prefix() / LUMAREX_QT5_PLUGIN_DIR});
    }

    void pressShortcut(KWinSession& kwin) {
        for (std::uint32_t key : {KWinFakeInput::kKeyLeftMeta, KWinFakeInput::kKeyLeftShift, KWinFakeInput::kKeyH})
            kwin.input().setKey(key, true);
        for (std::uint32_t key : {KWinFakeInput::kKeyH, KWinFakeInput::kKeyLeftShift, KWinFakeInput::kKeyLeftMeta})
            kwin.input().setKey(key, false);
    }

    // Sends `option` to the program in `kwin` until it gets there: until the program has started, a
    // command finds no instance to talk to.
    testing::AssertionResult commandReaches(KWinSession& kwin, AppProcess& app, const std::string& option) {
        AppProcess::Result run;
        if (KWinSession::waitUntil(
                [&] {
                    return (run = AppProcess::run(LUMAREX_BINARY_PATH, {option}, programEnvironment(sandbox_, kwin)))
                        .status.ok();
                },
                20s))
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << option << ": " << run.status.describe() << run.err << app.stderrText();
    }

    std::unique_ptr<StagedInstall> staged_;
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
    ASSERT_TRUE(commandReaches(*kwin, app, "--show"));
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

// The program's item among the tray registry's, by the name it gives itself; empty while there is none.
QString programItem(KWinSession& kwin, TrayWatcher& tray) {
    for (const QString& item : tray.items()) {
        const qsizetype slash = item.indexOf(u'/');
        QDBusInterface sni(item.left(slash), item.mid(slash), "org.kde.StatusNotifierItem", kwin.bus());
        if (sni.property("Id").toString() == "Lumarex")
            return item;
    }
    return {};
}

// A program started before the desktop's tray, as at login with autostart: the toolkit must not have
// decided for good that there is no tray.
TEST_F(KdeAppE2ETest, TrayIconComesWhenTheTrayStartsLaterAndAgainAfterItRestarts) {
    auto kwin = startKWin(false);
    AppProcess app(LUMAREX_BINARY_PATH, {"--background"}, programEnvironment(sandbox_, *kwin));
    // Once a command reaches it, the program has asked for its tray icon.
    ASSERT_TRUE(commandReaches(*kwin, app, "--hide"));
    const QImage desktop = kwin->screenshot();
    QString item;
    {
        // Plasma's registry first, its panel (the host) a moment later.
        TrayWatcher tray(*kwin, TrayWatcher::Host::Later);
        tray.registerHost();
        ASSERT_TRUE(KWinSession::waitUntil([&] { return !(item = programItem(*kwin, tray)).isEmpty(); }, 10s))
            << "registered: " << tray.items().join(", ").toStdString() << app.stderrText();

        const qsizetype slash = item.indexOf(u'/');
        const QString service = item.left(slash);
        QDBusInterface sni(service, item.mid(slash), "org.kde.StatusNotifierItem", kwin->bus());
        // The icon as pixmaps (a(iiay)); through Properties.Get, which hands the structure over readable.
        QDBusInterface properties(service, item.mid(slash), "org.freedesktop.DBus.Properties", kwin->bus());
        const QDBusMessage icon = properties.call("Get", "org.kde.StatusNotifierItem", "IconPixmap");
        const QDBusArgument pixmaps =
            qvariant_cast<QDBusArgument>(qvariant_cast<QDBusVariant>(icon.arguments().value(0)).variant());
        int pixmapCount = 0;
        pixmaps.beginArray();
        while (!pixmaps.atEnd()) {
            int width = 0, height = 0;
            QByteArray argb;
            pixmaps.beginStructure();
            pixmaps >> width >> height >> argb;
            pixmaps.endStructure();
            pixmapCount += width > 0 && argb.size() == width * height * 4;
        }
        pixmaps.endArray();
        EXPECT_GT(pixmapCount, 0) << "the item has an icon";

        // The menu's "Settings…", chosen in the tray, opens the settings window.
        const QString menuPath = qvariant_cast<QDBusObjectPath>(sni.property("Menu")).path();
        QDBusInterface menu(service, menuPath, "com.canonical.dbusmenu", kwin->bus());
        const QDBusMessage layout = menu.call("GetLayout", 0, -1, QStringList());
        ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << layout.errorMessage().toStdString();
        std::map<QString, int> idByLabel;
        collectMenuEntries(qvariant_cast<QDBusArgument>(layout.arguments().value(1)), idByLabel);
        const auto settings = idByLabel.find(QString::fromUtf8("Settings\u2026"));
        ASSERT_NE(settings, idByLabel.end());
        ASSERT_EQ(kwin->screenshot(), desktop) << "no window before the choice";
        menu.call("Event", settings->second, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(QString())),
                  0u);
        int changed = 0;
        EXPECT_TRUE(KWinSession::waitUntil(
            [&] {
                const QImage shot = kwin->screenshot();
                changed = 0;
                for (int y = 0; y < shot.height() && shot.size() == desktop.size(); y += 4)
                    for (int x = 0; x < shot.width(); x += 4)
                        changed += shot.pixel(x, y) != desktop.pixel(x, y);
                return changed > 2000; // a 16th of the pixels: more than 180 by 180 points
            },
            10s))
            << changed << " of the sampled pixels changed; " << app.stderrText();
    } // the registry ends, as when plasmashell restarts

    TrayWatcher restarted(*kwin, TrayWatcher::Host::WithRegistry);
    EXPECT_TRUE(KWinSession::waitUntil([&] { return !programItem(*kwin, restarted).isEmpty(); }, 10s))
        << "registered: " << restarted.items().join(", ").toStdString() << app.stderrText();
    EXPECT_TRUE(app.running());
}

} // namespace
