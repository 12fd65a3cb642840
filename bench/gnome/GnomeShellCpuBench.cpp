// What the highlight costs GNOME Shell: the Shell's CPU with the Lumarex extension disabled against it
// enabled with the highlight shown by the real program, with the pointer still and with the pointer moving
// at 120 steps a second through the remote-desktop service; and the program's own CPU and bus messages
// over the same windows. Each window is repeated and the medians printed.
//
//   BENCH_SECONDS  length of each window (default 15)
//   BENCH_REPEATS  repetitions (default 3)
#include "gnome/ExtensionBus.h"
#include "gnome/ProgramEnvironment.h"
#include "support/AppProcess.h"
#include "support/AppSandbox.h"
#include "support/ChildProcess.h"
#include "support/GnomeShellSession.h"
#include "support/StagedInstall.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QVariantMap>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using testsupport::AppProcess;
using testsupport::AppSandbox;
using testsupport::ChildProcess;
using testsupport::GnomeShellSession;
using testsupport::StagedInstall;

namespace {

const QString kUuid = QStringLiteral(LUMAREX_GNOME_EXTENSION_UUID);

int environmentNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// CPU time of `pid` in nanoseconds, threads that have ended included (the kernel's account, in clock
// ticks).
double cpuNanoseconds(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text{std::istreambuf_iterator<char>(stat), {}};
    // Fields after the command name (which may hold spaces) start at the state, field 3; utime and stime
    // are fields 14 and 15.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index)
        if (index >= 14)
            ticks += std::stod(field);
    return ticks * 1e9 / double(::sysconf(_SC_CLK_TCK));
}

// Times the main thread of `pid` went to sleep and was woken again (its voluntary context switches): what
// a timer or a poll costs beyond its own work shows here even when the CPU time is lost in the noise.
double mainThreadWakeUps(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::stod(line.substr(line.find(':') + 1));
    return 0;
}

// The gnome-shell process of `shell`: the one whose runtime folder is the session's.
int shellPid(const GnomeShellSession& shell) {
    const std::vector<int> found = ChildProcess::processesUsing(shell.runtimeDir().string(), "gnome-shell");
    if (found.empty())
        throw std::runtime_error("cannot find the headless gnome-shell process");
    return found.front();
}

void pause(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// Messages that match `rule`, as a bus monitor reports them, one line each ("mc" for a call, "sig" for a
// signal, then the serial, the sender…).
class BusMonitor {
  public:
    BusMonitor(const QString& busAddress, const std::string& rule)
        : monitor_(ChildProcess::Options{.argv = {ChildProcess::findProgram("dbus-monitor"), "--address",
                                                  busAddress.toStdString(), "--profile", rule},
                                         .env = ChildProcess::inheritedEnvironment(),
                                         .captureStdout = true,
                                         .silenceStderr = true,
                                         .extraFds = {}}) {}

    // The calls and signals seen since the last call.
    std::vector<std::string> take() {
        pause(200ms); // lets the monitor print what is in flight
        char buffer[4096];
        pollfd pfd{monitor_.stdoutFd(), POLLIN, 0};
        while (::poll(&pfd, 1, 0) > 0) {
            const ssize_t n = ::read(monitor_.stdoutFd(), buffer, sizeof buffer);
            if (n <= 0)
                break;
            pending_.append(buffer, size_t(n));
        }
        std::vector<std::string> messages;
        for (size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1)) {
            const std::string line = pending_.substr(0, end);
            if (line.rfind("mc\t", 0) == 0 || line.rfind("sig\t", 0) == 0)
                messages.push_back(line);
        }
        return messages;
    }

  private:
    ChildProcess monitor_;
    std::string pending_;
};

// The sender field of a monitor line.
std::string senderOf(const std::string& line) {
    QStringList fields = QString::fromStdString(line).split('\t');
    return fields.size() > 3 ? fields[3].toStdString() : std::string();
}

struct Window {
    double shellPercent;
    double shellWakeUps; // a second
    double appPercent;
    int appMessages;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

class Bench {
  public:
    Bench(int seconds, int repeats) : seconds_(seconds), repeats_(repeats) {}

