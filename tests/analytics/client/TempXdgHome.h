// Test helper: a temporary folder that stands in for the user's caches and configuration folders
// (XDG_CACHE_HOME, XDG_CONFIG_HOME) for the lifetime of the object.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace veltrace::test {

class TempXdgHome {
  public:
    TempXdgHome() {
        std::string pattern = (std::filesystem::temp_directory_path() / "veltrace-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        std::filesystem::create_directories(caches());
        std::filesystem::create_directories(config());
        save("XDG_CACHE_HOME", oldCache_);
        save("XDG_CONFIG_HOME", oldConfig_);
        ::setenv("XDG_CACHE_HOME", caches().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config().c_str(), 1);
    }
    ~TempXdgHome() {
        restore("XDG_CACHE_HOME", oldCache_);
        restore("XDG_CONFIG_HOME", oldConfig_);
        std::error_code ignored;
        std::filesystem::permissions(caches(), std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(root_, ignored);
    }
    TempXdgHome(const TempXdgHome&) = delete;
    TempXdgHome& operator=(const TempXdgHome&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path caches() const { return root_ / "cache"; }
    std::filesystem::path config() const { return root_ / "config"; }

  private:
    static void save(const char* name, std::optional<std::string>& slot) {
        if (const char* value = std::getenv(name))
            slot = value;
    }
    static void restore(const char* name, const std::optional<std::string>& slot) {
        if (slot)
            ::setenv(name, slot->c_str(), 1);
        else
            ::unsetenv(name);
    }

    std::filesystem::path root_;
    std::optional<std::string> oldCache_;
    std::optional<std::string> oldConfig_;
};

} // namespace veltrace::test
