#include "client/Veltrace.h"

#include "client/VeltraceManager.h"

namespace veltrace {

std::shared_ptr<VeltraceInstance> Veltrace::initialize(const std::string& token, InitializeOptions options) {
    VeltraceInstance::Options instance;
    instance.token = token;
    instance.name = options.instanceName.value_or(token);
    instance.flushInterval = options.flushInterval;
    instance.optOutTrackingByDefault = options.optOutTrackingByDefault;
    instance.useUniqueDistinctId = options.useUniqueDistinctId;
    instance.superProperties = std::move(options.superProperties);
    instance.serverURL = std::move(options.serverURL);
    instance.trackAutomaticEvents = false;
    instance.environment = std::move(options.environment);
    instance.sender = std::move(options.sender);
    return VeltraceManager::shared().initialize(std::move(instance));
}

std::shared_ptr<VeltraceInstance> Veltrace::mainInstance() {
    if (auto main = VeltraceManager::shared().mainInstance())
        return main;
    return initialize("");
}

std::shared_ptr<VeltraceInstance> Veltrace::getInstance(const std::string& name) {
    return VeltraceManager::shared().getInstance(name);
}

void Veltrace::setMainInstance(const std::string& name) {
    VeltraceManager::shared().setMainInstance(name);
}

void Veltrace::removeInstance(const std::string& name) {
    VeltraceManager::shared().removeInstance(name);
}

} // namespace veltrace
