#include "settings/KeyboardShortcutRecorder.h"

#include "highlight/HighlightSettings.h"
#include "platform/x11/X11KeyTranslator.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

// Evdev key codes and X modifier state bits, as the X server reports them in key events.
constexpr quint32 keyH = 43, keyQ = 24, keyEscape = 9, keyShiftL = 50, keySuperL = 133;
constexpr quint32 stateShift = 1, stateLock = 2, stateControl = 4, stateMod4 = 64;

// A window with a text field that has the focus and the recorder under it. Key events are delivered
// the way the platform delivers them: to the window, first as a shortcut override, then as a press.
class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(directory.isValid());
        settings = std::make_unique<HighlightSettings>(directory.filePath("Lumarex.conf"));
        auto* layout = new QVBoxLayout(&window);
        field = new QLineEdit(&window);
        layout->addWidget(field);
        recorder =
            new KeyboardShortcutRecorder(*settings, QStringLiteral("Toggle Highlight"), translator, &window);
        layout->addWidget(recorder);
        window.show();
        field->setFocus();
        ASSERT_TRUE(window.windowHandle());
    }

    // Returns whether the shortcut override was accepted (which keeps the press from shortcuts).
    bool press(quint32 keyCode, quint32 state, int qtKey, const QString& text) {
        QKeyEvent override(QEvent::ShortcutOverride, qtKey, Qt::NoModifier, keyCode, 0, state, text);
        override.ignore();
        QCoreApplication::sendEvent(window.windowHandle(), &override);
        QKeyEvent event(QEvent::KeyPress, qtKey, Qt::NoModifier, keyCode, 0, state, text);
        QCoreApplication::sendEvent(window.windowHandle(), &event);
        QKeyEvent release(QEvent::KeyRelease, qtKey, Qt::NoModifier, keyCode, 0, state, text);
        QCoreApplication::sendEvent(window.windowHandle(), &release);
        return override.isAccepted();
    }

    QString stored() const {
        QSettings file(settings->fileName(), QSettings::IniFormat);
        return file.value("toggleShortcut").toString();
    }

    QTemporaryDir directory;
    X11KeyTranslator translator{"evdev", "pc105", "us"};
    std::unique_ptr<HighlightSettings> settings;
    QWidget window;
    QLineEdit* field = nullptr;
    KeyboardShortcutRecorder* recorder = nullptr;
};

} // namespace

TEST_F(RecorderTest, IdleRecorderShowsPromptAndLetsKeysThrough) {
    EXPECT_EQ(recorder->button()->text(), "Click here to record shortcut");
    EXPECT_EQ(recorder->label()->text(), "Toggle Highlight");
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(recorder->isMonitoring());
    press(keyH, 0, Qt::Key_H, "h");
    EXPECT_EQ(field->text(), "h");
    EXPECT_EQ(settings->toggleShortcut(), "");
}

TEST_F(RecorderTest, ArmedRecorderStoresTheNextPressAtOnceAndConsumesIt) {
    recorder->button()->click();
    ASSERT_TRUE(recorder->isRecording());
    EXPECT_TRUE(recorder->button()->styleSheet().contains("palette(highlight)"));
    // The title does not change while armed.
    EXPECT_EQ(recorder->button()->text(), "Click here to record shortcut");

    // Modifier keys alone are not a key-down: still armed, nothing stored.
    press(keySuperL, 0, Qt::Key_Super_L, "");
    press(keyShiftL, stateMod4, Qt::Key_Shift, "");
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_EQ(settings->toggleShortcut(), "");

    EXPECT_TRUE(press(keyH, stateMod4 | stateShift | stateLock, Qt::Key_H, "H"));
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(settings->toggleShortcut(), QString::fromUtf8("⌘⇧H"));
    EXPECT_EQ(stored(), QString::fromUtf8("⌘⇧H"));
    EXPECT_EQ(recorder->button()->text(), QString::fromUtf8("⌘⇧H"));
    EXPECT_FALSE(recorder->button()->styleSheet().contains("palette(highlight)"));
    EXPECT_EQ(field->text(), "") << "the recorded press reached the focused control";

    // Disarmed again: the next press is typed as usual.
    press(keyH, 0, Qt::Key_H, "h");
    EXPECT_EQ(field->text(), "h");
    EXPECT_EQ(settings->toggleShortcut(), QString::fromUtf8("⌘⇧H"));
}

