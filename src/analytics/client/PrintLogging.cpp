#include "client/PrintLogging.h"

#include <cstdio>

namespace veltrace {

std::string PrintLogging::format(const LogMessage& message) {
    std::string line;
    line.reserve(32 + message.file.size() + message.function.size() + message.text.size());
    line.append("[Veltrace - ")
        .append(message.file)
        .append(" - func ")
        .append(message.function)
        .append("] (")
        .append(rawValue(message.level))
        .append(") - ")
        .append(message.text);
    return line;
}

void PrintLogging::addMessage(const LogMessage& message) {
    std::string line = format(message);
    line.push_back('\n');
    // One write per line, flushed, so a reader on a pipe sees whole lines at once.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

} // namespace veltrace
