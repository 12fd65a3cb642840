#pragma once

#include "platform/KeyTranslator.h"

#include <QString>

// Decides whether a key press is the stored toggle shortcut, by building the press's shortcut text the
// way the recorder builds it. Thread-safety: pure functions.
class ShortcutMatcher {
  public:
    // False for an empty stored shortcut, whatever was pressed. Extra modifiers make a different text and
    // do not match; lock states and device-dependent bits never take part.
    static bool matchesShortcut(const TranslatedKey& key, const QString& shortcut);
};
