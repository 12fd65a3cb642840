#pragma once

#include "client/Logging.h"

#include <string>
#include <string_view>

namespace veltrace {

// Writes each message's PrintLogging line as a quoted, escaped string literal on standard output.
// Called by the logger only.
class PrintDebugLogging : public Logging {
  public:
    void addMessage(const LogMessage& message) override;

    // The text between double quotes, with backslash, quote and control characters escaped.
    static std::string quoted(std::string_view text);
};

} // namespace veltrace
