// Test helper: a client instance over real SQLite files in a temporary XDG home, with a wall clock and
// random source the test controls, and ways to wait for its queues and read what it stored.
#pragma once

#include "HeldBackSender.h"
#include "TempXdgHome.h"

#include "client/Flush.h"
#include "client/Group.h"
#include "client/People.h"
#include "client/RandomSource.h"
#include "client/Veltrace.h"
#include "client/VeltraceInstance.h"
#include "client/VeltracePersistence.h"
#include "client/WallClock.h"

#include <future>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace veltrace::test {

inline constexpr const char* testToken = "0123456789abcdef0123456789abcdef";

class InstanceRig {
  public:
    InstanceRig() { environment.wallClock = wall; }

    // A fresh instance (not registered) over this rig's files, with the flush timer off. Replaces the
    // rig's instance: a second make over the same files is a restart.
    std::shared_ptr<VeltraceInstance> make(VeltraceInstance::Options options = {}) {
        if (options.token.empty())
            options.token = testToken;
        options.environment = environment;
        options.flushInterval = 0;
        if (!options.sender)
            options.sender = std::make_shared<HeldBackSender>();
        instance.reset();
        instance = VeltraceInstance::create(std::move(options));
        return instance;
    }

    // Waits until everything queued so far on the tracking queue (and what that queued) has run.
    void drain() {
        for (int round = 0; round < 3; ++round)
            instance->trackingQueue().sync([] {});
    }
    void drainNetwork() {
        drain();
        instance->networkQueue().sync([] {});
        drain();
    }

    // The stored rows of a kind with the given flag, oldest first, as the store holds them.
    std::vector<RecordMap> rows(PersistenceType type, bool flag = false) {
        drain();
        return instance->trackingQueue().sync(
            [&] { return instance->persistence().vtdb().readRows(type, VTDB::noLimit, flag); });
    }
    std::vector<RecordMap> events() { return rows(PersistenceType::events); }

    // Runs a completion-taking operation and waits for its completion on the main executor.
    template <class Operation> void await(Operation operation) {
        std::promise<void> done;
        operation([&] { done.set_value(); });
        done.get_future().wait();
    }

    TempXdgHome home;
    std::shared_ptr<ManualWallClock> wall = std::make_shared<ManualWallClock>(1'700'000'000.25);
    ClientEnvironment environment;
    std::shared_ptr<VeltraceInstance> instance;
};

// The map under key in a record, or an empty map.
inline RecordMap mapAt(const RecordMap& record, const std::string& key) {
    const auto found = record.find(key);
    return found != record.end() && found->second.dictionary() ? *found->second.dictionary() : RecordMap{};
}

inline RecordMap propertiesOf(const RecordMap& event) {
    return mapAt(event, "properties");
}

// A stored number of any kind, as a double (JSON does not keep the kind).
inline double number(const VeltraceType& value) {
    if (const auto* v = value.get<double>())
        return *v;
    if (const auto* v = value.get<std::int64_t>())
        return static_cast<double>(*v);
    if (const auto* v = value.get<std::uint64_t>())
        return static_cast<double>(*v);
    return std::numeric_limits<double>::quiet_NaN();
}

inline std::string text(const RecordMap& record, const std::string& key) {
    const auto found = record.find(key);
    return found != record.end() && found->second.string() ? *found->second.string() : std::string("<none>");
}

// Values compared as the client compares them.
inline bool same(const VeltraceType& a, const VeltraceType& b) {
    return a.valueEquals(b);
}

inline InitializeOptions withoutTimer() {
    InitializeOptions options;
    options.flushInterval = 0;
    options.sender = std::make_shared<HeldBackSender>();
    return options;
}

inline bool has(const RecordMap& record, const std::string& key) {
    return record.count(key) != 0;
}

} // namespace veltrace::test
