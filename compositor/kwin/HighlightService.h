#pragma once

#include <QDBusContext>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QPointF>
#include <QString>

class HighlightEffect;

// The effect's interface on the session bus (example.quorvel.Lumarex.KWin1, see its XML): it owns the
// bus name while the effect is loaded, checks every value before the effect sees it, and hides the
// highlight when the application that showed it leaves the bus.
// Thread-safety: KWin's main thread only.
class HighlightService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "example.quorvel.Lumarex.KWin1")
    Q_PROPERTY(QString Version READ version)
    Q_PROPERTY(bool Shown READ shown)

  public:
    static constexpr auto kService = "example.quorvel.Lumarex.KWin";
    static constexpr auto kPath = "/example/quorvel/Lumarex/KWin";
    static constexpr auto kInterface = "example.quorvel.Lumarex.KWin1";

    HighlightService(HighlightEffect& effect, QObject* parent);
    ~HighlightService() override;

    QString version() const;
    bool shown() const;

  public slots:
    void SetLook(const QString& baseColor, double baseOpacity, double baseSize, const QString& clickColor,
                 double clickOpacity, double clickSize);
    void Show();
    void Hide();
    void SetClicked(bool clicked);

  signals:
    void LeftPressed(double x, double y);

  private:
    void onShownChanged(bool shown);

    HighlightEffect& effect_;
    QDBusServiceWatcher owner_;
};
