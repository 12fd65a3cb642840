#include "client/PrintDebugLogging.h"

#include "client/PrintLogging.h"

#include <cstdio>

namespace veltrace {

std::string PrintDebugLogging::quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (const char c : text) {
        switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        case '\0':
            out.append("\\0");
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                static constexpr char hex[] = "0123456789abcdef";
                out.append("\\u{");
                if (static_cast<unsigned char>(c) >= 0x10)
                    out.push_back(hex[static_cast<unsigned char>(c) >> 4]);
                out.push_back(hex[static_cast<unsigned char>(c) & 0xf]);
                out.push_back('}');
            } else {
                out.push_back(c); // UTF-8 sequences pass through unchanged
            }
        }
    }
    out.push_back('"');
    return out;
}

void PrintDebugLogging::addMessage(const LogMessage& message) {
    std::string line = quoted(PrintLogging::format(message));
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

} // namespace veltrace
