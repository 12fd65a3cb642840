// What people and group records share: the action's value and the stamp of the call.
// Thread safety: stateless.
#pragma once

#include "client/VeltraceType.h"

#include <optional>
#include <string>

namespace veltrace {

class ProfileRecord {
  public:
    ProfileRecord() = delete;

    // The value stored under the action: for "$unset" the names under "$properties" (nothing when there
    // are none), for "$set" and "$set_once" the argument over the automatic properties, otherwise the
    // argument itself.
    static std::optional<VeltraceType> actionValue(const std::string& action, PropertyMap argument,
                                                   const RecordMap* automaticProperties);
    // {"$token": token, "$time": the call's milliseconds}.
    static RecordMap stamp(const std::string& apiToken, double timeMilliseconds);
};

} // namespace veltrace
