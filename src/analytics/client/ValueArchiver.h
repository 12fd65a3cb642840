// Archives of value trees: tagged JSON in which every value records its kind, so that integers,
// unsigned integers, floats, doubles (also infinite or NaN), dates, URLs, nulls and optionals come back
// exactly as they went in. Used for the maps kept in the user-defaults suite and for legacy files.
// Thread safety: stateless; every operation may be called from any thread.
#pragma once

#include "client/VeltraceType.h"

#include <optional>
#include <string_view>

namespace veltrace {

class ValueArchiver {
  public:
    ValueArchiver() = delete;

    // Nothing when the tree holds a value outside the property kinds, which has no archived form.
    static std::optional<Bytes> archive(const VeltraceType& root);

    // Nothing for bytes that are not an archive of this format (or nest deeper than the JSON reader
    // allows).
    static std::optional<VeltraceType> unarchive(std::string_view bytes);
};

} // namespace veltrace