TEST_F(RecorderTest, ControlCombinationsAndEscapeAreRecordedLikeAnyKey) {
    recorder->button()->click();
    EXPECT_TRUE(press(keyQ, stateControl, Qt::Key_Q, QString(QChar(0x11))));
    EXPECT_EQ(stored(), QString::fromUtf8("⌃Q"));

    recorder->button()->click();
    press(keyEscape, 0, Qt::Key_Escape, QString(QChar(0x1B)));
    EXPECT_EQ(settings->toggleShortcut(), QString(QChar(0x1B)));
    EXPECT_EQ(recorder->button()->text(), QString(QChar(0x1B)));
}

TEST_F(RecorderTest, SecondButtonPressDisarmsWithoutChange) {
    settings->setToggleShortcut(QString::fromUtf8("⌥K"));
    recorder->button()->click();
    recorder->button()->click();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(settings->toggleShortcut(), QString::fromUtf8("⌥K"));
    EXPECT_EQ(recorder->button()->text(), QString::fromUtf8("⌥K"));
    press(keyH, 0, Qt::Key_H, "h");
    EXPECT_EQ(field->text(), "h");
}

TEST_F(RecorderTest, ArmedRecorderSeesThePressBeforeFiltersInstalledLater) {
    // Stands for the toggle shortcut's application filter, installed at launch after the window showed.
    struct Counter : QObject {
        int presses = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            presses += event->type() == QEvent::KeyPress;
            return false;
        }
    } later;
    qApp->installEventFilter(&later);
    recorder->button()->click();
    press(keyH, stateMod4 | stateShift, Qt::Key_H, "H");
    EXPECT_EQ(stored(), QString::fromUtf8("⌘⇧H"));
    EXPECT_EQ(later.presses, 0) << "the recorded press must not also reach the toggle shortcut";
    press(keyH, stateMod4 | stateShift, Qt::Key_H, "H");
    EXPECT_GT(later.presses, 0) << "once disarmed, presses reach the other filters again";
    qApp->removeEventFilter(&later);
}

TEST_F(RecorderTest, TitleFollowsTheSettingsAndShowingAgainKeepsOneMonitor) {
    settings->setToggleShortcut(QString::fromUtf8("⌘⌥⌃K"));
    EXPECT_EQ(recorder->button()->text(), QString::fromUtf8("⌘⌥⌃K"));
    settings->resetToDefaults();
    EXPECT_EQ(recorder->button()->text(), "Click here to record shortcut");

    // Hidden and shown again: still exactly one recording per press.
    for (int i = 0; i < 3; ++i) {
        recorder->hide();
        recorder->show();
    }
    recorder->button()->click();
    press(keyH, stateShift, Qt::Key_H, "H");
    EXPECT_EQ(settings->toggleShortcut(), QString::fromUtf8("⇧H"));
    press(keyQ, 0, Qt::Key_Q, "q");
    EXPECT_EQ(settings->toggleShortcut(), QString::fromUtf8("⇧H"));
    EXPECT_EQ(field->text(), "q");
}

// "&" is a key of its own on French layouts; a button would take it for a mnemonic mark and drop it.
TEST_F(RecorderTest, TitleShowsAnAmpersandShortcutWhole) {
    for (const QString& shortcut : {QString::fromUtf8("⌃&"), QStringLiteral("&"), QString::fromUtf8("⌘&&")}) {
        settings->setToggleShortcut(shortcut);
        const QFontMetrics metrics = recorder->button()->fontMetrics();
        EXPECT_EQ(metrics.size(Qt::TextShowMnemonic, recorder->button()->text()), metrics.size(0, shortcut))
            << shortcut.toStdString();
        EXPECT_TRUE(QKeySequence::mnemonic(recorder->button()->text()).isEmpty());
    }
    EXPECT_EQ(recorder->shortcut(), QString::fromUtf8("⌘&&")) << "the stored text is untouched";
}

TEST_F(RecorderTest, EventsWithoutNativeKeyCodeLeaveTheRecorderArmed) {
    recorder->button()->click();
    QKeyEvent synthetic(QEvent::KeyPress, Qt::Key_H, Qt::NoModifier, "h");
    QCoreApplication::sendEvent(window.windowHandle(), &synthetic);
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_EQ(settings->toggleShortcut(), "");
}
