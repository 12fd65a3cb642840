#pragma once

#include <QString>
#include <QWidget>

class HighlightSettings;
class KeyTranslator;
class QLabel;
class QPushButton;

// The row in which the user records the toggle shortcut: a caption and a button. Pressing the button
// arms the recorder; the next key press in the application (modifier keys alone do not count) becomes
// the shortcut, is stored in the settings at once, and does not reach the focused control. A second
// press of the button disarms it without a change. The button's title is the shortcut, or a prompt
// while none is set; an outline in the accent colour shows that it is armed.
// Thread-safety: GUI thread only.
class KeyboardShortcutRecorder : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString shortcut READ shortcut WRITE setShortcut NOTIFY shortcutChanged)
    Q_PROPERTY(bool isRecording READ isRecording WRITE setRecording NOTIFY isRecordingChanged)
  public:
    static QString emptyTitle() { return QStringLiteral("Click here to record shortcut"); }

    // Edits `toggleShortcut` of `settings`; `label` is shown as given.
    KeyboardShortcutRecorder(HighlightSettings& settings, const QString& label, KeyTranslator& translator,
                             QWidget* parent = nullptr);

    QString shortcut() const;
    void setShortcut(const QString& shortcut);
    bool isRecording() const { return isRecording_; }
    void setRecording(bool recording);

    QPushButton* button() const { return button_; }
    QLabel* label() const { return label_; }
    // Whether the key monitor is installed (it is, from the first showing on).
    bool isMonitoring() const { return monitoring_; }

    // Installs the application-wide key monitor; later calls do nothing, so however often the row is
    // shown there is one monitor.
    void startMonitoring();

  signals:
    void shortcutChanged(const QString& shortcut);
    void isRecordingChanged(bool isRecording);

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void updateTitle();
    void updateOutline();

    HighlightSettings& settings_;
    KeyTranslator& translator_;
    QLabel* label_ = nullptr;
    QPushButton* button_ = nullptr;
    bool isRecording_ = false;
    bool monitoring_ = false;
};
