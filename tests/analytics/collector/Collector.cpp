#include "Collector.h"

#include "support/LoopbackListener.h"

#include <httplib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace veltrace::test {

namespace {

void makeCertificate(const std::string& certificate, const std::string& key) {
    std::vector<std::string> args{"openssl",
                                  "req",
                                  "-x509",
                                  "-newkey",
                                  "ec",
                                  "-pkeyopt",
                                  "ec_paramgen_curve:prime256v1",
                                  "-nodes",
                                  "-days",
                                  "1",
                                  "-subj",
                                  "/CN=127.0.0.1",
                                  "-addext",
                                  "subjectAltName=IP:127.0.0.1,DNS:localhost",
                                  "-keyout",
                                  key,
                                  "-out",
                                  certificate};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("openssl could not make a certificate");
}

std::string makeDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veltrace-collector-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

} // namespace

Collector::Collector(Transport transport) : directory_(makeDirectory()), transport_(transport) {
    if (transport == Transport::https) {
        certificatePath_ = directory_ + "/cert.pem";
        const std::string keyPath = directory_ + "/key.pem";
        makeCertificate(certificatePath_, keyPath);
        server_ = std::make_unique<httplib::SSLServer>(certificatePath_.c_str(), keyPath.c_str());
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    // Batches of a flush come over one connection; keep it however many there are.
    server_->set_keep_alive_max_count(1'000'000);
    // Without it the answer's fields and body meet the client's delayed acknowledgement: 40 ms each.
    server_->set_tcp_nodelay(true);

    const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
        if (request.path == "/.ready")
            return;
        CollectedRequest collected;
        collected.method = request.method;
        const auto mark = request.target.find('?');
        collected.path = request.target.substr(0, mark);
        collected.query = mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
        collected.params.insert(request.params.begin(), request.params.end());
        for (const auto& [name, value] : request.headers)
            collected.headers.add(name, value);
        collected.body = request.body;
        collected.remotePort = request.remote_port;

        std::unique_lock lock(mutex_);
        requests_.push_back(std::move(collected));
        Answer answer = defaultAnswer_;
        if (!scripted_.empty()) {
            answer = std::move(scripted_.front());
            scripted_.pop_front();
        }
        changed_.notify_all();
        if (answer.hang) {
            ++hanging_;
            changed_.notify_all();
            const auto seen = releases_;
            changed_.wait(lock, [&] { return stopping_ || releases_ != seen; });
            --hanging_;
        }
        lock.unlock();

        response.status = answer.status;
        for (const auto& [name, value] : answer.headers)
            response.set_header(name, value);
        if (answer.drop) {
            // One byte more is announced than sent: the answer is cut off after its body.
            response.set_content_provider(
                answer.body.size() + 1, "text/plain",
                [body = answer.body](size_t offset, size_t, httplib::DataSink& sink) {
                    if (offset == 0)
                        sink.write(body.data(), body.size());
                    return false; // closes the connection
                });
        } else {
            response.set_content(answer.body, "text/plain");
        }
    };
    server_->Get(".*", handle);
    server_->Post(".*", handle);
    server_->Put(".*", handle);

    port_ = testsupport::listenOnLoopback(*server_, thread_, transport == Transport::https);
}

Collector::~Collector() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    server_->stop();
    thread_.join();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string Collector::url(std::string_view path) const {
    return std::string(transport_ == Transport::https ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void Collector::enqueueAnswer(Answer answer) {
    std::lock_guard lock(mutex_);
    scripted_.push_back(std::move(answer));
}

void Collector::setDefaultAnswer(Answer answer) {
    std::lock_guard lock(mutex_);
    defaultAnswer_ = std::move(answer);
}

void Collector::releaseHanging() {
    std::lock_guard lock(mutex_);
    ++releases_;
    changed_.notify_all();
}

std::vector<CollectedRequest> Collector::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void Collector::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

std::size_t Collector::connectionCount() const {
    std::lock_guard lock(mutex_);
    std::vector<int> ports;
    for (const auto& request : requests_)
        if (std::find(ports.begin(), ports.end(), request.remotePort) == ports.end())
            ports.push_back(request.remotePort);
    return ports.size();
}

bool Collector::waitForRequests(std::size_t count, std::chrono::seconds patience) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, patience, [&] { return requests_.size() >= count; });
}

bool Collector::waitForHanging(std::size_t count, std::chrono::seconds patience) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, patience, [&] { return hanging_ >= count; });
}

} // namespace veltrace::test
