#include "client/Flush.h"

#include "client/Logger.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace veltrace {

namespace {
constexpr const char* batchesFunction = "flushQueueInBatches(_:type:headers:queryItems:)";
}

Flush::Flush(std::string serverURL, std::shared_ptr<BatchSender> sender)
    : sender_(std::move(sender)), serverURL_(std::move(serverURL)) {
    sender_->setServerURL(serverURL_);
}

Flush::~Flush() {
    // A timer holds only a weak reference; cancelling stops its ticks from even looking.
    if (timer_ != 0)
        MainExecutor::shared()->cancelTimer(timer_);
}

void Flush::setDelegate(std::weak_ptr<FlushDelegate> delegate) {
    flushRequestReadWriteLock_.write([&] { delegate_ = std::move(delegate); });
}

std::shared_ptr<FlushDelegate> Flush::delegate() const {
    return flushRequestReadWriteLock_.read([&] { return delegate_.lock(); });
}

double Flush::flushInterval() const {
    return flushRequestReadWriteLock_.read([&] { return flushInterval_; });
}

void Flush::setFlushInterval(double seconds) {
    flushRequestReadWriteLock_.write([&] { flushInterval_ = std::isfinite(seconds) ? seconds : 0; });
    requestFlush();
    startFlushTimer();
}

void Flush::setFlushBatchSize(std::int64_t size) {
    flushBatchSize_.store(std::clamp<std::int64_t>(size, 1, maxBatchSize));
}

std::string Flush::serverURL() const {
    return flushRequestReadWriteLock_.read([&] { return serverURL_; });
}

void Flush::setServerURL(std::string serverURL) {
    flushRequestReadWriteLock_.write([&] {
        serverURL_ = serverURL;
        sender_->setServerURL(std::move(serverURL));
    });
}

void Flush::requestFlush() {
    if (auto target = delegate())
        target->flush(false, {});
}

void Flush::startFlushTimer() {
    stopFlushTimer();
    MainExecutor::shared()->post([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self)
            return;
        const double interval = self->flushInterval();
        if (interval <= 0)
            return;
        auto executor = MainExecutor::shared();
        if (self->timer_ != 0)
            executor->cancelTimer(self->timer_);
        const auto period =
            std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(interval));
        self->timer_ = executor->startRepeatingTimer(period, [weak] {
            if (auto flush = weak.lock())
                flush->requestFlush();
        });
    });
}

void Flush::stopFlushTimer() {
    // Queued even when no timer exists yet, so that it is ordered after a start that is still queued.
    MainExecutor::shared()->post([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self || self->timer_ == 0)
            return;
        MainExecutor::shared()->cancelTimer(std::exchange(self->timer_, 0));
    });
}

void Flush::applicationDidBecomeActive() {
    startFlushTimer();
}

void Flush::applicationWillResignActive() {
    stopFlushTimer();
    if (flushOnBackground())
        requestFlush();
}

void Flush::release(FlushType type, const std::vector<QueuedRecord>& records, size_t from) {
    if (from >= records.size())
        return;
    std::vector<std::int32_t> ids;
    for (size_t i = from; i < records.size(); ++i)
        ids.push_back(records[i].id);
    if (auto target = delegate())
        target->flushReleased(type, ids);
}

void Flush::flushQueue(const std::vector<QueuedRecord>& records, FlushType type, const HeaderFields& headers,
                       const QueryItems& queryItems) {
    if (sender_->requestNotAllowed()) {
        release(type, records, 0);
        return;
    }
    flushQueueInBatches(records, type, headers, queryItems);
}

void Flush::flushQueueInBatches(const std::vector<QueuedRecord>& records, FlushType type,
                                const HeaderFields& headers, const QueryItems& queryItems) {
    size_t start = 0;
    while (start < records.size()) {
        const auto size = std::min<size_t>(records.size() - start, static_cast<size_t>(flushBatchSize()));
        // The records are already JSON: the batch is their array.
        std::string body = "[";
        std::vector<std::int32_t> ids;
        ids.reserve(size);
        for (size_t i = start; i < start + size; ++i) {
            if (i > start)
                body += ',';
            body += records[i].json;
            ids.push_back(records[i].id);
        }
        body += ']';
        Logger::debug("Sending batch of data", batchesFunction);
        Logger::debug(body, batchesFunction);
        if (!sender_->sendRequest(body, type, useIPAddressForGeoLocation(), headers, queryItems)) {
            release(type, records, start);
            return;
        }
        if (auto target = delegate())
            target->flushSuccess(type, ids);
        start += size;
    }
}

} // namespace veltrace
