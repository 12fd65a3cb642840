#pragma once

#include <QString>

// The recorded shortcut text ("⌘⇧H") as the key combination Plasma's global-shortcut service binds: Qt's
// key code with its modifier bits (Meta, Alt, Shift, Control), as one integer.
// Thread-safety: pure functions.
namespace KdeShortcutKeys {

// 0 for an empty text, or a key that has no Qt key code (a keysym name such as "XF86AUDIOPLAY").
int fromShortcutText(const QString& shortcutText);

} // namespace KdeShortcutKeys
