#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// Puts the Lumarex GNOME Shell extension where the Shell finds it and turns it on, through the Shell's
// own extension service (org.gnome.Shell.Extensions) on the session bus. An extension the running Shell
// already knows is enabled at once; one it does not know yet (installed after the login) is copied into
// the user's extension folder when no folder the Shell reads at login has it, and enabled for the next
// login, since GNOME on Wayland reads its extension folders only then. It never removes or overwrites
// anything it did not make in this call.
// Thread-safety: GUI thread only (calls block on the bus for a short while).
class GnomeExtensionInstaller {
  public:
    // Where extensions live: the user's data folder first (XDG_DATA_HOME, which the Shell reads before
    // the others), the system's data folders (XDG_DATA_DIRS), and the data folder of this program's own
    // installation (<prefix>/share next to <prefix>/bin), which may be none of those.
    struct Places {
        QString userDataDir;
        QStringList systemDataDirs;
        QString programDataDir;
    };
    static Places standardPlaces();

    // The Shell's states of an extension, as GetExtensionInfo reports them.
    enum State { Enabled = 1, Disabled = 2, Error = 3, OutOfDate = 4, Downloading = 5, Initialized = 6 };

    struct Result {
        // The Shell runs (or is starting) this version of the extension now.
        bool active = false;
        // What the user should know or do; empty when there is nothing to say.
        QString message;
    };

    GnomeExtensionInstaller(QDBusConnection bus, QString version, Places places = standardPlaces());

    Result installAndEnable();

  private:
    QVariantMap extensionInfo(QString* error) const;
    // What to do about an extension the Shell knows; `justEnabled` after this call enabled it.
    Result describeKnown(const QVariantMap& info, bool justEnabled, bool extensionsOn);
    Result installForNextLogin();
    // The extension's folder in `dataDir` when it holds one.
    QString extensionIn(const QString& dataDir) const;
    // Copies the program's extension into the user's folder; the error's description or empty.
    QString copyToUserFolder(const QString& source, const QString& target) const;
    // Adds the extension to the Shell's enabled list (and takes it off the disabled one) for the next
    // login; the error or empty.
    QString enableForNextLogin() const;

    QDBusConnection bus_;
    QString version_;
    Places places_;
};
