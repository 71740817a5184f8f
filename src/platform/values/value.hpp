#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

// Not a property-list type: it gives JSON null a home and gives the validity test something to
// refuse.
struct Null {
    bool operator==(const Null&) const = default;
};

// A moment kept as seconds since 2001-01-01 00:00:00 UTC, the way binary property lists carry it,
// so that a date survives a round trip bit for bit.
struct Date {
    static constexpr double unixOffsetSeconds = 978307200.0;

    double sinceReferenceDate = 0;

    static Date fromUnixSeconds(double seconds) { return Date{seconds - unixOffsetSeconds}; }
    static Date fromUnixMillis(double millis) { return fromUnixSeconds(millis / 1000.0); }
    double unixSeconds() const { return sinceReferenceDate + unixOffsetSeconds; }
    double unixMillis() const { return unixSeconds() * 1000.0; }

    bool operator==(const Date&) const = default;
    auto operator<=>(const Date&) const = default;
};

using Data = std::vector<std::uint8_t>;

class Value;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value, std::less<>>;

enum class ValueKind { null, boolean, integer, real, string, date, data, array, dictionary };

// A property-list value. Equality is structural and exact: an integer never equals a real, a
// Boolean never equals a number.
class Value {
public:
    using Storage =
        std::variant<Null, bool, std::int64_t, double, std::string, Date, Data, Array, Dictionary>;

    Value() = default;
    Value(Null) {}
    Value(bool b) : storage_(b) {}
    template <std::integral I>
    requires(!std::same_as<I, bool>) Value(I i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(double d) : storage_(d) {}
    Value(std::string s) : storage_(std::move(s)) {}
    Value(std::string_view s) : storage_(std::string(s)) {}
    Value(const char* s) : storage_(std::string(s)) {}
    Value(Date d) : storage_(d) {}
    Value(Data d) : storage_(std::move(d)) {}
    Value(Array a) : storage_(std::move(a)) {}
    Value(Dictionary d) : storage_(std::move(d)) {}

    ValueKind kind() const { return static_cast<ValueKind>(storage_.index()); }
    bool isNull() const { return kind() == ValueKind::null; }

    // Typed access: a pointer to the held value when it has that type, else null.
    template <class T> const T* get() const { return std::get_if<T>(&storage_); }
    template <class T> T* get() { return std::get_if<T>(&storage_); }

    const bool* boolean() const { return get<bool>(); }
    const std::int64_t* integer() const { return get<std::int64_t>(); }
    const double* real() const { return get<double>(); }
    const std::string* string() const { return get<std::string>(); }
    const Date* date() const { return get<Date>(); }
    const Data* data() const { return get<Data>(); }
    const Array* array() const { return get<Array>(); }
    const Dictionary* dictionary() const { return get<Dictionary>(); }

    // The value under key when this is a dictionary holding it.
    const Value* find(std::string_view key) const;

    const Storage& storage() const { return storage_; }

    bool operator==(const Value& other) const { return storage_ == other.storage_; }

private:
    Storage storage_;
};

std::string_view kindName(ValueKind kind);

// A readable, JSON-like description for logs and test failures; dates print as ISO 8601 text,
// data as hex, reals always with a decimal point so that 1 and 1.0 read differently.
std::string describe(const Value& value);
std::ostream& operator<<(std::ostream& out, const Value& value);
// GoogleTest's printer hook.
void PrintTo(const Value& value, std::ostream* out);

} // namespace platform
