#include "client/VeltraceManager.h"

#include "client/Logger.h"
#include "client/PrintLogging.h"

namespace veltrace {

VeltraceManager& VeltraceManager::shared() {
    // Never destroyed: instances may be used until the very end of the process.
    static auto* manager = new VeltraceManager();
    return *manager;
}

VeltraceManager::VeltraceManager() {
    Logger::addLogging(std::make_shared<PrintLogging>());
}

std::shared_ptr<VeltraceInstance> VeltraceManager::initialize(VeltraceInstance::Options options) {
    return instanceQueue_.sync([&] {
        const std::string name = options.name.empty() ? options.token : options.name;
        auto existing = readWriteLock_.read([&]() -> std::shared_ptr<VeltraceInstance> {
            const auto found = instances_.find(name);
            return found == instances_.end() ? nullptr : found->second;
        });
        if (existing) {
            readWriteLock_.write([&] { mainInstance_ = existing; });
            return existing;
        }
        options.name = name;
        auto created = VeltraceInstance::create(std::move(options));
        readWriteLock_.write([&] {
            instances_[name] = created;
            mainInstance_ = created;
        });
        return created;
    });
}

std::shared_ptr<VeltraceInstance> VeltraceManager::mainInstance() const {
    return readWriteLock_.read([&] { return mainInstance_; });
}

std::shared_ptr<VeltraceInstance> VeltraceManager::getInstance(const std::string& name) const {
    auto found = readWriteLock_.read([&]() -> std::shared_ptr<VeltraceInstance> {
        const auto entry = instances_.find(name);
        return entry == instances_.end() ? nullptr : entry->second;
    });
    if (!found)
        Logger::warning("no such instance: " + name, "getInstance(name:)");
    return found;
}

void VeltraceManager::setMainInstance(const std::string& name) {
    readWriteLock_.write([&] {
        if (const auto found = instances_.find(name); found != instances_.end())
            mainInstance_ = found->second;
    });
}

void VeltraceManager::removeInstance(const std::string& name) {
    std::shared_ptr<VeltraceInstance> removed;
    readWriteLock_.write([&] {
        const auto found = instances_.find(name);
        if (found == instances_.end())
            return;
        if (mainInstance_ == found->second)
            mainInstance_.reset();
        removed = std::move(found->second);
        instances_.erase(found);
    });
    // Released outside the lock: the instance's shutdown may take a moment.
}

} // namespace veltrace
