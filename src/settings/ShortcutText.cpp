#include "settings/ShortcutText.h"

#include <array>

namespace {

struct ModifierSign {
    std::uint64_t flag;
    char16_t sign;
};
// In the order the text writes them.
constexpr std::array<ModifierSign, 4> kSigns{{
    {ModifierFlags::command, u'\u2318'},
    {ModifierFlags::option, u'\u2325'},
    {ModifierFlags::shift, u'\u21E7'},
    {ModifierFlags::control, u'\u2303'},
}};

} // namespace

QString shortcutText(std::uint64_t modifierFlags, const QString& charactersIgnoringModifiers) {
    const std::uint64_t flags = modifierFlags & ModifierFlags::deviceIndependentMask;
    QString text;
    for (const ModifierSign& modifier : kSigns) {
        if (flags & modifier.flag)
            text += QChar(modifier.sign);
    }
    text += charactersIgnoringModifiers.toUpper();
    return text;
}

std::optional<TranslatedKey> keyPressOfShortcutText(const QString& text) {
    std::uint64_t flags = 0;
    qsizetype at = 0;
    for (const ModifierSign& modifier : kSigns) {
        if (at < text.size() && text.at(at) == QChar(modifier.sign)) {
            flags |= modifier.flag;
            ++at;
        }
    }
    if (at >= text.size())
        return std::nullopt;
    return TranslatedKey{flags, text.mid(at)};
}
