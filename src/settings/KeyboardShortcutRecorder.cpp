#include "settings/KeyboardShortcutRecorder.h"

#include "highlight/HighlightSettings.h"
#include "platform/KeyTranslator.h"
#include "settings/ShortcutText.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

KeyboardShortcutRecorder::KeyboardShortcutRecorder(HighlightSettings& settings, const QString& label,
                                                   KeyTranslator& translator, QWidget* parent)
    : QWidget(parent), settings_(settings), translator_(translator) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    label_ = new QLabel(this);
    label_->setObjectName("shortcutRecorderLabel");
    label_->setTextFormat(Qt::PlainText);
    label_->setText(label);
    layout->addWidget(label_, 0, Qt::AlignVCenter);
    layout->addStretch(1);

    button_ = new QPushButton(this);
    button_->setObjectName("shortcutRecorderButton");
    button_->setFlat(true);
    button_->setCursor(Qt::PointingHandCursor);
    connect(button_, &QPushButton::clicked, this, [this] { setRecording(!isRecording_); });
    layout->addWidget(button_, 0, Qt::AlignVCenter);

    connect(&settings_, &HighlightSettings::toggleShortcutChanged, this, [this](const QString& shortcut) {
        updateTitle();
        emit shortcutChanged(shortcut);
    });
    updateTitle();
    updateOutline();
}

QString KeyboardShortcutRecorder::shortcut() const {
    return settings_.toggleShortcut();
}

void KeyboardShortcutRecorder::setShortcut(const QString& shortcut) {
    settings_.setToggleShortcut(shortcut);
}

void KeyboardShortcutRecorder::setRecording(bool recording) {
    if (recording == isRecording_)
        return;
    isRecording_ = recording;
    // Filters installed after ours (the toggle shortcut's) would see the press first; arming moves ours
    // to the front, so recording the current shortcut again does not also toggle the highlight.
    if (isRecording_ && monitoring_)
        qApp->installEventFilter(this);
    updateOutline();
    emit isRecordingChanged(isRecording_);
}

void KeyboardShortcutRecorder::startMonitoring() {
    if (monitoring_)
        return;
    monitoring_ = true;
    // An application-wide filter sees a key press before any widget or shortcut does, as a local
    // monitor must. Qt removes it by itself when this widget goes away.
    qApp->installEventFilter(this);
}

void KeyboardShortcutRecorder::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    startMonitoring();
}

bool KeyboardShortcutRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (!isRecording_ || (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return QWidget::eventFilter(watched, event);
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    const std::optional<TranslatedKey> key = translator_.translate(*keyEvent);
    if (!key)
        return false; // a modifier on its own: keep waiting for the key it goes with
    // Claim the press before the shortcut system sees it, so that even a combination some action uses
    // (Ctrl+Q…) is recorded rather than carried out; the press itself then comes here as a KeyPress.
    event->accept();
    if (event->type() == QEvent::ShortcutOverride)
        return true;
    setShortcut(shortcutText(key->modifierFlags, key->charactersIgnoringModifiers));
    setRecording(false);
    return true;
}

void KeyboardShortcutRecorder::updateTitle() {
    // A button reads "&" as the mark of a mnemonic; the "&" key (level 0 on French layouts) must show.
    QString current = shortcut();
    button_->setText(current.isEmpty() ? emptyTitle() : current.replace(u'&', QStringLiteral("&&")));
}

void KeyboardShortcutRecorder::updateOutline() {
    // Borderless button with a thin rounded outline: accent colour while armed, grey otherwise.
    const QString colour = isRecording_ ? QStringLiteral("palette(highlight)") : QStringLiteral("#8e8e93");
    button_->setStyleSheet(QStringLiteral("QPushButton#shortcutRecorderButton { border: 1px solid %1; "
                                          "border-radius: 4px; padding: 4px; background: transparent; }")
                               .arg(colour));
}
