// The persisted identity of a client instance. Plain value type.
#pragma once

#include <optional>
#include <string>

namespace veltrace {

struct VeltraceIdentity {
    std::string distinctID{};
    std::optional<std::string> peopleDistinctID{};
    std::optional<std::string> anonymousId{};
    std::optional<std::string> userId{};
    std::optional<std::string> alias{};
    std::optional<bool> hadPersistedDistinctId{};

    bool operator==(const VeltraceIdentity&) const = default;
};

} // namespace veltrace
