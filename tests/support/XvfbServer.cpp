#include "support/XvfbServer.h"

#include "support/Wait.h"
#include "support/XConnection.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr auto startTimeout = std::chrono::seconds(15);

Environment baseEnvironment() {
    Environment env;
    const Environment inherited = ChildProcess::inheritedEnvironment();
    for (const char* key : {"PATH", "HOME", "TMPDIR", "LANG"}) {
        if (auto it = inherited.find(key); it != inherited.end()) {
            env[key] = it->second;
        }
    }
    return env;
}

// Reads the display number Xvfb writes to -displayfd once it accepts connections.
std::string readDisplayNumber(int fd) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + startTimeout;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throw std::runtime_error("Xvfb did not report its display number in time");
        }
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[32];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) {
            throw std::runtime_error("Xvfb exited before reporting its display number");
        }
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    return text.substr(0, text.find('\n'));
}

} // namespace

XvfbServer::XvfbServer(const Options& options) {
    const std::string xvfb = ChildProcess::findProgram("Xvfb");
    if (xvfb.empty()) {
        throw std::runtime_error("Xvfb is not installed (run scripts/bootstrap)");
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    ChildProcess::Options spawn;
    // -noreset: the server would otherwise reset (dropping root properties) whenever the last client leaves.
    spawn.argv = {xvfb, "-displayfd", "3", "-screen", "0", options.screen, "-nolisten", "tcp", "-noreset"};
    spawn.env = baseEnvironment();
    spawn.silenceStdout = true;
    spawn.silenceStderr = true;
    spawn.extraFds = {{3, fds[1]}};
    try {
        server_ = std::make_unique<ChildProcess>(spawn);
    } catch (...) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw;
    }
    ::close(fds[1]);
    try {
        displayName_ = ":" + readDisplayNumber(fds[0]);
    } catch (...) {
        ::close(fds[0]);
        throw;
    }
    ::close(fds[0]);
    if (options.compositor) {
        startCompositor();
    }
}

XvfbServer::~XvfbServer() {
    compositor_.reset();
    server_.reset();
}

void XvfbServer::startCompositor() {
    if (compositor_) {
        return;
    }
    const std::string program = ChildProcess::findProgram("xcompmgr");
    if (program.empty()) {
        throw std::runtime_error("xcompmgr is not installed (run scripts/bootstrap)");
    }
    ChildProcess::Options spawn;
    // No shadows or fades: pixels on screen must be exactly the windows' blend.
    spawn.argv = {program};
    spawn.env = baseEnvironment();
    spawn.env["DISPLAY"] = displayName_;
    spawn.silenceStdout = true;
    spawn.silenceStderr = true;
    compositor_ = std::make_unique<ChildProcess>(spawn);
    XConnection connection(displayName_);
    const Atom selection = connection.atom("_NET_WM_CM_S0");
    const bool owned = pollUntil(
        [&] {
            return !compositor_->running() || XGetSelectionOwner(connection.display(), selection) != None;
        },
        startTimeout);
    if (!owned || !compositor_->running()) {
        compositor_.reset();
        throw std::runtime_error("xcompmgr did not take _NET_WM_CM_S0");
    }
}

void XvfbServer::stopCompositor() {
    if (!compositor_) {
        return;
    }
    compositor_.reset();
    XConnection connection(displayName_);
    const Atom selection = connection.atom("_NET_WM_CM_S0");
    pollUntil([&] { return XGetSelectionOwner(connection.display(), selection) == None; }, startTimeout);
}

} // namespace testsupport
