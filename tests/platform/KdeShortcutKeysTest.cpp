#include "platform/kde/KdeShortcutKeys.h"

#include <QKeySequence>

#include <gtest/gtest.h>

namespace {

TEST(KdeShortcutKeysTest, ShortcutTextBecomesTheKeysPlasmaBinds) {
    const struct {
        QString text;
        QString keys; // as Qt writes the combination; empty for none
    } cases[] = {
        {QString::fromUtf8("⌘⇧H"), "Meta+Shift+H"},
        {QString::fromUtf8("⌥⌃1"), "Ctrl+Alt+1"},
        {QString::fromUtf8("⌘⌥⇧⌃Z"), "Meta+Ctrl+Alt+Shift+Z"},
        {QString::fromUtf8("⌘,"), "Meta+,"},
        {QString::fromUtf8("⌃") + QChar(0x1B), "Ctrl+Esc"},
        {QString::fromUtf8("⇧") + QChar(0xF708), "Shift+F5"},
        {QString::fromUtf8("⌘") + QChar(0xF72C), "Meta+PgUp"},
        {QString::fromUtf8("⌘") + QChar(0xF702), "Meta+Left"},
        {QString::fromUtf8("⌥Ä"), QString::fromUtf8("Alt+Ä")},
        // Nothing Plasma can bind: no shortcut, a modifier alone, a keysym name, a control character.
        {"", ""},
        {QString::fromUtf8("⌘"), ""},
        {QString::fromUtf8("⌘XF86AUDIOPLAY"), ""},
        {QString::fromUtf8("⌘") + QChar(0x01), ""},
    };
    for (const auto& [text, keys] : cases) {
        const int combination = KdeShortcutKeys::fromShortcutText(text);
        EXPECT_EQ(combination == 0 ? QString() : QKeySequence(combination).toString(), keys) << text.toStdString();
    }
}

} // namespace
