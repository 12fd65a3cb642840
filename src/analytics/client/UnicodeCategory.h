#pragma once

#include <string>
#include <string_view>

namespace veltrace {

// Unicode general-category tests the client needs. Stateless; callable from any thread.
class UnicodeCategory {
  public:
    UnicodeCategory() = delete;

    // True for letters, marks and numbers (general categories L, M and N).
    static bool isLetterMarkOrNumber(char32_t codePoint);
    // The UTF-8 text with every character outside L, M and N removed; invalid byte sequences are dropped.
    static std::string keepLettersMarksAndNumbers(std::string_view utf8);
};

} // namespace veltrace
