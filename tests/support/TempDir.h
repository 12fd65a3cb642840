#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// A fresh folder under $TMPDIR (or /tmp), removed with its content on destruction.
// Thread-safety: immutable after construction.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "lumarex-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

} // namespace testsupport
