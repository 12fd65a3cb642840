#include "support/KWinSession.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>
#include <QVariantMap>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

using namespace std::chrono_literals;

constexpr auto kStartTimeout = 60s;
constexpr auto kStepTimeout = 15s;

const QString kKWin = QStringLiteral("org.kde.KWin");
const QString kScreenShot = QStringLiteral("org.kde.KWin.ScreenShot2");

} // namespace

KWinSession::KWinSession(const Options& options)
    : root_("lumarex-kwin"), runtimeDir_(root_.path() / "runtime"), homeDir_(root_.path() / "home"),
      logPath_(root_.path() / "kwin.log") {
    static std::atomic<int> sessions{0};
    connectionName_ = QStringLiteral("kwin-session-%1").arg(sessions++);
    std::filesystem::create_directories(runtimeDir_);
    std::filesystem::permissions(runtimeDir_, std::filesystem::perms::owner_all);
    std::filesystem::create_directories(homeDir_ / ".config");
    // Where KWin composes without a GPU its own screenshot effect is unsupported; a test effect built for
    // that KWin (tests/support/kwin-capture) serves the same calls from there.
    const char* captureDir = std::getenv("LUMAREX_KWIN_CAPTURE_PLUGIN_PATH");
    std::string pluginPath = options.pluginDir.string();
    {
        std::ofstream kwinrc(homeDir_ / ".config/kwinrc");
        kwinrc << options.kwinrc << '\n';
        if (captureDir && *captureDir) {
            kwinrc << "[Plugins]\nlumarex_captureEnabled=true\n";
            pluginPath += (pluginPath.empty() ? "" : ":") + std::string(captureDir);
        }
    }

    Environment env = clientEnvironment();
    env.erase("WAYLAND_DISPLAY");
    env.erase("DBUS_SESSION_BUS_ADDRESS");
    // KWin 6 crashes at start-up when told it is in a full Plasma session, whose pieces this one lacks.
    env.erase("KDE_FULL_SESSION");
    env["LUMAREX_KWIN_LOG"] = logPath_.string();
    env["LUMAREX_KWIN_SOCKET"] = kSocketName;
    env["LUMAREX_KWIN_SIZE"] =
        std::to_string(options.output.width()) + "x" + std::to_string(options.output.height());
    if (!pluginPath.empty())
        env["QT_PLUGIN_PATH"] = pluginPath;

    // A private PID namespace whose first process is the bus: when it ends (and it ends with us, through
    // the parent-death signal), the kernel ends everything inside. KWin tells its clients apart by their
    // /proc entries, so the namespace gets its own /proc.
    std::vector<std::string> argv{ChildProcess::findProgram("unshare"), "--pid", "--fork", "--kill-child",
                                  "--mount-proc"};
    if (::geteuid() != 0) {
        argv.insert(argv.begin() + 1, "--map-root-user");
        argv.insert(argv.begin() + 1, "--user");
    }
    argv.insert(argv.end(), {ChildProcess::findProgram("dbus-run-session"), "--",
                             std::string(LUMAREX_TEST_SUPPORT_DIR) + "/kwin-headless"});
    process_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = argv, .env = env, .captureStdout = true, .silenceStderr = true, .extraFds = {}});

    busAddress_ = QString::fromStdString(process_->readStdoutLine(kStartTimeout));
    if (busAddress_.isEmpty())
        fail("the headless KWin's launcher did not report its session bus");
    // The namespace's first process ends only after everything in it has: its pidfd says when teardown is
    // complete.
    std::ifstream children("/proc/" + std::to_string(process_->pid()) + "/task/" +
                           std::to_string(process_->pid()) + "/children");
    int namespaceInit = 0;
    if (!(children >> namespaceInit) ||
        (namespaceInitFd_ = int(::syscall(SYS_pidfd_open, namespaceInit, 0))) < 0)
        fail("cannot find the first process of KWin's namespace");
    bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(busAddress_, connectionName_));
    if (!bus_->isConnected())
        fail("cannot connect to KWin's session bus " + busAddress_.toStdString());

    // The screenshot service is an effect, loaded after KWin's own name is taken.
    auto* busInterface = bus_->interface();
    for (const QString& service : {kKWin, kScreenShot}) {
        if (!waitUntil([&] { return busInterface->isServiceRegistered(service).value(); }, kStartTimeout))
            fail("KWin did not come up: no " + service.toStdString() + " on its bus");
    }
    // KWin's major version, which a Plasma session announces to its clients.
    const QDBusMessage support = bus_->call(
        QDBusMessage::createMethodCall(kKWin, QStringLiteral("/KWin"), kKWin, QStringLiteral("supportInformation")),
        QDBus::Block, int(std::chrono::milliseconds(kStepTimeout).count()));
    const QRegularExpressionMatch version = QRegularExpression(QStringLiteral("KWin version: (\\d+)\\."))
                                                .match(support.arguments().value(0).toString());
    if (!version.hasMatch())
        fail("KWin did not tell its version");
    kwinMajorVersion_ = version.captured(1).toInt();
    const std::string socket = (runtimeDir_ / kSocketName).string();
    if (!std::filesystem::exists(socket))
        fail("KWin made no Wayland socket " + socket);
    try {
        input_ = std::make_unique<KWinFakeInput>(namespaceInit, socket, clientEnvironment());
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

KWinSession::~KWinSession() {
    input_.reset();
    if (bus_) {
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
    }
    // Killing the namespace's first process makes the kernel kill everything inside; unshare then reaps
    // it and ends.
    if (namespaceInitFd_ >= 0) {
        ::syscall(SYS_pidfd_send_signal, namespaceInitFd_, SIGKILL, nullptr, 0);
        ::close(namespaceInitFd_);
    }
    if (process_ && !process_->waitForExit(kStepTimeout))
        process_->terminate(1s);
}

Environment KWinSession::clientEnvironment() const {
    Environment env = ChildProcess::inheritedEnvironment();
    env["XDG_RUNTIME_DIR"] = runtimeDir_.string();
    env["HOME"] = homeDir_.string();
    env["XDG_CONFIG_HOME"] = (homeDir_ / ".config").string();
    env["XDG_DATA_HOME"] = (homeDir_ / ".local/share").string();
    env["XDG_CACHE_HOME"] = (homeDir_ / ".cache").string();
    env["XDG_SESSION_TYPE"] = "wayland";
    env["XDG_CURRENT_DESKTOP"] = "KDE";
    env["KDE_FULL_SESSION"] = "true";
    env["KDE_SESSION_VERSION"] = std::to_string(kwinMajorVersion_);
    env["WAYLAND_DISPLAY"] = kSocketName;
    env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_.toStdString();
    env.erase("DISPLAY");
    env.erase("DBUS_SYSTEM_BUS_ADDRESS");
    env.erase("QT_PLUGIN_PATH");
    return env;
}

QImage KWinSession::screenshot() {
    return capture(QStringLiteral("CaptureWorkspace"), {});
}

QImage KWinSession::screenshot(QRect area) {
    return capture(QStringLiteral("CaptureArea"),
                   {area.x(), area.y(), uint(area.width()), uint(area.height())});
}

QImage KWinSession::capture(const QString& method, const QVariantList& arguments) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    // KWin writes the pixels into the pipe before it answers, so they are read while the call runs.
    QByteArray pixels;
    std::thread reader([readEnd = fds[0], &pixels] {
        char chunk[1 << 16];
        for (ssize_t n; (n = ::read(readEnd, chunk, sizeof chunk)) > 0;)
            pixels.append(chunk, n);
        ::close(readEnd);
    });
    QVariantMap results;
    bool answered = false;
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kScreenShot, QStringLiteral("/org/kde/KWin/ScreenShot2"), kScreenShot, method);
        call.setArguments(arguments);
        call << QVariantMap{{QStringLiteral("include-cursor"), false}}
             << QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]));
        ::close(fds[1]);
        const QDBusMessage reply =
            bus_->call(call, QDBus::Block, int(std::chrono::milliseconds(kStepTimeout).count()));
        answered = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
        if (answered)
            results = qdbus_cast<QVariantMap>(reply.arguments().front());
        // Our copies of the write end go with the messages, so the reader sees the end of the data.
    }
    reader.join();
    if (!answered)
        return {};
    const int width = results.value(QStringLiteral("width")).toInt();
    const int height = results.value(QStringLiteral("height")).toInt();
    const int stride = results.value(QStringLiteral("stride")).toInt();
    const auto format = QImage::Format(results.value(QStringLiteral("format")).toInt());
    if (width <= 0 || height <= 0 || pixels.size() < qsizetype(stride) * height)
        return {};
    // A deep copy: converting to the format it already has would keep pointing into `pixels`.
    return QImage(reinterpret_cast<const uchar*>(pixels.constData()), width, height, stride, format)
        .copy()
        .convertToFormat(QImage::Format_RGB32);
}

bool KWinSession::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
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

std::string KWinSession::logTail(int lines) const {
    std::ifstream log(logPath_);
    std::deque<std::string> tail;
    for (std::string line; std::getline(log, line);) {
        tail.push_back(line);
        if (int(tail.size()) > lines)
            tail.pop_front();
    }
    std::string text;
    for (const auto& line : tail)
        text += "\n  " + line;
    return text;
}

void KWinSession::fail(const std::string& what) const {
    throw std::runtime_error("KWinSession: " + what + "; KWin's log ends:" + logTail());
}

} // namespace testsupport
