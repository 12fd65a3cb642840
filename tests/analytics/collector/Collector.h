// A loopback stand-in for the analytics service, for tests and benchmarks: an HTTP or HTTPS server on
// 127.0.0.1 that records every request and answers as scripted. No Qt.
#pragma once

#include "client/HTTPHeaderFields.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace veltrace::test {

// One request as it arrived.
struct CollectedRequest {
    std::string method;
    std::string path;                               // as sent, before "?"
    std::string query;                              // as sent, after "?" (still percent-encoded)
    std::multimap<std::string, std::string> params; // the query as the server decodes it
    HTTPHeaderFields headers;
    std::string body;
    int remotePort = 0; // one port per client connection
};

// How to answer one request.
struct Answer {
    int status = 200;
    std::string body = "1";
    std::vector<std::pair<std::string, std::string>> headers;
    bool hang = false; // answer only after releaseHanging() (or when the collector stops)
    bool drop = false; // announce one byte more than the body, send the body, then close the connection

    Answer& withStatus(int code) { return status = code, *this; }
    Answer& withBody(std::string text) { return body = std::move(text), *this; }
    Answer& withHeader(std::string name, std::string value) {
        return headers.emplace_back(std::move(name), std::move(value)), *this;
    }
    Answer& hanging() { return hang = true, *this; }
    Answer& dropped() { return drop = true, *this; }
};

// Thread-safe; answers are scripted and requests read while it runs. For HTTPS a self-signed certificate
// for 127.0.0.1 is made with the openssl command when the collector starts; caFile() makes it trusted.
class Collector {
  public:
    enum class Transport { http, https };

    explicit Collector(Transport transport = Transport::https);
    ~Collector(); // releases hanging requests, then stops
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    // "https://127.0.0.1:<port>" + path.
    std::string url(std::string_view path = "") const;
    int port() const { return port_; }
    const std::string& caFile() const { return certificatePath_; }

    // Scripted answers serve the next requests in order; after them, the default (200 with body "1").
    void enqueueAnswer(Answer answer);
    void setDefaultAnswer(Answer answer);
    void releaseHanging();

    std::vector<CollectedRequest> requests() const;
    // Forgets the requests recorded so far (long benchmark runs).
    void clearRequests();
    // Distinct client connections the requests came over.
    std::size_t connectionCount() const;
    // Block until that many requests have arrived, or that many are hanging; false after `patience`.
    bool waitForRequests(std::size_t count, std::chrono::seconds patience = std::chrono::seconds(30)) const;
    bool waitForHanging(std::size_t count, std::chrono::seconds patience = std::chrono::seconds(30)) const;

  private:
    std::string directory_;
    std::string certificatePath_;
    Transport transport_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<Answer> scripted_;            // guarded by mutex_
    Answer defaultAnswer_;                   // guarded by mutex_
    std::vector<CollectedRequest> requests_; // guarded by mutex_
    std::size_t hanging_ = 0;                // guarded by mutex_
    unsigned long releases_ = 0;             // guarded by mutex_; bumped by releaseHanging()
    bool stopping_ = false;                  // guarded by mutex_
};

} // namespace veltrace::test
