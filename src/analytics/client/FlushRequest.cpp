#include "client/FlushRequest.h"

#include "client/Logger.h"
#include "client/Semaphore.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <string_view>

namespace veltrace {

struct FlushRequest::Counters {
    std::shared_ptr<WallClock> wallClock;
    std::shared_ptr<RandomSource> random;
    std::atomic<long> consecutiveFailures{0};
    std::atomic<double> allowedAfter{0};
};

namespace {

constexpr std::string_view handlerFunction = "flushRequestHandler(_:resource:completion:)";

// The service's answer: an optional sign and decimal digits, nothing else (no space, no line feed).
std::optional<long long> parseDecimalInteger(std::string_view body) {
    const std::string_view digits = body.substr(!body.empty() && (body[0] == '+' || body[0] == '-') ? 1 : 0);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::string_view text = body[0] == '+' ? digits : body;
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt; // out of range
    return value;
}

// Seconds the service asks us to wait. Only a plain finite, non-negative number counts: a date, "inf",
// "nan" or a negative value is 0, so no answer can hold delivery back for ever.
double retryAfterSeconds(const std::optional<HTTPResponse>& response) {
    if (!response)
        return 0;
    const auto header = response->headers.value("Retry-After");
    if (!header)
        return 0;
    std::string_view text = *header;
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0)
        return 0;
    return value;
}

// The result of one sendRequest; outlives the call when the answer comes after the wait.
struct Outcome {
    explicit Outcome(std::shared_ptr<Clock> clock) : answered(0, std::move(clock)) {}
    std::atomic<bool> accepted{false};
    Semaphore answered;
};

} // namespace

FlushRequest::FlushRequest(std::string serverURL, FlushRequestOptions options)
    : Network(std::move(serverURL), options), counters_(std::make_shared<Counters>()),
      clock_(std::move(options.clock)), waitTimeout_(options.waitTimeout) {
    counters_->wallClock = std::move(options.wallClock);
    counters_->random = std::move(options.random);
}

FlushRequest::~FlushRequest() {
    shutdown();
}

bool FlushRequest::sendRequest(const std::string& requestData, FlushType type,
                               bool useIPAddressForGeoLocation,
                               const std::map<std::string, std::string>& headers,
                               const std::vector<QueryItem>& queryItems) {
    if (isShutDown())
        return false;
    HTTPHeaderFields fields{{"Content-Type", "application/json"}};
    for (const auto& [name, value] : headers)
        fields.set(name, value);
    std::vector<QueryItem> items{{"ip", useIPAddressForGeoLocation ? "1" : "0"}};
    items.insert(items.end(), queryItems.begin(), queryItems.end());
    const Resource<long long> resource{std::string(endpointPath(type)),
                                       RequestMethod::post,
                                       requestData,
                                       std::move(items),
                                       std::move(fields),
                                       parseDecimalInteger};

    auto outcome = std::make_shared<Outcome>(clock_);
    const bool started = flushRequestHandler(serverURL(), resource, [outcome](bool accepted) {
        outcome->accepted.store(accepted);
        outcome->answered.signal();
    });
    if (!started)
        return false; // no request could be made: nothing to wait for, and the counters stay
    outcome->answered.wait(waitTimeout_);
    return outcome->accepted.load();
}

bool FlushRequest::flushRequestHandler(const std::string& base, const Resource<long long>& resource,
                                       std::function<void(bool)> completion) {
    return apiRequest<long long>(
        base, resource,
        [counters = counters_, path = resource.path,
         completion](const Reason& reason, const std::optional<std::string>&,
                     const std::optional<HTTPResponse>& response) {
            counters->consecutiveFailures.fetch_add(1);
            updateRetryDelay(*counters, response);
            Logger::warning(
                [&] { return "API request to " + path + " has failed with reason " + reason.text(); },
                handlerFunction);
            completion(false);
        },
        [counters = counters_, path = resource.path,
         completion](long long result, const std::optional<HTTPResponse>& response) {
            counters->consecutiveFailures.store(0);
            updateRetryDelay(*counters, response);
            if (result == 0)
                Logger::info([&] { return path + " api rejected some items"; }, handlerFunction);
            completion(true);
        });
}

// Consecutive failures from the second on wait 2^(n-1) minutes plus up to 29 s of jitter, at most 600 s,
// and never less than the service asked.
void FlushRequest::updateRetryDelay(Counters& counters, const std::optional<HTTPResponse>& response) {
    double delay = retryAfterSeconds(response);
    const long failures = counters.consecutiveFailures.load();
    if (failures >= 2) {
        const double backOff = std::pow(2.0, static_cast<double>(failures - 1)) * 60;
        const double jitter = counters.random->uniform(30);
        const double wanted = backOff + jitter;
        if (wanted < 60)
            delay = std::max(60.0, delay);
        else if (wanted > 600)
            delay = std::max(600.0, delay);
        else
            delay = std::max(delay, wanted);
    }
    counters.allowedAfter.store(counters.wallClock->secondsSince1970() + delay);
}

bool FlushRequest::requestNotAllowed() const {
    return counters_->wallClock->secondsSince1970() < counters_->allowedAfter.load();
}

long FlushRequest::networkConsecutiveFailures() const {
    return counters_->consecutiveFailures.load();
}

double FlushRequest::networkRequestsAllowedAfterTime() const {
    return counters_->allowedAfter.load();
}

} // namespace veltrace
