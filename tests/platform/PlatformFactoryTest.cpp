#include "platform/PlatformFactory.h"

#include "platform/DesktopPlatform.h"

#include <gtest/gtest.h>

namespace {

using Backend = PlatformFactory::Backend;

struct SessionCase {
    const char* what;
    PlatformFactory::Session session;
    Backend backend;
    // A piece of the problem (Backend::None only).
    const char* says;
};

TEST(PlatformFactoryTest, ChoosesTheBackendForEachKindOfSession) {
    const SessionCase cases[] = {
        {"X11 session", {":0", "", "x11", "XFCE"}, Backend::X11, ""},
        {"X server without session variables", {":5", "", "", ""}, Backend::X11, ""},
        {"GNOME on Wayland with XWayland", {":0", "wayland-0", "wayland", "GNOME"}, Backend::Gnome, ""},
        {"GNOME on Wayland without XWayland", {"", "wayland-0", "wayland", "GNOME"}, Backend::Gnome, ""},
        {"a GNOME derivative on Wayland", {":0", "wayland-0", "wayland", "ubuntu:GNOME"}, Backend::Gnome, ""},
        {"GNOME on X11", {":0", "", "x11", "GNOME"}, Backend::X11, ""},
        {"KDE on Wayland with XWayland", {":0", "wayland-0", "wayland", "KDE"}, Backend::Kde, ""},
        {"KDE on Wayland without XWayland", {"", "wayland-0", "wayland", "KDE"}, Backend::Kde, ""},
        {"KDE named second on Wayland", {"", "wayland-0", "wayland", "Custom:kde"}, Backend::Kde, ""},
        {"KDE on X11", {":0", "", "x11", "KDE"}, Backend::X11, ""},
        // A highlight through XWayland would freeze over native windows: these say so instead.
        {"another desktop on Wayland with XWayland",
         {":0", "wayland-0", "wayland", "Hyprland"},
         Backend::None,
         "on the Wayland desktop Hyprland"},
        {"a desktop whose name only contains GNOME",
         {":0", "wayland-0", "wayland", "NOTGNOME"},
         Backend::None,
         "Log in to a GNOME, a Plasma or an X11 session"},
        {"Wayland compositor that sets only WAYLAND_DISPLAY",
         {":1", "wayland-1", "", ""},
         Backend::None,
         "on this Wayland desktop"},
        {"Wayland session type alone", {"", "", "wayland", "Sway"}, Backend::None, "XWayland"},
        {"no desktop at all", {"", "", "tty", ""}, Backend::None, "DISPLAY is not set"},
    };
    for (const SessionCase& c : cases) {
        SCOPED_TRACE(c.what);
        const PlatformFactory::Choice choice = PlatformFactory::choose(c.session);
        EXPECT_EQ(choice.backend, c.backend);
        EXPECT_NE(choice.problem.find(c.says), std::string::npos) << choice.problem;
        EXPECT_EQ(choice.problem.empty(), c.backend != Backend::None);
    }
}

TEST(PlatformFactoryTest, NoBackendOpensWithItsProblemAsTheError) {
    const PlatformFactory::Choice choice = PlatformFactory::choose({"", "", "", ""});
    std::string error;
    EXPECT_EQ(PlatformFactory::open(choice, &error), nullptr);
    EXPECT_EQ(error, choice.problem);
}

} // namespace
