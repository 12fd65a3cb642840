#pragma once

#include <cstdint>
#include <string>

namespace veltrace {

// A stored record on its way to the service: its row id, and the record as compact JSON with that id
// under "id", ready to go into a batch as it is. Plain value type.
struct QueuedRecord {
    std::int32_t id = 0;
    std::string json;
};

} // namespace veltrace
