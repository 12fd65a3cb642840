#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <QVariantList>

// The application's end of a compositor part's session-bus interface (the GNOME Shell extension's, the
// KWin effect's: the same shape under each one's own name): commands go out without waiting for an
// answer, in order; the part's press reports come back as a Qt signal, and its coming (back) onto the bus
// as another.
// Thread-safety: GUI thread only.
class CompositorHighlightClient : public QObject {
    Q_OBJECT

  public:
    // Where the compositor part answers.
    struct Endpoint {
        const char* service;
        const char* path;
        const char* interface;
    };

    CompositorHighlightClient(QDBusConnection bus, Endpoint endpoint, QObject* parent = nullptr);

    // The version the part answers with, asked now (a short round trip); empty when it does not answer
    // (not installed, not enabled, or the compositor is not running).
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
    void show();
    void hide();
    void setClicked(bool clicked);

  signals:
    // A left press while shown, in the compositor's logical coordinates.
    void leftPressed(double x, double y);
    // The part came (back) onto the bus, for example after the compositor restarted: it has none of the
    // state sent before.
    void appeared();

  protected:
    void send(const QString& method, const QVariantList& arguments);
    QDBusConnection& bus() { return bus_; }
    const Endpoint& endpoint() const { return endpoint_; }

  private slots:
    void onLeftPressed(double x, double y);

  private:
    QDBusConnection bus_;
    Endpoint endpoint_;
    QDBusServiceWatcher watcher_;
};
