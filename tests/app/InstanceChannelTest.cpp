#include "app/InstanceChannel.h"

#include "app/CommandSocket.h"

#include "CommandSocketHelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <future>

namespace {

using namespace std::chrono_literals;

class InstanceChannelTest : public testing::Test {
  protected:
    InstanceChannelTest() {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        qputenv("DISPLAY", ":channel-test");
    }
    ~InstanceChannelTest() override {
        qunsetenv("XDG_RUNTIME_DIR");
        qunsetenv("DISPLAY");
    }

    // Sends from another thread while this one runs the event loop, as the instance does.
    static bool sendWhileServing(const QString& command, QString* error,
                                 std::chrono::milliseconds timeout = 5s) {
        auto sent =
            std::async(std::launch::async, [&] { return InstanceChannel::send(command, error, timeout); });
        while (sent.wait_for(0ms) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return sent.get();
    }

    QTemporaryDir runtime;
};

TEST_F(InstanceChannelTest, TheSocketIsPerUserAndDisplay) {
    EXPECT_EQ(InstanceChannel::serverName(),
              QDir(runtime.path()).filePath(QStringLiteral("lumarex-%1-_channel_test").arg(::getuid())));
}

TEST_F(InstanceChannelTest, DeliversACommandAndReportsARefusedOne) {
    std::string error;
    QStringList received;
    InstanceChannel channel(CommandSocket::listen(InstanceChannel::serverName().toStdString(), false, &error),
                            [&](const QString& command) {
                                received << command;
                                return command == u"toggle";
                            });
    ASSERT_TRUE(channel.isListening()) << error;
    QString sendError;
    EXPECT_TRUE(sendWhileServing("toggle", &sendError)) << sendError.toStdString();
    EXPECT_FALSE(sendWhileServing("explode", &sendError))
        << "a command the instance does not know is refused";
    EXPECT_TRUE(sendError.contains("does not know the command 'explode'")) << sendError.toStdString();
    EXPECT_EQ(received, QStringList({"toggle", "explode"}));
}

TEST_F(InstanceChannelTest, EveryFailureIsNamedInWords) {
    const std::string path = InstanceChannel::serverName().toStdString();
    QString error;
    EXPECT_FALSE(InstanceChannel::send("show", &error, 500ms));
    EXPECT_EQ(error, "no running Lumarex instance on display :channel-test");

    commandsockettest::leaveStaleSocket(path);
    EXPECT_FALSE(InstanceChannel::send("show", &error, 500ms));
    EXPECT_TRUE(error.contains("ended without closing its command socket")) << error.toStdString();
    QFile::remove(QString::fromStdString(path));

    {
        std::string listenError;
        auto hung = CommandSocket::listen(path, false, &listenError); // never served
        ASSERT_TRUE(hung) << listenError;
        EXPECT_FALSE(InstanceChannel::send("show", &error, 300ms));
        EXPECT_EQ(error, "the Lumarex running on display :channel-test did not answer within 0.3 seconds");
    }

    std::ofstream(path) << "something else";
    EXPECT_FALSE(InstanceChannel::send("show", &error, 500ms));
    EXPECT_TRUE(error.contains(QString::fromStdString(path) + " is not a command socket"))
        << error.toStdString();
    EXPECT_FALSE(error.contains("QLocalSocket"));
}

TEST_F(InstanceChannelTest, WithoutASocketNothingIsServed) {
    InstanceChannel channel(nullptr, [](const QString&) { return true; });
    EXPECT_FALSE(channel.isListening());
}

} // namespace
