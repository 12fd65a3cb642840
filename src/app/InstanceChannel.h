#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

// The local socket through which `lumarex --show` and friends reach the instance running on the same
// display for the same user. The newest instance takes the name over, so a plain launch always
// starts afresh. Thread-safety: GUI thread only.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    explicit InstanceChannel(QObject* parent = nullptr);
    ~InstanceChannel() override;

    // The socket name for the current user and $DISPLAY.
    static QString serverName();

    // Carries out a received command; false when it is not one the instance knows. The sender is told
    // which, so a refused command is reported where it was given.
    using Handler = std::function<bool(const QString& command)>;

    // Starts listening; false (with a line on standard error) when the socket cannot be made.
    bool listen(Handler handler);

    // Client side: delivers `command` and waits for the instance to acknowledge it. On failure returns
    // false and says why in `error`.
    static bool send(const QString& command, QString* error, int timeoutMs = 3000);

private:
    void acceptConnection();

    std::unique_ptr<QLocalServer> server_;
    Handler handler_;
};
