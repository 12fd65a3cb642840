#include "support/CompositorSession.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace {

using namespace std::chrono_literals;

constexpr auto kLaunchTimeout = 60s;
constexpr auto kExitTimeout = 15s;

} // namespace

CompositorSession::CompositorSession(Names names)
    : names_(std::move(names)), root_(names_.folderPrefix), runtimeDir_(root_.path() / "runtime"),
      homeDir_(root_.path() / "home"), logPath_(root_.path() / names_.logName) {
    std::filesystem::create_directories(runtimeDir_);
    std::filesystem::permissions(runtimeDir_, std::filesystem::perms::owner_all);
    std::filesystem::create_directories(homeDir_ / ".config");
}

CompositorSession::~CompositorSession() {
    stop();
}

void CompositorSession::launch(const std::string& launcher, const Environment& env, bool ownProc) {
    static std::atomic<int> connections{0};
    connectionName_ = QStringLiteral("compositor-session-%1").arg(connections++);
    // A private PID namespace whose first process is the bus: when it ends (and it ends with us, through
    // the parent-death signal), the kernel ends everything inside.
    std::vector<std::string> argv{ChildProcess::findProgram("unshare"), "--pid", "--fork", "--kill-child"};
    if (ownProc)
        argv.emplace_back("--mount-proc");
    if (::geteuid() != 0) {
        argv.insert(argv.begin() + 1, "--map-root-user");
        argv.insert(argv.begin() + 1, "--user");
    }
    argv.insert(argv.end(), {ChildProcess::findProgram("dbus-run-session"), "--", launcher});
    process_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = argv, .env = env, .captureStdout = true, .silenceStderr = true, .extraFds = {}});

    busAddress_ = QString::fromStdString(process_->readStdoutLine(kLaunchTimeout));
    if (busAddress_.isEmpty())
        fail("the launcher did not report its session bus");
    // The namespace's first process ends only after everything in it has: its pidfd says when teardown is
    // complete.
    std::ifstream children("/proc/" + std::to_string(process_->pid()) + "/task/" +
                           std::to_string(process_->pid()) + "/children");
    if (!(children >> namespaceInit_) ||
        (namespaceInitFd_ = int(::syscall(SYS_pidfd_open, namespaceInit_, 0))) < 0)
        fail("cannot find the first process of " + names_.compositor + "'s namespace");
    bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(busAddress_, connectionName_));
    if (!bus_->isConnected())
        fail("cannot connect to " + names_.compositor + "'s session bus " + busAddress_.toStdString());
}

void CompositorSession::waitForServices(const std::vector<QString>& services, std::chrono::milliseconds timeout) {
    auto* busInterface = bus_->interface();
    for (const QString& service : services) {
        if (!waitUntil([&] { return busInterface->isServiceRegistered(service).value(); }, timeout))
            fail(names_.compositor + " did not come up: no " + service.toStdString() + " on its bus");
    }
}

void CompositorSession::stop() {
    if (bus_) {
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
    }
    // Killing the namespace's first process makes the kernel kill everything inside; unshare then reaps
    // it and ends, so no zombie is left for an init that may not reap. (SIGTERM would make a compositor
    // tidy up first, which only takes longer.)
    if (namespaceInitFd_ >= 0) {
        ::syscall(SYS_pidfd_send_signal, namespaceInitFd_, SIGKILL, nullptr, 0);
        ::close(namespaceInitFd_);
        namespaceInitFd_ = -1;
    }
    if (process_ && !process_->waitForExit(kExitTimeout))
        process_->terminate(1s);
    process_.reset();
}

Environment CompositorSession::sessionEnvironment(const std::string& desktop, const std::string& socket) const {
    Environment env = ChildProcess::inheritedEnvironment();
    env["XDG_RUNTIME_DIR"] = runtimeDir_.string();
    env["HOME"] = homeDir_.string();
    env["XDG_CONFIG_HOME"] = (homeDir_ / ".config").string();
    env["XDG_DATA_HOME"] = (homeDir_ / ".local/share").string();
    env["XDG_CACHE_HOME"] = (homeDir_ / ".cache").string();
    env["XDG_SESSION_TYPE"] = "wayland";
    env["XDG_CURRENT_DESKTOP"] = desktop;
    env["WAYLAND_DISPLAY"] = socket;
    env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_.toStdString();
    env.erase("DISPLAY");
    env.erase("DBUS_SYSTEM_BUS_ADDRESS");
    return env;
}

bool CompositorSession::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
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

std::string CompositorSession::logTail(int lines) const {
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

void CompositorSession::fail(const std::string& what) const {
    // The log goes with the session's folders, so its end travels in the message.
    throw std::runtime_error(names_.className + ": " + what + "; " + names_.compositor + "'s log ends:" +
                             logTail());
}

} // namespace testsupport
