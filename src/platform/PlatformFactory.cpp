#include "platform/PlatformFactory.h"

#include "platform/gnome/GnomeDesktopPlatform.h"
#include "platform/kde/KdeDesktopPlatform.h"
#include "platform/x11/X11DesktopPlatform.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cstdlib>

namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// XDG_CURRENT_DESKTOP is a colon-separated list ("ubuntu:GNOME", "GNOME-Classic:GNOME").
bool namesDesktop(const std::string& currentDesktop, const char* desktop) {
    const QList<QByteArray> names = QByteArray::fromStdString(currentDesktop).split(':');
    return std::any_of(names.begin(), names.end(), [desktop](const QByteArray& name) {
        return name.compare(desktop, Qt::CaseInsensitive) == 0;
    });
}

} // namespace

PlatformFactory::Session PlatformFactory::Session::fromEnvironment() {
    return {environmentValue("DISPLAY"), environmentValue("WAYLAND_DISPLAY"),
            environmentValue("XDG_SESSION_TYPE"), environmentValue("XDG_CURRENT_DESKTOP")};
}

PlatformFactory::Choice PlatformFactory::choose(const Session& session) {
    const bool wayland = !session.waylandDisplay.empty() || session.sessionType == "wayland";
    Choice choice;
    if (wayland && namesDesktop(session.currentDesktop, "GNOME")) {
        choice.backend = Backend::Gnome;
        return choice;
    }
    if (wayland && namesDesktop(session.currentDesktop, "KDE")) {
        choice.backend = Backend::Kde;
        return choice;
    }
    if (wayland) {
        // XWayland would start, but its pointer stands still whenever the pointer is over a native window,
        // and so would the highlight: better to say so than to show a circle that freezes.
        const std::string desktop = session.currentDesktop.empty()
                                        ? "this Wayland desktop"
                                        : "the Wayland desktop " + session.currentDesktop;
        choice.problem = "Lumarex cannot highlight the pointer on " + desktop +
                         ". On Wayland only the desktop's compositor sees the pointer over every window, and "
                         "Lumarex draws through the compositor only on GNOME and KDE Plasma. Through "
                         "XWayland the highlight "
                         "would stop wherever the pointer leaves an X11 window, so Lumarex does not start "
                         "here. Log in to a GNOME, a Plasma or an X11 session to use it.";
        return choice;
    }
    if (session.display.empty()) {
        choice.problem = "cannot find an X server: DISPLAY is not set";
        return choice;
    }
    choice.backend = Backend::X11;
    return choice;
}

std::unique_ptr<DesktopPlatform> PlatformFactory::open(const Choice& choice, std::string* error) {
    switch (choice.backend) {
    case Backend::X11:
        if (auto platform = X11DesktopPlatform::open())
            return platform;
        *error = "cannot open the X display '" + environmentValue("DISPLAY") + "' (DISPLAY)";
        return nullptr;
    case Backend::Gnome:
        return std::make_unique<GnomeDesktopPlatform>();
    case Backend::Kde:
        return std::make_unique<KdeDesktopPlatform>();
    case Backend::None:
        break;
    }
    *error = choice.problem;
    return nullptr;
}
