#pragma once

#include "support/AppSandbox.h"
#include "support/GnomeShellSession.h"

namespace gnometest {

// The program's environment in `shell`: its own settings and caches from `sandbox`, the Shell's bus,
// display and data folders, and Qt on Wayland.
inline testsupport::Environment programEnvironment(const testsupport::AppSandbox& sandbox,
                                                   const testsupport::GnomeShellSession& shell) {
    testsupport::Environment env = sandbox.environment("");
    env.erase("DISPLAY");
    const testsupport::Environment session = shell.clientEnvironment();
    for (const char* name : {"XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                             "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
        env[name] = session.at(name);
    env["QT_QPA_PLATFORM"] = "wayland";
    return env;
}

} // namespace gnometest
