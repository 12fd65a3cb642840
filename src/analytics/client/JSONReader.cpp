#include "client/JSONReader.h"

#include <charconv>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace veltrace {

namespace {

using nlohmann::json;

class Reader {
  public:
    Reader(std::string_view text, int maxDepth)
        : p_(text.data()), end_(text.data() + text.size()), maxDepth_(maxDepth) {}

    bool run(json& root) {
        if (end_ - p_ >= 3 && std::string_view(p_, 3) == "\xEF\xBB\xBF")
            p_ += 3;
        // Containers still open, innermost last. A pointer stays valid while its container is open:
        // its parent only grows once it is closed again.
        std::vector<json*> open;
        json* target = &root;
        for (;;) {
            // A value goes into *target.
            if (static_cast<int>(open.size()) >= maxDepth_)
                return false;
            skipSpace();
            if (p_ == end_)
                return false;
            if (*p_ == '[' || *p_ == '{') {
                const bool isArray = *p_++ == '[';
                *target = isArray ? json::array() : json::object();
                skipSpace();
                if (p_ != end_ && *p_ == (isArray ? ']' : '}')) {
                    ++p_;
                } else {
                    open.push_back(target);
                    target = slotIn(*target);
                    if (!target)
                        return false;
                    continue;
                }
            } else if (!scalar(*target)) {
                return false;
            }
            // A value is complete: close containers until one continues with another element.
            for (;;) {
                skipSpace();
                if (open.empty())
                    return p_ == end_;
                if (p_ == end_)
                    return false;
                json& container = *open.back();
                if (*p_ == ',') {
                    ++p_;
                    target = slotIn(container);
                    if (!target)
                        return false;
                    break;
                }
                if (*p_ != (container.is_array() ? ']' : '}'))
                    return false;
                ++p_;
                open.pop_back();
            }
        }
    }

  private:
    // Where the container's next element goes; for an object, after reading its key and colon. A
    // repeated key keeps its last value, as with the stock parser.
    json* slotIn(json& container) {
        if (container.is_array()) {
            auto& elements = container.get_ref<json::array_t&>();
            elements.emplace_back();
            return &elements.back();
        }
        skipSpace();
        std::string key;
        if (p_ == end_ || *p_ != '"' || !string(key))
            return nullptr;
        skipSpace();
        if (p_ == end_ || *p_ != ':')
            return nullptr;
        ++p_;
        return &container[key];
    }

    bool scalar(json& out) {
        switch (*p_) {
        case '"': {
            std::string text;
            if (!string(text))
                return false;
            out = std::move(text);
            return true;
        }
        case 't':
            return literal("true", true, out);
        case 'f':
            return literal("false", false, out);
        case 'n':
            return literal("null", nullptr, out);
        default:
            return number(out);
        }
    }

    template <class T> bool literal(std::string_view word, T value, json& out) {
        if (std::string_view(p_, static_cast<std::size_t>(end_ - p_)).substr(0, word.size()) != word)
            return false;
        p_ += word.size();
        out = value;
        return true;
    }

    void skipSpace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
            ++p_;
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    // Moves past the digits at p_, returning whether there was at least one.
    bool digits() {
        const char* start = p_;
        while (p_ != end_ && isDigit(*p_))
            ++p_;
        return p_ != start;
    }

