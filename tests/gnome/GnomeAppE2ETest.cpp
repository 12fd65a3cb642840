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
#include <QDBusReply>
#include <QElapsedTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

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

// The bounding box of what differs between two screenshots below the top bar, whose clock may tick, and
// outside `ignored`.
QRect changedArea(const QImage& before, const QImage& after, QRect ignored = {}) {
    QRect changed;
    for (int y = 40; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            if (!ignored.contains(x, y) && pixelAt(before, {x, y}).distance(pixelAt(after, {x, y})) > 2)
                changed |= QRect(x, y, 1, 1);
    return changed;
}

// The controls of the settings window as the program reports them (LUMAREX_TEST_GEOMETRY), in the
// window's own coordinates: a Wayland client does not know where its window is.
std::map<std::string, QRect> reportedControls(const AppProcess& app) {
    std::map<std::string, QRect> block;
    std::map<std::string, QRect> last;
    for (const AppProcess::Line& line : app.stdoutLines()) {
        std::istringstream words(line.text);
        std::string tag, name;
        int x = 0, y = 0, w = 0, h = 0;
        if (!(words >> tag >> name) || tag != "geometry")
            continue;
        if (name == "end") {
            last = std::move(block);
            block.clear();
        } else if (words >> x >> y >> w >> h) {
            block[name] = QRect(x, y, w, h);
        }
    }
    if (const auto window = last.find("window"); window != last.end()) {
        const QPoint origin = window->second.topLeft();
        for (auto& [name, rect] : last)
            rect.translate(-origin);
    }
    return last;
}

class GnomeAppE2ETest : public testing::Test {
  protected:
    enum class Extension { Enabled, InstalledOnly, NotInstalled };

    std::unique_ptr<GnomeShellSession> startShell(bool withExtension) {
        return startShell(withExtension ? Extension::Enabled : Extension::InstalledOnly);
    }

    std::unique_ptr<GnomeShellSession> startShell(Extension extension, QSize monitor = {1280, 800}) {
        staged_ = std::make_unique<StagedInstall>(LUMAREX_CMAKE_COMMAND, LUMAREX_BUILD_DIR,
                                                  gnometest::extensionComponent());
        GnomeShellSession::Options options;
        options.monitor = monitor;
        if (extension != Extension::NotInstalled)
            options.extraDataDirs = {staged_->dataDir()};
        if (extension == Extension::Enabled)
            options.enabledExtensions = {LUMAREX_GNOME_EXTENSION_UUID};
        return std::make_unique<GnomeShellSession>(options);
    }

    // The program with its settings window reporting where its controls are, undecorated, so that the
    // window's top left corner on screen is its content's.
    std::unique_ptr<AppProcess> startReportingApp(GnomeShellSession& shell,
                                                  const std::string& binary = LUMAREX_BINARY_PATH) {
        Environment env = programEnvironment(sandbox_, shell);
        env["LUMAREX_TEST_GEOMETRY"] = "1";
        env["QT_WAYLAND_DISABLE_WINDOWDECORATION"] = "1";
        return std::make_unique<AppProcess>(binary, std::vector<std::string>{}, env);
    }

    // Clicks the centre of the settings window's control `name`, once the window shows on screen (what
    // changed since `desktop`, as large as the program says its window is).
    static void clickControl(GnomeShellSession& shell, AppProcess& app, const QImage& desktop,
                             const std::string& name, QRect ignored = {}) {
        ASSERT_TRUE(app.waitForLine("geometry end", 20s)) << app.stderrText();
        std::map<std::string, QRect> controls;
        QRect window;
        const bool shown = GnomeShellSession::waitUntil(
            [&] {
                controls = reportedControls(app);
                window = changedArea(desktop, shell.screenshot(), ignored);
                const auto reported = controls.find("window");
                return reported != controls.end() && controls.count(name) &&
                       std::abs(window.width() - reported->second.width()) <= 2 &&
                       std::abs(window.height() - reported->second.height()) <= 2;
            },
            20s);
        if (!shown) {
            // What else changed on screen is the question then: the two pictures stay for a look.
            desktop.save("clickControl-before.png");
            shell.screenshot().save("clickControl-after.png");
        }
        ASSERT_TRUE(shown) << "window on screen " << window.x() << "," << window.y() << " " << window.width()
                           << "x" << window.height() << " (see clickControl-*.png in "
                           << std::filesystem::current_path() << "); " << app.stdoutText();
        // The compositor handles motion and buttons on their own paths: each step waits until the control
        // shows it (hovered, then pressed), so the press cannot overtake the pointer's arrival.
        const QRect control = controls[name].translated(window.topLeft());
        // `move` runs before each look, if given.
        const auto changesFrom = [&](const QImage& before, const char* what,
                                     const std::function<void()>& move) {
            const bool changed = GnomeShellSession::waitUntil(
                [&] {
                    if (move)
                        move();
                    const QImage now = shell.screenshot(control);
                    return !now.isNull() && now != before;
                },
                5s);
            if (!changed)
                shell.screenshot().save("clickControl-after.png");
            EXPECT_TRUE(changed) << name << " does not show " << what << " at " << control.center().x() << ","
                                 << control.center().y() << " (see clickControl-after.png in "
                                 << std::filesystem::current_path() << ")";
            return changed;
        };
        const QImage idle = shell.screenshot(control);
        // A person's pointer arrives in many small steps and does not rest: GNOME Shell 48 tells a window
        // that has just appeared under the pointer that it is there only on a later motion, so the pointer
        // keeps moving by a pixel until the control shows it.
        int steps = 0;
        const auto nudge = [&] {
            shell.movePointer(control.center().x() + steps++ % 2, control.center().y());
        };
        if (!changesFrom(idle, "the pointer over it", nudge))
            return;
        const QImage hovered = shell.screenshot(control);
        shell.setButton(GnomeShellSession::kLeftButton, true);
        if (!changesFrom(hovered, "the press", {}))
            return;
        shell.setButton(GnomeShellSession::kLeftButton, false);
    }

    // What the Shell's extension service says of the Lumarex extension; empty when it does not know it.
    static QVariantMap extensionInfo(GnomeShellSession& shell) {
        QDBusInterface extensions("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
                                  shell.bus());
        QDBusReply<QVariantMap> info =
            extensions.call(QStringLiteral("GetExtensionInfo"), QStringLiteral(LUMAREX_GNOME_EXTENSION_UUID));
        return info.isValid() ? info.value() : QVariantMap{{"error", info.error().message()}};
    }

    // Asks the running program to show the highlight until it has answered and the extension shows it.
    bool showOnceRunning(GnomeShellSession& shell, QDBusInterface& extension) {
        return GnomeShellSession::waitUntil(
            [&] {
                return AppProcess::run(LUMAREX_BINARY_PATH, {"--show"}, programEnvironment(sandbox_, shell))
                           .status.ok() &&
                       extension.property("Shown").toBool();
            },
            20s);
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

// Installed with the system but not enabled: the settings window's Enable enables it through the Shell,
// which starts it at once, and the warning goes.
TEST_F(GnomeAppE2ETest, EnableInTheSettingsWindowTurnsOnTheInstalledExtension) {
    auto shell = startShell(Extension::InstalledOnly, {1280, 1024});
    const QVariantMap before = extensionInfo(*shell);
    ASSERT_TRUE(before.contains("state") && before.value("state").toInt() != 1) << "installed, not enabled";
    const QImage desktop = shell->screenshot();
    auto app = startReportingApp(*shell);
    ASSERT_TRUE(app->waitForLine("Accessibility permissions granted: false", 20s)) << app->stderrText();
    clickControl(*shell, *app, desktop, "grantPermissionButton");

    // An interface made before the service exists stays invalid: one per look.
    EXPECT_TRUE(GnomeShellSession::waitUntil(
        [&] {
            QDBusInterface extension(kService, kPath, kInterface, shell->bus());
            return extension.property("Version").toString() == QStringLiteral(LUMAREX_VERSION);
        },
        10s))
        << app->stderrText();
    EXPECT_EQ(extensionInfo(*shell).value("state").toInt(), 1);
    ASSERT_TRUE(app->waitForLine("Accessibility permissions granted: true", 10s)) << app->stdoutText();
    // The report that follows the change no longer has the warning or its button.
    ASSERT_TRUE(GnomeShellSession::waitUntil(
        [&] { return !reportedControls(*app).count("accessibilityWarning"); }, 10s))
        << app->stdoutText();
    EXPECT_EQ(reportedControls(*app).count("grantPermissionButton"), 0u);
}

// Installed only under the program's own prefix, which the Shell does not read: Enable copies it into
// the user's extension folder and turns it on for the next login, and says that GNOME loads it only then.
TEST_F(GnomeAppE2ETest, EnableCopiesTheExtensionForTheUserAndSaysToLogOutAndBackIn) {
    auto shell = startShell(Extension::NotInstalled, {1280, 1024});
    // <prefix>/bin/lumarex next to the extension in <prefix>/share.
    const std::filesystem::path bin = staged_->dataDir().parent_path() / "bin";
    std::filesystem::create_directories(bin);
    std::filesystem::copy_file(LUMAREX_BINARY_PATH, bin / "lumarex");

    const Environment session = shell->clientEnvironment();
    const std::filesystem::path installed = std::filesystem::path(session.at("XDG_DATA_HOME")) /
                                            "gnome-shell/extensions" / LUMAREX_GNOME_EXTENSION_UUID;
    const QImage desktop = shell->screenshot();
    auto app = startReportingApp(*shell, (bin / "lumarex").string());
    ASSERT_TRUE(app->waitForLine("Accessibility permissions granted: false", 20s)) << app->stderrText();
    clickControl(*shell, *app, desktop, "grantPermissionButton");

    // The start's own message says what to do in general; the answer to the press names the folder.
    ASSERT_TRUE(app->waitForStderr("installed in " + installed.string(), 10s)) << app->stderrText();
    const std::string answer = app->stderrText().substr(app->stderrText().find("installed in "));
    EXPECT_NE(answer.find("log out and back in"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("could not"), std::string::npos) << answer;
    for (const char* file : {"metadata.json", "extension.js", "schemas/gschemas.compiled"})
        EXPECT_TRUE(std::filesystem::exists(installed / file)) << file;
    // Nothing is left where it was assembled.
    for (const auto& entry : std::filesystem::directory_iterator(installed.parent_path().parent_path()))
        EXPECT_NE(entry.path().filename().string().rfind(".lumarex", 0), 0u) << entry.path();
    // This Shell still does not know it.
    EXPECT_FALSE(extensionInfo(*shell).contains("state"));

    // Turned on for the next login: the Shell's list of enabled extensions names it.
    const auto listed =
        AppProcess::run("/usr/bin/gsettings", {"get", "org.gnome.shell", "enabled-extensions"}, session);
    EXPECT_NE(listed.out.find(LUMAREX_GNOME_EXTENSION_UUID), std::string::npos) << listed.out << listed.err;
}

// The extension goes off the bus and comes back with none of its state, as after a Shell restart (the
// Shell's extension service disables and enables it; the harness runs one Shell per session, so this is
// the restart it can make): the program sends its look, its shortcut and the shown state again.
// Reset to Defaults in the settings window turns the blue circle of the settings file into the default red
// one on screen at once.
TEST_F(GnomeAppE2ETest, ASettingsChangeInTheWindowIsRedrawnAtOnce) {
    auto shell = startShell(Extension::Enabled, {1280, 1024});
    {
        QSettings settings(QString::fromStdString(sandbox_.settingsFile().string()), QSettings::IniFormat);
        settings.setValue("baseColor", "#0000FF");
        settings.setValue("baseOpacity", 0.5);
    }
    const QPoint at{60, 990};
    const QRect circle(at - QPoint(30, 30), QSize(60, 60));
    shell->movePointer(at.x(), at.y());
    const QImage desktop = shell->screenshot();
    const Rgb under = pixelAt(desktop, at);
    auto app = startReportingApp(*shell);
    QDBusInterface extension(kService, kPath, kInterface, shell->bus());
    ASSERT_TRUE(showOnceRunning(*shell, extension))
        << app->stderrText();
    ASSERT_TRUE(waitForPixel(*shell, at, Rgb::over(Rgb{0, 0, 255}, 0.5, under)));

    clickControl(*shell, *app, desktop, "resetButton", circle);
    shell->movePointer(at.x(), at.y());
    EXPECT_TRUE(waitForPixel(*shell, at, Rgb::over(kRed, 0.3, under))) << app->stderrText();
}

TEST_F(GnomeAppE2ETest, AfterTheExtensionComesBackTheCircleAndTheShortcutReturn) {
    auto shell = startShell(Extension::Enabled);
    {
        QSettings settings(QString::fromStdString(sandbox_.settingsFile().string()), QSettings::IniFormat);
        settings.setValue("toggleShortcut", QString::fromUtf8("⌘⇧H"));
        settings.setValue("baseColor", "#0000FF");
        settings.setValue("baseOpacity", 0.5);
    }
    const QPoint at{200, 600};
    const QPoint moved{1000, 650};
    const QImage desktop = shell->screenshot();
    const Rgb under = pixelAt(desktop, at);
    AppProcess app(LUMAREX_BINARY_PATH, {"--background"}, programEnvironment(sandbox_, *shell));
    QDBusInterface extension(kService, kPath, kInterface, shell->bus());
    ASSERT_TRUE(showOnceRunning(*shell, extension))
        << app.stderrText();
    shell->movePointer(at.x(), at.y());
    const Rgb blue = Rgb::over(Rgb{0, 0, 255}, 0.5, under);
    ASSERT_TRUE(waitForPixel(*shell, at, blue));

    QDBusInterface extensions("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Extensions",
                              shell->bus());
    const QString uuid = QStringLiteral(LUMAREX_GNOME_EXTENSION_UUID);
    ASSERT_TRUE(QDBusReply<bool>(extensions.call("DisableExtension", uuid)).value());
    ASSERT_TRUE(waitForPixel(*shell, at, under, 2)) << "gone with the extension";
    ASSERT_TRUE(QDBusReply<bool>(extensions.call("EnableExtension", uuid)).value());

    // Back in the program's look, at the pointer wherever it is now.
    shell->movePointer(moved.x(), moved.y());
    EXPECT_TRUE(GnomeShellSession::waitUntil([&] { return extension.property("Shown").toBool(); }, 10s))
        << app.stderrText();
    EXPECT_TRUE(waitForPixel(*shell, moved, Rgb::over(Rgb{0, 0, 255}, 0.5, pixelAt(desktop, moved))))
        << app.stderrText();

    DBusSignalRecorder pressed(shell->bus(), kService, kPath, kInterface, "ShortcutPressed");
    for (const bool shownAfter : {false, true}) {
        for (std::uint32_t keysym : {0xffebu, 0xffe1u, 0x68u})
            shell->setKey(keysym, true);
        for (std::uint32_t keysym : {0x68u, 0xffe1u, 0xffebu})
            shell->setKey(keysym, false);
        EXPECT_TRUE(GnomeShellSession::waitUntil(
            [&] { return extension.property("Shown").toBool() == shownAfter; }, 5s))
            << "shown after the shortcut: " << shownAfter << "; presses " << pressed.count() << "; "
            << app.stdoutText() << app.stderrText();
    }
}

} // namespace
