#include "support/GnomeShellSession.h"

#include "support/DBusSignalRecorder.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QVariantMap>

#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace {

using namespace std::chrono_literals;

constexpr auto kStartTimeout = 60s;
// A start that has not opened the Overview by then has never opened it later.
constexpr auto kOverviewTimeout = 45s;
constexpr auto kStepTimeout = 15s;
constexpr int kStartAttempts = 3;
std::atomic<int> connections{0};

const QString kShell = QStringLiteral("org.gnome.Shell");
const QString kRemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kScreenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");

} // namespace

GnomeShellSession::GnomeShellSession(const Options& options)
    : root_("lumarex-gnome"), runtimeDir_(root_.path() / "runtime"), homeDir_(root_.path() / "home"),
      logPath_(root_.path() / "shell.log") {
    std::filesystem::create_directories(runtimeDir_);
    std::filesystem::permissions(runtimeDir_, std::filesystem::perms::owner_all);
    std::filesystem::create_directories(homeDir_);

    QStringList dataDirs;
    for (const auto& dir : options.extraDataDirs)
        dataDirs << QString::fromStdString(dir.string());
    dataDirs << QStringLiteral("/usr/local/share") << QStringLiteral("/usr/share");
    dataDirs_ = dataDirs.join(':');

    Environment env = clientEnvironment();
    env.erase("WAYLAND_DISPLAY");
    env.erase("DBUS_SESSION_BUS_ADDRESS");
    env.erase("DISPLAY");
    env["LUMAREX_SHELL_LOG"] = logPath_.string();
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
            for (const auto& entry : std::filesystem::directory_iterator(runtimeDir_))
                std::filesystem::remove_all(entry.path());
        }
    }

    QDBusInterface extensions(kShell, QStringLiteral("/org/gnome/Shell"),
                              QStringLiteral("org.gnome.Shell.Extensions"), *bus_);
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
    connectionName_ = QStringLiteral("gnome-shell-session-%1").arg(connections++);
    // A private PID namespace whose first process is the bus: when it ends (and it ends with us, through
    // the parent-death signal), the kernel ends everything inside.
    std::vector<std::string> argv{ChildProcess::findProgram("unshare"), "--pid", "--fork", "--kill-child"};
    if (::geteuid() != 0) {
        argv.insert(argv.begin() + 1, "--map-root-user");
        argv.insert(argv.begin() + 1, "--user");
    }
    argv.insert(argv.end(), {ChildProcess::findProgram("dbus-run-session"), "--",
                             std::string(LUMAREX_TEST_SUPPORT_DIR) + "/gnome-shell-headless"});
    process_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = argv, .env = env, .captureStdout = true, .silenceStderr = true, .extraFds = {}});

    busAddress_ = QString::fromStdString(process_->readStdoutLine(kStartTimeout));
    if (busAddress_.isEmpty())
        fail("the headless Shell's launcher did not report its session bus");
    // The namespace's first process ends only after everything in it has: its pidfd says when teardown is
    // complete.
    std::ifstream children("/proc/" + std::to_string(process_->pid()) + "/task/" +
                           std::to_string(process_->pid()) + "/children");
    int namespaceInit = 0;
    if (!(children >> namespaceInit) ||
        (namespaceInitFd_ = int(::syscall(SYS_pidfd_open, namespaceInit, 0))) < 0)
        fail("cannot find the first process of the Shell's namespace");
    bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(busAddress_, connectionName_));
    if (!bus_->isConnected())
        fail("cannot connect to the Shell's session bus " + busAddress_.toStdString());
    // The screenshot service answers only callers that own this name.
    if (!bus_->registerService(QStringLiteral("org.gnome.Screenshot")))
        fail("cannot own org.gnome.Screenshot");

    auto* busInterface = bus_->interface();
    // The compositor's services appear on the bus at different moments of the start.
    for (const QString& service : {kShell, kRemoteDesktop, kScreenCast}) {
        if (!waitUntil([&] { return busInterface->isServiceRegistered(service).value(); }, kStartTimeout))
            fail("the Shell did not come up: no " + service.toStdString() + " on its bus");
    }
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

GnomeShellSession::~GnomeShellSession() {
    stop();
}

void GnomeShellSession::stop() {
    if (bus_) {
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
    }
    // Killing the namespace's first process makes the kernel kill everything inside; unshare then reaps
    // it and ends, so no zombie is left for an init that may not reap. (SIGTERM would make the Shell
    // tidy up and then crash, which only takes longer.)
    if (namespaceInitFd_ >= 0) {
        ::syscall(SYS_pidfd_send_signal, namespaceInitFd_, SIGKILL, nullptr, 0);
        ::close(namespaceInitFd_);
        namespaceInitFd_ = -1;
    }
    if (process_ && !process_->waitForExit(kStepTimeout))
        process_->terminate(1s);
    process_.reset();
}

Environment GnomeShellSession::clientEnvironment() const {
    Environment env = ChildProcess::inheritedEnvironment();
    env["XDG_RUNTIME_DIR"] = runtimeDir_.string();
    env["HOME"] = homeDir_.string();
    env["XDG_CONFIG_HOME"] = (homeDir_ / ".config").string();
    env["XDG_DATA_HOME"] = (homeDir_ / ".local/share").string();
    env["XDG_CACHE_HOME"] = (homeDir_ / ".cache").string();
    env["XDG_DATA_DIRS"] = dataDirs_.toStdString();
    env["XDG_SESSION_TYPE"] = "wayland";
    env["XDG_CURRENT_DESKTOP"] = "GNOME";
    env["WAYLAND_DISPLAY"] = "wayland-0";
    env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_.toStdString();
    env.erase("DISPLAY");
    env.erase("DBUS_SYSTEM_BUS_ADDRESS");
    return env;
}

