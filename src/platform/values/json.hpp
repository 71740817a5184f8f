#pragma once

#include "platform/values/value.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Deeper input is refused rather than risking the stack in the recursive code that walks values.
inline constexpr std::size_t maxJsonDepth = 512;

// Nothing for malformed text, invalid UTF-8 or nesting deeper than maxJsonDepth. Numbers written
// without fraction or exponent become integers when they fit in 64 signed bits; all others
// become reals. null becomes the Null marker.
std::optional<Value> parseJson(std::string_view text);

// Same mapping as parseJson for a document already in memory; binary values become Data.
Value fromJson(const nlohmann::json& json);

// Dates become whole milliseconds since 1970 (rounded to the nearest), data becomes Base64 text,
// non-finite reals and Null become null.
nlohmann::json toJson(const Value& value);

// Compact text with object keys sorted; invalid UTF-8 in strings comes out as U+FFFD.
std::string toJsonText(const Value& value);

} // namespace platform
