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
    if (session.display.empty()) {
        choice.problem = wayland
                             ? "this is a Wayland session without X11 support: Lumarex needs an X11 session "
                               "or XWayland (DISPLAY is not set)"
                             : "cannot find an X server: DISPLAY is not set";
        return choice;
    }
    choice.backend = Backend::X11;
    if (wayland)
        choice.notice =
            "this is a Wayland session: Lumarex runs through XWayland, where it sees the pointer only "
            "over X11 windows, so the highlight stops while the pointer is over other windows";
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
