// Where the client keeps its files: the user's caches folder (queue databases, legacy archives) and
// configuration folder (the user-defaults suite), following the XDG base-directory rules.
// Thread safety: reads the environment on every call; safe as long as nobody changes it concurrently.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace veltrace {

class Directories {
  public:
    Directories() = delete;

    // $XDG_CACHE_HOME, else ~/.cache; nothing when neither can be determined. Not created here.
    static std::optional<std::filesystem::path> cachesDirectory();

    // $XDG_CONFIG_HOME, else ~/.config; nothing when neither can be determined. Not created here.
    static std::optional<std::filesystem::path> configDirectory();

    // Creates the folder and any missing parents with mode 0700, and narrows the folder itself to
    // 0700 when it already exists. False (with errno-style text in `error`) when it cannot be made.
    static bool createPrivateDirectory(const std::filesystem::path& directory, std::string* error = nullptr);
};

} // namespace veltrace
