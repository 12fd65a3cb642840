#include "app/CommandLine.h"

#include <array>
#include <string_view>

namespace {
constexpr std::array remoteCommands{"toggle", "show", "hide", "quit", "settings"};
}

CommandLine CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine result;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        CommandLine next;
        if (argument == "--version" || argument == "-v") {
            next.action = Action::Version;
        } else if (argument == "--help" || argument == "-h") {
            next.action = Action::Help;
        } else if (argument.starts_with("--")) {
            const std::string_view name = std::string_view(argument).substr(2);
            for (const char* command : remoteCommands)
                if (name == command) {
                    next.action = Action::Send;
                    next.command = command;
                }
            if (next.action != Action::Send) {
                next.action = Action::Invalid;
                next.error = "unknown option '" + argument + "'";
            }
        } else if (argument.starts_with("-")) {
            // Toolkit options such as -platform xcb or -display :1 are left to the toolkit, value and all.
            if (i + 1 < arguments.size() && !arguments[i + 1].starts_with("-"))
                ++i;
            continue;
        } else {
            next.action = Action::Invalid;
            next.error = "unexpected argument '" + argument + "'";
        }
        if (next.action == Action::Invalid)
            return next;
        if (result.action != Action::Run && result.action != next.action) {
            next.action = Action::Invalid;
            next.error = "give only one of the options";
            return next;
        }
        if (result.action == Action::Send && next.command != result.command) {
            next.action = Action::Invalid;
            next.error = "give only one of --toggle, --show, --hide, --quit and --settings";
            return next;
        }
        result = next;
    }
    return result;
}

std::string CommandLine::usage() {
    return "Usage: lumarex [option]\n"
           "Highlights the mouse pointer for presentations, screen recordings and screen sharing.\n"
           "\n"
           "With no option, starts Lumarex and opens its settings window.\n"
           "\n"
           "Options for a running Lumarex on the same display:\n"
           "  --toggle     show the highlight if it is hidden, hide it otherwise\n"
           "  --show       show the highlight\n"
           "  --hide       hide the highlight\n"
           "  --settings   open the settings window\n"
           "  --quit       quit Lumarex\n"
           "\n"
           "Other options:\n"
           "  --version    print the version and exit\n"
           "  --help       print this help and exit\n"
           "\n"
           "Settings are kept in $XDG_CONFIG_HOME/Quorvel/Lumarex.conf (default ~/.config).\n";
}
