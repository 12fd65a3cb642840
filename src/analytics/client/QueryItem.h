#pragma once

#include <optional>
#include <string>

namespace veltrace {

// One item of a URL query: a name and, optionally, a value ("name" alone when it has none). The texts are
// plain; they are percent-encoded when the URL is built. Plain value type.
struct QueryItem {
    std::string name;
    std::optional<std::string> value;

    friend bool operator==(const QueryItem&, const QueryItem&) = default;
};

} // namespace veltrace
