#include "app/CommandSocket.h"

#include "CommandSocketHelpers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

using namespace std::chrono_literals;
using namespace commandsockettest;
using Outcome = CommandSocket::Outcome;
namespace fs = std::filesystem;

class CommandSocketTest : public testing::Test {
  protected:
    CommandSocketTest() {
        folder = fs::temp_directory_path() / ("lumarex-socket-test-" + std::to_string(::getpid()) + "-" +
                                              testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        path = (folder / "lumarex-0-_9").string();
    }
    ~CommandSocketTest() override { fs::remove_all(folder); }

    std::unique_ptr<CommandSocket> listen(bool replace = false) {
        std::string error;
        auto socket = CommandSocket::listen(path, replace, &error);
        EXPECT_TRUE(socket) << error;
        return socket;
    }

    fs::path folder;
    std::string path;
};

TEST_F(CommandSocketTest, NothingThereMeansNoInstance) {
    EXPECT_EQ(CommandSocket::request(path, "show", 500ms).outcome, Outcome::NoInstance);
}

TEST_F(CommandSocketTest, AnInstanceAnswersOrRefuses) {
    auto socket = listen();
    {
        Responder instance(*socket, "ok");
        EXPECT_EQ(CommandSocket::request(path, "show", 2s).outcome, Outcome::Answered);
        EXPECT_EQ(instance.commands(), std::vector<std::string>{"show"});
    }
    Responder instance(*socket, "refused");
    const auto reply = CommandSocket::request(path, "explode", 2s);
    EXPECT_EQ(reply.outcome, Outcome::Refused);
}

TEST_F(CommandSocketTest, ASocketLeftByAKilledInstanceIsStale) {
    leaveStaleSocket(path);
    EXPECT_EQ(CommandSocket::request(path, "show", 500ms).outcome, Outcome::Stale);
}

TEST_F(CommandSocketTest, AFileOfAnotherKindIsNotASocketAndIsLeftAlone) {
    std::ofstream(path) << "mine";
    EXPECT_EQ(CommandSocket::request(path, "show", 500ms).outcome, Outcome::NotASocket);
    std::string error;
    EXPECT_FALSE(CommandSocket::listen(path, true, &error));
    EXPECT_NE(error.find("is not a socket"), std::string::npos) << error;
    std::string content;
    std::ifstream(path) >> content;
    EXPECT_EQ(content, "mine");
}

TEST_F(CommandSocketTest, AnInstanceThatDoesNotAcceptGivesNoAnswerInTime) {
    auto socket = listen(); // listening, never accepting: a hung instance
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(CommandSocket::request(path, "show", 300ms).outcome, Outcome::NoAnswer);
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_GE(waited, 300ms);
    EXPECT_LT(waited, 3s);
}

TEST_F(CommandSocketTest, AnInstanceThatHangsUpHasClosed) {
    auto socket = listen();
    Responder instance(*socket, "");
    EXPECT_EQ(CommandSocket::request(path, "show", 2s).outcome, Outcome::Closed);
}

TEST_F(CommandSocketTest, TheSocketIsTheUsersOnlyAndGoesAwayWithItsInstance) {
    {
        auto socket = listen();
        struct stat status {};
        ASSERT_EQ(::lstat(path.c_str(), &status), 0);
        EXPECT_TRUE(S_ISSOCK(status.st_mode));
        EXPECT_EQ(status.st_mode & 077, 0u) << "no access for group or others";
        bool inUse = false;
        std::string error;
        EXPECT_FALSE(CommandSocket::listen(path, false, &error, &inUse));
        EXPECT_TRUE(inUse);
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(CommandSocketTest, AReplacedInstanceLeavesItsSuccessorsSocketInPlace) {
    auto old = listen();
    auto successor = listen(true);
    old.reset(); // the old copy quits after the new one took over
    ASSERT_TRUE(fs::exists(path));
    Responder instance(*successor, "ok");
    EXPECT_EQ(CommandSocket::request(path, "quit", 2s).outcome, Outcome::Answered);
}

TEST_F(CommandSocketTest, ReplacingTakesOverAStaleSocket) {
    leaveStaleSocket(path);
    std::string error;
    EXPECT_FALSE(CommandSocket::listen(path, false, &error));
    auto socket = listen(true);
    Responder instance(*socket, "ok");
    EXPECT_EQ(CommandSocket::request(path, "show", 2s).outcome, Outcome::Answered);
}

} // namespace
