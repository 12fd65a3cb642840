#include "app/SingleInstance.h"

#include "CommandSocketHelpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace std::chrono_literals;
using namespace commandsockettest;
using Start = SingleInstance::Start;
namespace fs = std::filesystem;

class SingleInstanceTest : public testing::Test {
  protected:
    SingleInstanceTest() {
        folder = fs::temp_directory_path() / ("lumarex-instance-test-" + std::to_string(::getpid()) + "-" +
                                              testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        path = (folder / "lumarex-0-_9").string();
    }
    ~SingleInstanceTest() override { fs::remove_all(folder); }

    SingleInstance::Claim claim(Start start, std::chrono::milliseconds timeout = 2s) {
        return SingleInstance::claim(path, start, ":9", timeout);
    }
    static std::string joined(const SingleInstance::Claim& claim) {
        std::string text;
        for (const auto& message : claim.messages)
            text += message + "\n";
        return text;
    }

    fs::path folder;
    std::string path;
};

TEST_F(SingleInstanceTest, TheFirstStartBecomesTheInstanceQuietly) {
    auto first = claim(Start::Normal);
    EXPECT_FALSE(first.handedOver);
    ASSERT_TRUE(first.socket);
    EXPECT_TRUE(first.messages.empty()) << joined(first);
    EXPECT_EQ(CommandSocket::request(path, "ping", 500ms).outcome, CommandSocket::Outcome::NoAnswer)
        << "listening already, though nobody serves it in this test";
}

TEST_F(SingleInstanceTest, APlainSecondStartAsksForTheSettingsWindowAndHandsOver) {
    auto first = claim(Start::Normal);
    Responder instance(*first.socket, "ok");
    auto second = claim(Start::Normal);
    EXPECT_TRUE(second.handedOver);
    EXPECT_FALSE(second.socket);
    EXPECT_TRUE(second.messages.empty()) << joined(second);
    EXPECT_EQ(instance.commands(), std::vector<std::string>{"settings"});
}

TEST_F(SingleInstanceTest, ABackgroundStartOnlyAsksWhetherOneRuns) {
    auto first = claim(Start::Normal);
    Responder instance(*first.socket, "refused"); // an older instance that does not know the word
    auto second = claim(Start::Background);
    EXPECT_TRUE(second.handedOver);
    EXPECT_EQ(instance.commands(), std::vector<std::string>{"ping"});
}

TEST_F(SingleInstanceTest, TheRestartOffersCopyTakesTheSocketWithoutAsking) {
    auto old = claim(Start::Normal);
    Responder oldInstance(*old.socket, "ok");
    auto replacement = claim(Start::Replace);
    EXPECT_FALSE(replacement.handedOver);
    ASSERT_TRUE(replacement.socket);
    EXPECT_TRUE(oldInstance.commands().empty());
    Responder newInstance(*replacement.socket, "ok");
    EXPECT_EQ(CommandSocket::request(path, "hide", 2s).outcome, CommandSocket::Outcome::Answered);
    EXPECT_EQ(newInstance.commands(), std::vector<std::string>{"hide"});
}

TEST_F(SingleInstanceTest, AStaleSocketIsTakenOverAndSaidSo) {
    leaveStaleSocket(path);
    auto start = claim(Start::Normal);
    EXPECT_FALSE(start.handedOver);
    ASSERT_TRUE(start.socket);
    EXPECT_NE(joined(start).find("no longer running"), std::string::npos) << joined(start);
}

TEST_F(SingleInstanceTest, AHungInstanceIsGivenUpOnAfterTheTimeOut) {
    auto hung = claim(Start::Normal); // listens, never answers
    const auto before = std::chrono::steady_clock::now();
    auto start = claim(Start::Normal, 300ms);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 300ms);
    EXPECT_FALSE(start.handedOver);
    ASSERT_TRUE(start.socket) << "the new start takes the socket";
    EXPECT_NE(joined(start).find("did not answer within 0.3 seconds"), std::string::npos) << joined(start);
    hung.socket.reset(); // if the hung one ends later, it leaves the new socket alone
    Responder instance(*start.socket, "ok");
    EXPECT_EQ(CommandSocket::request(path, "show", 2s).outcome, CommandSocket::Outcome::Answered);
}

TEST_F(SingleInstanceTest, AFileInTheWayMeansRunningWithoutASocket) {
    std::ofstream(path) << "not mine to remove";
    auto start = claim(Start::Normal);
    EXPECT_FALSE(start.handedOver);
    EXPECT_FALSE(start.socket);
    const std::string text = joined(start);
    EXPECT_NE(text.find(path + " is in the way of the command socket and is not a socket"), std::string::npos)
        << text;
    EXPECT_TRUE(fs::is_regular_file(path));
}

TEST_F(SingleInstanceTest, DurationsInWords) {
    EXPECT_EQ(SingleInstance::describeDuration(2000ms), "2 seconds");
    EXPECT_EQ(SingleInstance::describeDuration(1000ms), "1 second");
    EXPECT_EQ(SingleInstance::describeDuration(500ms), "0.5 seconds");
}

} // namespace
