#include "support/KWinFakeInput.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr int kAnswerTimeoutMs = 15000;

} // namespace

KWinFakeInput::KWinFakeInput(int namespacePid, const std::string& socket, const Environment& env) {
    int commands[2];
    if (::pipe2(commands, O_CLOEXEC) != 0)
        throw std::runtime_error("KWinFakeInput: pipe failed");
    commandFd_ = commands[1];
    std::vector<std::string> argv{ChildProcess::findProgram("nsenter"), "--target", std::to_string(namespacePid)};
    if (::geteuid() != 0)
        argv.insert(argv.end(), {"--user", "--preserve-credentials"});
    argv.insert(argv.end(), {"--pid", LUMAREX_KWIN_INPUT_PATH, socket});
    try {
        helper_ = std::make_unique<ChildProcess>(ChildProcess::Options{
            .argv = argv, .env = env, .captureStdout = true, .extraFds = {{0, commands[0]}}});
    } catch (...) {
        ::close(commands[0]);
        throw;
    }
    ::close(commands[0]);
    const std::string first = readAnswer();
    if (first != "ok")
        throw std::runtime_error("KWinFakeInput: " + (first.empty() ? "the helper said nothing" : first));
}

KWinFakeInput::~KWinFakeInput() {
    ::close(commandFd_);
    if (helper_ && !helper_->waitForExit(std::chrono::seconds(5)))
        helper_->terminate();
}

void KWinFakeInput::moveTo(double x, double y) {
    command("move " + std::to_string(x) + " " + std::to_string(y));
}

void KWinFakeInput::setButton(std::uint32_t button, bool pressed) {
    command("button " + std::to_string(button) + (pressed ? " 1" : " 0"));
}

void KWinFakeInput::setKey(std::uint32_t key, bool pressed) {
    command("key " + std::to_string(key) + (pressed ? " 1" : " 0"));
}

void KWinFakeInput::command(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(commandFd_, text.data(), text.size()) != ssize_t(text.size()))
        throw std::runtime_error("KWinFakeInput: the helper is gone");
    const std::string answer = readAnswer();
    if (answer != "ok")
        throw std::runtime_error("KWinFakeInput: " + line + ": " + (answer.empty() ? "no answer" : answer));
}

std::string KWinFakeInput::readAnswer() {
    std::string line;
    for (;;) {
        pollfd pfd{helper_->stdoutFd(), POLLIN, 0};
        if (::poll(&pfd, 1, kAnswerTimeoutMs) <= 0)
            return {};
        char c = 0;
        if (::read(helper_->stdoutFd(), &c, 1) != 1)
            return {};
        if (c == '\n')
            return line;
        line += c;
    }
}

} // namespace testsupport
