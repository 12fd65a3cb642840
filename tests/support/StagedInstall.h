#pragma once

#include "support/TempDir.h"

#include <filesystem>
#include <string>

namespace testsupport {

// One component of the build installed by `cmake --install` under a temporary prefix, removed on
// destruction, so tests use files exactly as they are installed.
// Thread-safety: immutable after construction.
class StagedInstall {
  public:
    // Throws std::runtime_error when the install fails.
    StagedInstall(const std::string& cmake, const std::string& buildDir, const std::string& component);

    // The prefix the component was installed under.
    std::filesystem::path prefix() const { return prefix_.path() / "usr"; }
    // <prefix>/share
    std::filesystem::path dataDir() const { return prefix() / "share"; }

  private:
    TempDir prefix_;
};

} // namespace testsupport
