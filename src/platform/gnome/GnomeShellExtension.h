#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>

// The application's end of the Lumarex GNOME Shell extension's session-bus interface
// (example.quorvel.Lumarex.Shell1): commands go out without waiting for an answer, in order; the
// extension's press and shortcut signals come back as Qt signals. It also keeps the recorded shortcut
// text whose accelerator it last sent, so that a shortcut press can be reported as that key press.
// Thread-safety: GUI thread only.
class GnomeShellExtension : public QObject {
    Q_OBJECT

  public:
    static constexpr auto kService = "example.quorvel.Lumarex.Shell";
    static constexpr auto kPath = "/example/quorvel/Lumarex/Shell";
    static constexpr auto kInterface = "example.quorvel.Lumarex.Shell1";
    static constexpr auto kUuid = "lumarex@quorvel.example";

    explicit GnomeShellExtension(QDBusConnection bus, QObject* parent = nullptr);

    // The version the extension answers with, asked now (a short round trip); empty when it does not
    // answer (not installed, not enabled, or the Shell is not running).
    QString version() const;

    struct Look {
        QString baseColor; // "#RRGGBB"
        double baseOpacity;
        double baseSize;
        QString clickColor;
        double clickOpacity;
        double clickSize;
    };
    void setLook(const Look& look);
    // `shortcutText` as recorded; its accelerator (empty for none) is what the extension binds.
    void setShortcut(const QString& shortcutText, const QString& accelerator);
    const QString& shortcutText() const { return shortcutText_; }
    void show();
    void hide();
    void setClicked(bool clicked);

  signals:
    // A left press while shown, in the Shell's logical coordinates.
    void leftPressed(double x, double y);
    void shortcutPressed();
    // The extension came (back) onto the bus, for example after the Shell restarted: it has none of the
    // state sent before.
    void appeared();

  private slots:
    void onLeftPressed(double x, double y);
    void onShortcutPressed();

  private:
    void send(const QString& method, const QVariantList& arguments);

    QDBusConnection bus_;
    QDBusServiceWatcher watcher_;
    QString shortcutText_;
};
