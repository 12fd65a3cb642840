#include "app/ShortcutMatcher.h"

#include "settings/ShortcutText.h"

bool ShortcutMatcher::matchesShortcut(const TranslatedKey& key, const QString& shortcut) {
    if (shortcut.isEmpty())
        return false;
    const std::uint64_t flags = key.modifierFlags & ModifierFlags::deviceIndependentMask;
    return shortcutText(flags, key.charactersIgnoringModifiers.toUpper()) == shortcut;
}
