#pragma once

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <QDBusConnection>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVariant>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

// A headless GNOME Shell (Wayland only, one virtual monitor) on its own session bus, with pointer and
// keyboard input through the compositor's remote-desktop service and screenshots through the Shell's
// screenshot service. It runs in a private PID namespace, so destruction ends the Shell, its bus and
// every helper they started; its runtime, home and data folders are temporary. The constructor returns
// with the Overview closed and input ready.
// Thread-safety: one owner thread with a running Qt application; waits run its event loop.
class GnomeShellSession {
  public:
    struct Options {
        QSize monitor{1280, 800};
        // Put in front of the system data folders (where the Shell looks for extensions and schemas).
        std::vector<std::filesystem::path> extraDataDirs;
        // Extensions to enable (by uuid) before the Shell starts.
        std::vector<QString> enabledExtensions;
    };

    static constexpr int kLeftButton = 272; // BTN_LEFT
    static constexpr std::uint32_t kEscapeKeysym = 0xff1b;

    // Throws std::runtime_error, naming the Shell's log, when the Shell or its input does not come up.
    explicit GnomeShellSession(const Options& options);
    GnomeShellSession() : GnomeShellSession(Options{}) {}
    ~GnomeShellSession();
    GnomeShellSession(const GnomeShellSession&) = delete;
    GnomeShellSession& operator=(const GnomeShellSession&) = delete;

    // Our own connection to the Shell's session bus.
    QDBusConnection& bus() { return *bus_; }
    const QString& busAddress() const { return busAddress_; }
    // What a client of this session needs: the session bus, the Wayland socket and runtime folder, and
    // a private home, on top of the inherited environment.
    Environment clientEnvironment() const;
    const std::filesystem::path& runtimeDir() const { return runtimeDir_; }

    // Input is asynchronous in the compositor: check its effect by waiting on what it changes.
    void movePointer(double x, double y);
    void setButton(int button, bool pressed);
    void setKey(std::uint32_t keysym, bool pressed);
    void tapKey(std::uint32_t keysym);

    // The monitor's pixels as the Shell composes them, without the cursor; null on failure.
    QImage screenshot();
    // Only `area` (quicker: the Shell encodes fewer pixels); null on failure.
    QImage screenshot(QRect area);

    // A property of an object on the Shell's bus, asked now without introspection; invalid when the call
    // fails.
    QVariant property(const QString& service, const QString& path, const QString& interface,
                      const QString& name);

    // Runs the event loop until `condition` holds or `timeout` passes; returns whether it held.
    static bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

  private:
    // Starts the Shell and its bus, opens input and closes the Overview; throws std::runtime_error.
    void start(const Environment& env);
    // Ends everything in the Shell's namespace; safe to call when nothing runs.
    void stop();
    void startInput();
    [[noreturn]] void fail(const std::string& what) const;

    TempDir root_;
    std::filesystem::path runtimeDir_;
    std::filesystem::path homeDir_;
    std::filesystem::path logPath_;
    QString dataDirs_;
    QString connectionName_;
    QString busAddress_;
    std::unique_ptr<ChildProcess> process_;
    std::unique_ptr<QDBusConnection> bus_;
    QString remoteSession_;
    QString stream_;
    int shots_ = 0;
    int namespaceInitFd_ = -1;
};

} // namespace testsupport
