// Event assembly for one client instance: turns a track call into one event record (automatic
// properties, token, time, duration, identity, super properties, the call's properties, session
// metadata) and stores it; keeps the timed-events map it is handed up to date.
// Thread safety: belongs to the instance's tracking queue.
#pragma once

#include "client/SessionMetadata.h"
#include "client/VeltraceIdentity.h"
#include "client/VeltracePersistence.h"
#include "client/VeltraceType.h"

#include <memory>
#include <optional>
#include <string>

namespace veltrace {

class VeltraceInstance;

class Track {
  public:
    Track(std::string instanceName, std::string apiToken, SessionMetadata& metadata,
          VeltracePersistence& persistence, std::weak_ptr<VeltraceInstance> instance);

    // Stores one event record for the call made at epochInterval (seconds since 1970); returns the
    // timed events without the event's entry once it has been used for "$duration".
    RecordMap track(const std::optional<std::string>& event, const std::optional<PropertyMap>& properties,
                    RecordMap timedEvents, const RecordMap& superProperties, const VeltraceIdentity& identity,
                    double epochInterval);
    RecordMap time(const std::string& event, RecordMap timedEvents, double startTime);
    RecordMap clearTimedEvent(const std::string& event, RecordMap timedEvents);

    // Milliseconds since 1970, rounded half away from zero.
    static double milliseconds(double secondsSince1970);

  private:
    std::string instanceName_;
    std::string apiToken_;
    SessionMetadata& metadata_;
    VeltracePersistence& persistence_;
    std::weak_ptr<VeltraceInstance> instance_;
};

} // namespace veltrace
