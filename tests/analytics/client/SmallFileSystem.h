// Test helper: a small tmpfs mounted on a fresh temporary folder, which a test fills and empties again,
// so that a full disk is a real one. Mounting needs root (CAP_SYS_ADMIN); mounted() tells whether it
// worked and whyNot() why it did not.
#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace veltrace::test {

class SmallFileSystem {
  public:
    explicit SmallFileSystem(std::size_t bytes) {
        std::string pattern = (std::filesystem::temp_directory_path() / "veltrace-small-fs-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        const auto options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
            mounted_ = true;
        else
            whyNot_ = std::string("cannot mount a small tmpfs (needs root): ") + std::strerror(errno);
    }
    ~SmallFileSystem() {
        if (mounted_)
            ::umount2(path_.c_str(), MNT_DETACH);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& whyNot() const { return whyNot_; }
    const std::filesystem::path& path() const { return path_; }

    // Takes every free block with a file of its own; empty() gives them back.
    void fill() {
        const int fd = ::open(filler().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0)
            throw std::runtime_error("cannot create the filler file");
        char block[4096] = {};
        for (std::size_t size = sizeof block; size > 0; size /= 2)
            while (::write(fd, block, size) > 0) {
            }
        ::close(fd);
    }
    void empty() { ::unlink(filler().c_str()); }

  private:
    std::filesystem::path filler() const { return path_ / ".filler"; }

    std::filesystem::path path_;
    bool mounted_ = false;
    std::string whyNot_;
};

} // namespace veltrace::test
