#pragma once

#include <string_view>

namespace veltrace {

// The kinds of queued records; each has a table of its own in the store. Plain value type.
enum class PersistenceType { events, people, groups };

inline constexpr PersistenceType allPersistenceTypes[] = {PersistenceType::events, PersistenceType::people,
                                                          PersistenceType::groups};

// "events", "people" or "groups": the raw value, also used in table and index names.
constexpr std::string_view rawValue(PersistenceType type) {
    switch (type) {
    case PersistenceType::events:
        return "events";
    case PersistenceType::people:
        return "people";
    case PersistenceType::groups:
        return "groups";
    }
    return "";
}

} // namespace veltrace
