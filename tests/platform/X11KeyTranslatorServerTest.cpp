#include "platform/x11/X11Connection.h"
#include "platform/x11/X11KeyTranslator.h"
#include "settings/ShortcutText.h"
#include "support/XConnection.h"
#include "support/XTestDriver.h"
#include "support/XvfbServer.h"

#include <QTest>

#include <gtest/gtest.h>

// Last: Xlib's macros (None, Bool…) clash with the test framework's names.
#include <X11/Xlib.h>
#include <X11/keysym.h>

// The translator on a live X server: the server's keymap, the keyboard state as XKB reports it (raw key
// events carry none), and keymap changes made while it runs.
class X11KeyTranslatorServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Display* display = XOpenDisplay(server.displayName().c_str());
        ASSERT_TRUE(display);
        connection = std::make_unique<X11Connection>(display);
        translator = std::make_unique<X11KeyTranslator>(*connection);
        ASSERT_TRUE(translator->hasKeymap());
        keyH = XKeysymToKeycode(client.display(), XK_h);
        ASSERT_NE(keyH, 0u);
    }

    QString currentText() const {
        const auto key = translator->translateWithCurrentState(keyH);
        return key ? shortcutText(key->modifierFlags, key->charactersIgnoringModifiers)
                   : QStringLiteral("<none>");
    }

    bool waitForCurrentText(const QString& expected) {
        return QTest::qWaitFor([&] { return currentText() == expected; }, 10000);
    }

    // Destroyed in reverse: translator, our connection, the client, then the server.
    testsupport::XvfbServer server;
    testsupport::XConnection client{server.displayName()};
    testsupport::XTestDriver input{client};
    std::unique_ptr<X11Connection> connection;
    std::unique_ptr<X11KeyTranslator> translator;
    unsigned keyH = 0;
};

TEST_F(X11KeyTranslatorServerTest, CurrentStateFollowsHeldModifiersAndIgnoresLocks) {
    EXPECT_EQ(currentText(), "H");
    input.pressKey("Super_L");
    input.pressKey("Shift_L");
    ASSERT_TRUE(waitForCurrentText(QString::fromUtf8("⌘⇧H"))) << currentText().toStdString();
    input.releaseKey("Shift_L");
    input.releaseKey("Super_L");
    ASSERT_TRUE(waitForCurrentText("H")) << currentText().toStdString();

    // Caps Lock on: the state changes (a lock), the text does not.
    input.tapKey("Caps_Lock");
    input.pressKey("Control_L");
    ASSERT_TRUE(waitForCurrentText(QString::fromUtf8("⌃H"))) << currentText().toStdString();
    input.releaseKey("Control_L");
    input.tapKey("Caps_Lock");
    ASSERT_TRUE(waitForCurrentText("H"));
    // The event's own state word gives the same answer as the tracked state.
    const auto fromEvent = translator->translate(keyH, ShiftMask | Mod4Mask | LockMask);
    ASSERT_TRUE(fromEvent);
    EXPECT_EQ(shortcutText(fromEvent->modifierFlags, fromEvent->charactersIgnoringModifiers),
              QString::fromUtf8("⌘⇧H"));
}

TEST_F(X11KeyTranslatorServerTest, KeymapChangesAreFollowed) {
    const int loads = translator->keymapLoads();
    KeySym q = XK_q;
    XChangeKeyboardMapping(client.display(), static_cast<int>(keyH), 1, &q, 1);
    client.sync();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return translator->translate(keyH, 0)->charactersIgnoringModifiers == "q"; }, 10000));
    // However many change notices arrived, the map was fetched again once per translation at most.
    EXPECT_GT(translator->keymapLoads(), loads);
    EXPECT_LE(translator->keymapLoads(), loads + 2);
    // The tracked state survives the reload.
    input.pressKey("Alt_L");
    EXPECT_TRUE(QTest::qWaitFor([&] { return currentText() == QString::fromUtf8("⌥Q"); }, 10000))
        << currentText().toStdString();
    input.releaseKey("Alt_L");
}
