#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

// Whether the desktop's tray for StatusNotifierItems is up on the session bus: its registry
// (org.kde.StatusNotifierWatcher) owns its name and reports a host that shows the items
// (IsStatusNotifierHostRegistered). Follows both as the tray starts, restarts and ends.
// Thread-safety: GUI thread only.
class StatusNotifierHostMonitor : public QObject {
    Q_OBJECT
  public:
    explicit StatusNotifierHostMonitor(QDBusConnection bus, QObject* parent = nullptr);

    // False until the registry has answered that a host is there.
    bool isAvailable() const { return available_; }

  signals:
    void availableChanged(bool available);

  private slots:
    void hostChanged();

  private:
    void query();
    void setAvailable(bool available);

    QDBusConnection bus_;
    QDBusServiceWatcher watcher_;
    bool available_ = false;
    // Only the answer to the latest question counts: the registry may have gone and come back since.
    quint64 generation_ = 0;
};
