#pragma once

#include "support/AppProcess.h"
#include "support/AppSandbox.h"
#include "support/BackgroundWindow.h"
#include "support/Rgb.h"
#include "support/ScreenGrabber.h"
#include "support/WindowFinder.h"
#include "support/XConnection.h"
#include "support/XTestDriver.h"
#include "support/XvfbServer.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using testsupport::Rgb;
using namespace std::chrono_literals;

inline const std::string mainWindowName = "Cursor settings";
inline const std::string overlayName = "Lumarex highlight";
inline const Rgb grey = Rgb::fromHex(0x808080);
inline const Rgb red = Rgb::fromHex(0xFF0000);

// Screen colours sampled at a few points, `t` seconds after a reference instant.
struct Sample {
    double t = 0;
    std::vector<Rgb> colours;
};

// One run of the real program on a private X server, over a solid grey background, with XTest input,
// screen reads and the program's own control commands.
// Thread-safety: one test thread.
class LumarexSession {
  public:
    using Clock = std::chrono::steady_clock;

    enum class Compositor { On, Off };

    // `settingsFile` is written before launch when given.
    explicit LumarexSession(Compositor compositor, const std::optional<std::string>& settingsFile = {});
    ~LumarexSession();

    // Starts the program and waits for its main window; then raises the background over it, so that only
    // the overlay (mapped later) is above the background. Returns false if no window appeared.
    bool launch(const testsupport::Environment& extraEnvironment = {});

    testsupport::XvfbServer& server() { return *server_; }
    testsupport::AppSandbox& sandbox() { return sandbox_; }
    testsupport::AppProcess& app() { return *app_; }
    testsupport::XTestDriver& input() { return *input_; }
    testsupport::ScreenGrabber& screen() { return *grabber_; }
    testsupport::WindowFinder& windows() { return *finder_; }
    testsupport::BackgroundWindow& background() { return *background_; }

    // Runs the program once more with one option (e.g. "--show") against the running instance.
    testsupport::AppProcess::Result control(const std::string& option);

    // Moves the pointer and waits until the overlay is viewable and centred on it (origin = pointer − 50).
    std::optional<testsupport::WindowInfo> pointAndWaitForOverlay(int x, int y);

    // Polls the pixel until it is within `tolerance` of `expected`; returns the last colour seen.
    Rgb waitForPixel(int x, int y, Rgb expected, int tolerance = 4, std::chrono::milliseconds timeout = 5s);

    // Left (or other) button press and release; returns the instant the server had taken the press.
    Clock::time_point click(int button = 1);

    // Reads the given points about every 10 ms for `duration`, times relative to `from`.
    std::vector<Sample> sample(Clock::time_point from, std::chrono::milliseconds duration,
                               const std::vector<std::pair<int, int>>& points);

    // Sends a press at the pointer and reports whether the background window received it (rather than a
    // window of the program).
    bool pressReachesBackground();

  private:
    std::unique_ptr<testsupport::XvfbServer> server_;
    testsupport::AppSandbox sandbox_;
    std::unique_ptr<testsupport::XConnection> connection_;
    std::unique_ptr<testsupport::BackgroundWindow> background_;
    std::unique_ptr<testsupport::XTestDriver> input_;
    std::unique_ptr<testsupport::ScreenGrabber> grabber_;
    std::unique_ptr<testsupport::WindowFinder> finder_;
    std::unique_ptr<testsupport::AppProcess> app_;
};

// The colour seen at `point` (an index into the sampled points) that differs most from `reference`
// (what was there before), among samples taken between fromT and toT.
Rgb strongest(const std::vector<Sample>& samples, size_t point, Rgb reference, double fromT = 0,
              double toT = 1e9);

// The colour `expected` blended as the screen would show it: source-over on the background.
inline Rgb blendOnGrey(Rgb colour, double alpha) {
    return Rgb::over(colour, alpha, grey);
}

} // namespace e2e