    bool number(json& out) {
        const char* start = p_;
        const bool negative = *p_ == '-';
        if (negative)
            ++p_;
        if (p_ == end_ || !isDigit(*p_))
            return false;
        if (*p_ == '0')
            ++p_;
        else
            digits();
        const char* integerEnd = p_;
        bool integral = true;
        if (p_ != end_ && *p_ == '.') {
            ++p_;
            if (!digits())
                return false;
            integral = false;
        }
        const char* exponent = nullptr;
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            exponent = p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-'))
                ++p_;
            if (!digits())
                return false;
            integral = false;
        }
        if (integral) {
            // Too large for its integer type, it is read as a double, as the stock parser does.
            std::int64_t signedValue = 0;
            std::uint64_t unsignedValue = 0;
            if (negative && std::from_chars(start, p_, signedValue).ec == std::errc()) {
                out = signedValue;
                return true;
            }
            if (!negative && std::from_chars(start, p_, unsignedValue).ec == std::errc()) {
                out = unsignedValue;
                return true;
            }
        }
        double value = 0;
        const auto result = std::from_chars(start, p_, value);
        if (result.ec == std::errc::result_out_of_range) {
            // Too small in magnitude reads as zero; too large is refused, since JSON has no infinity.
            if (decimalMagnitude(negative ? start + 1 : start, integerEnd, exponent) > 0)
                return false;
            value = negative ? -0.0 : 0.0;
        } else if (result.ec != std::errc() || result.ptr != p_) {
            return false;
        }
        out = value;
        return true;
    }

    // The power of ten of the first significant digit, roughly (exact enough to tell overflow from
    // underflow, which lie hundreds of powers apart).
    long long decimalMagnitude(const char* integer, const char* integerEnd, const char* exponent) const {
        long long magnitude = 0;
        if (*integer != '0') {
            magnitude = integerEnd - integer - 1;
        } else if (integerEnd != p_ && *integerEnd == '.') {
            const char* digit = integerEnd + 1;
            while (digit != p_ && *digit == '0')
                ++digit;
            magnitude = -(digit - integerEnd);
        }
        if (exponent) {
            const bool negative = *exponent == '-';
            if (*exponent == '+' || *exponent == '-')
                ++exponent;
            long long power = 0;
            // Saturates: beyond a million the sign alone decides.
            for (; exponent != p_ && power < 1'000'000; ++exponent)
                power = power * 10 + (*exponent - '0');
            magnitude += negative ? -power : power;
        }
        return magnitude;
    }

    static bool isContinuation(unsigned char c) { return c >= 0x80 && c <= 0xBF; }

    // Reads a string starting at its opening quote into `out`, as UTF-8.
    bool string(std::string& out) {
        ++p_;
        for (;;) {
            if (p_ == end_)
                return false;
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c == '\\') {
                if (!escape(out))
                    return false;
            } else if (c < 0x20) {
                return false;
            } else if (c < 0x80) {
                out += static_cast<char>(c);
                ++p_;
            } else if (!utf8Sequence(out)) {
                return false;
            }
        }
    }

    // One well-formed UTF-8 sequence of two to four bytes (RFC 3629: no overlong forms, no surrogates,
    // nothing above U+10FFFF).
    bool utf8Sequence(std::string& out) {
        const auto lead = static_cast<unsigned char>(*p_);
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4;
        else
            return false;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
        if (end_ - p_ < length)
            return false;
        const auto second = static_cast<unsigned char>(p_[1]);
        if (second < low || second > high)
            return false;
        for (int i = 2; i < length; ++i)
            if (!isContinuation(static_cast<unsigned char>(p_[i])))
                return false;
        out.append(p_, static_cast<std::size_t>(length));
        p_ += length;
        return true;
    }

    bool hex4(std::uint32_t& value) {
        if (end_ - p_ < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *p_++;
            value <<= 4;
            if (isDigit(c))
                value |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool escape(std::string& out) {
        ++p_;
        if (p_ == end_)
            return false;
        const char c = *p_++;
        switch (c) {
        case '"':
            out += '"';
            return true;
        case '\\':
            out += '\\';
            return true;
        case '/':
            out += '/';
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        std::uint32_t code = 0;
        if (!hex4(code))
            return false;
        if (code >= 0xDC00 && code <= 0xDFFF)
            return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            std::uint32_t low = 0;
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
                return false;
            p_ += 2;
            if (!hex4(low) || low < 0xDC00 || low > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(code, out);
        return true;
    }

    static void appendUtf8(std::uint32_t code, std::string& out) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    const char* p_;
    const char* end_;
    int maxDepth_;
};

} // namespace

bool JSONReader::parse(std::string_view text, int maxDepth, nlohmann::json& out) {
    out = nullptr;
    try {
        return Reader(text, maxDepth).run(out);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace veltrace
