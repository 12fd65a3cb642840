#pragma once

#include <QString>

// The recorded shortcut text ("⌘⇧H") as the Shell's accelerator ("<Super><Shift>h"), which the extension
// binds. Thread-safety: a pure function.
namespace GnomeAccelerator {

// Empty for an empty text or a key GNOME has no name for.
QString fromShortcutText(const QString& shortcutText);

} // namespace GnomeAccelerator
