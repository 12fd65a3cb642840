#pragma once

#include "support/ChildProcess.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// The application under test: a spawned binary whose standard output and error are read line by line on
// a thread, so a test can wait for a line (or for the exit) with a time-out instead of sleeping.
// Thread-safety: all members may be called from the owning thread while the reader runs.
class AppProcess {
  public:
    using Clock = std::chrono::steady_clock;

    struct Line {
        std::string text;
        Clock::time_point at; // when the reader received it
    };

    // Throws std::runtime_error if the program cannot be started.
    AppProcess(const std::string& program, const std::vector<std::string>& arguments, const Environment& env);
    // Terminates the program if it still runs.
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    int pid() const { return child_->pid(); }
    Clock::time_point startedAt() const { return startedAt_; }

    std::vector<Line> stdoutLines() const;
    std::string stderrText() const;
    std::string stdoutText() const;
    // Lines equal to `text`.
    size_t count(const std::string& text) const;
    // Waits until at least `occurrences` lines equal `text`. Returns the time the last needed one arrived.
    std::optional<Clock::time_point> waitForLine(const std::string& text, std::chrono::milliseconds timeout,
                                                 size_t occurrences = 1);
    // Waits until standard error contains `text`.
    bool waitForStderr(const std::string& text, std::chrono::milliseconds timeout);

    std::optional<ExitStatus> waitForExit(std::chrono::milliseconds timeout);
    bool running() { return child_->running(); }
    void signal(int sig) { child_->signal(sig); }
    ExitStatus terminate();

    // Runs a program to completion (e.g. a control command), capturing its output.
    struct Result {
        ExitStatus status;
        std::string out;
        std::string err;
    };
    static Result run(const std::string& program, const std::vector<std::string>& arguments,
                      const Environment& env, std::chrono::milliseconds timeout = std::chrono::seconds(20));

  private:
    void readLoop();

    std::unique_ptr<ChildProcess> child_;
    Clock::time_point startedAt_;
    int wakeFds_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Line> lines_;
    std::string partialOut_;
    std::string err_;
    bool outClosed_ = false;
    bool errClosed_ = false;
    std::thread reader_;
};

} // namespace testsupport
