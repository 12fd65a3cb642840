#include "client/Track.h"

#include "client/AutomaticProperties.h"
#include "client/Logger.h"
#include "client/VeltraceInstance.h"

#include <charconv>
#include <cmath>

namespace veltrace {

namespace {

// The elapsed seconds at millisecond precision, as "%.3f" written and read back would give; nothing
// when the value has no such form (not finite).
std::optional<double> roundedToMilliseconds(double seconds) {
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 3);
    if (written.ec != std::errc())
        return std::nullopt;
    double value = 0;
    const auto read = std::from_chars(text, written.ptr, value);
    if (read.ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

Track::Track(std::string instanceName, std::string apiToken, SessionMetadata& metadata,
             VeltracePersistence& persistence, std::weak_ptr<VeltraceInstance> instance)
    : instanceName_(std::move(instanceName)), apiToken_(std::move(apiToken)), metadata_(metadata),
      persistence_(persistence), instance_(std::move(instance)) {}

double Track::milliseconds(double secondsSince1970) {
    return std::round(secondsSince1970 * 1000.0);
}

RecordMap Track::track(const std::optional<std::string>& event, const std::optional<PropertyMap>& properties,
                       RecordMap timedEvents, const RecordMap& superProperties,
                       const VeltraceIdentity& identity, double epochInterval) {
    std::string name;
    if (event) {
        name = *event;
    } else {
        Logger::info("veltrace track called with empty event parameter. using 'vt_event'",
                     "track(event:properties:)");
        name = "vt_event";
    }
    if (name.starts_with("$ae_")) {
        const auto instance = instance_.lock();
        if (!instance || !instance->trackAutomaticEventsEnabled())
            return timedEvents;
    }

    std::optional<double> startTime;
    const auto timed = timedEvents.find(name);
    const bool consumesTimedEvent = timed != timedEvents.end();
    if (consumesTimedEvent) {
        if (const auto* start = timed->second.get<double>())
            startTime = *start;
        timedEvents.erase(timed);
    }

    RecordMap merged = AutomaticProperties::automaticEventProperties();
    merged["token"] = apiToken_;
    merged["time"] = milliseconds(epochInterval);
    if (startTime) {
        if (const auto duration = roundedToMilliseconds(epochInterval - *startTime))
            merged["$duration"] = *duration;
    }
    merged["distinct_id"] = identity.distinctID;
    if (identity.anonymousId)
        merged["$device_id"] = *identity.anonymousId;
    if (identity.userId)
        merged["$user_id"] = *identity.userId;
    if (identity.hadPersistedDistinctId)
        merged["$had_persisted_distinct_id"] = *identity.hadPersistedDistinctId;
    for (const auto& [key, value] : superProperties)
        merged[key] = value;
    if (properties) {
        for (const auto& [key, value] : *properties)
            merged[key] = value;
    }

    std::vector<RecordMap> records(1);
    records[0] = RecordMap{{"event", std::move(name)}, {"properties", std::move(merged)}};
    records[0].merge(metadata_.metadataRecord(true));
    persistence_.saveEntities(PersistenceType::events, records, false);
    // Unchanged timed events are already stored as they are; rewriting the suite for every event would
    // cost more than storing the event itself.
    if (consumesTimedEvent)
        VeltracePersistence::saveTimedEvents(timedEvents, instanceName_);
    return timedEvents;
}

RecordMap Track::time(const std::string& event, RecordMap timedEvents, double startTime) {
    if (const auto instance = instance_.lock(); instance && instance->hasOptedOutTracking())
        return timedEvents;
    if (event.empty()) {
        Logger::error("veltrace cannot time an empty event", "time(event:timedEvents:startTime:)");
        return timedEvents;
    }
    timedEvents[event] = startTime;
    return timedEvents;
}

RecordMap Track::clearTimedEvent(const std::string& event, RecordMap timedEvents) {
    if (event.empty()) {
        Logger::error("veltrace cannot clear an empty timed event", "clearTimedEvent(event:timedEvents:)");
        return timedEvents;
    }
    timedEvents.erase(event);
    return timedEvents;
}

} // namespace veltrace
