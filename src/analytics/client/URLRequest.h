#pragma once

#include "client/HTTPHeaderFields.h"
#include "client/RequestMethod.h"

#include <chrono>
#include <optional>
#include <string>

namespace veltrace {

// One HTTP request, ready for a URLSession: the absolute URL (percent-encoded), the method, the body, the
// header fields and the time the whole transfer may take. Plain value type.
struct URLRequest {
    std::string url;
    RequestMethod method = RequestMethod::get;
    std::optional<std::string> body;
    HTTPHeaderFields headers;
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
};

} // namespace veltrace
