#include "support/AppProcess.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

AppProcess::AppProcess(const std::string& program, const std::vector<std::string>& arguments,
                       const Environment& env) {
    ChildProcess::Options options;
    options.argv.push_back(program);
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.env = env;
    options.captureStdout = true;
    options.captureStderr = true;
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    startedAt_ = Clock::now();
    try {
        child_ = std::make_unique<ChildProcess>(options);
    } catch (...) {
        ::close(wakeFds_[0]);
        ::close(wakeFds_[1]);
        throw;
    }
    reader_ = std::thread([this] { readLoop(); });
}

AppProcess::~AppProcess() {
    child_->terminate();
    // The pipes reach end-of-file when the program is gone, unless something it started still holds them.
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(2), [this] { return outClosed_ && errClosed_; });
    }
    [[maybe_unused]] auto written = ::write(wakeFds_[1], "x", 1);
    reader_.join();
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
}

void AppProcess::readLoop() {
    char buffer[4096];
    for (;;) {
        pollfd fds[3] = {
            {child_->stdoutFd(), POLLIN, 0}, {child_->stderrFd(), POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        {
            std::lock_guard lock(mutex_);
            if (outClosed_) {
                fds[0].fd = -1;
            }
            if (errClosed_) {
                fds[1].fd = -1;
            }
        }
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[2].revents) {
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents) {
                continue;
            }
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            const auto now = Clock::now();
            std::lock_guard lock(mutex_);
            if (got <= 0) {
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                (i == 0 ? outClosed_ : errClosed_) = true;
                if (i == 0 && !partialOut_.empty()) {
                    lines_.push_back({partialOut_, now});
                    partialOut_.clear();
                }
            } else if (i == 0) {
                partialOut_.append(buffer, static_cast<size_t>(got));
                size_t newline;
                while ((newline = partialOut_.find('\n')) != std::string::npos) {
                    lines_.push_back({partialOut_.substr(0, newline), now});
                    partialOut_.erase(0, newline + 1);
                }
            } else {
                err_.append(buffer, static_cast<size_t>(got));
            }
            changed_.notify_all();
        }
    }
}

std::vector<AppProcess::Line> AppProcess::stdoutLines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string AppProcess::stderrText() const {
    std::lock_guard lock(mutex_);
    return err_;
}

std::string AppProcess::stdoutText() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& line : lines_) {
        text += line.text + "\n";
    }
    return text + partialOut_;
}

size_t AppProcess::count(const std::string& text) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(lines_.begin(), lines_.end(), [&](const Line& line) { return line.text == text; }));
}

std::optional<AppProcess::Clock::time_point>
AppProcess::waitForLine(const std::string& text, std::chrono::milliseconds timeout, size_t occurrences) {
    std::unique_lock lock(mutex_);
    std::optional<Clock::time_point> at;
    changed_.wait_for(lock, timeout, [&] {
        size_t seen = 0;
        for (const auto& line : lines_) {
            if (line.text == text && ++seen == occurrences) {
                at = line.at;
                return true;
            }
        }
        return outClosed_; // no more lines can come
    });
    return at;
}

bool AppProcess::waitForStderr(const std::string& text, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return err_.find(text) != std::string::npos || errClosed_; });
    return err_.find(text) != std::string::npos;
}

std::optional<ExitStatus> AppProcess::waitForExit(std::chrono::milliseconds timeout) {
    return child_->waitForExit(timeout);
}

ExitStatus AppProcess::terminate() {
    return child_->terminate();
}

AppProcess::Result AppProcess::run(const std::string& program, const std::vector<std::string>& arguments,
                                   const Environment& env, std::chrono::milliseconds timeout) {
    AppProcess process(program, arguments, env);
    auto status = process.waitForExit(timeout);
    if (!status) {
        status = process.terminate();
    }
    {
        std::unique_lock lock(process.mutex_);
        process.changed_.wait_for(lock, std::chrono::seconds(2),
                                  [&] { return process.outClosed_ && process.errClosed_; });
    }
    return {*status, process.stdoutText(), process.stderrText()};
}

} // namespace testsupport
