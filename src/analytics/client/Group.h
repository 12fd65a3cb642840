// Updates of one group's profile (a group key and id): each operation queues one group record on the
// instance's tracking queue.
// Thread safety: every operation may be called from any thread and returns at once; they do nothing
// once the instance is gone.
#pragma once

#include "client/VeltraceType.h"

#include <memory>
#include <string>

namespace veltrace {

class VeltraceInstance;

class Group {
  public:
    Group(std::string apiToken, std::string groupKey, VeltraceType groupID,
          std::weak_ptr<VeltraceInstance> instance);

    const std::string& groupKey() const { return groupKey_; }
    const VeltraceType& groupID() const { return groupID_; }

    void set(PropertyMap properties);
    void set(const std::string& property, VeltraceType value);
    void setOnce(PropertyMap properties);
    void unset(const std::string& property);
    void remove(const std::string& key, VeltraceType value);
    void union_(const std::string& key, Array values);
    // Deletes the group's profile and drops this object from the instance's cache.
    void deleteGroup();

    void addGroupRecordToQueue(const std::string& action, PropertyMap properties);

  private:
    std::string apiToken_;
    std::string groupKey_;
    VeltraceType groupID_;
    std::weak_ptr<VeltraceInstance> instance_;
};

} // namespace veltrace
