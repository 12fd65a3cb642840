// The entry to the analytics client: makes instances, keeps them by name, and hands out the main one.
//
//   auto instance = veltrace::Veltrace::initialize("0123456789abcdef0123456789abcdef");
//   veltrace::Veltrace::mainInstance()->track("app launched");
//
// Thread safety: every operation may be called from any thread.
#pragma once

#include "client/Group.h"
#include "client/People.h"
#include "client/VeltraceInstance.h"

#include <memory>
#include <optional>
#include <string>

namespace veltrace {

// The arguments of Veltrace::initialize beside the token, with their defaults.
struct InitializeOptions {
    double flushInterval = 60;
    std::optional<std::string> instanceName;
    bool optOutTrackingByDefault = false;
    bool useUniqueDistinctId = false;
    std::optional<PropertyMap> superProperties;
    std::optional<std::string> serverURL;
    ClientEnvironment environment;
    std::shared_ptr<BatchSender> sender;
};

class Veltrace {
  public:
    Veltrace() = delete;

    // The instance registered under the name (or the token when no name is given), made when there is
    // none; it becomes the main instance. Instances made here do not track automatic ("$ae_") events.
    static std::shared_ptr<VeltraceInstance> initialize(const std::string& token,
                                                        InitializeOptions options = {});
    // The main instance; without one, initialize with an empty token and the defaults.
    static std::shared_ptr<VeltraceInstance> mainInstance();
    // Nothing (with a warning) when no instance has the name.
    static std::shared_ptr<VeltraceInstance> getInstance(const std::string& name);
    static void setMainInstance(const std::string& name);
    static void removeInstance(const std::string& name);
};

} // namespace veltrace
