#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// A folder that the program under test cannot write into, even when the tests run as root, whom
// permission bits do not stop: then a small tmpfs is mounted over the folder and made read-only; for
// anyone else the folder's mode is taken to 0555. Files written before seal() stay readable.
// Unmounted (or given its mode back) on destruction. Thread-safety: one test thread.
class ReadOnlyFolder {
  public:
    // Creates `path` if it is missing.
    explicit ReadOnlyFolder(std::filesystem::path path);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    // Empty when the folder can be sealed; otherwise why not (a root that may not mount), for a skip.
    const std::string& unavailable() const { return unavailable_; }

    void write(const std::string& name, const std::string& content) const;
    // From now on nothing can be created, changed or removed in the folder.
    bool seal();

  private:
    std::filesystem::path path_;
    std::string unavailable_;
    bool mounted_ = false;
    bool sealed_ = false;
};

} // namespace testsupport
