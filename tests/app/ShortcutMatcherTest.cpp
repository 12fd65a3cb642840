#include "app/ShortcutMatcher.h"
#include "platform/x11/X11KeyTranslator.h"

#include <gtest/gtest.h>

namespace {

using namespace ModifierFlags;

const QString commandShiftH = QString::fromUtf8("\u2318\u21e7H");

TranslatedKey key(std::uint64_t flags, const QString& characters) {
    return TranslatedKey{flags, characters};
}

TEST(ShortcutMatcherTest, LowerCaseKeyWithTheRecordedModifiersMatches) {
    EXPECT_TRUE(ShortcutMatcher::matchesShortcut(key(command | shift, "h"), commandShiftH));
    EXPECT_TRUE(ShortcutMatcher::matchesShortcut(key(command | shift, "H"), commandShiftH));
    EXPECT_TRUE(
        ShortcutMatcher::matchesShortcut(key(option | control, "1"), QString::fromUtf8("\u2325\u23031")));
    EXPECT_TRUE(ShortcutMatcher::matchesShortcut(key(0, "h"), QStringLiteral("H")));
}

TEST(ShortcutMatcherTest, MissingOrExtraModifiersOrAnotherKeyDoNotMatch) {
    EXPECT_FALSE(ShortcutMatcher::matchesShortcut(key(command | shift | option, "h"), commandShiftH));
    EXPECT_FALSE(ShortcutMatcher::matchesShortcut(key(command | shift | control, "h"), commandShiftH));
    EXPECT_FALSE(ShortcutMatcher::matchesShortcut(key(command, "h"), commandShiftH));
    EXPECT_FALSE(ShortcutMatcher::matchesShortcut(key(command | shift, "j"), commandShiftH));
    EXPECT_FALSE(ShortcutMatcher::matchesShortcut(key(shift, "h"), QStringLiteral("H")));
}

TEST(ShortcutMatcherTest, LockAndDeviceDependentBitsNeverTakePart) {
    constexpr std::uint64_t capsLock = 0x10000, numericPad = 0x200000, help = 0x400000, function = 0x800000;
    constexpr std::uint64_t deviceDependent = 0x0108; // left/right key bits below the mask
    EXPECT_TRUE(ShortcutMatcher::matchesShortcut(
        key(command | shift | capsLock | numericPad | help | function | deviceDependent, "h"),
        commandShiftH));
}

TEST(ShortcutMatcherTest, EmptyStoredShortcutNeverMatches) {
    EXPECT_FALSE(ShortcutMatcher::matchesShortcut(key(0, {}), {}));
    EXPECT_FALSE(ShortcutMatcher::matchesShortcut(key(command | shift, "h"), {}));
    // A press without characters can still match a text of modifier symbols alone.
    EXPECT_TRUE(ShortcutMatcher::matchesShortcut(key(command, {}), QString::fromUtf8("\u2318")));
}

// Through the real translator, from X key codes and state words as the server reports them: lock states
// (Caps Lock, Num Lock) and the shift level do not change what matches.
TEST(ShortcutMatcherTest, TranslatedXKeyPressesMatchWithLocksOn) {
    X11KeyTranslator us("evdev", "pc105", "us");
    ASSERT_TRUE(us.hasKeymap());
    constexpr std::uint32_t keycodeH = 43, shiftMask = 1u << 0, lockMask = 1u << 1, mod1 = 1u << 3,
                            numLock = 1u << 4, mod4 = 1u << 6;
    auto matches = [&](std::uint32_t state) {
        const auto translated = us.translate(keycodeH, state);
        return translated && ShortcutMatcher::matchesShortcut(*translated, commandShiftH);
    };
    EXPECT_TRUE(matches(mod4 | shiftMask));
    EXPECT_TRUE(matches(mod4 | shiftMask | lockMask));
    EXPECT_TRUE(matches(mod4 | shiftMask | numLock));
    EXPECT_TRUE(matches(mod4 | shiftMask | lockMask | numLock));
    EXPECT_FALSE(matches(mod4 | lockMask)) << "Caps Lock is no Shift";
    EXPECT_FALSE(matches(mod4 | shiftMask | mod1));
}

} // namespace
