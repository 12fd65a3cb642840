#pragma once

#include "support/ChildProcess.h"
#include "support/KWinSession.h"

#include <chrono>
#include <memory>
#include <string>

// A full-screen native Wayland window of one colour on a headless KWin (lumarex-wayland-window), and
// the lines it prints about the input it receives.
// Thread-safety: one owner thread.
namespace kdetest {

class WaylandWindow {
  public:
    // Returns once the window covers the workspace in KWin's screenshots; throws std::runtime_error
    // otherwise.
    WaylandWindow(testsupport::KWinSession& kwin, const std::string& colour);

    // The next line the window printed, or empty when none comes within `timeout`.
    std::string nextLine(std::chrono::milliseconds timeout);

  private:
    std::unique_ptr<testsupport::ChildProcess> process_;
};

} // namespace kdetest
