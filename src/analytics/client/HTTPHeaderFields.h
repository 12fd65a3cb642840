#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrace {

// The header fields of a request or an answer, in order. Names compare without regard to case, as in
// HTTP, so a field set as "content-type" replaces "Content-Type". Plain value type.
class HTTPHeaderFields {
  public:
    using Field = std::pair<std::string, std::string>;

    HTTPHeaderFields() = default;
    HTTPHeaderFields(std::initializer_list<Field> fields);

    // Replaces the value of the first field of that name, keeping its place, or appends the field.
    void set(std::string name, std::string value);
    // Appends, keeping earlier fields of the same name (an answer may repeat a field).
    void add(std::string name, std::string value);
    // The value of the first field of that name.
    std::optional<std::string> value(std::string_view name) const;

    const std::vector<Field>& fields() const { return fields_; }
    std::vector<Field>::const_iterator begin() const { return fields_.begin(); }
    std::vector<Field>::const_iterator end() const { return fields_.end(); }
    bool empty() const { return fields_.empty(); }
    std::size_t size() const { return fields_.size(); }

    static bool sameName(std::string_view a, std::string_view b);

  private:
    std::vector<Field> fields_;
};

} // namespace veltrace
