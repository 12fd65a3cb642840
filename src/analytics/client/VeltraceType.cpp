#include "client/VeltraceType.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace veltrace {

namespace {

template <class F> std::string shortestText(F value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

std::string quotedIfString(const VeltraceType& value) {
    if (const auto* text = value.string())
        return "\"" + *text + "\"";
    return value.description();
}

} // namespace

std::string Date::iso8601() const {
    // About three million years either way; beyond that (or for a non-finite time) there is no
    // calendar date to print, and the number's own text is used instead.
    if (!std::isfinite(secondsSince1970) || std::fabs(secondsSince1970) > 1e14)
        return shortestText(secondsSince1970);
    // Rounded to the millisecond: clock readings carry binary noise below it (x.123 is x.12299999…).
    const auto totalMillis = static_cast<std::int64_t>(std::llround(secondsSince1970 * 1000.0));
    std::int64_t days = totalMillis / 86'400'000;
    std::int64_t millisOfDay = totalMillis % 86'400'000;
    if (millisOfDay < 0) {
        millisOfDay += 86'400'000;
        --days;
    }
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days, year, month, day);
    const auto hour = static_cast<unsigned>(millisOfDay / 3'600'000);
    const auto minute = static_cast<unsigned>(millisOfDay / 60'000 % 60);
    const auto second = static_cast<unsigned>(millisOfDay / 1000 % 60);
    const auto milli = static_cast<unsigned>(millisOfDay % 1000);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02u:%02u.%03uZ",
                  static_cast<long long>(year), month, day, hour, minute, second, milli);
    return buffer;
}

bool VeltraceType::isValidValue() const {
    switch (kind()) {
    case Kind::Double:
        return std::isfinite(*get<double>());
    case Kind::Float:
        return std::isfinite(*get<float>());
    case Kind::Optional: {
        const auto& optional = *get<veltrace::Optional>();
        return !optional.hasValue() ||
               (optional.wrapped->isPropertyKind() && optional.wrapped->isValidValue());
    }
    case Kind::Array:
        for (const auto& element : *array())
            if (!element.isPropertyKind())
                return false;
        return true;
    case Kind::Dictionary:
        for (const auto& [key, element] : *dictionary())
            if (!element.isPropertyKind())
                return false;
        return true;
    case Kind::ForeignMap:
        for (const auto& [key, element] : get<veltrace::ForeignMap>()->entries)
            if (key.kind() != Kind::String || !element.isPropertyKind())
                return false;
        return true;
    case Kind::Opaque:
        return false;
    default:
        return true;
    }
}

bool VeltraceType::valueEquals(const VeltraceType& other) const {
    if (kind() != other.kind())
        return false;
    switch (kind()) {
    case Kind::String:
        return *string() == *other.string();
    case Kind::Int:
        return *get<std::int64_t>() == *other.get<std::int64_t>();
    case Kind::UInt:
        return *get<std::uint64_t>() == *other.get<std::uint64_t>();
    case Kind::Double:
        return *get<double>() == *other.get<double>();
    case Kind::Float:
        return *get<float>() == *other.get<float>();
    case Kind::Bool:
        return *get<bool>() == *other.get<bool>();
    case Kind::Date:
        return get<veltrace::Date>()->secondsSince1970 == other.get<veltrace::Date>()->secondsSince1970;
    case Kind::Url:
        return get<veltrace::Url>()->absoluteString == other.get<veltrace::Url>()->absoluteString;
    case Kind::Null:
        return true;
    case Kind::Optional: {
        const auto& mine = *get<veltrace::Optional>();
        const auto& theirs = *other.get<veltrace::Optional>();
        if (!mine.hasValue() || !theirs.hasValue())
            return mine.hasValue() == theirs.hasValue();
        return mine.wrapped->valueEquals(*theirs.wrapped);
    }
    case Kind::Array: {
        const auto& mine = *array();
        const auto& theirs = *other.array();
        if (mine.size() != theirs.size())
            return false;
        for (std::size_t i = 0; i < mine.size(); ++i)
            if (!mine[i].isPropertyKind() || !mine[i].valueEquals(theirs[i]))
                return false;
        return true;
    }
    case Kind::Dictionary: {
        const auto& mine = *dictionary();
        const auto& theirs = *other.dictionary();
        if (mine.size() != theirs.size() || !isValidValue() || !other.isValidValue())
            return false;
        for (const auto& [key, element] : mine) {
            auto found = theirs.find(key);
            if (found == theirs.end() || !element.valueEquals(found->second))
                return false;
        }
        return true;
    }
    // Never valid as a dictionary, and not a property value at all.
    case Kind::ForeignMap:
    case Kind::Opaque:
        return false;
    }
    return false;
}

std::string VeltraceType::description() const {
    switch (kind()) {
    case Kind::String:
        return *string();
    case Kind::Int:
        return std::to_string(*get<std::int64_t>());
    case Kind::UInt:
        return std::to_string(*get<std::uint64_t>());
    case Kind::Double:
        return shortestText(*get<double>());
    case Kind::Float:
        return shortestText(*get<float>());
    case Kind::Bool:
        return *get<bool>() ? "true" : "false";
    case Kind::Date:
        return get<veltrace::Date>()->iso8601();
    case Kind::Url:
        return get<veltrace::Url>()->absoluteString;
    case Kind::Null:
        return "<null>";
    case Kind::Optional: {
        const auto& optional = *get<veltrace::Optional>();
        return optional.hasValue() ? "Optional(" + quotedIfString(*optional.wrapped) + ")" : "nil";
    }
    case Kind::Array: {
        std::string text = "[";
        for (const auto& element : *array()) {
            if (text.size() > 1)
                text += ", ";
            text += quotedIfString(element);
        }
        return text + "]";
    }
    case Kind::Dictionary: {
        if (dictionary()->empty())
            return "[:]";
        std::string text = "[";
        for (const auto& [key, element] : *dictionary()) {
            if (text.size() > 1)
                text += ", ";
            text += "\"" + key + "\": " + quotedIfString(element);
        }
        return text + "]";
    }
    case Kind::ForeignMap: {
        const auto& entries = get<veltrace::ForeignMap>()->entries;
        if (entries.empty())
            return "[:]";
        std::string text = "[";
        for (const auto& [key, element] : entries) {
            if (text.size() > 1)
                text += ", ";
            text += quotedIfString(key) + ": " + quotedIfString(element);
        }
        return text + "]";
    }
    case Kind::Opaque:
        return get<veltrace::Opaque>()->description;
    }
    return {};
}

void PrintTo(const VeltraceType& value, std::ostream* os) {
    *os << value.description();
}

} // namespace veltrace
