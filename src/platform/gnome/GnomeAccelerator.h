#pragma once

#include "platform/KeyTranslator.h"

#include <QString>

#include <optional>

// The recorded shortcut text ("⌘⇧H") in the two forms the GNOME backend needs: the Shell's accelerator
// ("<Super><Shift>h"), which the extension binds, and the key press that the text describes, which the
// backend reports when the Shell says the accelerator was pressed. Thread-safety: pure functions.
namespace GnomeAccelerator {

// Empty for an empty text or a key GNOME has no name for.
QString fromShortcutText(const QString& shortcutText);

// The modifiers and key of a non-empty shortcut text, such that the shortcut text of that key press is
// `shortcutText` again.
std::optional<TranslatedKey> keyOfShortcutText(const QString& shortcutText);

} // namespace GnomeAccelerator
