// The device and application properties the client adds to every event and to every people "$set"
// and "$set_once": computed on first use and kept for the process, recomputed only when the
// application changes what it reports (DeviceInfo's setters).
// Thread safety: every operation may be called from any thread (guarded by automaticPropertiesLock).
#pragma once

#include "client/VeltraceType.h"

namespace veltrace {

class AutomaticProperties {
  public:
    AutomaticProperties() = delete;

    static constexpr const char* libVersion = "1.0.0";

    static RecordMap automaticEventProperties();
    static RecordMap automaticPeopleProperties();
    // Drops the computed maps; the next read computes them again.
    static void invalidate();
};

} // namespace veltrace
