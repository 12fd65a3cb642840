#pragma once

#include "app/CommandSocket.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;

// The command channel of the running instance: `lumarex --show` and friends, and a second plain launch,
// reach it through its CommandSocket, one command line per connection, answered "ok" or "refused".
// Thread-safety: GUI thread only (send() is safe from any thread).
class InstanceChannel : public QObject {
    Q_OBJECT
  public:
    // Carries out a received command; false when it is not one the instance knows. The sender is told
    // which, so a refused command is reported where it was given.
    using Handler = std::function<bool(const QString& command)>;

    // Serves `socket` (which may be null: then nothing is served).
    explicit InstanceChannel(std::unique_ptr<CommandSocket> socket, Handler handler,
                             QObject* parent = nullptr);
    ~InstanceChannel() override;

    bool isListening() const { return socket_ != nullptr; }

    // The display one instance serves: $WAYLAND_DISPLAY in a Wayland session (which may have no X display,
    // or XWayland's beside it), else $DISPLAY.
    static QString display();
    // The socket path for the current user and display().
    static QString serverName();

    // Client side: delivers `command` and waits for the instance to carry it out. On failure returns
    // false and says why in `error`, in words.
    static bool send(const QString& command, QString* error,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

  private:
    void acceptConnections();

    std::unique_ptr<CommandSocket> socket_;
    Handler handler_;
    QSocketNotifier* notifier_ = nullptr;
};
