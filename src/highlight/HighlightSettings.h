#pragma once

#include <QColor>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QSettings;

// The user's highlight look and toggle shortcut, persisted in the application's INI settings file
// (group [General]). Every assignment, even of the current value, writes all seven keys to disk at once.
// Values are read from the file only when the object is created, and kept to what the settings window
// can set: sizes 10–100, opacities 0–1, a shortcut no longer than a shortcut can be. A save that fails
// (a read-only folder, a full disk) keeps the values in memory and is reported through saveProblem().
// Thread-safety: GUI thread only.
class HighlightSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QColor baseColor READ baseColor WRITE setBaseColor NOTIFY baseColorChanged)
    Q_PROPERTY(double baseOpacity READ baseOpacity WRITE setBaseOpacity NOTIFY baseOpacityChanged)
    Q_PROPERTY(double baseSize READ baseSize WRITE setBaseSize NOTIFY baseSizeChanged)
    Q_PROPERTY(QColor clickColor READ clickColor WRITE setClickColor NOTIFY clickColorChanged)
    Q_PROPERTY(double clickOpacity READ clickOpacity WRITE setClickOpacity NOTIFY clickOpacityChanged)
    Q_PROPERTY(double clickSize READ clickSize WRITE setClickSize NOTIFY clickSizeChanged)
    Q_PROPERTY(
        QString toggleShortcut READ toggleShortcut WRITE setToggleShortcut NOTIFY toggleShortcutChanged)

  public:
    static constexpr double kDefaultBaseOpacity = 0.3;
    static constexpr double kDefaultBaseSize = 30.0;
    static constexpr double kDefaultClickOpacity = 0.6;
    static constexpr double kDefaultClickSize = 40.0;
    static constexpr double kMinSize = 10.0;
    static constexpr double kMaxSize = 100.0;
    // Longer stored text is no shortcut: four modifier signs and the longest key name fit many times over.
    static constexpr qsizetype kMaxShortcutLength = 64;

    // The process-wide instance over $XDG_CONFIG_HOME/Quorvel/Lumarex.conf; created on first use, never
    // destroyed.
    static HighlightSettings& shared();

    // An instance over the INI file at `filePath` (tests, or another profile); loads it at once.
    explicit HighlightSettings(const QString& filePath, QObject* parent = nullptr);
    ~HighlightSettings() override;

    HighlightSettings(const HighlightSettings&) = delete;
    HighlightSettings& operator=(const HighlightSettings&) = delete;

    QColor baseColor() const { return baseColor_; }
    double baseOpacity() const { return baseOpacity_; }
    double baseSize() const { return baseSize_; }
    QColor clickColor() const { return clickColor_; }
    double clickOpacity() const { return clickOpacity_; }
    double clickSize() const { return clickSize_; }
    QString toggleShortcut() const { return toggleShortcut_; }

    void setBaseColor(const QColor& color);
    void setBaseOpacity(double opacity);
    void setBaseSize(double size);
    void setClickColor(const QColor& color);
    void setClickOpacity(double opacity);
    void setClickSize(double size);
    void setToggleShortcut(const QString& shortcut);

    // Seven ordinary assignments of the defaults; clears the shortcut.
    void resetToDefaults();

    // Writes all seven keys and flushes the file.
    void save();

    // The settings file this instance reads and writes.
    QString fileName() const;

    // Why the settings cannot be saved (the file and the cause), or empty while saving works.
    QString saveProblem() const { return saveProblem_; }

    // Colour text "#RRGGBB": surrounding punctuation and spaces are ignored, "0x" is accepted, and
    // anything that is not exactly six characters after trimming gives no colour.
    static std::optional<QColor> colorFromHex(const QString& text);
    // Upper-case "#RRGGBB" of the colour in sRGB, alpha dropped; an invalid colour gives "#000000".
    static QString hexFromColor(const QColor& color);

  signals:
    void baseColorChanged(const QColor& color);
    void baseOpacityChanged(double opacity);
    void baseSizeChanged(double size);
    void clickColorChanged(const QColor& color);
    void clickOpacityChanged(double opacity);
    void clickSizeChanged(double size);
    void toggleShortcutChanged(const QString& shortcut);
    // After any assignment, once the new value is saved.
    void changed();
    // Saving started or stopped failing.
    void saveProblemChanged(const QString& problem);

  private:
    void load();
    template <typename T, typename Notify> void assign(T& field, const T& value, Notify notify);
    void keepCopyOfBadFile(const QString& problem);
    void setSaveProblem(const QString& problem);
    QString writeFailureCause() const;

    std::unique_ptr<QSettings> store_;
    // False when a bad settings file could not be copied aside: we then leave it alone.
    bool canSave_ = true;
    QString saveProblem_;

    QColor baseColor_;
    double baseOpacity_ = kDefaultBaseOpacity;
    double baseSize_ = kDefaultBaseSize;
    QColor clickColor_;
    double clickOpacity_ = kDefaultClickOpacity;
    double clickSize_ = kDefaultClickSize;
    QString toggleShortcut_;
};
