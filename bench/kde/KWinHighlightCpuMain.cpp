// kwin_highlight_cpu: kwin_wayland's CPU on a headless KWin with the Lumarex effect loaded, with the
// highlight hidden and shown, the pointer still and moving (60 fake-input moves a second round a circle).
// Prints one line per phase: percent of one core, over BENCH_SECONDS (default 10) each. The program
// itself is not running: the effect is driven with plain bus calls, as the application drives it.
#include "support/ChildProcess.h"
#include "support/KWinSession.h"
#include "support/StagedInstall.h"

#include <QApplication>
#include <QDBusInterface>
#include <QElapsedTimer>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>
#include <string>

using namespace std::chrono_literals;
using testsupport::KWinSession;

namespace {

// The kwin_wayland whose environment names `runtimeDir`.
int kwinPid(const std::filesystem::path& runtimeDir) {
    const std::vector<int> found =
        testsupport::ChildProcess::processesUsing(runtimeDir.string(), "kwin_wayland");
    return found.empty() ? -1 : found.front();
}

// User plus system time of `pid`, in clock ticks.
long cpuTicks(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text{std::istreambuf_iterator<char>(stat), {}};
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;
    long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
}

double measure(KWinSession& kwin, int pid, int seconds, bool moving) {
    const long before = cpuTicks(pid);
    QElapsedTimer elapsed;
    elapsed.start();
    int step = 0;
    while (elapsed.elapsed() < seconds * 1000) {
        if (moving) {
            const double angle = 2 * std::numbers::pi * (step++ % 60) / 60.0;
            kwin.input().moveTo(640 + 200 * std::cos(angle), 400 + 200 * std::sin(angle));
            const qint64 next = step * 1000 / 60;
            KWinSession::waitUntil([&] { return elapsed.elapsed() >= next; }, 20ms);
        } else {
            KWinSession::waitUntil([] { return false; }, 100ms);
        }
    }
    const double used = double(cpuTicks(pid) - before) / double(::sysconf(_SC_CLK_TCK));
    return 100.0 * used / (elapsed.elapsed() / 1000.0);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds =
        qEnvironmentVariableIsSet("BENCH_SECONDS") ? qEnvironmentVariableIntValue("BENCH_SECONDS") : 10;
    testsupport::StagedInstall staged(LUMAREX_CMAKE_COMMAND, LUMAREX_BUILD_DIR, "kwin-effect");
    KWinSession kwin({.kwinrc = "[Plugins]\n" LUMAREX_KWIN_EFFECT_ID "Enabled=true\n",
                      .pluginDir = staged.prefix() / LUMAREX_QT5_PLUGIN_DIR});
    const int pid = kwinPid(kwin.runtimeDir());
    QDBusInterface effect("example.quorvel.Lumarex.KWin", "/example/quorvel/Lumarex/KWin",
                          "example.quorvel.Lumarex.KWin1", kwin.bus());
    if (pid < 0 || !KWinSession::waitUntil([&] { return effect.isValid(); }, 10s)) {
        std::fprintf(stderr, "kwin_highlight_cpu: KWin or its effect did not come up\n");
        return 1;
    }
    std::printf("kwin_wayland CPU, %% of one core over %d s each\n", seconds);
    for (const bool shown : {false, true}) {
        effect.call(shown ? "Show" : "Hide");
        for (const bool moving : {false, true})
            std::printf("  highlight %-6s pointer %-6s %6.2f %%\n", shown ? "shown" : "hidden",
                        moving ? "moving" : "still", measure(kwin, pid, seconds, moving));
    }
    return 0;
}
