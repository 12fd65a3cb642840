#pragma once

#include "support/TempDir.h"

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// One component of the build installed by `cmake --install`, or Debian packages unpacked as dpkg would,
// under a temporary root removed on destruction, so tests use files exactly as they are installed.
// Thread-safety: immutable after construction.
class StagedInstall {
  public:
    // Throws std::runtime_error when the install fails.
    StagedInstall(const std::string& cmake, const std::string& buildDir, const std::string& component);
    // Unpacks each .deb (dpkg-deb --extract) into the root. Throws std::runtime_error when one fails.
    explicit StagedInstall(const std::vector<std::filesystem::path>& packages);

    // The prefix the component was installed under (for packages, their /usr).
    std::filesystem::path prefix() const { return prefix_.path() / "usr"; }
    // <prefix>/share
    std::filesystem::path dataDir() const { return prefix() / "share"; }

  private:
    TempDir prefix_;
};

} // namespace testsupport
