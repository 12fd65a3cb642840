#pragma once

#include "app/CommandSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace commandsockettest {

// Plays the running instance on a CommandSocket from a thread of its own: accepts each connection,
// records the command line and answers `answer` (or closes without answering when it is empty).
// Thread-safety: commands() may be read from the test thread while it serves.
class Responder {
  public:
    Responder(const CommandSocket& socket, std::string answer)
        : fd_(socket.fd()), answer_(std::move(answer)) {
        if (::pipe(wake_) != 0)
            std::abort();
        thread_ = std::thread([this] { serve(); });
    }
    ~Responder() {
        [[maybe_unused]] auto written = ::write(wake_[1], "x", 1);
        thread_.join();
        ::close(wake_[0]);
        ::close(wake_[1]);
    }
    std::vector<std::string> commands() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }

  private:
    void serve() {
        for (;;) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return;
            const int connection = ::accept(fd_, nullptr, nullptr);
            if (connection < 0)
                continue;
            std::string line;
            char c;
            while (::read(connection, &c, 1) == 1 && c != '\n')
                line += c;
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(line);
            }
            if (!answer_.empty()) {
                const std::string reply = answer_ + "\n";
                [[maybe_unused]] auto sent = ::write(connection, reply.data(), reply.size());
            }
            ::close(connection);
        }
    }

    int fd_;
    std::string answer_;
    int wake_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;
    std::thread thread_;
};

// A socket file that nobody listens on, as a killed instance leaves it.
inline void leaveStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        std::abort();
    ::close(fd);
}

} // namespace commandsockettest
