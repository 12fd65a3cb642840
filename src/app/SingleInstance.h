#pragma once

#include "app/CommandSocket.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// The start of an instance: one per user and display. A plain start hands over to an instance that
// answers on the command socket (it opens its settings window) and ends there; otherwise it becomes the
// instance, taking over a socket that an ended or hung instance left behind. The restart offer's new copy
// takes the socket at once (the old copy quits by itself). Runs before the toolkit starts, so a hand-over
// costs next to nothing. Thread-safety: claim() is a pure function of the file system and the clock.
class SingleInstance {
  public:
    enum class Start {
        Normal,     // `lumarex`: hand over to a running instance, which opens its settings window
        Background, // `lumarex --background`: a running instance is enough; it opens nothing
        Replace,    // `lumarex --replace`: take the socket from the running instance
    };

    static constexpr std::chrono::milliseconds answerTimeout{2000};

    struct Claim {
        // A running instance took the start over; this process has nothing more to do.
        bool handedOver = false;
        // The listening socket of this instance; null when the program runs without one.
        std::unique_ptr<CommandSocket> socket;
        // What happened on the way, in words, for standard error.
        std::vector<std::string> messages;
    };

    // `display` names the display in messages.
    static Claim claim(const std::string& socketPath, Start start, const std::string& display,
                       std::chrono::milliseconds timeout = answerTimeout);

    // "2 seconds", "0.5 seconds"
    static std::string describeDuration(std::chrono::milliseconds duration);
};
