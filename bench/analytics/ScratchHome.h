// Benchmark helper: fresh caches and configuration folders for one benchmark, removed afterwards; under
// $VELTRACE_BENCH_DIR (default /tmp), so that the same run can be made on a disk and on a memory file
// system, where syncing costs nothing. Not thread-safe (it sets the process's environment).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace veltrace::bench {

class ScratchHome {
  public:
    ScratchHome() {
        const char* base = std::getenv("VELTRACE_BENCH_DIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/veltrace-bench-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        path_ = pattern;
        ::setenv("XDG_CACHE_HOME", (path_ / "cache").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (path_ / "config").c_str(), 1);
    }
    ~ScratchHome() { std::filesystem::remove_all(path_); }
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

} // namespace veltrace::bench
