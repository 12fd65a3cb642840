// The session counters of one client instance, carried by every record it queues: a session id and
// start fixed at creation, and a sequence number per kind of record.
// Thread safety: metadataRecord belongs to the instance's tracking queue (records are built there one
// at a time); the id and start never change after construction.
#pragma once

#include "client/RandomSource.h"
#include "client/VeltraceType.h"

#include <cstdint>
#include <string>

namespace veltrace {

class SessionMetadata {
  public:
    SessionMetadata(std::shared_ptr<RandomSource> random, double startSecondsSince1970);

    const std::string& sessionID() const { return sessionID_; }
    std::uint64_t sessionStartEpoch() const { return sessionStartEpoch_; }
    std::uint64_t eventsCounter() const { return eventsCounter_; }
    std::uint64_t peopleCounter() const { return peopleCounter_; }

    // {"$vt_metadata": {...}} for the next record of its kind; advances that kind's counter. People and
    // group records share one counter.
    RecordMap metadataRecord(bool isEvent);

    // 16 lowercase hexadecimal digits from two random 32-bit numbers.
    static std::string randomId(RandomSource& random);

  private:
    std::shared_ptr<RandomSource> random_;
    std::uint64_t eventsCounter_ = 0;
    std::uint64_t peopleCounter_ = 0;
    std::string sessionID_;
    std::uint64_t sessionStartEpoch_;
};

} // namespace veltrace
