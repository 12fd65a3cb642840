// Test helper: puts the whole process into a locale and a time zone for the life of the object, as a
// host application may do behind the client's back. The locale is compiled into a temporary folder
// with localedef, since the machine may carry only the C locales.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include <unistd.h>

namespace veltrace::test {

class ScopedLocale {
  public:
    // `name` is "<locale source>.<charmap>", for example "de_DE.ISO-8859-1".
    ScopedLocale(const std::string& name, const char* timeZone)
        : dir_(std::filesystem::temp_directory_path() / ("veltrace-locale-" + std::to_string(::getpid()))) {
        const auto dot = name.find('.');
        std::filesystem::create_directories(dir_);
        const std::string command = "localedef -i " + name.substr(0, dot) + " -f " + name.substr(dot + 1) +
                                    " " + (dir_ / name).string() + " >/dev/null 2>&1";
        if (const char* tz = std::getenv("TZ"))
            oldTz_ = tz;
        ::setenv("TZ", timeZone, 1);
        ::tzset();
        if (std::system(command.c_str()) != 0)
            return;
        ::setenv("LOCPATH", dir_.c_str(), 1);
        active_ = std::setlocale(LC_ALL, name.c_str()) != nullptr;
        EXPECT_TRUE(active_) << "localedef built " << name << " but setlocale refused it";
    }

    ~ScopedLocale() {
        std::setlocale(LC_ALL, "C");
        ::unsetenv("LOCPATH");
        if (oldTz_)
            ::setenv("TZ", oldTz_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

    // False when the locale could not be built; only the time zone is changed then.
    bool active() const { return active_; }

    static std::string decimalPoint() { return std::localeconv()->decimal_point; }

  private:
    std::filesystem::path dir_;
    std::optional<std::string> oldTz_;
    bool active_ = false;
};

} // namespace veltrace::test
