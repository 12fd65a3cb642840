#include "support/ReadOnlyFolder.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

ReadOnlyFolder::ReadOnlyFolder(std::filesystem::path path) : path_(std::move(path)) {
    std::filesystem::create_directories(path_);
    if (::geteuid() != 0)
        return;
    if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0)
        unavailable_ = std::string("cannot mount a tmpfs as root: ") + std::strerror(errno);
    else
        mounted_ = true;
}

ReadOnlyFolder::~ReadOnlyFolder() {
    if (mounted_)
        ::umount2(path_.c_str(), MNT_DETACH);
    else if (sealed_)
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
}

void ReadOnlyFolder::write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ / name, std::ios::binary) << content;
}

bool ReadOnlyFolder::seal() {
    if (!unavailable_.empty())
        return false;
    if (mounted_)
        sealed_ = ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    else
        sealed_ = ::chmod(path_.c_str(), 0555) == 0;
    return sealed_;
}

} // namespace testsupport
