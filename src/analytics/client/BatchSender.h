#pragma once

#include "client/FlushType.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace veltrace {

using HeaderFields = std::map<std::string, std::string>;
// URL query items in order: a name and, unless it stands alone, a value.
using QueryItems = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Delivers one batch to the analytics service and keeps the back-off state. The flush scheduler's one
// window onto the network. Implementations are thread-safe.
class BatchSender {
  public:
    virtual ~BatchSender() = default;

    virtual void setServerURL(const std::string& serverURL) = 0;
    // True while the back-off forbids requests.
    virtual bool requestNotAllowed() const = 0;
    // Posts the batch (a JSON array) and blocks until the service answered or gave up. True only when
    // the service accepted it.
    virtual bool sendRequest(const std::string& requestData, FlushType type, bool useIPAddressForGeoLocation,
                             const HeaderFields& headers, const QueryItems& queryItems) = 0;
    // Abandons every transfer in progress and refuses new ones: the process is quitting.
    virtual void cancelAll() = 0;
};

} // namespace veltrace
