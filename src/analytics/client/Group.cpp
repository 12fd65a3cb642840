#include "client/Group.h"

#include "client/ProfileRecord.h"
#include "client/SessionMetadata.h"
#include "client/Track.h"
#include "client/VeltraceInstance.h"
#include "client/VeltracePersistence.h"

namespace veltrace {

Group::Group(std::string apiToken, std::string groupKey, VeltraceType groupID,
             std::weak_ptr<VeltraceInstance> instance)
    : apiToken_(std::move(apiToken)), groupKey_(std::move(groupKey)), groupID_(std::move(groupID)),
      instance_(std::move(instance)) {}

void Group::set(PropertyMap properties) {
    addGroupRecordToQueue("$set", std::move(properties));
}

void Group::set(const std::string& property, VeltraceType value) {
    addGroupRecordToQueue("$set", {{property, std::move(value)}});
}

void Group::setOnce(PropertyMap properties) {
    addGroupRecordToQueue("$set_once", std::move(properties));
}

void Group::unset(const std::string& property) {
    addGroupRecordToQueue("$unset", {{"$properties", Array{VeltraceType(property)}}});
}

void Group::remove(const std::string& key, VeltraceType value) {
    addGroupRecordToQueue("$remove", {{key, std::move(value)}});
}

void Group::union_(const std::string& key, Array values) {
    addGroupRecordToQueue("$union", {{key, std::move(values)}});
}

void Group::deleteGroup() {
    addGroupRecordToQueue("$delete", {});
    if (const auto instance = instance_.lock())
        instance->removeCachedGroup(groupKey_, groupID_);
}

void Group::addGroupRecordToQueue(const std::string& action, PropertyMap properties) {
    const auto instance = instance_.lock();
    if (!instance || !instance->acceptsRecords("addGroupRecordToQueue"))
        return;
    const double timeMs = Track::milliseconds(instance->environment().wallClock->secondsSince1970());
    // Copies, not this object: deleteGroup drops it from the cache before its record is built.
    instance->submit([weakInstance = instance_, token = apiToken_, key = groupKey_, id = groupID_, action,
                      properties = std::move(properties), timeMs]() mutable {
        const auto owner = weakInstance.lock();
        if (!owner)
            return;
        RecordMap record = ProfileRecord::stamp(token, timeMs);
        if (auto value = ProfileRecord::actionValue(action, std::move(properties), nullptr))
            record[action] = std::move(*value);
        record["$group_key"] = std::move(key);
        record["$group_id"] = std::move(id);
        record.merge(owner->sessionMetadata().metadataRecord(false));
        owner->persistence().saveEntities(PersistenceType::groups, {record}, false);
    });
}

} // namespace veltrace
