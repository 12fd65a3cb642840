#pragma once

#include "client/FlushType.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace veltrace {

// What the flush scheduler and the profile objects ask of their client instance. Implementations are
// thread-safe: the timer calls from the main executor, the sender from the network queue.
class FlushDelegate {
  public:
    virtual ~FlushDelegate() = default;

    // Starts a flush cycle; completion (if any) runs on the main executor when it has ended.
    virtual void flush(bool performFullFlush, std::function<void()> completion) = 0;
    // The service accepted the rows with these ids: they may be deleted.
    virtual void flushSuccess(FlushType type, const std::vector<std::int32_t>& ids) = 0;
    // A cycle is done with these rows without their being accepted (failed, held back, or never
    // reached): a later cycle may read them again.
    virtual void flushReleased(FlushType type, const std::vector<std::int32_t>& ids) = 0;
};

// The instance's owner may veto a flush. Thread safety: called on the instance's tracking queue.
class VeltraceDelegate {
  public:
    virtual ~VeltraceDelegate() = default;
    virtual bool willFlush() = 0;
};

} // namespace veltrace
