#pragma once

#include <string_view>

namespace veltrace {

// The method of a request to the analytics service. Plain value type.
enum class RequestMethod { get, post };

// The lower-case name the service's interface uses. On the wire the standard upper-case token is sent
// (HTTP methods are case-sensitive, and servers refuse "post").
constexpr std::string_view rawValue(RequestMethod method) {
    return method == RequestMethod::post ? "post" : "get";
}

} // namespace veltrace
