#include "e2e/LumarexSession.h"

#include "support/Wait.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <thread>

namespace e2e {

using namespace testsupport;

LumarexSession::LumarexSession(Compositor compositor, const std::optional<std::string>& settingsFile) {
    XvfbServer::Options serverOptions;
    serverOptions.compositor = compositor == Compositor::On;
    server_ = std::make_unique<XvfbServer>(serverOptions);
    connection_ = std::make_unique<XConnection>(server_->displayName());
    background_ = std::make_unique<BackgroundWindow>(*connection_, grey);
    input_ = std::make_unique<XTestDriver>(*connection_);
    grabber_ = std::make_unique<ScreenGrabber>(*connection_);
    finder_ = std::make_unique<WindowFinder>(server_->displayName());
    if (settingsFile) {
        sandbox_.writeSettings(*settingsFile);
    }
    // Away from where tests point, so the program starts with the pointer over nothing of its own.
    input_->move(1200, 750);
}

LumarexSession::~LumarexSession() {
    // The program first, while its X server still runs.
    app_.reset();
}

bool LumarexSession::launch(const Environment& extraEnvironment) {
    Environment environment = sandbox_.environment(server_->displayName());
    for (const auto& [name, value] : extraEnvironment)
        environment[name] = value;
    app_ = std::make_unique<AppProcess>(LUMAREX_BINARY_PATH, std::vector<std::string>{}, environment);
    if (!finder_->waitForViewable(mainWindowName, 20s)) {
        return false;
    }
    background_->raise();
    return background_->waitShownAt(640, 400, 10s);
}

AppProcess::Result LumarexSession::control(const std::string& option) {
    return AppProcess::run(LUMAREX_BINARY_PATH, {option}, sandbox_.environment(server_->displayName()));
}

std::optional<WindowInfo> LumarexSession::pointAndWaitForOverlay(int x, int y) {
    input_->move(x, y);
    return finder_->waitFor(
        overlayName,
        [x, y](const std::optional<WindowInfo>& w) {
            return w && w->viewable && w->x + w->width / 2 == x && w->y + w->height / 2 == y;
        },
        10s);
}

Rgb LumarexSession::waitForPixel(int x, int y, Rgb expected, int tolerance,
                                 std::chrono::milliseconds timeout) {
    Rgb seen;
    pollUntil([&] { return (seen = grabber_->pixel(x, y)).near(expected, tolerance); }, timeout);
    return seen;
}

LumarexSession::Clock::time_point LumarexSession::click(int button) {
    input_->press(button);
    const auto pressed = Clock::now();
    input_->release(button);
    return pressed;
}

std::vector<Sample> LumarexSession::sample(Clock::time_point from, std::chrono::milliseconds duration,
                                           const std::vector<std::pair<int, int>>& points) {
    std::vector<Sample> samples;
    const auto end = from + duration;
    for (auto next = Clock::now(); next < end; next += 10ms) {
        Sample sample;
        sample.t = std::chrono::duration<double>(Clock::now() - from).count();
        for (auto [x, y] : points) {
            sample.colours.push_back(grabber_->pixel(x, y));
        }
        samples.push_back(std::move(sample));
        // Sampling period, not a wait for a condition.
        std::this_thread::sleep_until(next + 10ms);
    }
    return samples;
}

bool LumarexSession::pressReachesBackground() {
    Display* display = connection_->display();
    XSelectInput(display, background_->window(), ButtonPressMask);
    connection_->sync();
    input_->click(1);
    bool reached = false;
    const auto deadline = Clock::now() + 5s;
    while (!reached && Clock::now() < deadline) {
        if (XPending(display) == 0) {
            pollfd pfd{ConnectionNumber(display), POLLIN, 0};
            ::poll(&pfd, 1, 50);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        reached = event.type == ButtonPress && event.xbutton.window == background_->window();
    }
    XSelectInput(display, background_->window(), NoEventMask);
    connection_->sync();
    return reached;
}

Rgb strongest(const std::vector<Sample>& samples, size_t point, Rgb reference, double fromT, double toT) {
    Rgb best = reference;
    for (const auto& s : samples) {
        if (s.t >= fromT && s.t <= toT && s.colours[point].distance(reference) > best.distance(reference)) {
            best = s.colours[point];
        }
    }
    return best;
}

} // namespace e2e
