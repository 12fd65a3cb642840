#include "client/Directories.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrace {

namespace {

std::optional<std::filesystem::path> homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return std::filesystem::path(home);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return std::filesystem::path(found->pw_dir);
    return std::nullopt;
}

// The XDG rules: the variable counts only when it holds an absolute path.
std::optional<std::filesystem::path> xdgDirectory(const char* variable, const char* fallbackUnderHome) {
    if (const char* value = std::getenv(variable); value && value[0] == '/')
        return std::filesystem::path(value);
    if (auto home = homeDirectory())
        return *home / fallbackUnderHome;
    return std::nullopt;
}

} // namespace

std::optional<std::filesystem::path> Directories::cachesDirectory() {
    return xdgDirectory("XDG_CACHE_HOME", ".cache");
}

std::optional<std::filesystem::path> Directories::configDirectory() {
    return xdgDirectory("XDG_CONFIG_HOME", ".config");
}

bool Directories::createPrivateDirectory(const std::filesystem::path& directory, std::string* error) {
    std::filesystem::path built;
    for (const auto& part : directory.lexically_normal()) {
        built /= part;
        if (part.empty() || built == built.root_path())
            continue;
        if (::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST) {
            if (error)
                *error = std::strerror(errno);
            return false;
        }
    }
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0) {
        if (error)
            *error = std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        if (error)
            *error = std::strerror(ENOTDIR);
        return false;
    }
    // Only our own folder is narrowed; a shared parent the user made keeps its mode.
    if ((info.st_mode & 077) != 0 && info.st_uid == ::geteuid())
        ::chmod(directory.c_str(), 0700);
    return true;
}

} // namespace veltrace
