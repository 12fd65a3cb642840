#pragma once

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <filesystem>
#include <string>

namespace testsupport {

// Private home, config, cache and runtime folders for one run of the application, and the environment
// that points it at them and at a given X display. Network addresses point at a closed loopback port, so
// nothing leaves the machine. Thread-safety: immutable after construction except writeSettings().
class AppSandbox {
  public:
    AppSandbox();

    const std::filesystem::path& root() const { return dir_.path(); }
    std::filesystem::path configHome() const { return dir_.path() / "config"; }
    std::filesystem::path cacheHome() const { return dir_.path() / "cache"; }
    std::filesystem::path settingsFile() const { return configHome() / "Quorvel" / "Lumarex.conf"; }

    // The whole environment for the program; no DISPLAY when `display` is empty.
    Environment environment(const std::string& display) const;
    // Replaces the settings file with `content` (written byte for byte).
    void writeSettings(const std::string& content) const;

  private:
    TempDir dir_;
};

} // namespace testsupport
