#include "client/People.h"

#include "client/AutomaticProperties.h"
#include "client/ProfileRecord.h"
#include "client/SessionMetadata.h"
#include "client/Track.h"
#include "client/VeltraceInstance.h"
#include "client/VeltracePersistence.h"

namespace veltrace {

People::People(std::string apiToken, std::weak_ptr<VeltraceInstance> instance)
    : apiToken_(std::move(apiToken)), instance_(std::move(instance)) {}

void People::set(PropertyMap properties) {
    addPeopleRecordToQueue("$set", std::move(properties));
}

void People::set(const std::string& property, VeltraceType value) {
    addPeopleRecordToQueue("$set", {{property, std::move(value)}});
}

void People::setOnce(PropertyMap properties) {
    addPeopleRecordToQueue("$set_once", std::move(properties));
}

void People::unset(const std::vector<std::string>& propertyNames) {
    Array names(propertyNames.begin(), propertyNames.end());
    addPeopleRecordToQueue("$unset", {{"$properties", std::move(names)}});
}

void People::increment(PropertyMap properties) {
    addPeopleRecordToQueue("$add", std::move(properties));
}

void People::increment(const std::string& property, VeltraceType by) {
    addPeopleRecordToQueue("$add", {{property, std::move(by)}});
}

void People::append(PropertyMap properties) {
    addPeopleRecordToQueue("$append", std::move(properties));
}

void People::remove(PropertyMap properties) {
    addPeopleRecordToQueue("$remove", std::move(properties));
}

void People::union_(PropertyMap properties) {
    addPeopleRecordToQueue("$union", std::move(properties));
}

void People::trackCharge(double amount, std::optional<PropertyMap> properties) {
    const auto instance = instance_.lock();
    if (!instance)
        return;
    PropertyMap transaction{{"$amount", amount},
                            {"$time", Date{instance->environment().wallClock->secondsSince1970()}}};
    if (properties) {
        for (auto& [key, value] : *properties)
            transaction[key] = std::move(value);
    }
    addPeopleRecordToQueue("$append", {{"$transactions", std::move(transaction)}});
}

void People::clearCharges() {
    addPeopleRecordToQueue("$set", {{"$transactions", Array{}}});
}

void People::deleteUser() {
    addPeopleRecordToQueue("$delete", {});
}

std::optional<std::string> People::distinctId() const {
    const auto instance = instance_.lock();
    return instance ? instance->identity().peopleDistinctID : std::nullopt;
}

void People::addPeopleRecordNow(const std::string& action, PropertyMap properties) {
    if (const auto instance = instance_.lock())
        build(*instance, action, std::move(properties),
              Track::milliseconds(instance->environment().wallClock->secondsSince1970()), ignoreTime());
}

void People::addPeopleRecordToQueue(const std::string& action, PropertyMap properties) {
    const auto instance = instance_.lock();
    if (!instance || !instance->acceptsRecords("addPeopleRecordToQueue"))
        return;
    const double timeMs = Track::milliseconds(instance->environment().wallClock->secondsSince1970());
    instance->submit([weakSelf = weak_from_this(), weakInstance = instance_, action,
                      properties = std::move(properties), timeMs, ignore = ignoreTime()]() mutable {
        const auto self = weakSelf.lock();
        const auto owner = weakInstance.lock();
        if (self && owner)
            self->build(*owner, action, std::move(properties), timeMs, ignore);
    });
}

void People::build(VeltraceInstance& instance, const std::string& action, PropertyMap properties,
                   double timeMs, bool ignoreTime) {
    RecordMap record = ProfileRecord::stamp(apiToken_, timeMs);
    if (ignoreTime)
        record["$ignore_time"] = 1;
    const auto automatic = AutomaticProperties::automaticPeopleProperties();
    if (auto value = ProfileRecord::actionValue(action, std::move(properties), &automatic))
        record[action] = std::move(*value);
    record.merge(instance.sessionMetadata().metadataRecord(false));
    const auto identity = instance.identity();
    if (identity.anonymousId)
        record["$device_id"] = *identity.anonymousId;
    if (identity.userId)
        record["$user_id"] = *identity.userId;
    if (identity.hadPersistedDistinctId)
        record["$had_persisted_distinct_id"] = *identity.hadPersistedDistinctId;
    const bool identified = identity.peopleDistinctID.has_value();
    if (identified)
        record["$distinct_id"] = *identity.peopleDistinctID;
    // Unidentified updates are stored flagged: they wait for identify.
    instance.persistence().saveEntities(PersistenceType::people, {record}, !identified);
}

} // namespace veltrace
