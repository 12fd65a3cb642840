#pragma once

#include "client/Logging.h"

#include <string>

namespace veltrace {

// Writes each message as one line on standard output, flushed at once. Called by the logger only.
class PrintLogging : public Logging {
  public:
    void addMessage(const LogMessage& message) override;

    // "[Veltrace - file - func function] (level) - text", without the line feed.
    static std::string format(const LogMessage& message);
};

} // namespace veltrace
