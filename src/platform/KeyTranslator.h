#pragma once

#include <QKeyEvent>
#include <QString>

#include <cstdint>
#include <optional>

// Modifier flag bits of a key press. The values are those of the platform the design was first made
// for, so stored shortcut texts and the matcher's arithmetic stay the same on every backend. Only the
// device-independent upper half of a flag word takes part in shortcuts.
namespace ModifierFlags {
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t deviceIndependentMask = 0xFFFF0000;
} // namespace ModifierFlags

// What a key-down means for shortcuts: the modifiers held and the key's characters ignoring them.
struct TranslatedKey {
    std::uint64_t modifierFlags = 0;
    // Empty for a key that yields no character and has no known code.
    QString charactersIgnoringModifiers;

    bool operator==(const TranslatedKey&) const = default;
};

// Turns a native key event (the window system's key code and modifier state) into a TranslatedKey.
// One translator serves every key monitor of the process, so the shortcut recorder and the shortcut
// matcher derive the same text from the same key press.
//
// Modifier and lock keys (Shift, Control, Alt, Super, Caps Lock, Num Lock, Scroll Lock, level and
// group shifts) give nullopt: pressed alone they are not a key-down for shortcut purposes, and
// recording waits for the first other key. Lock states never count and never change the text.
// Keys without a printable character give a fixed code: Escape U+001B, Return U+000D, Tab U+0009,
// Backspace U+007F, keypad Enter U+0003; arrows, F1…F35 and the editing and navigation keys (Insert,
// Delete, Home, End, Page Up/Down, Print, Pause, Menu…) the private-use function-key code points
// U+F700…U+F747 of the first platform; any other key without a character its keysym name (for example
// "XF86AudioPlay"), so that it still records and matches.
//
// Thread-safety: GUI thread only.
class KeyTranslator {
  public:
    virtual ~KeyTranslator() = default;

    // `keyCode` and `modifierState` as the window system reports them in a key event (on X11: the
    // keycode and the event's state word, whose bits 13–14 carry the keyboard group; on Wayland: the
    // XKB keycode and the modifier mask, with no group). `keysym` is the symbol the window system
    // resolved for the press, 0 when unknown: where the state carries no group, it tells which of the
    // keymap's layouts was active.
    virtual std::optional<TranslatedKey> translate(std::uint32_t keyCode, std::uint32_t modifierState,
                                                   std::uint32_t keysym) const = 0;
    std::optional<TranslatedKey> translate(std::uint32_t keyCode, std::uint32_t modifierState) const {
        return translate(keyCode, modifierState, 0);
    }

    // For events that carry no modifier state (raw input): uses the keyboard's current modifiers and
    // group as last reported by the window system.
    virtual std::optional<TranslatedKey> translateWithCurrentState(std::uint32_t keyCode) const = 0;

    // A toolkit key event, through its native scan code, modifiers and keysym. nullopt when the event
    // carries no native key code (events synthesised by the toolkit itself).
    std::optional<TranslatedKey> translate(const QKeyEvent& event) const {
        if (event.nativeScanCode() == 0)
            return std::nullopt;
        return translate(event.nativeScanCode(), event.nativeModifiers(), event.nativeVirtualKey());
    }
};
