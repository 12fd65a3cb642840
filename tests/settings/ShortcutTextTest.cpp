#include "settings/ShortcutText.h"
#include "platform/KeyTranslator.h"

#include <gtest/gtest.h>

namespace {

constexpr auto command = ModifierFlags::command;
constexpr auto option = ModifierFlags::option;
constexpr auto shift = ModifierFlags::shift;
constexpr auto control = ModifierFlags::control;

QString text(std::uint64_t flags, const char* key) {
    return shortcutText(flags, QString::fromUtf8(key));
}

} // namespace

TEST(ShortcutTextTest, SymbolsComeInFixedOrderWhateverTheBitOrder) {
    EXPECT_EQ(text(command | shift, "h"), QString::fromUtf8("⌘⇧H"));
    EXPECT_EQ(text(shift | command, "H"), QString::fromUtf8("⌘⇧H"));
    EXPECT_EQ(text(command | option | control, "k"), QString::fromUtf8("⌘⌥⌃K"));
    EXPECT_EQ(text(option | shift | control, "x"), QString::fromUtf8("⌥⇧⌃X"));
    EXPECT_EQ(text(option | control, "1"), QString::fromUtf8("⌥⌃1"));
    EXPECT_EQ(text(command | option | shift | control, "a"), QString::fromUtf8("⌘⌥⇧⌃A"));
}

TEST(ShortcutTextTest, SymbolsAreTheDocumentedCodePoints) {
    const QByteArray utf8 = text(command | option | shift | control, "").toUtf8();
    EXPECT_EQ(utf8, QByteArray("\xE2\x8C\x98\xE2\x8C\xA5\xE2\x87\xA7\xE2\x8C\x83"));
}

TEST(ShortcutTextTest, KeyAloneAndSpecialKeys) {
    EXPECT_EQ(text(0, "h"), "H");
    EXPECT_EQ(text(0, "H"), "H");
    EXPECT_EQ(text(control, " "), QString::fromUtf8("⌃ "));
    EXPECT_EQ(shortcutText(0, QString(QChar(0x1B))), QString(QChar(0x1B)));
    // Private-use function-key codes and non-letters pass through the upper-casing unchanged.
    EXPECT_EQ(shortcutText(command, QString(QChar(0xF700))), QString::fromUtf8("⌘") + QChar(0xF700));
    EXPECT_EQ(text(shift, "1"), QString::fromUtf8("⇧1"));
    EXPECT_EQ(text(0, "é"), QString::fromUtf8("É"));
}

TEST(ShortcutTextTest, OnlyTheFourModifiersOfTheUpperHalfCount) {
    constexpr std::uint64_t capsLock = 0x10000, numericPad = 0x200000, help = 0x400000, function = 0x800000;
    EXPECT_EQ(text(command | capsLock | numericPad | help | function, "h"), QString::fromUtf8("⌘H"));
    // Device-dependent bits (left/right key flags) live in the low half and are masked off, even when
    // they happen to overlap nothing we use.
    EXPECT_EQ(text(0xFFFF, "h"), "H");
    EXPECT_EQ(text(0, ""), "");
    EXPECT_EQ(text(command | shift, ""), QString::fromUtf8("⌘⇧"));
}

TEST(ShortcutTextTest, ATextGivesBackTheKeyPressThatRecordsIt) {
    for (const char* recorded : {"⌘⇧H", "⌥⌃1", "⌘⌥⇧⌃Z", "⌘XF86AUDIOPLAY", "F"}) {
        const QString shortcut = QString::fromUtf8(recorded);
        const auto key = keyPressOfShortcutText(shortcut);
        ASSERT_TRUE(key) << recorded;
        EXPECT_EQ(shortcutText(key->modifierFlags, key->charactersIgnoringModifiers), shortcut) << recorded;
    }
    EXPECT_FALSE(keyPressOfShortcutText(""));
    EXPECT_FALSE(keyPressOfShortcutText(QString::fromUtf8("⌘⇧")));
}
