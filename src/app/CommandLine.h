#pragma once

#include <string>
#include <vector>

// What the command line asks for. Parsing needs no display, so --help and --version work anywhere.
// The option texts live here once: --help prints them and the manual page is made from them at build
// time (ManualPage). Thread-safety: a plain value.
struct CommandLine {
    enum class Action { Run, Version, Help, Send, Invalid };

    Action action = Action::Run;
    std::string command;     // with Send: "toggle", "show", "hide", "quit" or "settings"
    std::string error;       // with Invalid: what was wrong
    bool background = false; // with Run: --background, no settings window at start
    bool replace = false;    // with Run: --replace, the restart offer's new copy takes over at once

    static CommandLine parse(const std::vector<std::string>& arguments);

    // The help text, in parts for the manual page.
    struct Option {
        std::string name;        // "--toggle"
        std::string description; // "show the highlight if it is hidden, hide it otherwise"
    };
    struct OptionGroup {
        std::string heading; // "Options for a running Lumarex on the same display"
        std::vector<Option> options;
        bool sentToRunningInstance = false; // each option is a command for the running instance
    };
    struct Help {
        std::string synopsis;                // "lumarex [option]"
        std::string summary;                 // one line: what the program does
        std::vector<std::string> paragraphs; // what a plain launch does
        std::vector<OptionGroup> groups;
        std::vector<std::string> notes; // closing lines (where the settings are kept)
    };
    static const Help& help();
    // help() as --help prints it.
    static std::string usage();
};
