#include "client/ProfileRecord.h"

namespace veltrace {

std::optional<VeltraceType> ProfileRecord::actionValue(const std::string& action, PropertyMap argument,
                                                       const RecordMap* automaticProperties) {
    if (action == "$unset") {
        const auto names = argument.find("$properties");
        if (names == argument.end())
            return std::nullopt;
        return names->second;
    }
    if ((action == "$set" || action == "$set_once") && automaticProperties) {
        RecordMap merged = *automaticProperties;
        for (auto& [key, value] : argument)
            merged[key] = std::move(value);
        return VeltraceType(std::move(merged));
    }
    return VeltraceType(std::move(argument));
}

RecordMap ProfileRecord::stamp(const std::string& apiToken, double timeMilliseconds) {
    return {{"$token", apiToken}, {"$time", timeMilliseconds}};
}

} // namespace veltrace
