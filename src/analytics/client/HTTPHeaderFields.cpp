#include "client/HTTPHeaderFields.h"

#include <algorithm>

namespace veltrace {

namespace {
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

HTTPHeaderFields::HTTPHeaderFields(std::initializer_list<Field> fields) {
    for (const auto& [name, value] : fields)
        set(name, value);
}

bool HTTPHeaderFields::sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

void HTTPHeaderFields::set(std::string name, std::string value) {
    const auto found =
        std::find_if(fields_.begin(), fields_.end(), [&](const Field& f) { return sameName(f.first, name); });
    if (found == fields_.end())
        fields_.emplace_back(std::move(name), std::move(value));
    else
        found->second = std::move(value);
}

void HTTPHeaderFields::add(std::string name, std::string value) {
    fields_.emplace_back(std::move(name), std::move(value));
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view name) const {
    for (const auto& [fieldName, fieldValue] : fields_)
        if (sameName(fieldName, name))
            return fieldValue;
    return std::nullopt;
}

} // namespace veltrace
