// Property values of the analytics client: the closed set of kinds a caller may attach to events and
// profile updates, and the value trees of assembled records.
// Thread safety: a value is a plain value type; distinct objects may be used from different threads,
// one object is not synchronised (const access from many threads is fine).
#pragma once

#include <concepts>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace veltrace {

class VeltraceType;

// A map from string key to value. Caller-supplied properties and assembled records share it.
using PropertyMap = std::map<std::string, VeltraceType>;
using RecordMap = PropertyMap;
using Array = std::vector<VeltraceType>;

// Compact JSON and archive bytes travel in a std::string (no terminator is implied).
using Bytes = std::string;

// An explicit null value.
struct Null {};

// A point in time, seconds since 1970-01-01 00:00:00 UTC.
struct Date {
    double secondsSince1970 = 0;

    // "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC on the proleptic Gregorian calendar, whatever the
    // process's time zone and locale.
    std::string iso8601() const;
};

// A URL, kept as its absolute string.
struct Url {
    std::string absoluteString;
};

// An optional: empty, or one wrapped value of any kind.
struct Optional {
    std::shared_ptr<const VeltraceType> wrapped;

    static Optional none() { return {}; }
    static Optional some(VeltraceType value);
    bool hasValue() const { return wrapped != nullptr; }
};

// A dictionary whose keys are not all strings. It is of the dictionary kind but never valid, and it
// is not JSON-representable; it exists so that such caller values can be handled rather than rejected.
struct ForeignMap {
    std::vector<std::pair<VeltraceType, VeltraceType>> entries;
};

// A value outside the closed set (for example a caller's own object), known only by its description.
struct Opaque {
    std::string description;
};

class VeltraceType {
  public:
    enum class Kind {
        String,
        Int,
        UInt,
        Double,
        Float,
        Bool,
        Date,
        Url,
        Null,
        Optional,
        Array,
        Dictionary,
        ForeignMap,
        Opaque
    };

    using Storage = std::variant<std::string, std::int64_t, std::uint64_t, double, float, bool,
                                 veltrace::Date, veltrace::Url, veltrace::Null, veltrace::Optional,
                                 veltrace::Array, PropertyMap, veltrace::ForeignMap, veltrace::Opaque>;

    VeltraceType() : storage_(veltrace::Null{}) {}
    VeltraceType(std::string value) : storage_(std::move(value)) {}
    VeltraceType(std::string_view value) : storage_(std::string(value)) {}
    VeltraceType(const char* value) : storage_(std::string(value ? value : "")) {}
    template <std::signed_integral T>
    requires(!std::same_as<T, bool>) VeltraceType(T value) : storage_(static_cast<std::int64_t>(value)) {}
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>) VeltraceType(T value) : storage_(static_cast<std::uint64_t>(value)) {}
    // A template so that pointers and other types do not silently become booleans.
    template <std::same_as<bool> B> VeltraceType(B value) : storage_(static_cast<bool>(value)) {}
    VeltraceType(double value) : storage_(value) {}
    VeltraceType(float value) : storage_(value) {}
    VeltraceType(veltrace::Date value) : storage_(value) {}
    VeltraceType(veltrace::Url value) : storage_(std::move(value)) {}
    VeltraceType(veltrace::Null value) : storage_(value) {}
    VeltraceType(veltrace::Optional value) : storage_(std::move(value)) {}
    template <class T>
    VeltraceType(std::optional<T> value)
        : storage_(value ? veltrace::Optional::some(VeltraceType(std::move(*value)))
                         : veltrace::Optional::none()) {}
    VeltraceType(veltrace::Array value) : storage_(std::move(value)) {}
    VeltraceType(PropertyMap value) : storage_(std::move(value)) {}
    VeltraceType(veltrace::ForeignMap value) : storage_(std::move(value)) {}
    VeltraceType(veltrace::Opaque value) : storage_(std::move(value)) {}

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    const Storage& storage() const { return storage_; }

    // Typed access: a pointer to the held alternative, or null when the value is of another kind.
    template <class T> const T* get() const { return std::get_if<T>(&storage_); }
    template <class T> T* get() { return std::get_if<T>(&storage_); }

    const std::string* string() const { return get<std::string>(); }
    const PropertyMap* dictionary() const { return get<PropertyMap>(); }
    PropertyMap* dictionary() { return get<PropertyMap>(); }
    const veltrace::Array* array() const { return get<veltrace::Array>(); }
    veltrace::Array* array() { return get<veltrace::Array>(); }

    // True for the property value kinds; false only for a value outside the closed set.
    bool isPropertyKind() const { return kind() != Kind::Opaque; }

    // Whether the value is acceptable as a property value. Containers check only that their elements
    // are property kinds, not the elements' own validity.
    bool isValidValue() const;

    // Equality within the property value kinds; false whenever the kinds differ.
    bool valueEquals(const VeltraceType& other) const;

    // The value's text form, used where a value has no JSON form; an empty optional reads "nil".
    std::string description() const;

  private:
    Storage storage_;
};

inline Optional Optional::some(VeltraceType value) {
    return Optional{std::make_shared<const VeltraceType>(std::move(value))};
}

// For test failure messages.
void PrintTo(const VeltraceType& value, std::ostream* os);

} // namespace veltrace
