#pragma once

#include "client/LogLevel.h"

#include <string>
#include <string_view>

namespace veltrace {

// One message as handed to the log destinations. Plain value type.
struct LogMessage {
    std::string file;     // last path component of the calling source file
    std::string function; // the calling operation, e.g. "open()"
    std::string text;
    LogLevel level = LogLevel::debug;

    // The text after the last '/', or the whole path when there is none.
    static std::string_view lastPathComponent(std::string_view path) {
        const auto slash = path.rfind('/');
        return slash == std::string_view::npos ? path : path.substr(slash + 1);
    }
};

} // namespace veltrace
