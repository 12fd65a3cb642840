#include "app/InstanceChannel.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

#include <cstdio>

namespace {
constexpr qsizetype maxCommandLength = 64;
}

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::serverName() {
    QString display = qEnvironmentVariable("DISPLAY");
    for (QChar& c : display)
        if (!c.isLetterOrNumber())
            c = u'_';
    // $XDG_RUNTIME_DIR is private to the user; without it the socket's own permissions protect it.
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("lumarex-%1-%2").arg(getuid()).arg(display));
}

bool InstanceChannel::listen(Handler handler) {
    handler_ = std::move(handler);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = serverName();
    QLocalServer::removeServer(name); // an older instance gives way to this one
    if (!server_->listen(name)) {
        std::fprintf(stderr, "lumarex: cannot listen for commands on %s: %s\n", qPrintable(name),
                     qPrintable(server_->errorString()));
        return false;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, &InstanceChannel::acceptConnection);
    return true;
}

void InstanceChannel::acceptConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > maxCommandLength)
                    socket->disconnectFromServer();
                return;
            }
            const QString command = QString::fromUtf8(socket->readLine(maxCommandLength)).trimmed();
            const bool done = handler_ && handler_(command);
            socket->write(done ? "ok\n" : "refused\n");
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}

bool InstanceChannel::send(const QString& command, QString* error, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs)) {
        *error = QStringLiteral("no running Lumarex instance on display %1 (%2)")
                     .arg(qEnvironmentVariable("DISPLAY"), socket.errorString());
        return false;
    }
    socket.write((command + u'\n').toUtf8());
    if (!socket.waitForBytesWritten(timeoutMs)) {
        *error = QStringLiteral("could not send the command: %1").arg(socket.errorString());
        return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            *error = QStringLiteral("the running instance did not answer: %1").arg(socket.errorString());
            return false;
        }
    }
    if (socket.readLine().trimmed() != "ok") {
        *error = QStringLiteral("the running instance does not know the command '%1'").arg(command);
        return false;
    }
    return true;
}