void GnomeShellSession::startInput() {
    QDBusInterface remoteDesktop(kRemoteDesktop, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
                                 kRemoteDesktop, *bus_);
    QDBusReply<QDBusObjectPath> session = remoteDesktop.call(QStringLiteral("CreateSession"));
    if (!session.isValid())
        fail("RemoteDesktop.CreateSession: " + session.error().message().toStdString());
    remoteSession_ = session.value().path();
    QDBusInterface remoteSession(kRemoteDesktop, remoteSession_, kRemoteDesktop + QStringLiteral(".Session"),
                                 *bus_);
    const QString sessionId = remoteSession.property("SessionId").toString();

    QDBusInterface screenCast(kScreenCast, QStringLiteral("/org/gnome/Mutter/ScreenCast"), kScreenCast,
                              *bus_);
    QDBusReply<QDBusObjectPath> castSession =
        screenCast.call(QStringLiteral("CreateSession"),
                        QVariantMap{{QStringLiteral("remote-desktop-session-id"), sessionId}});
    if (!castSession.isValid())
        fail("ScreenCast.CreateSession: " + castSession.error().message().toStdString());
    QDBusInterface cast(kScreenCast, castSession.value().path(), kScreenCast + QStringLiteral(".Session"),
                        *bus_);
    // An empty connector is the primary monitor.
    QDBusReply<QDBusObjectPath> stream = cast.call(QStringLiteral("RecordMonitor"), QString(), QVariantMap());
    if (!stream.isValid())
        fail("ScreenCast.RecordMonitor: " + stream.error().message().toStdString());
    stream_ = stream.value().path();

    // Absolute motion is mapped through the stream, which exists once PipeWire has it.
    DBusSignalRecorder streamAdded(*bus_, kScreenCast, stream_, kScreenCast + QStringLiteral(".Stream"),
                                   QStringLiteral("PipeWireStreamAdded"));
    QDBusReply<void> started = remoteSession.call(QStringLiteral("Start"));
    if (!started.isValid())
        fail("RemoteDesktop.Session.Start: " + started.error().message().toStdString());
    if (!waitUntil([&] { return streamAdded.count() > 0; }, kStepTimeout))
        fail("the screen cast stream never reached PipeWire");
}

void GnomeShellSession::movePointer(double x, double y) {
    bus_->call(QDBusMessage::createMethodCall(kRemoteDesktop, remoteSession_, kRemoteDesktop + ".Session",
                                              QStringLiteral("NotifyPointerMotionAbsolute"))
               << stream_ << x << y);
}

void GnomeShellSession::setButton(int button, bool pressed) {
    bus_->call(QDBusMessage::createMethodCall(kRemoteDesktop, remoteSession_, kRemoteDesktop + ".Session",
                                              QStringLiteral("NotifyPointerButton"))
               << button << pressed);
}

void GnomeShellSession::setKey(std::uint32_t keysym, bool pressed) {
    bus_->call(QDBusMessage::createMethodCall(kRemoteDesktop, remoteSession_, kRemoteDesktop + ".Session",
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
    const auto file = root_.path() / ("shot-" + std::to_string(shots_++) + ".png");
    const QString fileName = QString::fromStdString(file.string());
    const QString interface = QStringLiteral("org.gnome.Shell.Screenshot");
    QDBusMessage call =
        area.isNull() ? QDBusMessage::createMethodCall(kShell, QStringLiteral("/org/gnome/Shell/Screenshot"),
                                                       interface, QStringLiteral("Screenshot"))
                            << false << false << fileName
                      : QDBusMessage::createMethodCall(kShell, QStringLiteral("/org/gnome/Shell/Screenshot"),
                                                       interface, QStringLiteral("ScreenshotArea"))
                            << area.x() << area.y() << area.width() << area.height() << false << fileName;
    const QDBusMessage reply = bus_->call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().value(0).toBool() != true)
        return {};
    QImage image(fileName);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    return image;
}

QVariant GnomeShellSession::property(const QString& service, const QString& path, const QString& interface,
                                     const QString& name) {
    const QDBusMessage reply = bus_->call(
        QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("Get"))
        << interface << name);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

bool GnomeShellSession::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        if (condition())
            return true;
        if (elapsed.elapsed() >= timeout.count())
            return false;
        // Lets bus signals and replies in while the condition has nothing to block on.
        QEventLoop loop;
        QTimer::singleShot(10ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void GnomeShellSession::fail(const std::string& what) const {
    // The log goes with the session's folders, so its end travels in the message.
    std::ifstream log(logPath_);
    std::deque<std::string> tail;
    for (std::string line; std::getline(log, line);) {
        tail.push_back(line);
        if (tail.size() > 30)
            tail.pop_front();
    }
    std::string message = "GnomeShellSession: " + what + "; the Shell's log ends:";
    for (const auto& line : tail)
        message += "\n  " + line;
    throw std::runtime_error(message);
}

} // namespace testsupport
