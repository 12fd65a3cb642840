// Test helper: runs a cpp-httplib server on a free loopback port, on a thread of its own, and returns once
// its accept loop answers (the server ignores stop() until then, so a test that failed early could not
// shut it down). Thread safety: call from the thread that owns the server and the thread object.
#pragma once

#include <httplib.h>

#include <stdexcept>
#include <thread>

namespace testsupport {

// The port. Throws std::runtime_error when no port can be bound or the loop does not answer.
inline int listenOnLoopback(httplib::Server& server, std::thread& thread, bool https) {
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0)
        throw std::runtime_error("could not bind a loopback port");
    thread = std::thread([&server] { server.listen_after_bind(); });
    bool answered = false;
    if (https) {
        httplib::SSLClient client("127.0.0.1", port);
        client.enable_server_certificate_verification(false);
        answered = static_cast<bool>(client.Get("/.ready"));
    } else {
        answered = static_cast<bool>(httplib::Client("127.0.0.1", port).Get("/.ready"));
    }
    if (!answered) {
        server.stop();
        thread.join();
        throw std::runtime_error("the loopback server did not answer");
    }
    return port;
}

} // namespace testsupport
