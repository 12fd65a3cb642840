#pragma once

#include "client/HTTPResponse.h"
#include "client/QueryItem.h"
#include "client/Reason.h"
#include "client/Resource.h"
#include "client/URLRequest.h"
#include "client/URLSession.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrace {

struct NetworkOptions {
    // How long one transfer may take, connection included.
    std::chrono::milliseconds requestTimeout = std::chrono::seconds(60);
    // A PEM file of certificates trusted beside the system's. None: $VELTRACE_CA_BUNDLE, when set.
    std::optional<std::string> caBundlePath;
};

// Turns a Resource into an HTTP request against a server address and reports the answer to a failure or
// a success handler. Owns the URLSession its requests share. Thread-safe: the server address may be read
// and replaced from any thread; handlers run on the session's thread.
class Network {
  public:
    using FailureHandler = std::function<void(const Reason& reason, const std::optional<std::string>& data,
                                              const std::optional<HTTPResponse>& response)>;
    template <class Result>
    using SuccessHandler = std::function<void(Result result, const std::optional<HTTPResponse>& response)>;

    explicit Network(std::string serverURL, NetworkOptions options = NetworkOptions());
    virtual ~Network();
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    std::string serverURL() const;
    void setServerURL(std::string serverURL);

    // The base URL with `path` appended to its own path (".../p" and "/track/" give ".../p/track/"; a
    // trailing "/" of the base is not doubled) and its query replaced by the items in order, each name
    // and value percent-encoded down to the unreserved characters, so that "+" goes out as "%2B" and a
    // space as "%20". None when the base is not an absolute http or https URL with a host.
    static std::optional<std::string> buildURL(std::string_view base, std::string_view path,
                                               const std::optional<std::vector<QueryItem>>& queryItems);

    template <class Result>
    std::optional<URLRequest> buildURLRequest(const std::string& base,
                                              const Resource<Result>& resource) const {
        return makeURLRequest(base, resource.path, resource.method, resource.requestBody, resource.queryItems,
                              resource.headers);
    }

    // Starts the request and returns at once; exactly one handler runs later on the session's thread.
    // False, with no handler ever run, when no request could be built from `base`.
    // Success needs an HTTP answer with status 200 exactly whose non-empty body `parse` accepts. A
    // transfer that did not complete (time-out, dropped connection, TLS) is `other` even when part of an
    // answer came, so a cut-off body is never taken for the service's result.
    template <class Result>
    bool apiRequest(const std::string& base, const Resource<Result>& resource, FailureHandler onFailure,
                    SuccessHandler<Result> onSuccess) {
        auto request = buildURLRequest(base, resource);
        if (!request)
            return false;
        session_.dataTask(std::move(*request), [parse = resource.parse, onFailure = std::move(onFailure),
                                                onSuccess = std::move(onSuccess)](URLSession::Result answer) {
            if (answer.error)
                return onFailure(Reason::other(*answer.error), answer.data, answer.response);
            if (!answer.response)
                return onFailure(Reason::noData(), answer.data, answer.response);
            if (answer.response->statusCode != 200)
                return onFailure(Reason::notOKStatusCode(answer.response->statusCode), answer.data,
                                 answer.response);
            if (!answer.data || answer.data->empty())
                return onFailure(Reason::noData(), answer.data, answer.response);
            std::optional<Result> result = parse ? parse(*answer.data) : std::nullopt;
            if (!result)
                return onFailure(Reason::parseError(), answer.data, answer.response);
            onSuccess(std::move(*result), answer.response);
        });
        return true;
    }

    // Aborts the request in flight; every later one fails at once. For quitting; cannot be undone.
    void shutdown();
    bool isShutDown() const;

  private:
    std::optional<URLRequest> makeURLRequest(const std::string& base, const std::string& path,
                                             RequestMethod method, const std::optional<std::string>& body,
                                             const std::optional<std::vector<QueryItem>>& queryItems,
                                             const HTTPHeaderFields& headers) const;

    mutable std::mutex mutex_;
    std::string serverURL_; // guarded by mutex_
    NetworkOptions options_;
    URLSession session_;
};

} // namespace veltrace
