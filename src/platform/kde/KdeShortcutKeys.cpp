#include "platform/kde/KdeShortcutKeys.h"

#include "settings/ShortcutText.h"

#include <QList>
#include <Qt>

#include <array>

namespace {

// Qt's bits of the modifiers.
struct Modifier {
    std::uint64_t flag;
    int bits;
};
constexpr std::array<Modifier, 4> kModifiers{{
    {ModifierFlags::command, int(Qt::MetaModifier)},
    {ModifierFlags::option, int(Qt::AltModifier)},
    {ModifierFlags::shift, int(Qt::ShiftModifier)},
    {ModifierFlags::control, int(Qt::ControlModifier)},
}};

// Code points the key translator gives keys without a character; the inverse of its table.
int keyOfCode(char32_t code) {
    switch (code) {
    case 0x1B:
        return Qt::Key_Escape;
    case 0x0D:
        return Qt::Key_Return;
    case 0x09:
        return Qt::Key_Tab;
    case 0x7F:
        return Qt::Key_Backspace;
    case 0x03:
        return Qt::Key_Enter;
    case 0xF700:
        return Qt::Key_Up;
    case 0xF701:
        return Qt::Key_Down;
    case 0xF702:
        return Qt::Key_Left;
    case 0xF703:
        return Qt::Key_Right;
    case 0xF727:
        return Qt::Key_Insert;
    case 0xF728:
        return Qt::Key_Delete;
    case 0xF729:
        return Qt::Key_Home;
    case 0xF72B:
        return Qt::Key_End;
    case 0xF72C:
        return Qt::Key_PageUp;
    case 0xF72D:
        return Qt::Key_PageDown;
    case 0xF72E:
        return Qt::Key_Print;
    case 0xF730:
        return Qt::Key_Pause;
    case 0xF731:
        return Qt::Key_SysReq;
    case 0xF735:
        return Qt::Key_Menu;
    case 0xF739:
        return Qt::Key_Clear;
    case 0xF741:
        return Qt::Key_Select;
    case 0xF742:
        return Qt::Key_Execute;
    case 0xF743:
        return Qt::Key_Undo;
    case 0xF744:
        return Qt::Key_Redo;
    case 0xF745:
        return Qt::Key_Find;
    case 0xF746:
        return Qt::Key_Help;
    default:
        break;
    }
    if (code >= 0xF704 && code <= 0xF704 + (Qt::Key_F35 - Qt::Key_F1))
        return Qt::Key_F1 + int(code - 0xF704);
    // Other private-use codes name no key Qt knows.
    if (code >= 0xE000 && code <= 0xF8FF)
        return 0;
    // Qt's code of a character key is the character's upper case (the recorder already upper-cases).
    return int(QChar::toUpper(code));
}

} // namespace

namespace KdeShortcutKeys {

int fromShortcutText(const QString& shortcutText) {
    const std::optional<TranslatedKey> press = keyPressOfShortcutText(shortcutText);
    if (!press)
        return 0;
    int bits = 0;
    for (const Modifier& modifier : kModifiers) {
        if (press->modifierFlags & modifier.flag)
            bits |= modifier.bits;
    }
    const QList<uint> key = press->charactersIgnoringModifiers.toUcs4();
    if (key.size() != 1)
        return 0;
    const int code = keyOfCode(key.front());
    // A control character other than the named ones is no key.
    if (code == 0 || (key.front() < 0x20 && code == int(key.front())))
        return 0;
    return bits | code;
}

} // namespace KdeShortcutKeys
