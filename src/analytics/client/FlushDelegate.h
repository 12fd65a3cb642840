#pragma once

#include "client/FlushType.h"
#include "client/ServerProxyResource.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
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

// Supplies extra header fields and query items for every request of an instance, for a collector that
// fronts the service. Thread safety: called on the instance's network queue.
class VeltraceProxyServerDelegate {
  public:
    virtual ~VeltraceProxyServerDelegate() = default;
    virtual std::optional<ServerProxyResource> proxyResource(const std::string& instanceName) = 0;
};

} // namespace veltrace
