#include "platform/x11/X11KeyTranslator.h"
#include "settings/ShortcutText.h"

#include <gtest/gtest.h>

// Evdev key codes (the kernel's key numbers plus 8), as an X server on Linux reports them.
namespace keycode {
constexpr std::uint32_t escape = 9, one = 10, backspace = 22, tab = 23, y = 29, returnKey = 36, a = 38,
                        h = 43;
constexpr std::uint32_t shiftL = 50, altL = 64, space = 65, capsLock = 66, f1 = 67, numLock = 77, kp1 = 87;
constexpr std::uint32_t f12 = 96, kpEnter = 104, controlR = 105, up = 111, deleteKey = 119, superL = 133;
constexpr std::uint32_t mute = 121;
} // namespace keycode

// X core modifier bits of an event's state word.
namespace state {
constexpr std::uint32_t shift = 1, lock = 2, control = 4, mod1 = 8, mod2 = 16, mod4 = 64, mod5 = 128;
constexpr std::uint32_t group2 = 1u << 13;
} // namespace state

class X11KeyTranslatorTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { us_ = new X11KeyTranslator("evdev", "pc105", "us"); }
    static void TearDownTestSuite() { delete us_; }

    static QString textOf(const X11KeyTranslator& translator, std::uint32_t code, std::uint32_t mods) {
        const auto key = translator.translate(code, mods);
        if (!key)
            return QStringLiteral("<none>");
        return shortcutText(key->modifierFlags, key->charactersIgnoringModifiers);
    }

    static X11KeyTranslator* us_;
};

X11KeyTranslator* X11KeyTranslatorTest::us_ = nullptr;

TEST_F(X11KeyTranslatorTest, ModifierStateMapsToTheFourFlags) {
    ASSERT_TRUE(us_->hasKeymap());
    const auto key = us_->translate(keycode::h, state::mod4 | state::shift);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->modifierFlags, ModifierFlags::command | ModifierFlags::shift);
    EXPECT_EQ(key->charactersIgnoringModifiers, "h"); // level 0: Shift does not change the character
    EXPECT_EQ(textOf(*us_, keycode::h, state::mod4 | state::shift), QString::fromUtf8("⌘⇧H"));
    EXPECT_EQ(textOf(*us_, keycode::a, state::mod1 | state::control), QString::fromUtf8("⌥⌃A"));
    EXPECT_EQ(textOf(*us_, keycode::one, state::shift), QString::fromUtf8("⇧1"));
    EXPECT_EQ(textOf(*us_, keycode::space, state::control), QString::fromUtf8("⌃ "));
}

TEST_F(X11KeyTranslatorTest, LockStatesAndLevelShiftsNeverChangeTheText) {
    const QString plain = textOf(*us_, keycode::h, state::mod4);
    EXPECT_EQ(textOf(*us_, keycode::h, state::mod4 | state::lock), plain);
    EXPECT_EQ(textOf(*us_, keycode::h, state::mod4 | state::mod2), plain);
    EXPECT_EQ(textOf(*us_, keycode::h, state::mod4 | state::mod5 | state::lock | state::mod2), plain);
    // Num Lock does not turn the keypad's navigation level into digits either.
    EXPECT_EQ(textOf(*us_, keycode::kp1, 0), textOf(*us_, keycode::kp1, state::mod2));
}

TEST_F(X11KeyTranslatorTest, ModifierAndLockKeysAreNoKeyDown) {
    for (std::uint32_t code : {keycode::shiftL, keycode::altL, keycode::controlR, keycode::superL,
                               keycode::capsLock, keycode::numLock})
        EXPECT_FALSE(us_->translate(code, state::shift)) << "keycode " << code;
}

