#pragma once

#include "client/FlushType.h"
#include "client/QueryItem.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veltrace {

using HeaderFields = std::map<std::string, std::string>;
using QueryItems = std::vector<QueryItem>;

// Delivers one batch to the analytics service and keeps the back-off state. The flush scheduler's one
// window onto the network. Implementations are thread-safe.
class BatchSender {
  public:
    virtual ~BatchSender() = default;

    virtual void setServerURL(std::string serverURL) = 0;
    // True while the back-off forbids requests.
    virtual bool requestNotAllowed() const = 0;
    // Posts the batch (a JSON array) and blocks until the service answered or gave up. True only when
    // the service accepted it.
    virtual bool sendRequest(const std::string& requestData, FlushType type, bool useIPAddressForGeoLocation,
                             const HeaderFields& headers, const QueryItems& queryItems) = 0;
    // Abandons the transfer in progress and refuses new ones for good: the process is quitting.
    virtual void shutdown() = 0;
};

} // namespace veltrace
