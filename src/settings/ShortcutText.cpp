#include "settings/ShortcutText.h"

#include "platform/KeyTranslator.h"

QString shortcutText(std::uint64_t modifierFlags, const QString& charactersIgnoringModifiers) {
    const std::uint64_t flags = modifierFlags & ModifierFlags::deviceIndependentMask;
    QString text;
    if (flags & ModifierFlags::command)
        text += QChar(0x2318);
    if (flags & ModifierFlags::option)
        text += QChar(0x2325);
    if (flags & ModifierFlags::shift)
        text += QChar(0x21E7);
    if (flags & ModifierFlags::control)
        text += QChar(0x2303);
    text += charactersIgnoringModifiers.toUpper();
    return text;
}
