#pragma once

#include <string>
#include <vector>

// What the command line asks for. Parsing needs no display, so --help and --version work anywhere.
// Thread-safety: a plain value.
struct CommandLine {
    enum class Action { Run, Version, Help, Send, Invalid };

    Action action = Action::Run;
    std::string command; // with Send: "toggle", "show", "hide", "quit" or "settings"
    std::string error;   // with Invalid: what was wrong

    static CommandLine parse(const std::vector<std::string>& arguments);
    static std::string usage();
};
