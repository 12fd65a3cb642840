#include "platform/gnome/GnomeAccelerator.h"

#include "settings/ShortcutText.h"

#include <xkbcommon/xkbcommon.h>

#include <array>

namespace {

// GNOME's names of the modifiers.
struct Modifier {
    std::uint64_t flag;
    const char* accelerator;
};
constexpr std::array<Modifier, 4> kModifiers{{
    {ModifierFlags::command, "<Super>"},
    {ModifierFlags::option, "<Alt>"},
    {ModifierFlags::shift, "<Shift>"},
    {ModifierFlags::control, "<Control>"},
}};

// Code points the key translator gives keys without a character; the inverse of its table.
xkb_keysym_t keysymOfCode(char32_t code) {
    switch (code) {
    case 0x1B:
        return XKB_KEY_Escape;
    case 0x0D:
        return XKB_KEY_Return;
    case 0x09:
        return XKB_KEY_Tab;
    case 0x7F:
        return XKB_KEY_BackSpace;
    case 0x03:
        return XKB_KEY_KP_Enter;
    case 0xF700:
        return XKB_KEY_Up;
    case 0xF701:
        return XKB_KEY_Down;
    case 0xF702:
        return XKB_KEY_Left;
    case 0xF703:
        return XKB_KEY_Right;
    case 0xF727:
        return XKB_KEY_Insert;
    case 0xF728:
        return XKB_KEY_Delete;
    case 0xF729:
        return XKB_KEY_Home;
    case 0xF72A:
        return XKB_KEY_Begin;
    case 0xF72B:
        return XKB_KEY_End;
    case 0xF72C:
        return XKB_KEY_Prior;
    case 0xF72D:
        return XKB_KEY_Next;
    case 0xF72E:
        return XKB_KEY_Print;
    case 0xF730:
        return XKB_KEY_Pause;
    case 0xF731:
        return XKB_KEY_Sys_Req;
    case 0xF732:
        return XKB_KEY_Break;
    case 0xF735:
        return XKB_KEY_Menu;
    case 0xF739:
        return XKB_KEY_Clear;
    case 0xF741:
        return XKB_KEY_Select;
    case 0xF742:
        return XKB_KEY_Execute;
    case 0xF743:
        return XKB_KEY_Undo;
    case 0xF744:
        return XKB_KEY_Redo;
    case 0xF745:
        return XKB_KEY_Find;
    case 0xF746:
        return XKB_KEY_Help;
    default:
        break;
    }
    if (code >= 0xF704 && code <= 0xF704 + (XKB_KEY_F35 - XKB_KEY_F1))
        return XKB_KEY_F1 + (code - 0xF704);
    return XKB_KEY_NoSymbol;
}

// The key part of a shortcut text: one character (upper-cased by the recorder) or a keysym name.
xkb_keysym_t keysymOfKey(const QString& key) {
    const QList<uint> codes = key.toUcs4();
    if (codes.size() == 1) {
        if (const xkb_keysym_t sym = keysymOfCode(codes.front()); sym != XKB_KEY_NoSymbol)
            return sym;
        // Letters are bound by their unshifted keysym ("h"), as GNOME writes them.
        const QList<uint> lower = key.toLower().toUcs4();
        return xkb_utf32_to_keysym(lower.size() == 1 ? lower.front() : codes.front());
    }
    // The recorder upper-cases names too ("XF86AUDIOPLAY").
    return xkb_keysym_from_name(key.toLatin1().constData(), XKB_KEYSYM_CASE_INSENSITIVE);
}

} // namespace

namespace GnomeAccelerator {

QString fromShortcutText(const QString& shortcutText) {
    const std::optional<TranslatedKey> press = keyPressOfShortcutText(shortcutText);
    if (!press)
        return {};
    const xkb_keysym_t sym = keysymOfKey(press->charactersIgnoringModifiers);
    char name[64];
    if (sym == XKB_KEY_NoSymbol || xkb_keysym_get_name(sym, name, sizeof name) <= 0)
        return {};
    QString accelerator;
    for (const Modifier& modifier : kModifiers) {
        if (press->modifierFlags & modifier.flag)
            accelerator += QLatin1String(modifier.accelerator);
    }
    return accelerator + QString::fromLatin1(name);
}

} // namespace GnomeAccelerator
