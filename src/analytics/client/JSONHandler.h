// JSON encoding of property values and records.
// Thread safety: stateless; every operation may be called from any thread.
#pragma once

#include "client/VeltraceType.h"

#include <optional>
#include <string>
#include <string_view>

namespace veltrace {

class JSONHandler {
  public:
    JSONHandler() = delete;

    // Turns any value into a tree of strings, numbers, booleans, nulls, arrays and string-keyed
    // dictionaries: booleans stay booleans, non-finite numbers and values without a JSON form become
    // strings, dates become UTC timestamps, URLs their absolute string, empty optionals null (and are
    // dropped from arrays). Never fails.
    static VeltraceType makeObjectSerializable(const VeltraceType& value);

    // Compact JSON of the converted value; nothing when it is not an array or dictionary. Elements of
    // a top-level array that are not arrays or dictionaries are dropped.
    static std::optional<Bytes> serializeJSONObject(const VeltraceType& value);

    // The same JSON as text, for request bodies.
    static std::optional<std::string> encodeAPIData(const VeltraceType& value);

    // Parses JSON whose top level is an array or object; nothing for anything else.
    static std::optional<VeltraceType> deserializeData(std::string_view bytes);

    // Nesting deeper than this is refused when reading, so that hostile or corrupt bytes cannot
    // exhaust the stack.
    static constexpr int maxReadDepth = 512;
};

} // namespace veltrace
