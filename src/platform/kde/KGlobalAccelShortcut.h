#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QStringList>

// The toggle shortcut as one action of Plasma's global-shortcut service (org.kde.kglobalaccel, in KWin):
// registered under the application's id, bound to the recorded key combination, and reported when
// pressed, whichever application is active. It binds again when the service comes back (KWin restarted).
// Thread-safety: GUI thread only.
class KGlobalAccelShortcut : public QObject {
    Q_OBJECT

  public:
    explicit KGlobalAccelShortcut(QDBusConnection bus, QObject* parent = nullptr);

    // `shortcutText` as recorded; an empty text, or one the service has no key for, unbinds.
    void setShortcut(const QString& shortcutText);
    const QString& shortcutText() const { return shortcutText_; }

  signals:
    void pressed();

  private slots:
    void onPressed(const QString& component, const QString& action, qlonglong timestamp);

  private:
    void bind();

    QDBusConnection bus_;
    QDBusServiceWatcher watcher_;
    QStringList actionId_;
    QString shortcutText_;
    bool listening_ = false;
};
