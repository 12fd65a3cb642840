#include "app/CommandLine.h"

#include <gtest/gtest.h>

using Action = CommandLine::Action;

TEST(CommandLineTest, PlainLaunchRunsAndPassesToolkitOptionsThrough) {
    EXPECT_EQ(CommandLine::parse({}).action, Action::Run);
    EXPECT_EQ(CommandLine::parse({"-platform", "xcb"}).action, Action::Run);
    EXPECT_EQ(CommandLine::parse({"-display", ":3", "--hide"}).action, Action::Send);
    EXPECT_EQ(CommandLine::parse({"-reverse"}).action, Action::Run);
}

TEST(CommandLineTest, RemoteCommandsAndInformation) {
    for (const char* command : {"toggle", "show", "hide", "quit", "settings"}) {
        const CommandLine line = CommandLine::parse({std::string("--") + command});
        EXPECT_EQ(line.action, Action::Send) << command;
        EXPECT_EQ(line.command, command);
    }
    EXPECT_EQ(CommandLine::parse({"--version"}).action, Action::Version);
    EXPECT_EQ(CommandLine::parse({"-h"}).action, Action::Help);
    EXPECT_EQ(CommandLine::parse({"--show", "--show"}).action, Action::Send) << "repeating one option is harmless";
}

TEST(CommandLineTest, RejectsUnknownAndConflictingOptionsWithAReason) {
    const CommandLine unknown = CommandLine::parse({"--shwo"});
    EXPECT_EQ(unknown.action, Action::Invalid);
    EXPECT_NE(unknown.error.find("--shwo"), std::string::npos);

    EXPECT_EQ(CommandLine::parse({"--show", "--hide"}).action, Action::Invalid);
    EXPECT_EQ(CommandLine::parse({"--show", "--version"}).action, Action::Invalid);
    EXPECT_EQ(CommandLine::parse({"file.txt"}).action, Action::Invalid);
    EXPECT_NE(CommandLine::usage().find("--toggle"), std::string::npos);
}
