#include "platform/gnome/GnomeAccelerator.h"

#include <gtest/gtest.h>

namespace {

TEST(GnomeAcceleratorTest, ShortcutTextBecomesTheShellsAccelerator) {
    const struct {
        QString text;
        QString accelerator;
    } cases[] = {
        {QString::fromUtf8("⌘⇧H"), "<Super><Shift>h"},
        {QString::fromUtf8("⌥⌃1"), "<Alt><Control>1"},
        {QString::fromUtf8("⌘⌥⇧⌃Z"), "<Super><Alt><Shift><Control>z"},
        {QString::fromUtf8("⌘,"), "<Super>comma"},
        {QString::fromUtf8("⌃") + QChar(0x1B), "<Control>Escape"},
        {QString::fromUtf8("⇧") + QChar(0xF708), "<Shift>F5"},
        {QString::fromUtf8("⌘") + QChar(0xF72C), "<Super>Prior"},
        {QString::fromUtf8("⌘XF86AUDIOPLAY"), "<Super>XF86AudioPlay"},
        // Nothing GNOME can bind: no shortcut, a modifier alone, a name it does not know.
        {"", ""},
        {QString::fromUtf8("⌘"), ""},
        {QString::fromUtf8("⌘NoSuchKeyName"), ""},
    };
    for (const auto& [text, accelerator] : cases)
        EXPECT_EQ(GnomeAccelerator::fromShortcutText(text), accelerator) << text.toStdString();
}

} // namespace
