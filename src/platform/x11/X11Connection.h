#pragma once

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QSocketNotifier;
typedef struct _XDisplay Display;
union _XEvent;

// Our own Xlib connection, beside Qt's: the overlay window, the global input monitors and the
// compositor watch live on it, so none of them goes through Qt's window machinery. Events are read
// when the socket is readable; nothing polls. Protocol errors that arrive on it go to its error handlers
// first. Thread-safety: GUI thread only.
class X11Connection : public QObject {
    Q_OBJECT
  public:
    // Opens the display named by $DISPLAY; null when it cannot be opened. May be called before the
    // application object exists: the socket is watched from the first handler on.
    static std::unique_ptr<X11Connection> open();

    // Takes ownership of `display`.
    explicit X11Connection(Display* display);
    ~X11Connection() override;
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    Display* display() const { return display_; }
    // The display's name as Xlib resolved it, for a second connection to the same server.
    std::string displayName() const;
    unsigned long rootWindow() const;
    int screen() const;
    // Major opcode of XInput 2.2 or later, or -1 when the server lacks it.
    int xinputOpcode() const { return xinputOpcode_; }
    // First event code of XFixes, or -1 when the server lacks it.
    int xfixesEventBase() const { return xfixesEventBase_; }

    // Handlers see every event; for XInput generic events the cookie data is already fetched.
    using Handler = std::function<void(_XEvent&)>;
    int addHandler(Handler handler);
    void removeHandler(int id);

    // An error handler returns true when the error was its own (it is then not reported).
    struct Error {
        int code = 0;
        unsigned long resource = 0;
    };
    using ErrorHandler = std::function<bool(const Error&)>;
    int addErrorHandler(ErrorHandler handler);
    void removeErrorHandler(int id);

    // Sends buffered requests; also reads any events a round trip left in Xlib's queue, which the
    // socket notifier would not announce.
    void flush();

  private:
    void processEvents();

    Display* display_;
    int xinputOpcode_ = -1;
    int xfixesEventBase_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<int, Handler> handlers_;
    std::map<int, ErrorHandler> errorHandlers_;
    int nextHandlerId_ = 1;
    bool drainQueued_ = false;
};
