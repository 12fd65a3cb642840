#include "app/InstanceChannel.h"

#include "app/CommandSocket.h"
#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <unistd.h>

namespace {
constexpr qsizetype maxCommandLength = 64;
}

InstanceChannel::InstanceChannel(std::unique_ptr<CommandSocket> socket, Handler handler, QObject* parent)
    : QObject(parent), socket_(std::move(socket)), handler_(std::move(handler)) {
    if (!socket_)
        return;
    notifier_ = new QSocketNotifier(socket_->fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &InstanceChannel::acceptConnections);
}

InstanceChannel::~InstanceChannel() {
    if (notifier_)
        notifier_->setEnabled(false);
}

QString InstanceChannel::display() {
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    return wayland.isEmpty() ? qEnvironmentVariable("DISPLAY") : wayland;
}

QString InstanceChannel::serverName() {
    QString display = InstanceChannel::display();
    for (QChar& c : display)
        if (!c.isLetterOrNumber())
            c = u'_';
    // $XDG_RUNTIME_DIR is private to the user; without it the socket's own permissions protect it.
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("lumarex-%1-%2").arg(getuid()).arg(display));
}

void InstanceChannel::acceptConnections() {
    for (int fd = socket_->accept(); fd >= 0; fd = socket_->accept()) {
        auto* connection = new QLocalSocket(this);
        if (!connection->setSocketDescriptor(fd)) {
            ::close(fd);
            delete connection;
            continue;
        }
        connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        connect(connection, &QLocalSocket::readyRead, this, [this, connection] {
            if (!connection->canReadLine()) {
                if (connection->bytesAvailable() > maxCommandLength)
                    connection->disconnectFromServer();
                return;
            }
            const QString command = QString::fromUtf8(connection->readLine(maxCommandLength)).trimmed();
            const bool done = handler_ && handler_(command);
            connection->write(done ? "ok\n" : "refused\n");
            connection->flush();
            connection->disconnectFromServer();
        });
    }
}

bool InstanceChannel::send(const QString& command, QString* error, std::chrono::milliseconds timeout) {
    const QString path = serverName();
    const QString display = InstanceChannel::display();
    const CommandSocket::Reply reply =
        CommandSocket::request(path.toStdString(), command.toStdString(), timeout);
    switch (reply.outcome) {
    case CommandSocket::Outcome::Answered:
        return true;
    case CommandSocket::Outcome::Refused:
        *error = QStringLiteral("the running Lumarex does not know the command '%1'").arg(command);
        break;
    case CommandSocket::Outcome::NoInstance:
        *error = QStringLiteral("no running Lumarex instance on display %1").arg(display);
        break;
    case CommandSocket::Outcome::Stale:
        *error = QStringLiteral("no running Lumarex instance on display %1 (the last one ended without "
                                "closing its command socket)")
                     .arg(display);
        break;
    case CommandSocket::Outcome::Closed:
        *error = QStringLiteral("the Lumarex on display %1 closed the connection without answering (it is "
                                "probably quitting)")
                     .arg(display);
        break;
    case CommandSocket::Outcome::NotASocket:
        *error = QStringLiteral("%1 is not a command socket, so no running Lumarex can be reached (something "
                                "else has a file of that name)")
                     .arg(path);
        break;
    case CommandSocket::Outcome::NoAnswer:
        *error = QStringLiteral("the Lumarex running on display %1 did not answer within %2")
                     .arg(display, QString::fromStdString(SingleInstance::describeDuration(timeout)));
        break;
    case CommandSocket::Outcome::Failed:
        *error = QStringLiteral("cannot reach the Lumarex on display %1: %2")
                     .arg(display, QString::fromStdString(reply.detail));
        break;
    }
    return false;
}
