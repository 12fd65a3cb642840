#pragma once

#include "client/HTTPHeaderFields.h"

namespace veltrace {

// The status line and header fields of an HTTP answer (its body travels beside it). Plain value type.
struct HTTPResponse {
    long statusCode = 0;
    HTTPHeaderFields headers;
};

} // namespace veltrace
