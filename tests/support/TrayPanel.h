#pragma once

#include "support/ChildProcess.h"
#include "support/WindowFinder.h"
#include "support/XConnection.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace testsupport {

// A system tray on a test X server: Debian's `trayer`, an XEmbed tray (the freedesktop system tray
// protocol) in a small panel at the top right of the screen. Finds the icons embedded in it.
// Thread-safety: one owner thread.
class TrayPanel {
  public:
    // Starts trayer and returns once it owns the tray selection (_NET_SYSTEM_TRAY_S0).
    // Throws std::runtime_error when it is not installed or does not come up.
    explicit TrayPanel(const std::string& displayName);
    ~TrayPanel();
    TrayPanel(const TrayPanel&) = delete;
    TrayPanel& operator=(const TrayPanel&) = delete;

    // The viewable icon window embedded in the tray by the process `pid` (its _NET_WM_PID), once it is
    // there; root coordinates.
    std::optional<WindowInfo> waitForIcon(int pid, std::chrono::milliseconds timeout);
    // Stacks the panel above every window mapped so far.
    void raise();

  private:
    std::optional<WindowInfo> findIcon(int pid);

    XConnection connection_;
    std::unique_ptr<ChildProcess> trayer_;
    XWindowId panel_ = 0;
};

} // namespace testsupport
