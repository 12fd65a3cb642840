#pragma once

#include "client/QueryItem.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veltrace {

// Extra query items and header fields that a proxy delegate supplies for every request of an instance
// (for a collector that fronts the service). Plain value type.
struct ServerProxyResource {
    std::optional<std::vector<QueryItem>> queryItems;
    std::map<std::string, std::string> headers;
};

} // namespace veltrace
