#pragma once

#include "client/BatchSender.h"
#include "client/Clock.h"
#include "client/FlushType.h"
#include "client/Network.h"
#include "client/QueryItem.h"
#include "client/RandomSource.h"
#include "client/WallClock.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrace {

struct FlushRequestOptions : NetworkOptions {
    std::shared_ptr<Clock> clock = Clock::system();             // measures the wait for an answer
    std::shared_ptr<WallClock> wallClock = WallClock::system(); // the back-off is calendar time
    std::shared_ptr<RandomSource> random = RandomSource::system();
    // How long sendRequest waits for the answer before it counts the batch as not delivered.
    Clock::Duration waitTimeout = std::chrono::seconds(120);
};

// Posts one batch of records to the endpoint of its kind and remembers how the service answered: the
// consecutive failures and the earliest time the next request may start (exponential back-off with
// jitter, or the service's Retry-After).
// Thread-safe: sendRequest blocks its caller (the instance's network queue) while requests run one at a
// time on the session's thread; the answers, late ones included, write the counters there, and they may
// be read from anywhere.
//
//   FlushRequest request("https://api.example/p");
//   if (!request.requestNotAllowed() && request.sendRequest(json, FlushType::events, true, {}, {}))
//       deleteRows();
class FlushRequest : public Network, public BatchSender {
  public:
    explicit FlushRequest(std::string serverURL, FlushRequestOptions options = FlushRequestOptions());
    ~FlushRequest() override;

    // True when the service accepted the batch: status 200 and a decimal-integer body (0 included; it is
    // logged as a rejection of some records). Returns false at once when the server URL is unusable or
    // after shutdown(); else after the answer or the wait time-out, whichever comes first. An answer that
    // comes after the wait still updates the counters.
    bool sendRequest(const std::string& requestData, FlushType type, bool useIPAddressForGeoLocation,
                     const std::map<std::string, std::string>& headers,
                     const std::vector<QueryItem>& queryItems) override;

    // The wall clock is still before networkRequestsAllowedAfterTime().
    bool requestNotAllowed() const override;
    void setServerURL(std::string serverURL) override { Network::setServerURL(std::move(serverURL)); }
    void shutdown() override { Network::shutdown(); }
    long networkConsecutiveFailures() const;
    // Seconds since 1970-01-01 UTC.
    double networkRequestsAllowedAfterTime() const;

  private:
    struct Counters;

    bool flushRequestHandler(const std::string& base, const Resource<long long>& resource,
                             std::function<void(bool)> completion);
    static void updateRetryDelay(Counters& counters, const std::optional<HTTPResponse>& response);

    std::shared_ptr<Counters> counters_; // shared with answers that arrive after the wait
    std::shared_ptr<Clock> clock_;
    Clock::Duration waitTimeout_;
};

} // namespace veltrace
