#pragma once

#include "platform/values/value.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Forgiving readers for the phone's dictionaries. Each takes the value stored under a key, or
// null when the key is absent, and gives nothing for a value it cannot use.
namespace model {

// A string as is; a number as its decimal text (whole numbers without a decimal point, others
// in their shortest round-trip form). A Boolean is not text: it gives nothing.
std::optional<std::string> asText(const platform::Value* value);

// A number; a Boolean as 1 or 0; a string when the whole of it spells a number in C-locale
// decimal notation (no leading white space, nothing after the number).
std::optional<double> asNumber(const platform::Value* value);

// asNumber truncated toward zero; nothing when not finite or outside the signed 64-bit range.
// Integers are taken exactly, without a detour through double.
std::optional<std::int64_t> asInteger(const platform::Value* value);

// asNumber when finite: a revision or command sequence. An infinite one would shut out every
// later delivery for good, and NaN would defeat every comparison, so either counts as absent.
std::optional<double> asRevision(const platform::Value* value);

// asNumber as milliseconds since 1970-01-01 00:00:00 UTC; nothing when not finite.
std::optional<platform::Date> asDateMillis(const platform::Value* value);

// A dictionary; or a string whose UTF-8 bytes are a JSON object.
std::optional<platform::Dictionary> asDictionary(const platform::Value* value);

// A Boolean; or the numbers 0 and 1, which the phone's bridging turns into Booleans too. Any
// other number, and any text, gives nothing.
std::optional<bool> asBoolean(const platform::Value* value);

// A string, and nothing else (no conversion from numbers).
const std::string* asString(const platform::Value* value);

// A list whose every element is a dictionary; nothing for anything else.
std::optional<std::vector<const platform::Dictionary*>>
asDictionaryList(const platform::Value* value);

// A list whose every element is a string; nothing for anything else.
std::optional<std::vector<std::string>> asStringList(const platform::Value* value);

// The value under key in dictionary, or null.
const platform::Value* lookup(const platform::Dictionary& dictionary, std::string_view key);

} // namespace model
