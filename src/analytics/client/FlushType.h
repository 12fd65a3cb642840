#pragma once

#include "client/PersistenceType.h"

#include <string_view>

namespace veltrace {

// The kinds of batches a flush sends, in the order a flush cycle sends them; each has the record
// queue of the same name and an endpoint of its own. Plain value type.
enum class FlushType { events, people, groups };

inline constexpr FlushType allFlushTypes[] = {FlushType::events, FlushType::people, FlushType::groups};

constexpr PersistenceType persistenceType(FlushType type) {
    switch (type) {
    case FlushType::events:
        return PersistenceType::events;
    case FlushType::people:
        return PersistenceType::people;
    case FlushType::groups:
        return PersistenceType::groups;
    }
    return PersistenceType::events;
}

// The path appended to the server address for a batch of this kind.
constexpr std::string_view endpointPath(FlushType type) {
    switch (type) {
    case FlushType::events:
        return "/track/";
    case FlushType::people:
        return "/engage/";
    case FlushType::groups:
        return "/groups/";
    }
    return "";
}

} // namespace veltrace
