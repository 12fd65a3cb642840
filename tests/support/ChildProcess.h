#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// How a child ended: a normal exit with a status code, or a signal.
struct ExitStatus {
    bool exited = false;
    int code = -1;
    int signal = 0;

    bool ok() const { return exited && code == 0; }
    std::string describe() const;
};

using Environment = std::map<std::string, std::string>;

// A spawned program: pid, optional stdout/stderr pipes, exit with time-out, kill on destruction.
// The child gets SIGKILL if the spawning thread dies, so a crashed test leaves nothing behind.
// Thread-safety: one owner thread; stdoutFd()/stderrFd() may be read from another thread.
class ChildProcess {
  public:
    struct Options {
        std::vector<std::string> argv;
        Environment env; // the child's whole environment (nothing is inherited)
        bool captureStdout = false;
        bool captureStderr = false;
        bool silenceStdout = false; // to /dev/null unless captured
        bool silenceStderr = false;
        // Parent fds to place at given numbers in the child (child fd, parent fd).
        std::vector<std::pair<int, int>> extraFds;
    };

    // Throws std::runtime_error when the program cannot be started.
    explicit ChildProcess(const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return pid_; }
    int stdoutFd() const { return stdoutFd_; }
    int stderrFd() const { return stderrFd_; }
    bool running();

    // The next line the child writes on its captured standard output, without the newline; empty when it
    // ends, or writes no whole line, within `timeout`.
    std::string readStdoutLine(std::chrono::milliseconds timeout);

    // Waits for the child to end (no busy wait: a pidfd is polled). nullopt on time-out.
    std::optional<ExitStatus> waitForExit(std::chrono::milliseconds timeout);
    void signal(int sig);
    // SIGTERM, then SIGKILL if it has not ended within grace.
    ExitStatus terminate(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

    // The current process environment as a map, for callers that want to start from it.
    static Environment inheritedEnvironment();
    // Absolute path of a program found on PATH (or the name itself if it contains a slash); empty if absent.
    static std::string findProgram(const std::string& name);
    // Processes whose environment names `runtimeDir` as XDG_RUNTIME_DIR (what a private desktop session
    // started), with the command name `command` when it is not empty.
    static std::vector<int> processesUsing(const std::string& runtimeDir, const std::string& command = {});

  private:
    bool reap(bool block);

    int pid_ = -1;
    int pidFd_ = -1;
    int stdoutFd_ = -1;
    int stderrFd_ = -1;
    std::optional<ExitStatus> status_;
};

} // namespace testsupport