    void run() {
        StagedInstall staged(LUMAREX_CMAKE_COMMAND, LUMAREX_BUILD_DIR, "gnome-shell-extension");
        GnomeShellSession::Options options;
        options.extraDataDirs = {staged.dataDir()};
        options.enabledExtensions = {kUuid};
        GnomeShellSession shell(options);
        shell_ = &shell;
        AppSandbox sandbox;
        AppProcess app(LUMAREX_BINARY_PATH, {"--background"}, gnometest::programEnvironment(sandbox, shell));
        app_ = &app;
        environment_ = gnometest::programEnvironment(sandbox, shell);
        const int shellProcess = shellPid(*shell_);
        // The program's connection is the one that shows the highlight. (The bus runs in the Shell's PID
        // namespace, so it cannot name the program's connection by its process.)
        BusMonitor shows(shell_->busAddress(), "type='method_call',interface='" +
                                                   gnometest::kInterface.toStdString() + "',member='Show'");
        setHighlight(true);
        const std::vector<std::string> showCalls = shows.take();
        if (showCalls.empty())
            throw std::runtime_error("no Show call from the program was seen on the bus");
        BusMonitor sent(shell_->busAddress(), "sender='" + senderOf(showCalls.front()) + "'");

        std::map<std::string, std::vector<Window>> windows;
        for (int round = 0; round < repeats_; ++round) {
            for (const bool shown : {false, true}) {
                setHighlight(shown);
                const std::string state = shown ? "shown" : "extension disabled";
                for (const bool moving : {false, true}) {
                    // The Shell settles after the switch or the last motion (the extension's button poll
                    // rests a second after the last input).
                    shell_->movePointer(640, 400);
                    pause(3s);
                    sent.take();
                    windows[state + (moving ? ", moving" : ", still")].push_back(
                        measure(shellProcess, app.pid(), moving, sent));
                }
            }
        }
        std::printf("%-32s %13s %15s %11s %17s\n", "gnome-shell, highlight", "shell % core",
                    "shell wake-ups/s", "app % core", "app bus messages");
        for (const auto& [name, list] : windows) {
            std::vector<double> shellCpu, wakeUps, appCpu, messages;
            for (const Window& w : list) {
                shellCpu.push_back(w.shellPercent);
                wakeUps.push_back(w.shellWakeUps);
                appCpu.push_back(w.appPercent);
                messages.push_back(w.appMessages);
            }
            std::printf("%-32s %13.3f %15.1f %11.3f %17.0f\n", name.c_str(), median(shellCpu),
                        median(wakeUps), median(appCpu), median(messages));
        }
        std::printf("(medians of %d windows of %d s; moving = 120 absolute moves a second on a circle of "
                    "radius 200; CPU in clock ticks of %.0f ms, wake-ups of the Shell's main thread)\n",
                    repeats_, seconds_, 1000.0 / double(::sysconf(_SC_CLK_TCK)));
    }

  private:
    void setHighlight(bool shown) {
        const QString method = shown ? QStringLiteral("EnableExtension") : QStringLiteral("DisableExtension");
        shell_->bus().call(QDBusMessage::createMethodCall(
                               QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
                               QStringLiteral("org.gnome.Shell.Extensions"), method)
                           << kUuid);
        const auto extensionShown = [&] {
            return shell_
                ->property(gnometest::kService, gnometest::kPath, gnometest::kInterface,
                           QStringLiteral("Shown"))
                .toBool();
        };
        if (!shown) {
            GnomeShellSession::waitUntil([&] { return !extensionShown(); }, 5s);
            return;
        }
        // Re-enabled, the extension starts hidden; the program is told to show the highlight.
        GnomeShellSession::waitUntil(
            [&] {
                return shell_
                    ->property(gnometest::kService, gnometest::kPath, gnometest::kInterface,
                               QStringLiteral("Version"))
                    .isValid();
            },
            10s);
        // Right after the start the program may not listen for commands yet.
        AppProcess::Result show;
        GnomeShellSession::waitUntil(
            [&] {
                show = AppProcess::run(LUMAREX_BINARY_PATH, {"--show"}, environment_);
                return show.status.ok();
            },
            10s);
        if (!show.status.ok() || !GnomeShellSession::waitUntil(extensionShown, 10s))
            throw std::runtime_error("the highlight did not show: " + show.err + app_->stderrText());
    }

    Window measure(int shell, int app, bool moving, BusMonitor& sent) {
        const double shellStart = cpuNanoseconds(shell);
        const double wakeUpsStart = mainThreadWakeUps(shell);
        const double appStart = cpuNanoseconds(app);
        QElapsedTimer clock;
        clock.start();
        const qint64 length = qint64(seconds_) * 1000;
        if (moving) {
            for (int step = 0; clock.elapsed() < length; ++step) {
                const double angle = step * 2 * M_PI / 240; // one turn every 2 s
                shell_->movePointer(640 + 200 * std::cos(angle), 400 + 200 * std::sin(angle));
                const qint64 next = (step + 1) * 1000 / 120;
                if (next > clock.elapsed())
                    pause(std::chrono::milliseconds(next - clock.elapsed()));
            }
        } else {
            pause(std::chrono::milliseconds(length));
        }
        const double elapsedNs = double(clock.nsecsElapsed());
        return {100 * (cpuNanoseconds(shell) - shellStart) / elapsedNs,
                (mainThreadWakeUps(shell) - wakeUpsStart) * 1e9 / elapsedNs,
                100 * (cpuNanoseconds(app) - appStart) / elapsedNs, int(sent.take().size())};
    }

    int seconds_;
    int repeats_;
    GnomeShellSession* shell_ = nullptr;
    AppProcess* app_ = nullptr;
    testsupport::Environment environment_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    try {
        Bench(environmentNumber("BENCH_SECONDS", 15), environmentNumber("BENCH_REPEATS", 3)).run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "gnome-shell bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
