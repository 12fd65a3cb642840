#include "client/FileLogging.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace veltrace {

FileLogging::FileLogging(int fileDescriptor) : fileHandle_(fileDescriptor) {}

FileLogging::FileLogging(const std::filesystem::path& path)
    : fileHandle_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600)) {}

FileLogging::~FileLogging() {
    if (fileHandle_ >= 0)
        ::close(fileHandle_);
}

std::string FileLogging::format(const LogMessage& message) {
    std::string out;
    out.append("File: ")
        .append(message.file)
        .append(" - Func: ")
        .append(message.function)
        .append(" - Level: ")
        .append(rawValue(message.level))
        .append(" - Message: ")
        .append(message.text);
    return out;
}

void FileLogging::addMessage(const LogMessage& message) {
    if (fileHandle_ < 0)
        return;
    const std::string out = format(message);
    const char* data = out.data();
    size_t left = out.size();
    while (left > 0) {
        const ssize_t written = ::write(fileHandle_, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return; // a full disk or closed pipe must not take the client down
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
}

} // namespace veltrace
