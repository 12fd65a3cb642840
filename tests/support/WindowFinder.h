#pragma once

#include "support/XConnection.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// What the X server says about one window.
struct WindowInfo {
    XWindowId id = 0;
    std::string name; // _NET_WM_NAME, else WM_NAME
    int x = 0;        // root coordinates of the outer top-left corner
    int y = 0;
    int width = 0;
    int height = 0;
    int depth = 0;
    bool viewable = false;
    bool overrideRedirect = false;
    bool inputShapeEmpty = false; // the input region has no rectangles (clicks pass through)
    bool boundingShaped = false;  // a bounding shape (mask) is set
};

// Finds windows by name and waits for them to change, woken by the server's structure events on the
// root window rather than by sleeping. Searches the root's children and their children (enough for
// top-level windows with or without a window manager).
// Thread-safety: one owner thread; it uses its own connection.
class WindowFinder {
  public:
    // Throws std::runtime_error when the display cannot be opened.
    explicit WindowFinder(const std::string& displayName);

    std::vector<WindowInfo> findAll(const std::string& name) const;
    std::optional<WindowInfo> find(const std::string& name) const;
    // The first viewable window of that name, if any.
    std::optional<WindowInfo> findViewable(const std::string& name) const;

    // Waits until `condition` holds for the current state of the named window (nullopt if there is none).
    // Returns the state that satisfied it, or nullopt on time-out.
    std::optional<WindowInfo> waitFor(const std::string& name,
                                      const std::function<bool(const std::optional<WindowInfo>&)>& condition,
                                      std::chrono::milliseconds timeout);
    std::optional<WindowInfo> waitForViewable(const std::string& name, std::chrono::milliseconds timeout);
    bool waitForGone(const std::string& name, std::chrono::milliseconds timeout);

  private:
    std::optional<WindowInfo> describe(XWindowId window) const;

    XConnection connection_;
};

} // namespace testsupport
