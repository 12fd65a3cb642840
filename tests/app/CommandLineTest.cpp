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
    EXPECT_EQ(CommandLine::parse({"--show", "--show"}).action, Action::Send)
        << "repeating one option is harmless";
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

TEST(CommandLineTest, BackgroundAndReplaceAreWaysOfStarting) {
    const CommandLine background = CommandLine::parse({"--background"});
    EXPECT_EQ(background.action, Action::Run);
    EXPECT_TRUE(background.background);
    EXPECT_FALSE(background.replace);
    const CommandLine replace = CommandLine::parse({"--replace"});
    EXPECT_EQ(replace.action, Action::Run);
    EXPECT_TRUE(replace.replace);
    EXPECT_FALSE(CommandLine::parse({}).background);
    EXPECT_TRUE(CommandLine::parse({"-display", ":2", "--background"}).background);

    EXPECT_EQ(CommandLine::parse({"--background", "--show"}).action, Action::Invalid);
    EXPECT_EQ(CommandLine::parse({"--show", "--background"}).action, Action::Invalid);
    EXPECT_EQ(CommandLine::parse({"--version", "--background"}).action, Action::Invalid);

    EXPECT_NE(CommandLine::usage().find("--background"), std::string::npos);
    EXPECT_EQ(CommandLine::usage().find("--replace"), std::string::npos) << "internal to the restart offer";
}

TEST(CommandLineTest, HelpLinesAreAlignedAndShort) {
    const std::string usage = CommandLine::usage();
    EXPECT_NE(usage.find("\n  --background  start without opening the settings window"), std::string::npos)
        << usage;
    EXPECT_NE(usage.find("\n  --toggle      show the highlight"), std::string::npos) << usage;
    size_t start = 0;
    while (start < usage.size()) {
        const size_t end = usage.find('\n', start);
        EXPECT_LE(end - start, 100u) << usage.substr(start, end - start);
        start = end + 1;
    }
}
