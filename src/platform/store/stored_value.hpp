#pragma once

// Shared by the store implementations so that both read and convert values identically.

#include "platform/values/value.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform::store_detail {

using StoredValue = std::variant<double, bool, std::vector<std::string>, Data>;

std::optional<double> asDouble(const StoredValue& value);
std::optional<bool> asBool(const StoredValue& value);
std::optional<std::vector<std::string>> asStringList(const StoredValue& value);
std::optional<Data> asData(const StoredValue& value);

// A JSON array of strings; invalid UTF-8 becomes U+FFFD.
std::string encodeStringList(const std::vector<std::string>& list);
std::optional<std::vector<std::string>> decodeStringList(std::string_view text);

} // namespace platform::store_detail
