#pragma once

#include <QString>
#include <QTemporaryDir>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

// A loopback HTTP or HTTPS server for update-feed tests. Routes can be changed while it runs.
// For HTTPS a self-signed certificate for 127.0.0.1 is generated with the openssl command.
class FeedServer {
  public:
    enum class Transport { Http, Https };

    explicit FeedServer(Transport transport = Transport::Http);
    ~FeedServer(); // releases held requests, then stops

    FeedServer(const FeedServer&) = delete;
    FeedServer& operator=(const FeedServer&) = delete;

    void serve(const std::string& path, std::string body, int status = 200);
    void redirect(const std::string& path, const std::string& location, int status = 302);
    // Requests for `path` wait until release() (or ten seconds) before being answered from `serve`.
    void hold(const std::string& path);
    void release();
    // Blocks until `count` requests for held paths are waiting (ten seconds at most).
    bool waitForHeldRequests(int count);

    int requestCount(const std::string& path) const;
    QString url(const std::string& path) const;
    // PEM file that makes the server's certificate trusted (HTTPS only).
    QString caBundlePath() const { return certificatePath_; }

  private:
    struct Route {
        int status = 404;
        std::string body;
        std::string location;
        bool held = false;
    };

    QTemporaryDir dir_;
    QString certificatePath_;
    Transport transport_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Route> routes_;
    std::map<std::string, int> counts_;
    bool released_ = false;
    int waiting_ = 0;
};
