#include "client/JSONHandler.h"

#include "client/JSONReader.h"
#include "client/Logger.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace veltrace {

namespace {

using nlohmann::json;

std::string nonFiniteText(double value) {
    if (std::isnan(value))
        return "nan";
    return value < 0 ? "-inf" : "inf";
}

// A float widened digit for digit: 0.1f is written 0.1, not 0.10000000149011612.
double widenFloat(float value) {
    // to_chars/from_chars rather than printf/strtod: those follow the locale's decimal separator.
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    double widened = value;
    std::from_chars(buffer, written.ptr, widened);
    return widened;
}

bool isContainer(const VeltraceType& value) {
    return value.kind() == VeltraceType::Kind::Array || value.kind() == VeltraceType::Kind::Dictionary;
}

// Expects a tree made by makeObjectSerializable.
json toJson(const VeltraceType& value) {
    switch (value.kind()) {
    case VeltraceType::Kind::String:
        return *value.string();
    case VeltraceType::Kind::Int:
        return *value.get<std::int64_t>();
    case VeltraceType::Kind::UInt:
        return *value.get<std::uint64_t>();
    case VeltraceType::Kind::Double:
        return *value.get<double>();
    case VeltraceType::Kind::Float:
        return widenFloat(*value.get<float>());
    case VeltraceType::Kind::Bool:
        return *value.get<bool>();
    case VeltraceType::Kind::Array: {
        json result = json::array();
        result.get_ref<json::array_t&>().reserve(value.array()->size());
        for (const auto& element : *value.array())
            result.push_back(toJson(element));
        return result;
    }
    case VeltraceType::Kind::Dictionary: {
        json result = json::object();
        for (const auto& [key, element] : *value.dictionary())
            result.emplace(key, toJson(element));
        return result;
    }
    default:
        return nullptr;
    }
}

// Expects a tree from JSONReader, whose depth limit also bounds this recursion.
std::optional<VeltraceType> fromJson(const json& value) {
    switch (value.type()) {
    case json::value_t::null:
        return VeltraceType(Null{});
    case json::value_t::boolean:
        return VeltraceType(value.get<bool>());
    case json::value_t::string:
        return VeltraceType(value.get_ref<const std::string&>());
    case json::value_t::number_integer:
        return VeltraceType(value.get<std::int64_t>());
    case json::value_t::number_unsigned: {
        const auto number = value.get<std::uint64_t>();
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return VeltraceType(static_cast<std::int64_t>(number));
        return VeltraceType(number);
    }
    case json::value_t::number_float:
        return VeltraceType(value.get<double>());
    case json::value_t::array: {
        Array result;
        result.reserve(value.size());
        for (const auto& element : value) {
            auto converted = fromJson(element);
            if (!converted)
                return std::nullopt;
            result.push_back(std::move(*converted));
        }
        return VeltraceType(std::move(result));
    }
    case json::value_t::object: {
        PropertyMap result;
        for (const auto& [key, element] : value.items()) {
            auto converted = fromJson(element);
            if (!converted)
                return std::nullopt;
            result.emplace(key, std::move(*converted));
        }
        return VeltraceType(std::move(result));
    }
    default:
        return std::nullopt;
    }
}

} // namespace

VeltraceType JSONHandler::makeObjectSerializable(const VeltraceType& value) {
    switch (value.kind()) {
    case VeltraceType::Kind::Double:
        if (!std::isfinite(*value.get<double>()))
            return nonFiniteText(*value.get<double>());
        return value;
    case VeltraceType::Kind::Float:
        if (!std::isfinite(*value.get<float>()))
            return nonFiniteText(*value.get<float>());
        return value;
    case VeltraceType::Kind::Bool:
    case VeltraceType::Kind::Int:
    case VeltraceType::Kind::UInt:
    case VeltraceType::Kind::String:
    case VeltraceType::Kind::Null:
        return value;
    case VeltraceType::Kind::Array: {
        Array result;
        result.reserve(value.array()->size());
        for (const auto& element : *value.array()) {
            const auto* optional = element.get<Optional>();
            if (optional && !optional->hasValue())
                continue;
            result.push_back(makeObjectSerializable(element));
        }
        return result;
    }
    case VeltraceType::Kind::Dictionary: {
        PropertyMap result;
        for (const auto& [key, element] : *value.dictionary())
            result.emplace_hint(result.end(), key, makeObjectSerializable(element));
        return result;
    }
    case VeltraceType::Kind::Date:
        return value.get<Date>()->iso8601();
    case VeltraceType::Kind::Url:
        return value.get<Url>()->absoluteString;
    case VeltraceType::Kind::Optional: {
        const auto& optional = *value.get<Optional>();
        if (!optional.hasValue())
            return Null{};
        return makeObjectSerializable(*optional.wrapped);
    }
    case VeltraceType::Kind::ForeignMap:
    case VeltraceType::Kind::Opaque:
        break;
    }
    Logger::info("enforcing string on object", "makeObjectSerializable(_:)");
    return value.description();
}

std::optional<Bytes> JSONHandler::serializeJSONObject(const VeltraceType& value) {
    VeltraceType converted = makeObjectSerializable(value);
    if (auto* elements = converted.array())
        std::erase_if(*elements, [](const VeltraceType& element) { return !isContainer(element); });
    if (!isContainer(converted)) {
        Logger::warning("object isn't valid and can't be serialzed to JSON", "serializeJSONObject(_:)");
        return std::nullopt;
    }
    try {
        // Strings are bytes here; a broken UTF-8 sequence becomes U+FFFD rather than costing the record.
        return toJson(converted).dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const std::exception&) {
        Logger::warning("exception encoding api data", "serializeJSONObject(_:)");
        return std::nullopt;
    }
}

std::optional<std::string> JSONHandler::encodeAPIData(const VeltraceType& value) {
    auto bytes = serializeJSONObject(value);
    if (!bytes)
        Logger::warning("couldn't serialize object", "encodeAPIData(_:)");
    return bytes;
}

std::optional<VeltraceType> JSONHandler::deserializeData(std::string_view bytes) {
    json parsed;
    std::optional<VeltraceType> result;
    if (JSONReader::parse(bytes, maxReadDepth, parsed) && (parsed.is_array() || parsed.is_object()))
        result = fromJson(parsed);
    if (!result)
        Logger::warning("exception decoding object data", "deserializeData(_:)");
    return result;
}

} // namespace veltrace
