#include "app/CommandSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t maxAnswerLength = 64;

// The libc's wording for an errno value ("Permission denied").
std::string describeError(int error) {
    return std::strerror(error);
}

bool makeAddress(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Milliseconds left until `deadline`, rounded up so a wait never ends before it; never negative.
int millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

// Waits until `fd` has `events` or the deadline passes; false on time-out.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, millisecondsLeft(deadline));
        if (ready > 0)
            return true;
        if (ready == 0) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            continue;
        }
        if (errno != EINTR)
            return true; // let the read or write that follows report the error
    }
}

struct FileDescriptor {
    int fd = -1;
    explicit FileDescriptor(int value) : fd(value) {}
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int release() {
        const int value = fd;
        fd = -1;
        return value;
    }
};

} // namespace

CommandSocket::Reply CommandSocket::request(const std::string& path, const std::string& command,
                                            std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {Outcome::NoInstance, {}};
        return {Outcome::Failed, describeError(errno)};
    }
    if (!S_ISSOCK(status.st_mode))
        return {Outcome::NotASocket, {}};

    sockaddr_un address;
    if (!makeAddress(path, &address))
        return {Outcome::Failed, "the socket's path is too long"};
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.fd < 0)
        return {Outcome::Failed, describeError(errno)};
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        switch (errno) {
        case ECONNREFUSED:
            return {Outcome::Stale, {}};
        case ENOENT:
            return {Outcome::NoInstance, {}}; // removed in the meantime
        case EAGAIN:
            // The queue of waiting connections is full: the instance has not accepted any for a while.
            return {Outcome::NoAnswer, {}};
        default:
            return {Outcome::Failed, describeError(errno)};
        }
    }

    // A stream connection to a Unix socket is made at once, even while the instance does not accept it;
    // whether anyone is there shows in the answer.
    const std::string line = command + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t wrote = ::send(socket.fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (wrote > 0) {
            sent += size_t(wrote);
        } else if (wrote < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(socket.fd, POLLOUT, deadline))
                return {Outcome::NoAnswer, {}};
        } else if (errno == EPIPE || errno == ECONNRESET) {
            return {Outcome::Closed, {}};
        } else {
            return {Outcome::Failed, describeError(errno)};
        }
    }

    std::string answer;
    for (;;) {
        const size_t newline = answer.find('\n');
        if (newline != std::string::npos) {
            answer.resize(newline);
            if (answer == "ok")
                return {Outcome::Answered, {}};
            return {Outcome::Refused, answer};
        }
        if (answer.size() > maxAnswerLength)
            return {Outcome::Failed, "the answer made no sense"};
        if (!waitFor(socket.fd, POLLIN, deadline))
            return {Outcome::NoAnswer, {}};
        char buffer[64];
        const ssize_t got = ::recv(socket.fd, buffer, sizeof buffer, 0);
        if (got > 0)
            answer.append(buffer, size_t(got));
        else if (got == 0 || errno == ECONNRESET)
            return {Outcome::Closed, {}};
        else if (errno != EAGAIN && errno != EINTR)
            return {Outcome::Failed, describeError(errno)};
    }
}

std::unique_ptr<CommandSocket> CommandSocket::listen(const std::string& path, bool replaceExisting,
                                                     std::string* error, bool* addressInUse) {
    if (addressInUse)
        *addressInUse = false;
    sockaddr_un address;
    if (!makeAddress(path, &address)) {
        *error = "the path " + path + " is too long for a socket";
        return nullptr;
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode)) {
            *error = path + " exists and is not a socket";
            return nullptr;
        }
        if (replaceExisting && ::unlink(path.c_str()) != 0 && errno != ENOENT) {
            *error = "cannot remove the old socket " + path + ": " + describeError(errno);
            return nullptr;
        }
    }
    FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.fd < 0) {
        *error = "cannot make a socket: " + describeError(errno);
        return nullptr;
    }
    // The socket file gets the mode the umask leaves; for the user only, whatever the folder.
    const mode_t previousMask = ::umask(077);
    const int bound = ::bind(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(previousMask);
    if (bound != 0) {
        if (addressInUse)
            *addressInUse = bindError == EADDRINUSE;
        *error = "cannot make the socket " + path + ": " + describeError(bindError);
        return nullptr;
    }
    if (::listen(socket.fd, SOMAXCONN) != 0 || ::stat(path.c_str(), &status) != 0) {
        *error = "cannot listen on " + path + ": " + describeError(errno);
        ::unlink(path.c_str());
        return nullptr;
    }
    return std::unique_ptr<CommandSocket>(
        new CommandSocket(socket.release(), path, status.st_dev, status.st_ino));
}

CommandSocket::CommandSocket(int fd, std::string path, dev_t device, ino_t inode)
    : fd_(fd), path_(std::move(path)), device_(device), inode_(inode) {}

CommandSocket::~CommandSocket() {
    // Closed first, so a start that asks now is refused at once instead of waiting for an answer.
    ::close(fd_);
    Lock lock(path_);
    struct stat status {};
    if (::lstat(path_.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_)
        ::unlink(path_.c_str());
}

int CommandSocket::accept() const {
    for (;;) {
        const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return -1;
        }
        // The socket's mode already keeps other users out; this also holds where the mode is not honoured.
        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::getuid())
            return connection;
        ::close(connection);
    }
}

CommandSocket::Lock::Lock(const std::string& socketPath) {
    fd_ = ::open((socketPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return;
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
}

CommandSocket::Lock::~Lock() {
    if (fd_ >= 0)
        ::close(fd_); // releases the lock
}
