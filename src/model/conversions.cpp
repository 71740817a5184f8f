#include "model/conversions.hpp"

#include "platform/values/json.hpp"

#include <charconv>
#include <cmath>

namespace model {

namespace {

// 2^63 as a double: the first value past the signed 64-bit range.
constexpr double int64Limit = 9223372036854775808.0;

std::optional<std::int64_t> truncateToInt64(double number) {
    if (!std::isfinite(number)) {
        return std::nullopt;
    }
    double truncated = std::trunc(number);
    if (truncated < -int64Limit || truncated >= int64Limit) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(truncated);
}

std::string numberText(double number) {
    if (std::trunc(number) == number) {
        if (auto whole = truncateToInt64(number)) {
            return std::to_string(*whole);
        }
    }
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number);
    if (error != std::errc{}) {
        return {};
    }
    return std::string(buffer, end);
}

std::optional<double> parseDecimal(const std::string& text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    // C's strtod allows one leading plus sign; from_chars does not.
    if (begin != end && *begin == '+') {
        ++begin;
        if (begin != end && (*begin == '+' || *begin == '-')) {
            return std::nullopt;
        }
    }
    if (begin == end) {
        return std::nullopt;
    }
    double number = 0;
    auto [stop, error] = std::from_chars(begin, end, number, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Same as strtod: overflow is infinite, underflow is zero, and the text still counts.
        bool negative = *begin == '-';
        std::string_view digits(begin, static_cast<std::size_t>(end - begin));
        auto exponent = digits.find_first_of("eE");
        bool tiny = exponent != std::string_view::npos && exponent + 1 < digits.size() &&
                    digits[exponent + 1] == '-';
        if (stop != end) {
            return std::nullopt;
        }
        if (tiny) {
            return negative ? -0.0 : 0.0;
        }
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    if (error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return number;
}

} // namespace

const platform::Value* lookup(const platform::Dictionary& dictionary, std::string_view key) {
    auto it = dictionary.find(key);
    return it == dictionary.end() ? nullptr : &it->second;
}

const std::string* asString(const platform::Value* value) {
    return value == nullptr ? nullptr : value->string();
}

std::optional<std::string> asText(const platform::Value* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* text = value->string()) {
        return *text;
    }
    if (const auto* integer = value->integer()) {
        return std::to_string(*integer);
    }
    if (const auto* real = value->real()) {
        return numberText(*real);
    }
    return std::nullopt;
}

std::optional<double> asNumber(const platform::Value* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* real = value->real()) {
        return *real;
    }
    if (const auto* integer = value->integer()) {
        return static_cast<double>(*integer);
    }
    if (const auto* boolean = value->boolean()) {
        return *boolean ? 1.0 : 0.0;
    }
    if (const auto* text = value->string()) {
        return parseDecimal(*text);
    }
    return std::nullopt;
}

std::optional<std::int64_t> asInteger(const platform::Value* value) {
    if (value != nullptr) {
        if (const auto* integer = value->integer()) {
            return *integer;
        }
    }
    auto number = asNumber(value);
    return number ? truncateToInt64(*number) : std::nullopt;
}

std::optional<double> asRevision(const platform::Value* value) {
    auto number = asNumber(value);
    return number && std::isfinite(*number) ? number : std::nullopt;
}

std::optional<platform::Date> asDateMillis(const platform::Value* value) {
    auto number = asNumber(value);
    if (!number || !std::isfinite(*number)) {
        return std::nullopt;
    }
    return platform::Date::fromUnixMillis(*number);
}

std::optional<platform::Dictionary> asDictionary(const platform::Value* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* dictionary = value->dictionary()) {
        return *dictionary;
    }
    if (const auto* text = value->string()) {
        auto parsed = platform::parseJson(*text);
        if (parsed) {
            if (auto* dictionary = parsed->get<platform::Dictionary>()) {
                return std::move(*dictionary);
            }
        }
    }
    return std::nullopt;
}

std::optional<bool> asBoolean(const platform::Value* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* boolean = value->boolean()) {
        return *boolean;
    }
    if (const auto* integer = value->integer();
        integer != nullptr && (*integer == 0 || *integer == 1)) {
        return *integer == 1;
    }
    if (const auto* real = value->real(); real != nullptr && (*real == 0.0 || *real == 1.0)) {
        return *real == 1.0;
    }
    return std::nullopt;
}

std::optional<std::vector<const platform::Dictionary*>>
asDictionaryList(const platform::Value* value) {
    const auto* array = value == nullptr ? nullptr : value->array();
    if (array == nullptr) {
        return std::nullopt;
    }
    std::vector<const platform::Dictionary*> dictionaries;
    dictionaries.reserve(array->size());
    for (const auto& element : *array) {
        const auto* dictionary = element.dictionary();
        if (dictionary == nullptr) {
            return std::nullopt;
        }
        dictionaries.push_back(dictionary);
    }
    return dictionaries;
}

std::optional<std::vector<std::string>> asStringList(const platform::Value* value) {
    const auto* array = value == nullptr ? nullptr : value->array();
    if (array == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> strings;
    strings.reserve(array->size());
    for (const auto& element : *array) {
        const auto* text = element.string();
        if (text == nullptr) {
            return std::nullopt;
        }
        strings.push_back(*text);
    }
    return strings;
}

} // namespace model
