#include "client/SessionMetadata.h"

#include <cmath>
#include <cstdio>

namespace veltrace {

SessionMetadata::SessionMetadata(std::shared_ptr<RandomSource> random, double startSecondsSince1970)
    : random_(std::move(random)), sessionID_(randomId(*random_)),
      sessionStartEpoch_(
          startSecondsSince1970 > 0 ? static_cast<std::uint64_t>(std::floor(startSecondsSince1970)) : 0) {}

std::string SessionMetadata::randomId(RandomSource& random) {
    const auto high = random.next();
    const auto low = random.next();
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", high, low);
    return text;
}

RecordMap SessionMetadata::metadataRecord(bool isEvent) {
    auto& counter = isEvent ? eventsCounter_ : peopleCounter_;
    RecordMap metadata{
        {"$vt_event_id", randomId(*random_)},
        {"$vt_session_id", sessionID_},
        {"$vt_session_seq_id", counter},
        {"$vt_session_start_sec", sessionStartEpoch_},
    };
    ++counter;
    return {{"$vt_metadata", std::move(metadata)}};
}

} // namespace veltrace
