#include "FeedServer.h"

#include "support/LoopbackListener.h"

#include <httplib.h>

#include <QProcess>
#include <QStringList>

#include <chrono>
#include <stdexcept>

namespace {

constexpr auto generousWait = std::chrono::seconds(10);

void generateCertificate(const QString& certificate, const QString& key) {
    QProcess openssl;
    openssl.start("openssl",
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                   "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout", key, "-out", certificate});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        throw std::runtime_error("openssl req failed: " + openssl.readAllStandardError().toStdString());
}

} // namespace

FeedServer::FeedServer(Transport transport) : transport_(transport) {
    if (transport == Transport::Https) {
        certificatePath_ = dir_.filePath("cert.pem");
        const QString keyPath = dir_.filePath("key.pem");
        generateCertificate(certificatePath_, keyPath);
        server_ = std::make_unique<httplib::SSLServer>(certificatePath_.toLocal8Bit().constData(),
                                                       keyPath.toLocal8Bit().constData());
    } else {
        server_ = std::make_unique<httplib::Server>();
    }

    server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        std::unique_lock lock(mutex_);
        ++counts_[request.path];
        const auto found = routes_.find(request.path);
        if (found == routes_.end()) {
            response.status = 404;
            response.set_content("not found", "text/plain");
            return;
        }
        if (found->second.held) {
            ++waiting_;
            changed_.notify_all();
            changed_.wait_for(lock, generousWait, [this] { return released_; });
            --waiting_;
        }
        const Route& route = routes_[request.path];
        response.status = route.status;
        if (!route.location.empty())
            response.set_header("Location", route.location);
        response.set_content(route.body, "application/rss+xml");
    });

    port_ = testsupport::listenOnLoopback(*server_, thread_, transport == Transport::Https);
}

FeedServer::~FeedServer() {
    release();
    server_->stop();
    thread_.join();
}

void FeedServer::serve(const std::string& path, std::string body, int status) {
    std::lock_guard lock(mutex_);
    Route& route = routes_[path];
    route.status = status;
    route.body = std::move(body);
}

void FeedServer::redirect(const std::string& path, const std::string& location, int status) {
    std::lock_guard lock(mutex_);
    Route& route = routes_[path];
    route.status = status;
    route.location = location;
}

void FeedServer::hold(const std::string& path) {
    std::lock_guard lock(mutex_);
    routes_[path].held = true;
    released_ = false;
}

void FeedServer::release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

bool FeedServer::waitForHeldRequests(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, generousWait, [&] { return waiting_ >= count; });
}

int FeedServer::requestCount(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto found = counts_.find(path);
    return found == counts_.end() ? 0 : found->second;
}

QString FeedServer::url(const std::string& path) const {
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(transport_ == Transport::Https ? "https" : "http")
        .arg(port_)
        .arg(QString::fromStdString(path));
}
