#include "support/AppSandbox.h"

#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;

AppSandbox::AppSandbox() : dir_("lumarex-app") {
    for (const char* sub : {"home", "config", "cache", "runtime"}) {
        fs::create_directories(dir_.path() / sub);
    }
    fs::permissions(dir_.path() / "runtime", fs::perms::owner_all, fs::perm_options::replace);
}

Environment AppSandbox::environment(const std::string& display) const {
    Environment env;
    const Environment inherited = ChildProcess::inheritedEnvironment();
    if (auto it = inherited.find("PATH"); it != inherited.end()) {
        env["PATH"] = it->second;
    } else {
        env["PATH"] = "/usr/local/bin:/usr/bin:/bin";
    }
    env["LANG"] = "C.UTF-8";
    env["HOME"] = (dir_.path() / "home").string();
    env["XDG_CONFIG_HOME"] = configHome().string();
    env["XDG_CACHE_HOME"] = cacheHome().string();
    env["XDG_RUNTIME_DIR"] = (dir_.path() / "runtime").string();
    env["QT_QPA_PLATFORM"] = "xcb";
    // Port 9 (discard) on loopback: refused at once, never a real service.
    env["VELTRACE_SERVER_URL"] = "https://127.0.0.1:9";
    env["LUMAREX_UPDATE_FEED_URL"] = "https://127.0.0.1:9/highlighter/appcast.xml";
    if (!display.empty()) {
        env["DISPLAY"] = display;
    }
    return env;
}

void AppSandbox::writeSettings(const std::string& content) const {
    fs::create_directories(settingsFile().parent_path());
    std::ofstream out(settingsFile(), std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + settingsFile().string());
    }
}

} // namespace testsupport
