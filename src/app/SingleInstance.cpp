#include "app/SingleInstance.h"

#include <cstdio>

std::string SingleInstance::describeDuration(std::chrono::milliseconds duration) {
    const long long ms = duration.count();
    char text[32];
    if (ms % 1000 == 0)
        std::snprintf(text, sizeof text, "%lld second%s", ms / 1000, ms == 1000 ? "" : "s");
    else
        std::snprintf(text, sizeof text, "%g seconds", double(ms) / 1000.0);
    return text;
}

SingleInstance::Claim SingleInstance::claim(const std::string& socketPath, Start start,
                                            const std::string& display, std::chrono::milliseconds timeout) {
    Claim claim;
    const std::string withoutSocket =
        "; Lumarex runs without its command socket, so --toggle, --show, --hide, "
        "--settings and --quit cannot reach it";
    // Two starts at once decide one after the other: the second finds the first listening.
    CommandSocket::Lock lock(socketPath);

    auto listen = [&](bool replaceExisting) {
        std::string error;
        bool addressInUse = false;
        claim.socket = CommandSocket::listen(socketPath, replaceExisting, &error, &addressInUse);
        if (!claim.socket && !addressInUse)
            claim.messages.push_back(error + withoutSocket);
        return claim.socket != nullptr || !addressInUse;
    };

    if (start == Start::Replace) {
        if (!listen(true))
            claim.messages.push_back("the command socket " + socketPath + " is held by another instance" +
                                     withoutSocket);
        return claim;
    }

    // A start that does not take the lock (an older version) may bind between our question and our
    // bind; then it is asked once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const CommandSocket::Reply reply =
            CommandSocket::request(socketPath, start == Start::Background ? "ping" : "settings", timeout);
        bool replaceExisting = false;
        switch (reply.outcome) {
        case CommandSocket::Outcome::Answered:
        case CommandSocket::Outcome::Refused: // it runs and answers; an older version may not know the word
            claim.handedOver = true;
            return claim;
        case CommandSocket::Outcome::NoInstance:
            break;
        case CommandSocket::Outcome::Stale:
        case CommandSocket::Outcome::Closed:
            claim.messages.push_back("taking over the command socket of a Lumarex that is no longer running");
            replaceExisting = true;
            break;
        case CommandSocket::Outcome::NoAnswer:
            claim.messages.push_back("the Lumarex running on display " + display + " did not answer within " +
                                     describeDuration(timeout) +
                                     "; starting a new one, which takes over the command socket");
            replaceExisting = true;
            break;
        case CommandSocket::Outcome::NotASocket:
            claim.messages.push_back(socketPath + " is in the way of the command socket and is not a socket" +
                                     withoutSocket + " (remove that file and start Lumarex again)");
            return claim;
        case CommandSocket::Outcome::Failed:
            claim.messages.push_back("cannot reach a running Lumarex on display " + display + ": " +
                                     reply.detail + "; starting a new one");
            if (!listen(false))
                claim.messages.push_back("the command socket " + socketPath + " is held by something else" +
                                         withoutSocket);
            return claim;
        }
        if (listen(replaceExisting))
            return claim;
    }
    claim.messages.push_back("another Lumarex keeps taking the command socket " + socketPath + withoutSocket);
    return claim;
}
