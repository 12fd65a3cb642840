#pragma once

#include <QString>

// One notification through the desktop's notification service (org.freedesktop.Notifications on the
// session bus), for what the user should hear of when there is no window to say it in.
// Thread-safety: needs a QCoreApplication; call it from the thread that owns it.
class DesktopNotification {
  public:
    // Returns false, with `error` saying why, when there is no session bus or no notification service on
    // it, or the service refuses the notification.
    static bool send(const QString& summary, const QString& body, QString* error);
};
