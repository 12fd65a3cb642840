#pragma once

#include "support/AppProcess.h"
#include "support/AppSandbox.h"
#include "support/BackgroundWindow.h"
#include "support/Rgb.h"
#include "support/ScreenGrabber.h"
#include "support/Wait.h"
#include "support/WindowFinder.h"
#include "support/XConnection.h"
#include "support/XTestDriver.h"
#include "support/XvfbServer.h"

#include <QSettings>
#include <QString>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

namespace e2e {

using namespace std::chrono_literals;

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    int centerX() const { return x + width / 2; }
    int centerY() const { return y + height / 2; }
};

// The real program on a private X server with a compositor, over a grey background, started so that it
// prints where its settings controls are (LUMAREX_TEST_GEOMETRY), driven with XTest.
// Thread-safety: one test thread.
class SettingsSession {
  public:
    static inline const testsupport::Rgb grey = testsupport::Rgb::fromHex(0x808080);
    // Tall enough for free background below the whole settings window.
    static constexpr int screenHeight = 1024;

    SettingsSession() {
        testsupport::XvfbServer::Options options;
        options.compositor = true;
        options.screen = "1280x" + std::to_string(screenHeight) + "x24";
        server_ = std::make_unique<testsupport::XvfbServer>(options);
        connection_ = std::make_unique<testsupport::XConnection>(server_->displayName());
        // Mapped before the program, so its windows stack above it.
        background_ = std::make_unique<testsupport::BackgroundWindow>(*connection_, grey);
        input_ = std::make_unique<testsupport::XTestDriver>(*connection_);
        screen_ = std::make_unique<testsupport::ScreenGrabber>(*connection_);
        windows_ = std::make_unique<testsupport::WindowFinder>(server_->displayName());
        input_->move(1200, 750);
    }

    ~SettingsSession() { app_.reset(); } // the program first, while its server still runs

    // Starts the program and reads where its controls are.
    void launch(const testsupport::Environment& extra = {}) {
        auto env = sandbox_.environment(server_->displayName());
        env["LUMAREX_TEST_GEOMETRY"] = "1";
        for (const auto& [name, value] : extra)
            env[name] = value;
        app_.reset();
        geometryReports_ = 0;
        app_ =
            std::make_unique<testsupport::AppProcess>(LUMAREX_BINARY_PATH, std::vector<std::string>{}, env);
        if (!windows_->waitForViewable("Cursor settings", 20s))
            throw std::runtime_error("no main window; stderr: " + app_->stderrText());
        waitForNewGeometry();
        if (!background_->waitShownAt(1000, 400, 10s))
            throw std::runtime_error("background not shown");
        waitUntilPainted(at("window"));
    }

    // Waits until the screen shows something other than the background in `area` and it has stopped
    // changing (the compositor shows a new window some time after the program has drawn it).
    void waitUntilPainted(const Rect& area) {
        std::vector<testsupport::Rgb> last;
        const bool settled = testsupport::pollUntil(
            [&] {
                auto now = screen_->grab(area.x, area.y, area.width, area.height).pixels;
                const bool drawn =
                    std::any_of(now.begin(), now.end(), [](auto p) { return !p.near(grey, 8); });
                const bool same = drawn && now == last;
                last = std::move(now);
                return same;
            },
            10s, 50ms);
        if (!settled)
            throw std::runtime_error("the window was not drawn");
    }

    // Waits for the next report of the controls' places (the program sends one after each change that
    // can move them) and reads it.
    void waitForNewGeometry() {
        if (!app_->waitForLine("geometry end", 10s, ++geometryReports_))
            throw std::runtime_error("no new geometry lines; stdout: " + app_->stdoutText());
        readGeometry();
    }

    Rect at(const std::string& name) const {
        auto it = geometry_.find(name);
        if (it == geometry_.end())
            throw std::runtime_error("no geometry for " + name);
        return it->second;
    }

    void clickOn(const std::string& name) {
        const Rect r = at(name);
        input_->move(r.centerX(), r.centerY());
        input_->click();
    }

    // Runs the program once more with one option (e.g. "--show") against the running instance.
    testsupport::AppProcess::Result control(const std::string& option) {
        return testsupport::AppProcess::run(LUMAREX_BINARY_PATH, {option},
                                            sandbox_.environment(server_->displayName()));
    }

    QVariant stored(const char* key) const {
        QSettings file(QString::fromStdString(sandbox_.settingsFile().string()), QSettings::IniFormat);
        return file.value(key);
    }

    // Waits until the settings file holds `expected` under `key`.
    bool waitForStored(const char* key, const QVariant& expected,
                       std::chrono::milliseconds timeout = 10s) const {
        return testsupport::pollUntil([&] { return stored(key) == expected; }, timeout);
    }

    testsupport::XTestDriver& input() { return *input_; }
    testsupport::ScreenGrabber& screen() { return *screen_; }
    testsupport::AppProcess& app() { return *app_; }
    testsupport::AppSandbox& sandbox() { return sandbox_; }

  private:
    // The last block of "geometry NAME x y w h" lines.
    void readGeometry() {
        std::map<std::string, Rect> block;
        for (const auto& line : app_->stdoutLines()) {
            std::istringstream in(line.text);
            std::string word, name;
            Rect r;
            if (!(in >> word >> name) || word != "geometry")
                continue;
            if (name == "end") {
                geometry_ = block;
                continue;
            }
            if (name == "window")
                block.clear();
            in >> r.x >> r.y >> r.width >> r.height;
            block[name] = r;
        }
    }

    std::unique_ptr<testsupport::XvfbServer> server_;
    testsupport::AppSandbox sandbox_;
    std::unique_ptr<testsupport::XConnection> connection_;
    std::unique_ptr<testsupport::BackgroundWindow> background_;
    std::unique_ptr<testsupport::XTestDriver> input_;
    std::unique_ptr<testsupport::ScreenGrabber> screen_;
    std::unique_ptr<testsupport::WindowFinder> windows_;
    std::unique_ptr<testsupport::AppProcess> app_;
    std::map<std::string, Rect> geometry_;
    size_t geometryReports_ = 0;
};

} // namespace e2e
