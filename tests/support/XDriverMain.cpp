// lumarex-xdriver: XTest input, screenshots and window waits for scripts (the demo and the benchmark).
#include "support/ScreenGrabber.h"
#include "support/Wait.h"
#include "support/WindowFinder.h"
#include "support/XConnection.h"
#include "support/XTestDriver.h"

#include <X11/Xlib.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

using namespace testsupport;

namespace {

int usage() {
    std::fprintf(
        stderr, "usage: lumarex-xdriver COMMAND ...   (uses $DISPLAY)\n"
                "  move X Y                      move the pointer (XTest motion)\n"
                "  click [BUTTON]                press and release a button (default 1)\n"
                "  press BUTTON | release BUTTON\n"
                "  key KEYSYM                    press and release a key, e.g. a, F5, Escape\n"
                "  type HZ SECONDS               type letters at HZ keys a second into a window of its own\n"
                "                                that holds the keyboard focus (another program typing)\n"
                "  circle HZ SECONDS [CX CY R]   move round a circle, HZ moves a second (default centre of\n"
                "                                the screen, radius 100, one turn a second)\n"
                "  screenshot FILE.png           save the whole screen\n"
                "  pixel X Y                     print the colour on screen as #RRGGBB\n"
                "  wait-window NAME TIMEOUT [SINCE_NS]\n"
                "                                wait until a window of that name is mapped; print the\n"
                "                                milliseconds waited (or since SINCE_NS, CLOCK_REALTIME ns,\n"
                "                                as `date +%%s%%N` prints); exit 1 on time-out\n"
                "  wait-gone NAME TIMEOUT        wait until no window of that name is mapped\n"
                "  wait-compositor TIMEOUT       wait until a compositing manager owns _NET_WM_CM_S0\n");
    return 2;
}

std::chrono::milliseconds seconds(const std::string& text) {
    return std::chrono::milliseconds(static_cast<long>(std::stod(text) * 1000.0));
}

// Letters and spaces, tapped at fixed instants into a small window of this client that has the focus, so
// the keys go to another program than the one measured. Returns the number of keys typed.
long typeIntoOwnWindow(XConnection& connection, double hz, std::chrono::duration<double> duration) {
    Display* display = connection.display();
    const Window window = XCreateSimpleWindow(display, connection.root(), 0, 0, 200, 100, 0, 0, 0xFFFFFF);
    XStoreName(display, window, "lumarex-xdriver typing");
    XMapWindow(display, window);
    XSync(display, False);
    XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    XSync(display, False);

    XTestDriver input(connection);
    static const char* const keys[] = {"t", "y", "p", "i", "n", "g",    "space",
                                       "a", "l", "o", "n", "g", "space"};
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto period = std::chrono::duration<double>(1.0 / hz);
    const long total = std::lround(duration.count() * hz);
    for (long i = 0; i < total; ++i) {
        input.tapKey(keys[i % (sizeof keys / sizeof *keys)]);
        // Pacing, not waiting: the next key is due at a fixed instant.
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(period * (i + 1)));
    }
    XDestroyWindow(display, window);
    XSync(display, False);
    return total;
}

int run(const std::vector<std::string>& args) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        std::fprintf(stderr, "lumarex-xdriver: DISPLAY is not set\n");
        return 2;
    }
    const std::string& command = args[0];
    const size_t n = args.size();
    if (command == "wait-window" && (n == 3 || n == 4)) {
        const auto startWall = std::chrono::system_clock::now();
        const auto start = std::chrono::steady_clock::now();
        WindowFinder finder(display);
        if (!finder.waitForViewable(args[1], seconds(args[2]))) {
            std::fprintf(stderr, "lumarex-xdriver: no window \"%s\" within %s s\n", args[1].c_str(),
                         args[2].c_str());
            return 1;
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        double ms = std::chrono::duration<double, std::milli>(elapsed).count();
        if (n == 4) {
            const auto since =
                std::chrono::system_clock::time_point(std::chrono::nanoseconds(std::stoll(args[3])));
            ms += std::chrono::duration<double, std::milli>(startWall - since).count();
        }
        std::printf("%.1f\n", ms);
        return 0;
    }
    if (command == "wait-gone" && n == 3) {
        WindowFinder finder(display);
        return finder.waitForGone(args[1], seconds(args[2])) ? 0 : 1;
    }

    XConnection connection(display);
    if (command == "move" && n == 3) {
        XTestDriver(connection).move(std::stoi(args[1]), std::stoi(args[2]));
    } else if (command == "click" && n <= 2) {
        XTestDriver(connection).click(n == 2 ? std::stoi(args[1]) : 1);
    } else if (command == "press" && n == 2) {
        XTestDriver(connection).press(std::stoi(args[1]));
    } else if (command == "release" && n == 2) {
        XTestDriver(connection).release(std::stoi(args[1]));
    } else if (command == "key" && n == 2) {
        XTestDriver(connection).tapKey(args[1]);
    } else if (command == "type" && n == 3) {
        std::printf("%ld\n", typeIntoOwnWindow(connection, std::stod(args[1]),
                                               std::chrono::duration<double>(std::stod(args[2]))));
    } else if (command == "circle" && (n == 3 || n == 6)) {
        const int cx = n == 6 ? std::stoi(args[3]) : connection.screenWidth() / 2;
        const int cy = n == 6 ? std::stoi(args[4]) : connection.screenHeight() / 2;
        const int radius = n == 6 ? std::stoi(args[5]) : 100;
        const long moves = XTestDriver(connection)
                               .circle(cx, cy, radius, std::stod(args[1]),
                                       std::chrono::duration<double>(std::stod(args[2])));
        std::printf("%ld\n", moves);
    } else if (command == "screenshot" && n == 2) {
        if (!ScreenGrabber(connection).savePng(args[1])) {
            std::fprintf(stderr, "lumarex-xdriver: cannot write %s\n", args[1].c_str());
            return 1;
        }
    } else if (command == "wait-compositor" && n == 2) {
        const unsigned long selection = connection.atom("_NET_WM_CM_S0");
        if (!pollUntil([&] { return XGetSelectionOwner(connection.display(), selection) != 0; },
                       seconds(args[1]))) {
            std::fprintf(stderr, "lumarex-xdriver: no compositing manager within %s s\n", args[1].c_str());
            return 1;
        }
    } else if (command == "pixel" && n == 3) {
        const Rgb c = ScreenGrabber(connection).pixel(std::stoi(args[1]), std::stoi(args[2]));
        std::printf("#%02X%02X%02X\n", c.r, c.g, c.b);
    } else {
        return usage();
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarex-xdriver: %s\n", error.what());
        return 1;
    }
}
