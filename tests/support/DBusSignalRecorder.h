#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>

namespace testsupport {

// Records every emission of one D-Bus signal (from any sender on the bus unless `service` names one),
// from construction until destruction.
// Thread-safety: the thread that made it; emissions arrive through its event loop.
class DBusSignalRecorder : public QObject {
    Q_OBJECT

  public:
    // Throws std::runtime_error when the bus refuses the match.
    DBusSignalRecorder(QDBusConnection bus, const QString& service, const QString& path,
                       const QString& interface, const QString& name);
    ~DBusSignalRecorder() override;

    const QList<QDBusMessage>& received() const { return received_; }
    qsizetype count() const { return received_.size(); }

  private slots:
    void onSignal(const QDBusMessage& message);

  private:
    QDBusConnection bus_;
    QString service_, path_, interface_, name_;
    QList<QDBusMessage> received_;
};

} // namespace testsupport
