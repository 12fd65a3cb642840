// The delivery settings of a client instance and its flush timer: every interval the timer, on the
// main executor, asks the instance (the delegate) for a flush cycle; the cycle hands each kind's records
// to flushQueue, which sends them in batches and reports what the service accepted.
// Thread safety: every operation may be called from any thread; the interval and server address are
// guarded by "com.veltrace.flush_interval.lock", the other settings are atomic, the timer is touched only
// on the main executor; flushQueue belongs to the instance's network queue.
#pragma once

#include "client/BatchSender.h"
#include "client/FlushDelegate.h"
#include "client/MainExecutor.h"
#include "client/QueuedRecord.h"
#include "client/ReadWriteLock.h"
#include "client/VeltraceType.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veltrace {

class Flush : public std::enable_shared_from_this<Flush> {
  public:
    static constexpr std::int64_t maxBatchSize = 50;

    Flush(std::string serverURL, std::shared_ptr<BatchSender> sender);
    ~Flush();
    Flush(const Flush&) = delete;
    Flush& operator=(const Flush&) = delete;

    void setDelegate(std::weak_ptr<FlushDelegate> delegate);

    // Setting the interval flushes once and restarts the timer with the new period (none at 0 or less).
    double flushInterval() const;
    void setFlushInterval(double seconds);
    // At most maxBatchSize, at least 1.
    std::int64_t flushBatchSize() const { return flushBatchSize_.load(); }
    void setFlushBatchSize(std::int64_t size);
    std::string serverURL() const;
    void setServerURL(std::string serverURL);
    bool useIPAddressForGeoLocation() const { return useIPAddressForGeoLocation_.load(); }
    void setUseIPAddressForGeoLocation(bool value) { useIPAddressForGeoLocation_.store(value); }
    bool flushOnBackground() const { return flushOnBackground_.load(); }
    void setFlushOnBackground(bool value) { flushOnBackground_.store(value); }

    void startFlushTimer();
    void stopFlushTimer();
    // The application became active / is about to stop being active.
    void applicationDidBecomeActive();
    void applicationWillResignActive();

    BatchSender& sender() { return *sender_; }

    // Sends the records oldest first in batches, unless the back-off forbids it; stops at the first batch
    // the service did not accept. Every record is either reported delivered (flushSuccess) or released
    // (flushReleased) before this returns.
    void flushQueue(const std::vector<QueuedRecord>& records, FlushType type, const HeaderFields& headers,
                    const QueryItems& queryItems);

  private:
    void flushQueueInBatches(const std::vector<QueuedRecord>& records, FlushType type,
                             const HeaderFields& headers, const QueryItems& queryItems);
    void release(FlushType type, const std::vector<QueuedRecord>& records, size_t from);
    void requestFlush();
    std::shared_ptr<FlushDelegate> delegate() const;

    std::shared_ptr<BatchSender> sender_;
    mutable ReadWriteLock flushRequestReadWriteLock_{"com.veltrace.flush_interval.lock"};
    double flushInterval_ = 0;              // guarded by flushRequestReadWriteLock_
    std::string serverURL_;                 // guarded by flushRequestReadWriteLock_
    std::weak_ptr<FlushDelegate> delegate_; // guarded by flushRequestReadWriteLock_
    std::atomic<std::int64_t> flushBatchSize_{maxBatchSize};
    std::atomic<bool> useIPAddressForGeoLocation_{true};
    std::atomic<bool> flushOnBackground_{true};
    MainExecutor::TimerId timer_ = 0; // main executor only
};

} // namespace veltrace
