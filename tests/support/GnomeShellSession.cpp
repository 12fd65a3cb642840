#include "support/GnomeShellSession.h"

#include "support/DBusSignalRecorder.h"

#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QVariantMap>

#include <cstdio>
#include <stdexcept>

namespace testsupport {

namespace {

using namespace std::chrono_literals;

constexpr auto kStartTimeout = 60s;
// A start that has not opened the Overview by then has never opened it later.
constexpr auto kOverviewTimeout = 45s;
constexpr auto kStepTimeout = 15s;
constexpr int kStartAttempts = 3;

const QString kShell = QStringLiteral("org.gnome.Shell");
const QString kRemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kScreenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");

} // namespace

GnomeShellSession::GnomeShellSession(const Options& options)
    : CompositorSession({.className = "GnomeShellSession", .compositor = "the Shell",
                         .folderPrefix = "lumarex-gnome", .logName = "shell.log"}) {
    QStringList dataDirs;
    for (const auto& dir : options.extraDataDirs)
        dataDirs << QString::fromStdString(dir.string());
    dataDirs << QStringLiteral("/usr/local/share") << QStringLiteral("/usr/share");
    dataDirs_ = dataDirs.join(':');

    Environment env = clientEnvironment();
    env.erase("WAYLAND_DISPLAY");
    env.erase("DBUS_SESSION_BUS_ADDRESS");
    env.erase("DISPLAY");
    env["LUMAREX_SHELL_LOG"] = logPath().string();
    env["LUMAREX_SHELL_MONITOR"] =
        std::to_string(options.monitor.width()) + "x" + std::to_string(options.monitor.height());

    // A Shell that starts but never finishes starting has been seen on a loaded two-core machine (once in
    // dozens of starts, twice in a row once, with a second test run beside this one): it is started again.
    for (int attempt = 1;; ++attempt) {
        try {
            start(env);
            break;
        } catch (const std::runtime_error& error) {
            if (attempt == kStartAttempts)
                throw;
            std::fprintf(stderr, "%s\nGnomeShellSession: starting the Shell once more.\n", error.what());
            stop();
            for (const auto& entry : std::filesystem::directory_iterator(runtimeDir()))
                std::filesystem::remove_all(entry.path());
        }
    }

    QDBusInterface extensions(kShell, QStringLiteral("/org/gnome/Shell"),
                              QStringLiteral("org.gnome.Shell.Extensions"), bus());
    for (const QString& uuid : options.enabledExtensions) {
        QDBusReply<bool> enabled = extensions.call(QStringLiteral("EnableExtension"), uuid);
        if (!enabled.isValid() || !enabled.value())
            fail("cannot enable the extension " + uuid.toStdString());
        // 1 is ENABLED in the Shell's extension states.
        const bool active = waitUntil(
            [&] {
                QDBusReply<QVariantMap> info = extensions.call(QStringLiteral("GetExtensionInfo"), uuid);
                return info.isValid() && info.value().value(QStringLiteral("state")).toDouble() == 1.0;
            },
            kStepTimeout);
        if (!active)
            fail("the extension " + uuid.toStdString() + " did not become active");
    }
}

void GnomeShellSession::start(const Environment& env) {
    launch(std::string(LUMAREX_TEST_SUPPORT_DIR) + "/gnome-shell-headless", env, /*ownProc=*/false);
    // The screenshot service answers only callers that own this name.
    if (!bus().registerService(QStringLiteral("org.gnome.Screenshot")))
        fail("cannot own org.gnome.Screenshot");
    // The compositor's services appear on the bus at different moments of the start.
    waitForServices({kShell, kRemoteDesktop, kScreenCast}, kStartTimeout);
    // The Shell opens the Overview once its start is complete; input sessions made before that may wait
    // behind the start's work on a busy machine. The Shell owns its name before it exports its object, so
    // the property is asked afresh each time: an interface introspected too early stays invalid.
    const auto overviewActive = [&] {
        return property(kShell, QStringLiteral("/org/gnome/Shell"), kShell, QStringLiteral("OverviewActive"))
            .toBool();
    };
    if (!waitUntil(overviewActive, kOverviewTimeout))
        fail("the Shell did not open the Overview after starting");
    startInput();
    // Escape closes it as a person would.
    tapKey(kEscapeKeysym);
    if (!waitUntil([&] { return !overviewActive(); }, kStepTimeout))
        fail("Escape did not close the Overview");
}

Environment GnomeShellSession::clientEnvironment() const {
    Environment env = sessionEnvironment("GNOME", "wayland-0");
    env["XDG_DATA_DIRS"] = dataDirs_.toStdString();
    return env;
}

void GnomeShellSession::startInput() {
    QDBusInterface remoteDesktop(kRemoteDesktop, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
                                 kRemoteDesktop, bus());
    QDBusReply<QDBusObjectPath> session = remoteDesktop.call(QStringLiteral("CreateSession"));
    if (!session.isValid())
        fail("RemoteDesktop.CreateSession: " + session.error().message().toStdString());
    remoteSession_ = session.value().path();
    QDBusInterface remoteSession(kRemoteDesktop, remoteSession_, kRemoteDesktop + QStringLiteral(".Session"),
                                 bus());
    const QString sessionId = remoteSession.property("SessionId").toString();

    QDBusInterface screenCast(kScreenCast, QStringLiteral("/org/gnome/Mutter/ScreenCast"), kScreenCast,
                              bus());
    QDBusReply<QDBusObjectPath> castSession =
        screenCast.call(QStringLiteral("CreateSession"),
                        QVariantMap{{QStringLiteral("remote-desktop-session-id"), sessionId}});
    if (!castSession.isValid())
        fail("ScreenCast.CreateSession: " + castSession.error().message().toStdString());
    QDBusInterface cast(kScreenCast, castSession.value().path(), kScreenCast + QStringLiteral(".Session"),
                        bus());
    // An empty connector is the primary monitor.
    QDBusReply<QDBusObjectPath> stream = cast.call(QStringLiteral("RecordMonitor"), QString(), QVariantMap());
    if (!stream.isValid())
        fail("ScreenCast.RecordMonitor: " + stream.error().message().toStdString());
    stream_ = stream.value().path();

    // Absolute motion is mapped through the stream, which exists once PipeWire has it.
    DBusSignalRecorder streamAdded(bus(), kScreenCast, stream_, kScreenCast + QStringLiteral(".Stream"),
                                   QStringLiteral("PipeWireStreamAdded"));
    QDBusReply<void> started = remoteSession.call(QStringLiteral("Start"));
    if (!started.isValid())
        fail("RemoteDesktop.Session.Start: " + started.error().message().toStdString());
    if (!waitUntil([&] { return streamAdded.count() > 0; }, kStepTimeout))
        fail("the screen cast stream never reached PipeWire");
}

void GnomeShellSession::movePointer(double x, double y) {
    bus().call(QDBusMessage::createMethodCall(kRemoteDesktop, remoteSession_, kRemoteDesktop + ".Session",
                                              QStringLiteral("NotifyPointerMotionAbsolute"))
               << stream_ << x << y);
}

void GnomeShellSession::setButton(int button, bool pressed) {
    bus().call(QDBusMessage::createMethodCall(kRemoteDesktop, remoteSession_, kRemoteDesktop + ".Session",
                                              QStringLiteral("NotifyPointerButton"))
               << button << pressed);
}

void GnomeShellSession::setKey(std::uint32_t keysym, bool pressed) {
    bus().call(QDBusMessage::createMethodCall(kRemoteDesktop, remoteSession_, kRemoteDesktop + ".Session",
                                              QStringLiteral("NotifyKeyboardKeysym"))
               << uint(keysym) << pressed);
}

void GnomeShellSession::tapKey(std::uint32_t keysym) {
    setKey(keysym, true);
    setKey(keysym, false);
}

QImage GnomeShellSession::screenshot() {
    return screenshot({});
}

QImage GnomeShellSession::screenshot(QRect area) {
    const auto file = root() / ("shot-" + std::to_string(shots_++) + ".png");
    const QString fileName = QString::fromStdString(file.string());
    const QString interface = QStringLiteral("org.gnome.Shell.Screenshot");
    QDBusMessage call =
        area.isNull() ? QDBusMessage::createMethodCall(kShell, QStringLiteral("/org/gnome/Shell/Screenshot"),
                                                       interface, QStringLiteral("Screenshot"))
                            << false << false << fileName
                      : QDBusMessage::createMethodCall(kShell, QStringLiteral("/org/gnome/Shell/Screenshot"),
                                                       interface, QStringLiteral("ScreenshotArea"))
                            << area.x() << area.y() << area.width() << area.height() << false << fileName;
    const QDBusMessage reply = bus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().value(0).toBool() != true)
        return {};
    QImage image(fileName);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    return image;
}

QVariant GnomeShellSession::property(const QString& service, const QString& path, const QString& interface,
                                     const QString& name) {
    const QDBusMessage reply = bus().call(
        QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("Get"))
        << interface << name);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

} // namespace testsupport
