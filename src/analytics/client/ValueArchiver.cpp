#include "client/ValueArchiver.h"

#include "client/JSONHandler.h"
#include "client/JSONReader.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace veltrace {

namespace {

using nlohmann::json;

// Archive layout: {"format": "veltrace-archive", "version": 1, "root": <value>}, where every value
// is [tag] or [tag, payload].
constexpr const char* formatName = "veltrace-archive";
constexpr int formatVersion = 1;

json encodeFloating(double value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    return value;
}

std::optional<double> decodeFloating(const json& payload) {
    if (payload.is_number())
        return payload.get<double>();
    if (!payload.is_string())
        return std::nullopt;
    const auto& text = payload.get_ref<const std::string&>();
    if (text == "nan")
        return std::numeric_limits<double>::quiet_NaN();
    if (text == "inf")
        return std::numeric_limits<double>::infinity();
    if (text == "-inf")
        return -std::numeric_limits<double>::infinity();
    return std::nullopt;
}

std::optional<json> encode(const VeltraceType& value) {
    using K = VeltraceType::Kind;
    switch (value.kind()) {
    case K::String:
        return json::array({"str", *value.string()});
    case K::Int:
        return json::array({"int", *value.get<std::int64_t>()});
    case K::UInt:
        return json::array({"uint", *value.get<std::uint64_t>()});
    case K::Double:
        return json::array({"dbl", encodeFloating(*value.get<double>())});
    case K::Float:
        return json::array({"flt", encodeFloating(*value.get<float>())});
    case K::Bool:
        return json::array({"bool", *value.get<bool>()});
    case K::Date:
        return json::array({"date", encodeFloating(value.get<Date>()->secondsSince1970)});
    case K::Url:
        return json::array({"url", value.get<Url>()->absoluteString});
    case K::Null:
        return json::array({"null"});
    case K::Optional: {
        const auto& optional = *value.get<Optional>();
        if (!optional.hasValue())
            return json::array({"opt"});
        auto wrapped = encode(*optional.wrapped);
        if (!wrapped)
            return std::nullopt;
        return json::array({"opt", std::move(*wrapped)});
    }
    case K::Array: {
        json elements = json::array();
        for (const auto& element : *value.array()) {
            auto encoded = encode(element);
            if (!encoded)
                return std::nullopt;
            elements.push_back(std::move(*encoded));
        }
        return json::array({"arr", std::move(elements)});
    }
    case K::Dictionary: {
        json entries = json::object();
        for (const auto& [key, element] : *value.dictionary()) {
            auto encoded = encode(element);
            if (!encoded)
                return std::nullopt;
            entries.emplace(key, std::move(*encoded));
        }
        return json::array({"dict", std::move(entries)});
    }
    case K::ForeignMap: {
        json entries = json::array();
        for (const auto& [key, element] : value.get<ForeignMap>()->entries) {
            auto encodedKey = encode(key);
            auto encodedValue = encode(element);
            if (!encodedKey || !encodedValue)
                return std::nullopt;
            entries.push_back(json::array({std::move(*encodedKey), std::move(*encodedValue)}));
        }
        return json::array({"fmap", std::move(entries)});
    }
    case K::Opaque:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<VeltraceType> decode(const json& node, int depth) {
    if (depth > JSONHandler::maxReadDepth || !node.is_array() || node.empty() || node.size() > 2 ||
        !node[0].is_string())
        return std::nullopt;
    const auto& tag = node[0].get_ref<const std::string&>();
    if (node.size() == 1) {
        if (tag == "null")
            return VeltraceType(Null{});
        if (tag == "opt")
            return VeltraceType(Optional::none());
        return std::nullopt;
    }
    const json& payload = node[1];
    if (tag == "str" && payload.is_string())
        return VeltraceType(payload.get_ref<const std::string&>());
    if (tag == "int" && payload.is_number_integer()) {
        if (payload.is_number_unsigned() &&
            payload.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return VeltraceType(payload.get<std::int64_t>());
    }
    if (tag == "uint" && payload.is_number_unsigned())
        return VeltraceType(payload.get<std::uint64_t>());
    if (tag == "bool" && payload.is_boolean())
        return VeltraceType(payload.get<bool>());
    if (tag == "url" && payload.is_string())
        return VeltraceType(Url{payload.get<std::string>()});
    if (tag == "dbl" || tag == "flt" || tag == "date") {
        auto number = decodeFloating(payload);
        if (!number)
            return std::nullopt;
        if (tag == "flt")
            return VeltraceType(static_cast<float>(*number));
        if (tag == "date")
            return VeltraceType(Date{*number});
        return VeltraceType(*number);
    }
    if (tag == "opt") {
        auto wrapped = decode(payload, depth + 1);
        if (!wrapped)
            return std::nullopt;
        return VeltraceType(Optional::some(std::move(*wrapped)));
    }
    if (tag == "arr" && payload.is_array()) {
        Array elements;
        elements.reserve(payload.size());
        for (const auto& element : payload) {
            auto decoded = decode(element, depth + 1);
            if (!decoded)
                return std::nullopt;
            elements.push_back(std::move(*decoded));
        }
        return VeltraceType(std::move(elements));
    }
    if (tag == "dict" && payload.is_object()) {
        PropertyMap entries;
        for (const auto& [key, element] : payload.items()) {
            auto decoded = decode(element, depth + 1);
            if (!decoded)
                return std::nullopt;
            entries.emplace(key, std::move(*decoded));
        }
        return VeltraceType(std::move(entries));
    }
    if (tag == "fmap" && payload.is_array()) {
        ForeignMap map;
        for (const auto& pair : payload) {
            if (!pair.is_array() || pair.size() != 2)
                return std::nullopt;
            auto key = decode(pair[0], depth + 1);
            auto element = decode(pair[1], depth + 1);
            if (!key || !element)
                return std::nullopt;
            map.entries.emplace_back(std::move(*key), std::move(*element));
        }
        return VeltraceType(std::move(map));
    }
    return std::nullopt;
}

} // namespace

std::optional<Bytes> ValueArchiver::archive(const VeltraceType& root) {
    auto encoded = encode(root);
    if (!encoded)
        return std::nullopt;
    json archive = json::object();
    archive["format"] = formatName;
    archive["version"] = formatVersion;
    archive["root"] = std::move(*encoded);
    try {
        return archive.dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<VeltraceType> ValueArchiver::unarchive(std::string_view bytes) {
    // An archive level takes up to three JSON levels (a foreign map's [tag, [[key, value]]]), and
    // decode() refuses archives deeper than the JSON reader's own limit.
    json archive;
    if (!JSONReader::parse(bytes, 3 * JSONHandler::maxReadDepth + 3, archive) || !archive.is_object())
        return std::nullopt;
    const auto format = archive.find("format");
    const auto version = archive.find("version");
    const auto root = archive.find("root");
    if (format == archive.end() || *format != formatName || version == archive.end() ||
        *version != formatVersion || root == archive.end())
        return std::nullopt;
    return decode(*root, 1);
}

} // namespace veltrace