TEST_F(X11KeyTranslatorTest, KeysWithoutCharactersGiveFixedCodes) {
    auto chars = [](std::uint32_t code) { return us_->translate(code, 0)->charactersIgnoringModifiers; };
    EXPECT_EQ(chars(keycode::escape), QString(QChar(0x1B)));
    EXPECT_EQ(chars(keycode::returnKey), QString(QChar(0x0D)));
    EXPECT_EQ(chars(keycode::tab), QString(QChar(0x09)));
    EXPECT_EQ(chars(keycode::backspace), QString(QChar(0x7F)));
    EXPECT_EQ(chars(keycode::kpEnter), QString(QChar(0x03)));
    EXPECT_EQ(chars(keycode::up), QString(QChar(0xF700)));
    EXPECT_EQ(chars(keycode::f1), QString(QChar(0xF704)));
    EXPECT_EQ(chars(keycode::f12), QString(QChar(0xF70F)));
    EXPECT_EQ(chars(keycode::deleteKey), QString(QChar(0xF728)));
    EXPECT_EQ(chars(keycode::kp1), QString(QChar(0xF72B))); // KP_End at level 0
    EXPECT_EQ(chars(keycode::mute), "XF86AudioMute");
    // A key code with nothing bound is still a key-down, without characters.
    const auto unbound = us_->translate(8, state::control);
    ASSERT_TRUE(unbound);
    EXPECT_EQ(unbound->charactersIgnoringModifiers, "");
    EXPECT_EQ(unbound->modifierFlags, ModifierFlags::control);
}

TEST_F(X11KeyTranslatorTest, GroupBitsSelectTheLayout) {
    X11KeyTranslator usDe("evdev", "pc105", "us,de");
    ASSERT_TRUE(usDe.hasKeymap());
    EXPECT_EQ(textOf(usDe, keycode::y, 0), "Y");
    EXPECT_EQ(textOf(usDe, keycode::y, state::group2), "Z"); // the German layout swaps Y and Z
    // Beyond the last group the keymap wraps round, as the server does.
    EXPECT_EQ(textOf(usDe, keycode::y, 2u << 13), "Y");
}

// A Wayland key event's modifiers carry no group: the keysym the toolkit resolved tells the layout.
TEST_F(X11KeyTranslatorTest, WithoutGroupBitsTheResolvedKeysymSelectsTheLayout) {
    X11KeyTranslator usDe("evdev", "pc105", "us,de");
    const struct {
        std::uint32_t mods, keysym;
        const char* text;
    } cases[] = {
        {0, 'y', "Y"},           {0, 'z', "Z"}, // German
        {state::shift, 'Z', "⇧Z"}, // German, at the shifted level
        {state::lock, 'Z', "Z"}, // German, Caps Lock on
        {0, 0, "Y"},             {0, 'q', "Y"}, // unknown or foreign keysym: the first layout
    };
    for (const auto& c : cases) {
        const auto key = usDe.translate(keycode::y, c.mods, c.keysym);
        ASSERT_TRUE(key);
        EXPECT_EQ(shortcutText(key->modifierFlags, key->charactersIgnoringModifiers), QString::fromUtf8(c.text))
            << "keysym " << c.keysym << " mods " << c.mods;
    }
}

TEST_F(X11KeyTranslatorTest, AKeymapInTextFormatReplacesTheKeymapAndBadTextKeepsIt) {
    X11KeyTranslator translator("evdev", "pc105", "us");
    EXPECT_TRUE(translator.useKeymap(R"(xkb_keymap {
        xkb_keycodes { include "evdev" };
        xkb_types { include "complete" };
        xkb_compat { include "complete" };
        xkb_symbols { include "pc+de" };
    };)"));
    EXPECT_EQ(textOf(translator, keycode::y, 0), "Z");
    EXPECT_FALSE(translator.useKeymap("xkb_keymap { this is no keymap"));
    EXPECT_EQ(textOf(translator, keycode::y, 0), "Z");
}

TEST_F(X11KeyTranslatorTest, CurrentStateWithoutServerIsTheResetState) {
    const auto key = us_->translateWithCurrentState(keycode::h);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->modifierFlags, 0u);
    EXPECT_EQ(key->charactersIgnoringModifiers, "h");
}

TEST(X11KeyTranslatorNamesTest, UnknownLayoutGivesNoKeymapAndNoTranslation) {
    X11KeyTranslator broken("evdev", "pc105", "no-such-layout-xx");
    EXPECT_FALSE(broken.hasKeymap());
    EXPECT_FALSE(broken.translate(keycode::h, 0));
    EXPECT_FALSE(broken.translateWithCurrentState(keycode::h));
}
