#pragma once

#include "client/HTTPHeaderFields.h"
#include "client/QueryItem.h"
#include "client/RequestMethod.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrace {

// What to ask of the service and how to read its answer: the endpoint path (appended to the server
// address's own path), method, body, query items in order, header fields, and the parser that turns an
// answer's body into the result (none: the body is unusable). Plain value type.
template <class Result> struct Resource {
    std::string path;
    RequestMethod method = RequestMethod::get;
    std::optional<std::string> requestBody;
    std::optional<std::vector<QueryItem>> queryItems;
    HTTPHeaderFields headers;
    std::function<std::optional<Result>(std::string_view body)> parse;
};

} // namespace veltrace
