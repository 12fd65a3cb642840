#pragma once

#include "client/HTTPResponse.h"
#include "client/URLRequest.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace veltrace {

class SerialQueue;

// The client's HTTP session over libcurl. One connection cache and one transfer handle serve every request,
// so consecutive requests to one server reuse their connection (keep-alive); requests run one at a time,
// in submission order, on the session's own thread, where their completions are called too. TLS peer and
// host verification is always on, only http and https are spoken, redirects are not followed, and
// libcurl's proxy environment variables (https_proxy, http_proxy, no_proxy, ...) apply.
// Thread-safe. shutdown() (also run by the destructor) aborts the transfer in flight at once, and every
// request after it completes at once with an error, so quitting never waits on the network.
class URLSession {
  public:
    // What came back. `error` is set when the transfer did not complete (refused, dropped, TLS, time-out,
    // cancelled, answer too large); `response` and `data` hold whatever HTTP answer there was.
    struct Result {
        std::optional<HTTPResponse> response;
        std::optional<std::string> data;
        std::optional<std::string> error;
    };
    using Completion = std::function<void(Result)>;

    // An answer body larger than this fails the transfer: the service only ever answers a number.
    static constexpr std::size_t maxAnswerBytes = 1 << 20;

    // extraCAFile: a PEM file whose certificates are trusted beside the system's (a private collector,
    // tests). One that cannot be read, or holds no certificate, is logged and left out.
    explicit URLSession(std::optional<std::string> extraCAFile = std::nullopt,
                        std::string label = "com.veltrace.urlsession");
    ~URLSession();
    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    // Queues the request; the completion runs on the session's thread once it has finished.
    void dataTask(URLRequest request, Completion completion);
    void shutdown();
    bool isShutDown() const;

    // libcurl's process-wide set-up, done once; the URL helpers need it too.
    static void initializeLibrary();

    struct State;

  private:
    std::shared_ptr<State> state_;
    std::unique_ptr<SerialQueue> queue_;
};

} // namespace veltrace
