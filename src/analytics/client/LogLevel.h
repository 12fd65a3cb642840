#pragma once

#include <string_view>

namespace veltrace {

// The four levels of the client logger, in increasing severity. Plain value type.
enum class LogLevel { debug, info, warning, error };

// The level's text as it appears in log lines: "debug", "info", "warning", "error".
constexpr std::string_view rawValue(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return "debug";
    case LogLevel::info:
        return "info";
    case LogLevel::warning:
        return "warning";
    case LogLevel::error:
        return "error";
    }
    return "";
}

} // namespace veltrace
