#pragma once

#include <QString>

#include <cstdint>

// The text form of a key combination: "⌘", "⌥", "⇧", "⌃" for each of Command, Option, Shift and
// Control that is held (always in that order), then the key's characters ignoring modifiers,
// upper-cased. The recorder stores it and the toggle-shortcut matcher compares with it, so both must
// build it here. Only the device-independent half of the flags counts; other bits in it (caps lock,
// numeric pad…) add nothing. Empty text means no shortcut. Thread-safety: a pure function.
QString shortcutText(std::uint64_t modifierFlags, const QString& charactersIgnoringModifiers);
