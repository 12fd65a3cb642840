#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

// Bounded polling on a condition that offers nothing to block on (an X property, a screen pixel):
// checks it at once, then every `interval`, until it holds or `timeout` has passed. Returns whether it held.
template <typename Predicate>
bool pollUntil(Predicate&& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval = std::chrono::milliseconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
}

} // namespace testsupport
