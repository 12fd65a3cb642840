#pragma once

#include <functional>

typedef struct _XDisplay Display;

// Xlib has one protocol-error handler for the whole process. This routes each error to the handler
// registered for the connection it arrived on (the owner can tell a window destroyed behind its back
// from a real fault) and prints the rest on standard error, where Xlib's default would end the process.
// A broken connection is reported once on standard error; the connection's exit handler decides the rest.
// Thread-safety: any thread; a connection's handler runs on the thread that reads that connection.
class X11ErrorRouter {
  public:
    struct Error {
        int code = 0;
        int request = 0;
        int minorRequest = 0;
        unsigned long resource = 0;
    };
    // True when the handler has dealt with the error, which is then not printed.
    using Handler = std::function<bool(const Error&)>;

    // Prints the error on standard error, as every connection reports the errors it does not expect.
    static void report(Display* display, const Error& error);
    // Installs the process-wide handlers; calling it again changes nothing.
    static void install();
    // Says once for the process, on standard error, that the connection to the server broke: when the
    // server goes away every connection breaks at about the same time.
    static void reportBrokenConnection(const char* displayName);
    // Replaces the handler of `display`; an empty one removes it. Call from the thread that reads it.
    static void setHandler(Display* display, Handler handler);
};
