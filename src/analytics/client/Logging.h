#pragma once

#include "client/LogMessage.h"

namespace veltrace {

// A log destination. The logger delivers one message at a time to all destinations (never concurrently),
// so implementations need no locking of their own; addMessage must not log.
class Logging {
  public:
    virtual ~Logging() = default;
    virtual void addMessage(const LogMessage& message) = 0;
};

} // namespace veltrace
