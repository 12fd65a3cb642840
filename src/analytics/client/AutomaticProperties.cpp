#include "client/AutomaticProperties.h"

#include "client/DeviceInfo.h"
#include "client/ReadWriteLock.h"

#include <memory>

namespace veltrace {

namespace {

struct Computed {
    RecordMap event;
    RecordMap people;
};

ReadWriteLock& automaticPropertiesLock() {
    static ReadWriteLock lock("automaticPropertiesLock");
    return lock;
}

std::shared_ptr<const Computed> computedMaps; // guarded by automaticPropertiesLock

std::shared_ptr<const Computed> compute() {
    auto maps = std::make_shared<Computed>();
    const auto version = DeviceInfo::applicationVersion();
    const auto build = DeviceInfo::applicationBuildNumber();
    const auto osVersion = DeviceInfo::osVersion();
    const auto model = DeviceInfo::machine();

    auto& event = maps->event;
    if (const auto screen = DeviceInfo::mainScreenSize()) {
        event["$screen_height"] = static_cast<std::int64_t>(screen->height);
        event["$screen_width"] = static_cast<std::int64_t>(screen->width);
    }
    event["$os"] = "Linux";
    event["$os_version"] = osVersion;
    event["$app_build_number"] = build.value_or("Unknown");
    event["$app_version_string"] = version.value_or("Unknown");
    event["vt_lib"] = "cpp";
    event["$lib_version"] = AutomaticProperties::libVersion;
    if (const auto maker = DeviceInfo::manufacturer())
        event["$manufacturer"] = *maker;
    event["$model"] = model;

    auto& people = maps->people;
    if (build)
        people["$ios_app_version"] = *build;
    if (version)
        people["$ios_app_release"] = *version;
    people["$ios_device_model"] = model;
    people["$ios_version"] = osVersion;
    people["$ios_lib_version"] = AutomaticProperties::libVersion;
    people["$cpp_lib_version"] = AutomaticProperties::libVersion;
    return maps;
}

std::shared_ptr<const Computed> current() {
    if (auto maps = automaticPropertiesLock().read([] { return computedMaps; }))
        return maps;
    // Computed outside the lock (it reads files and asks the application); the first to finish wins.
    auto fresh = compute();
    return automaticPropertiesLock().write([&] {
        if (!computedMaps)
            computedMaps = std::move(fresh);
        return computedMaps;
    });
}

} // namespace

RecordMap AutomaticProperties::automaticEventProperties() {
    return current()->event;
}

RecordMap AutomaticProperties::automaticPeopleProperties() {
    return current()->people;
}

void AutomaticProperties::invalidate() {
    automaticPropertiesLock().write([] { computedMaps.reset(); });
}

} // namespace veltrace
