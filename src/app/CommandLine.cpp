#include "app/CommandLine.h"

#include "lumarex/Product.h"

#include <algorithm>
#include <string_view>

namespace {

// Wraps `text` at `width` columns; it starts at `firstColumn` and every further line at `indent`.
std::string wrap(const std::string& text, size_t width, size_t indent, size_t firstColumn = 0) {
    std::string out;
    size_t column = firstColumn;
    bool first = true;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view word(text.data() + start, end - start);
        if (!first && column + 1 + word.size() > width) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
        } else if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        first = false;
        start = end + 1;
    }
    return out;
}

} // namespace

const CommandLine::Help& CommandLine::help() {
    static const Help text{
        "lumarex [option]",
        "Highlights the mouse pointer for presentations, screen recordings and screen sharing.",
        {"With no option, starts Lumarex and opens its settings window. When Lumarex already runs on "
         "this display, it opens the settings window of the running one instead and exits."},
        {
            {"Starting",
             {{"--background", "start without opening the settings window (for start at login)"}}},
            {"Options for a running Lumarex on the same display",
             {{"--toggle", "show the highlight if it is hidden, hide it otherwise"},
              {"--show", "show the highlight"},
              {"--hide", "hide the highlight"},
              {"--settings", "open the settings window"},
              {"--quit", "quit Lumarex"}},
             true},
            {"Other options",
             {{"--version", "print the version and exit"}, {"--help", "print this help and exit"}}},
        },
        {std::string("Settings are kept in $XDG_CONFIG_HOME/") + product::maker + "/" + product::name +
         ".conf (default ~/.config)."},
    };
    return text;
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
        } else if (argument == "--background" || argument == "--replace") {
            // Ways of starting: they go with each other and with nothing else.
            if (result.action != Action::Run) {
                next.action = Action::Invalid;
                next.error = "give only one of the options";
                return next;
            }
            (argument == "--background" ? result.background : result.replace) = true;
            continue;
        } else if (argument.starts_with("--")) {
            const std::string_view name = std::string_view(argument).substr(2);
            for (const OptionGroup& group : help().groups)
                if (group.sentToRunningInstance)
                    for (const Option& option : group.options)
                        if (option.name == argument) {
                            next.action = Action::Send;
                            next.command = std::string(name);
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
        if ((result.action != Action::Run && result.action != next.action) || result.background ||
            result.replace) {
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
    constexpr size_t width = 100;
    constexpr size_t column = 16; // where the descriptions start
    const Help& text = help();
    std::string out = "Usage: " + text.synopsis + "\n" + text.summary + "\n";
    for (const std::string& paragraph : text.paragraphs)
        out += "\n" + wrap(paragraph, width, 0) + "\n";
    for (const OptionGroup& group : text.groups) {
        out += "\n" + group.heading + ":\n";
        for (const Option& option : group.options) {
            std::string line = "  " + option.name;
            line.append(std::max<size_t>(column, line.size() + 1) - line.size(), ' ');
            out += line + wrap(option.description, width, column, line.size()) + "\n";
        }
    }
    if (!text.notes.empty())
        out += "\n";
    for (const std::string& note : text.notes)
        out += wrap(note, width, 0) + "\n";
    return out;
}
