#include "platform/ApplicationKeyMonitor.h"
#include "platform/x11/X11KeyTranslator.h"

#include <QApplication>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Counts the key presses that reach it, i.e. that nobody consumed on the way.
class KeyTarget : public QWidget {
  public:
    int presses = 0;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        ++presses;
        event->ignore(); // let it travel on to the parent as well, through the filter once more
    }
};

constexpr quint32 keycodeH = 43, keycodeSuperL = 133, shiftMask = 1u << 0, mod4 = 1u << 6, lockMask = 1u << 1;

QKeyEvent nativePress(QEvent::Type type, int key, quint32 scanCode, quint32 state) {
    return QKeyEvent(type, key, Qt::MetaModifier | Qt::ShiftModifier, scanCode, 0, state, QString());
}

class ApplicationKeyMonitorTest : public testing::Test {
  protected:
    ApplicationKeyMonitorTest() : translator("evdev", "pc105", "us"), monitor(translator) {
        auto* layout = new QVBoxLayout(&window);
        target = new KeyTarget;
        target->setFocusPolicy(Qt::StrongFocus);
        layout->addWidget(target);
        window.show();
        window.activateWindow();
        target->setFocus();
    }

    void send(QKeyEvent event) { QCoreApplication::sendEvent(window.windowHandle(), &event); }

    X11KeyTranslator translator;
    ApplicationKeyMonitor monitor;
    QWidget window;
    KeyTarget* target = nullptr;
    std::vector<TranslatedKey> seen;
};

TEST_F(ApplicationKeyMonitorTest, SeesEachPressOnceAndPassesItOn) {
    ASSERT_TRUE(monitor.start([this](const TranslatedKey& key) { seen.push_back(key); }));
    send(nativePress(QEvent::KeyPress, Qt::Key_H, keycodeH, mod4 | shiftMask | lockMask));
    ASSERT_EQ(seen.size(), 1u) << "the press travels window → widget → parent, but counts once";
    EXPECT_EQ(seen[0], (TranslatedKey{ModifierFlags::command | ModifierFlags::shift, "h"}));
    EXPECT_EQ(target->presses, 1) << "the focused control still gets the press";

    send(nativePress(QEvent::KeyRelease, Qt::Key_H, keycodeH, mod4 | shiftMask));
    send(nativePress(QEvent::KeyPress, Qt::Key_Super_L, keycodeSuperL, 0));
    send(QKeyEvent(QEvent::KeyPress, Qt::Key_H, Qt::NoModifier, QStringLiteral("h"))); // no native code
    EXPECT_EQ(seen.size(), 1u) << "releases, lone modifier keys and synthetic presses are no key-downs";
}

TEST_F(ApplicationKeyMonitorTest, StopRemovesTheFilter) {
    ASSERT_TRUE(monitor.start([this](const TranslatedKey& key) { seen.push_back(key); }));
    monitor.stop();
    send(nativePress(QEvent::KeyPress, Qt::Key_H, keycodeH, 0));
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(target->presses, 1);
}

} // namespace
