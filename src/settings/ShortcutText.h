#pragma once

#include "platform/KeyTranslator.h"

#include <QString>

#include <cstdint>
#include <optional>

// The text form of a key combination: "⌘", "⌥", "⇧", "⌃" for each of Command, Option, Shift and
// Control that is held (always in that order), then the key's characters ignoring modifiers,
// upper-cased. The recorder stores it and the toggle-shortcut matcher compares with it, so both must
// build it here. Only the device-independent half of the flags counts; other bits in it (caps lock,
// numeric pad…) add nothing. Empty text means no shortcut. Thread-safety: pure functions.
QString shortcutText(std::uint64_t modifierFlags, const QString& charactersIgnoringModifiers);

// The other way: the key press a shortcut text describes, such that shortcutText() of it is the text
// again. Desktops that bind the shortcut themselves report it by this press. nullopt for an empty text
// or modifiers without a key.
std::optional<TranslatedKey> keyPressOfShortcutText(const QString& text);
