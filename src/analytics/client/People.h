// Updates of the identified user's profile: each operation queues one people record ("$set", "$add",
// …) on the instance's tracking queue. Records made before the user is identified are stored held back
// and sent once identify marks them.
// Thread safety: every operation may be called from any thread and returns at once; the distinct id
// is guarded by the instance's lock. Operations do nothing once the instance is gone.
#pragma once

#include "client/VeltraceType.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrace {

class VeltraceInstance;

class People : public std::enable_shared_from_this<People> {
  public:
    People(std::string apiToken, std::weak_ptr<VeltraceInstance> instance);

    void set(PropertyMap properties);
    void set(const std::string& property, VeltraceType value);
    void setOnce(PropertyMap properties);
    void unset(const std::vector<std::string>& propertyNames);
    // properties: numbers.
    void increment(PropertyMap properties);
    void increment(const std::string& property, VeltraceType by);
    void append(PropertyMap properties);
    void remove(PropertyMap properties);
    // properties: lists.
    void union_(PropertyMap properties);
    // Appends a transaction: "$amount", "$time" (now) and the properties, which win over both.
    void trackCharge(double amount, std::optional<PropertyMap> properties = std::nullopt);
    void clearCharges();
    void deleteUser();

    bool ignoreTime() const { return ignoreTime_.load(); }
    void setIgnoreTime(bool value) { ignoreTime_.store(value); }

    // The profile's id; nothing until identify (with people) has run. Kept with the instance's identity.
    std::optional<std::string> distinctId() const;

    // Queues one record with the action and its argument.
    void addPeopleRecordToQueue(const std::string& action, PropertyMap properties);
    // Builds and stores the record at once. On the instance's tracking queue only.
    void addPeopleRecordNow(const std::string& action, PropertyMap properties);

  private:
    void build(VeltraceInstance& instance, const std::string& action, PropertyMap properties, double timeMs,
               bool ignoreTime);

    std::string apiToken_;
    std::weak_ptr<VeltraceInstance> instance_;
    std::atomic<bool> ignoreTime_{false};
};

} // namespace veltrace
