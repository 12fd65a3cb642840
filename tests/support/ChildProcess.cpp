#include "support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

std::string ExitStatus::describe() const {
    if (exited) {
        return "exit status " + std::to_string(code);
    }
    if (signal != 0) {
        return std::string("killed by signal ") + strsignal(signal);
    }
    return "still running";
}

namespace {

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

ChildProcess::ChildProcess(const Options& options) {
    if (options.argv.empty()) {
        throw std::runtime_error("ChildProcess: empty argv");
    }
    // Everything the child needs is built before fork: only async-signal-safe calls follow it.
    std::vector<std::string> envStrings;
    for (const auto& [key, value] : options.env) {
        envStrings.push_back(key + "=" + value);
    }
    std::vector<char*> argv;
    for (const auto& arg : options.argv) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    int execPipe[2] = {-1, -1}; // carries errno of a failed exec; closed by a successful one
    if ((options.captureStdout && ::pipe2(outPipe, O_CLOEXEC) != 0) ||
        (options.captureStderr && ::pipe2(errPipe, O_CLOEXEC) != 0) || ::pipe2(execPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("ChildProcess: pipe: ") + std::strerror(errno));
    }
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error(std::string("ChildProcess: fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        ::setpgid(0, 0);
        ::dup2(devNull, STDIN_FILENO);
        if (options.captureStdout) {
            ::dup2(outPipe[1], STDOUT_FILENO);
        } else if (options.silenceStdout) {
            ::dup2(devNull, STDOUT_FILENO);
        }
        if (options.captureStderr) {
            ::dup2(errPipe[1], STDERR_FILENO);
        } else if (options.silenceStderr) {
            ::dup2(devNull, STDERR_FILENO);
        }
        for (const auto& [childFd, parentFd] : options.extraFds) {
            if (childFd == parentFd) {
                ::fcntl(childFd, F_SETFD, 0);
            } else {
                ::dup2(parentFd, childFd); // dup2 clears close-on-exec on the new number
            }
        }
        ::execve(argv[0], argv.data(), envp.data());
        const int error = errno;
        [[maybe_unused]] auto written = ::write(execPipe[1], &error, sizeof error);
        ::_exit(127);
    }

    pid_ = pid;
    if (devNull >= 0) {
        ::close(devNull);
    }
    ::close(execPipe[1]);
    int execError = 0;
    ssize_t got;
    do {
        got = ::read(execPipe[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    ::close(execPipe[0]);
    if (options.captureStdout) {
        ::close(outPipe[1]);
        stdoutFd_ = outPipe[0];
    }
    if (options.captureStderr) {
        ::close(errPipe[1]);
        stderrFd_ = errPipe[0];
    }
    if (got == static_cast<ssize_t>(sizeof execError)) {
        reap(true);
        closeFd(stdoutFd_);
        closeFd(stderrFd_);
        throw std::runtime_error("ChildProcess: cannot run " + options.argv[0] + ": " +
                                 std::strerror(execError));
    }
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
}

ChildProcess::~ChildProcess() {
    if (!status_) {
        terminate();
    }
    closeFd(pidFd_);
    closeFd(stdoutFd_);
    closeFd(stderrFd_);
}

bool ChildProcess::reap(bool block) {
    if (status_) {
        return true;
    }
    int raw = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &raw, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result != pid_) {
        return false;
    }
    ExitStatus status;
    if (WIFEXITED(raw)) {
        status.exited = true;
        status.code = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        status.signal = WTERMSIG(raw);
    }
    status_ = status;
    return true;
}

bool ChildProcess::running() {
    return !reap(false);
}

std::optional<ExitStatus> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    while (!reap(false)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        if (pidFd_ >= 0) {
            pollfd pfd{pidFd_, POLLIN, 0};
            ::poll(&pfd, 1, static_cast<int>(left.count()));
        } else {
            // No pidfd (old kernel): bounded polling on the exit itself.
            ::usleep(2000);
        }
    }
    return status_;
}

void ChildProcess::signal(int sig) {
    if (!status_) {
        ::kill(pid_, sig);
    }
}

ExitStatus ChildProcess::terminate(std::chrono::milliseconds grace) {
    if (!status_) {
        ::kill(pid_, SIGTERM);
        if (!waitForExit(grace)) {
            ::kill(pid_, SIGKILL);
            reap(true);
        }
    }
    return *status_;
}

Environment ChildProcess::inheritedEnvironment() {
    Environment env;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text(*entry);
        const auto eq = text.find('=');
        if (eq != std::string::npos) {
            env[text.substr(0, eq)] = text.substr(eq + 1);
        }
    }
    return env;
}

std::string ChildProcess::findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string dir =
            dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return {};
}

std::string ChildProcess::readStdoutLine(std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd pfd{stdoutFd_, POLLIN, 0};
        if (::poll(&pfd, 1, int(left.count())) <= 0)
            continue;
        char c = 0;
        if (::read(stdoutFd_, &c, 1) != 1)
            return {};
        if (c == '\n')
            return line;
        line += c;
    }
}

std::vector<int> ChildProcess::processesUsing(const std::string& runtimeDir, const std::string& command) {
    const std::string needle = "XDG_RUNTIME_DIR=" + runtimeDir + '\0';
    std::vector<int> found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (!command.empty()) {
            std::ifstream comm("/proc/" + name + "/comm");
            std::string running;
            if (!std::getline(comm, running) || running != command)
                continue;
        }
        std::ifstream environ("/proc/" + name + "/environ", std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(environ), {}};
        if (text.find(needle) != std::string::npos)
            found.push_back(std::stoi(name));
    }
    ::closedir(proc);
    return found;
}

} // namespace testsupport
