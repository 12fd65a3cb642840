// The process-wide registry of client instances, by name, and the main instance.
// Thread safety: every operation may be called from any thread; the registry is guarded by
// "com.veltrace.instance.manager.lock" and creation is serialised on its own queue, so threads racing
// to create the same instance get one.
#pragma once

#include "client/ReadWriteLock.h"
#include "client/SerialQueue.h"
#include "client/VeltraceInstance.h"

#include <map>
#include <memory>
#include <string>

namespace veltrace {

class VeltraceManager {
  public:
    static VeltraceManager& shared();

    // The instance registered under the options' name (the token when none); made and registered when
    // there is none, the other options then ignored. Either way it becomes the main instance.
    std::shared_ptr<VeltraceInstance> initialize(VeltraceInstance::Options options);
    std::shared_ptr<VeltraceInstance> mainInstance() const;
    std::shared_ptr<VeltraceInstance> getInstance(const std::string& name) const;
    void setMainInstance(const std::string& name);
    void removeInstance(const std::string& name);

  private:
    VeltraceManager();

    std::map<std::string, std::shared_ptr<VeltraceInstance>> instances_; // guarded by readWriteLock_
    std::shared_ptr<VeltraceInstance> mainInstance_;                     // guarded by readWriteLock_
    mutable ReadWriteLock readWriteLock_{"com.veltrace.instance.manager.lock"};
    SerialQueue instanceQueue_{"com.veltrace.instance.manager.instance"};
};

} // namespace veltrace
