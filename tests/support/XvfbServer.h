#pragma once

#include "support/ChildProcess.h"

#include <memory>
#include <string>

namespace testsupport {

// A private Xvfb server (display number chosen by the server through -displayfd), optionally with
// xcompmgr as compositing manager. Everything started here is killed on destruction.
// Thread-safety: one owner thread.
class XvfbServer {
  public:
    struct Options {
        bool compositor = false;
        std::string screen = "1280x800x24";
    };

    // Throws std::runtime_error when the server or the compositor does not come up.
    explicit XvfbServer(const Options& options);
    XvfbServer() : XvfbServer(Options{}) {}
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N"
    const std::string& displayName() const { return displayName_; }
    bool compositorRunning() const { return compositor_ != nullptr; }

    // Starts xcompmgr and returns once it owns _NET_WM_CM_S0.
    void startCompositor();
    // Stops it and returns once the selection has no owner.
    void stopCompositor();

    int serverPid() const { return server_->pid(); }
    int compositorPid() const { return compositor_ ? compositor_->pid() : -1; }

  private:
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> compositor_;
    std::string displayName_;
};

} // namespace testsupport
