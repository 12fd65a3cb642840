#pragma once

#include "support/ChildProcess.h"
#include "support/KWinFakeInput.h"
#include "support/TempDir.h"

#include <QDBusConnection>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVariantList>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace testsupport {

// A headless KWin (Wayland only, one virtual output, no XWayland) on its own session bus, with pointer
// and keyboard input through its fake-input protocol and screenshots through its ScreenShot2 service. It
// runs in a private PID namespace, so destruction ends KWin, its bus and every helper they started; its
// runtime, home and configuration folders are temporary. The constructor returns with input ready.
// Thread-safety: one owner thread with a running Qt application; waits run its event loop.
class KWinSession {
  public:
    struct Options {
        QSize output{1280, 800};
        // Text put into kwinrc before KWin starts (for example an effect enabled under [Plugins]).
        std::string kwinrc;
        // Where KWin looks for plugins first (QT_PLUGIN_PATH); empty for the system's only.
        std::filesystem::path pluginDir;
    };

    static constexpr const char* kSocketName = "wayland-lumarex";

    // Throws std::runtime_error, with the end of KWin's log, when KWin or its input does not come up.
    explicit KWinSession(const Options& options);
    KWinSession() : KWinSession(Options{}) {}
    ~KWinSession();
    KWinSession(const KWinSession&) = delete;
    KWinSession& operator=(const KWinSession&) = delete;

    // Our own connection to KWin's session bus.
    QDBusConnection& bus() { return *bus_; }
    const QString& busAddress() const { return busAddress_; }
    // What a client of this session needs: the session bus, the Wayland socket and runtime folder, a
    // private home, and a Plasma Wayland session's variables, on top of the inherited environment.
    Environment clientEnvironment() const;
    const std::filesystem::path& runtimeDir() const { return runtimeDir_; }
    KWinFakeInput& input() { return *input_; }
    // 5 or 6: the running KWin's major version, the client environment's KDE_SESSION_VERSION.
    int kwinMajorVersion() const { return kwinMajorVersion_; }

    // The whole workspace as KWin composes it, without the cursor; null on failure.
    QImage screenshot();
    // Only `area` (quicker: fewer pixels through the pipe); null on failure.
    QImage screenshot(QRect area);

    // Runs the event loop until `condition` holds or `timeout` passes; returns whether it held.
    static bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

    // The last lines of KWin's log, for failure messages.
    std::string logTail(int lines = 30) const;

  private:
    QImage capture(const QString& method, const QVariantList& arguments);
    [[noreturn]] void fail(const std::string& what) const;

    TempDir root_;
    std::filesystem::path runtimeDir_;
    std::filesystem::path homeDir_;
    std::filesystem::path logPath_;
    QString connectionName_;
    QString busAddress_;
    std::unique_ptr<ChildProcess> process_;
    std::unique_ptr<QDBusConnection> bus_;
    std::unique_ptr<KWinFakeInput> input_;
    int namespaceInitFd_ = -1;
    int kwinMajorVersion_ = 5;
};

} // namespace testsupport
