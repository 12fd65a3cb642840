#pragma once

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// What every headless compositor of the tests shares: a launcher script run in a private PID namespace
// whose first process is the session bus, so that ending that process ends the compositor, its bus and
// every helper they started; temporary runtime and home folders; the compositor's log; and our own
// connection to its bus. Subclasses add the compositor's input and screenshots.
// Thread-safety: one owner thread with a running Qt application; waits run its event loop.
class CompositorSession {
  public:
    virtual ~CompositorSession();
    CompositorSession(const CompositorSession&) = delete;
    CompositorSession& operator=(const CompositorSession&) = delete;

    // Our own connection to the compositor's session bus.
    QDBusConnection& bus() { return *bus_; }
    const QString& busAddress() const { return busAddress_; }
    const std::filesystem::path& runtimeDir() const { return runtimeDir_; }
    // What a client of this session needs on top of the inherited environment.
    virtual Environment clientEnvironment() const = 0;

    // Runs the event loop until `condition` holds or `timeout` passes; returns whether it held.
    static bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

    // The last lines of the compositor's log, for failure messages.
    std::string logTail(int lines = 30) const;

  protected:
    struct Names {
        std::string className; // "KWinSession", for messages
        std::string compositor; // "KWin", for messages
        std::string folderPrefix;
        std::string logName;
    };

    explicit CompositorSession(Names names);

    // Runs `launcher` (which prints the bus address on its first line) in a new PID namespace, with its
    // own /proc when `ownProc`, and connects to the bus; throws through fail().
    void launch(const std::string& launcher, const Environment& env, bool ownProc);
    // Waits for each service to appear on the bus, in order; throws through fail().
    void waitForServices(const std::vector<QString>& services, std::chrono::milliseconds timeout);
    // Ends everything in the namespace; safe to call when nothing runs.
    void stop();
    // The variables of a Wayland session of `desktop` on `socket`, with the temporary folders and bus.
    Environment sessionEnvironment(const std::string& desktop, const std::string& socket) const;
    // Throws std::runtime_error with `what` and the end of the log.
    [[noreturn]] void fail(const std::string& what) const;

    int namespaceInit() const { return namespaceInit_; }
    const std::filesystem::path& root() const { return root_.path(); }
    const std::filesystem::path& homeDir() const { return homeDir_; }
    const std::filesystem::path& logPath() const { return logPath_; }

  private:
    Names names_;
    TempDir root_;
    std::filesystem::path runtimeDir_;
    std::filesystem::path homeDir_;
    std::filesystem::path logPath_;
    QString connectionName_;
    QString busAddress_;
    std::unique_ptr<ChildProcess> process_;
    std::unique_ptr<QDBusConnection> bus_;
    int namespaceInit_ = 0;
    int namespaceInitFd_ = -1;
};

} // namespace testsupport
