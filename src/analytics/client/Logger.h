#pragma once

#include "client/LogLevel.h"
#include "client/Logging.h"

#include <concepts>
#include <memory>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace veltrace {

// The client's process-wide logger. Every operation is thread-safe; the message of a call is only built
// when its level is enabled, and delivery is synchronous (all destinations have written when the call
// returns). Nothing is enabled at start.
//
//   Logger::info("Connection to database closed.", "close()");
//   Logger::error([&] { return "Error opening or creating database at path: " + path; }, "open()");
class Logger {
  public:
    // Appends a destination; it stays registered for the life of the process. Duplicates are kept.
    static void addLogging(std::shared_ptr<Logging> destination);
    static void enableLevel(LogLevel level);
    static void disableLevel(LogLevel level);
    static bool isEnabled(LogLevel level);

    // message: a string (literal or view) or a callable yielding the text, run only when the level is on.
    // function: the calling operation's name; the file comes from the call site.
    template <class Message>
    static void debug(Message&& message, std::string_view function,
                      std::source_location where = std::source_location::current()) {
        log(LogLevel::debug, std::forward<Message>(message), function, where);
    }
    template <class Message>
    static void info(Message&& message, std::string_view function,
                     std::source_location where = std::source_location::current()) {
        log(LogLevel::info, std::forward<Message>(message), function, where);
    }
    template <class Message>
    static void warning(Message&& message, std::string_view function,
                        std::source_location where = std::source_location::current()) {
        log(LogLevel::warning, std::forward<Message>(message), function, where);
    }
    template <class Message>
    static void error(Message&& message, std::string_view function,
                      std::source_location where = std::source_location::current()) {
        log(LogLevel::error, std::forward<Message>(message), function, where);
    }

    template <class Message>
    static void log(LogLevel level, Message&& message, std::string_view function,
                    std::source_location where) {
        if (!isEnabled(level))
            return;
        if constexpr (std::is_invocable_v<Message>)
            deliver(level, std::string(std::forward<Message>(message)()), function, where.file_name());
        else
            deliver(level, std::string(std::forward<Message>(message)), function, where.file_name());
    }

  private:
    static void deliver(LogLevel level, std::string text, std::string_view function,
                        std::string_view filePath);
};

} // namespace veltrace
