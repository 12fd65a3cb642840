#pragma once

#include "client/Logging.h"

#include <filesystem>
#include <string>

namespace veltrace {

// Appends each message to a file it owns, with no separator between messages.
// Called by the logger only; copy deleted.
class FileLogging : public Logging {
  public:
    // Takes ownership of an open, writable file descriptor (closed on destruction).
    explicit FileLogging(int fileDescriptor);
    // Opens (creating it, readable by the user only) the file at path for appending. When the file cannot
    // be opened the destination stays silent.
    explicit FileLogging(const std::filesystem::path& path);
    ~FileLogging() override;
    FileLogging(const FileLogging&) = delete;
    FileLogging& operator=(const FileLogging&) = delete;

    bool isOpen() const { return fileHandle_ >= 0; }
    void addMessage(const LogMessage& message) override;

    // "File: file - Func: function - Level: level - Message: text".
    static std::string format(const LogMessage& message);

  private:
    int fileHandle_ = -1;
};

} // namespace veltrace
