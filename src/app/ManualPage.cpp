#include "app/ManualPage.h"

#include "app/CommandLine.h"
#include "lumarex/Product.h"

std::string ManualPage::escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    // A line starting with a dot or an apostrophe would be read as a request.
    if (!out.empty() && (out.front() == '.' || out.front() == '\''))
        out.insert(0, "\\&");
    return out;
}

std::string ManualPage::render(const std::string& version, const std::string& date) {
    const CommandLine::Help& help = CommandLine::help();
    std::string summary = help.summary;
    if (!summary.empty() && summary.back() == '.')
        summary.pop_back();
    if (!summary.empty() && summary.front() >= 'A' && summary.front() <= 'Z')
        summary.front() = char(summary.front() - 'A' + 'a');

    const size_t space = help.synopsis.find(' ');
    const std::string program = help.synopsis.substr(0, space);
    const std::string arguments = space == std::string::npos ? "" : help.synopsis.substr(space + 1);

    std::string page;
    page += ".TH LUMAREX 1 \"" + date + "\" \"Lumarex " + version + "\" \"User Commands\"\n";
    page += ".SH NAME\n" + program + " \\- " + escape(summary) + "\n";
    page += ".SH SYNOPSIS\n.B " + program + "\n" + escape(arguments) + "\n";
    page += ".SH DESCRIPTION\n" + escape(help.summary) + "\n";
    for (const std::string& paragraph : help.paragraphs)
        page += ".PP\n" + escape(paragraph) + "\n";
    page += ".SH OPTIONS\n";
    for (const CommandLine::OptionGroup& group : help.groups) {
        page += ".SS \"" + escape(group.heading) + "\"\n";
        for (const CommandLine::Option& option : group.options)
            page += ".TP\n.B " + escape(option.name) + "\n" + escape(option.description) + "\n";
    }
    page += ".SH \"EXIT STATUS\"\n"
            ".TP\n.B 0\ndone; a plain launch that handed over to the running Lumarex exits 0 too\n"
            ".TP\n.B 1\nno running Lumarex could be reached for a command, or there is no X display\n"
            ".TP\n.B 2\nan unknown option or a wrong combination of options\n";
    page += ".SH FILES\n";
    for (size_t i = 0; i < help.notes.size(); ++i)
        page += (i > 0 ? ".PP\n" : "") + escape(help.notes[i]) + "\n";
    page += ".TP\n.I $XDG_CONFIG_HOME/autostart/" + escape(product::appId) + ".desktop\n" +
            "the entry that \\(lqStart at Login\\(rq writes\n"
            ".TP\n.I $XDG_RUNTIME_DIR/lumarex\\-UID\\-DISPLAY\n"
            "the socket through which the options above reach the running Lumarex\n";
    return page;
}
