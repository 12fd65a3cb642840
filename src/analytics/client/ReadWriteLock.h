#pragma once

#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>

namespace veltrace {

// Reader-writer lock: any number of read bodies at once, write bodies alone. Thread-safe; not re-entrant
// (a body must not enter write on the same lock, and a write body must not read it either).
class ReadWriteLock {
  public:
    explicit ReadWriteLock(std::string label) : label_(std::move(label)) {}
    ReadWriteLock(const ReadWriteLock&) = delete;
    ReadWriteLock& operator=(const ReadWriteLock&) = delete;

    const std::string& label() const { return label_; }

    // Runs body while sharing the lock with other readers; returns its result.
    template <class Body> decltype(auto) read(Body&& body) const {
        std::shared_lock lock(mutex_);
        return std::forward<Body>(body)();
    }

    // Runs body with the lock held exclusively; returns its result.
    template <class Body> decltype(auto) write(Body&& body) {
        std::unique_lock lock(mutex_);
        return std::forward<Body>(body)();
    }

  private:
    std::string label_;
    mutable std::shared_mutex mutex_;
};

} // namespace veltrace
