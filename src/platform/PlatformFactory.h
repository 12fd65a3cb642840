#pragma once

#include <memory>
#include <string>

class DesktopPlatform;

// Decides which backend serves the desktop session Lumarex runs in, and builds it. The one place that
// names a concrete backend: everything else sees DesktopPlatform and the interfaces it hands out.
// Thread-safety: GUI thread only (choose() is pure and may run anywhere).
class PlatformFactory {
  public:
    enum class Backend {
        // No backend can serve this session; Choice::problem says why.
        None,
        // An X server in an X11 session. (XWayland in a Wayland session is not enough: it sees the pointer
        // only over X11 windows.)
        X11,
        // GNOME on Wayland: the Lumarex GNOME Shell extension draws, driven over the session bus.
        Gnome,
        // KDE Plasma on Wayland: the Lumarex KWin effect draws, driven over the session bus.
        Kde,
    };

    // What the session tells about itself through its environment.
    struct Session {
        std::string display;        // DISPLAY
        std::string waylandDisplay; // WAYLAND_DISPLAY
        std::string sessionType;    // XDG_SESSION_TYPE: "x11", "wayland", "tty"…
        std::string currentDesktop; // XDG_CURRENT_DESKTOP: "GNOME", "KDE", "ubuntu:GNOME"…

        static Session fromEnvironment();
    };

    struct Choice {
        Backend backend = Backend::None;
        // With Backend::None: what is missing, and on a Wayland desktop without a backend what the user
        // can do instead; one paragraph, for standard error and the desktop's notifications.
        std::string problem;
    };

    static Choice choose(const Session& session);

    // Builds the chosen backend; call it before the application object exists, so that a window system
    // that cannot be reached is said plainly instead of failing inside the toolkit. It also points the
    // toolkit at the window system the backend speaks. Null, with `error` set, when the backend cannot
    // start.
    static std::unique_ptr<DesktopPlatform> open(const Choice& choice, std::string* error);
};
