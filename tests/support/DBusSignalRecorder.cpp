#include "support/DBusSignalRecorder.h"

#include <stdexcept>

namespace testsupport {

DBusSignalRecorder::DBusSignalRecorder(QDBusConnection bus, const QString& service, const QString& path,
                                       const QString& interface, const QString& name)
    : bus_(std::move(bus)), service_(service), path_(path), interface_(interface), name_(name) {
    if (!bus_.connect(service_, path_, interface_, name_, this, SLOT(onSignal(QDBusMessage))))
        throw std::runtime_error("cannot watch the D-Bus signal " + (interface_ + "." + name_).toStdString());
}

DBusSignalRecorder::~DBusSignalRecorder() {
    bus_.disconnect(service_, path_, interface_, name_, this, SLOT(onSignal(QDBusMessage)));
}

void DBusSignalRecorder::onSignal(const QDBusMessage& message) {
    received_.append(message);
}

} // namespace testsupport
