#pragma once

#include "platform/values/value.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Accepts exactly YYYY-MM-DDTHH:MM:SS[.fraction](Z|+HH:MM|-HH:MM), upper-case T and Z, for years
// 0000-9999. A fraction of any length is kept to what a double holds. Second 60 is accepted only
// where a leap second can fall (23:59:60 UTC) and reads as the next midnight.
std::optional<Date> parseInternetDateTime(std::string_view text);

// UTC with "Z" and whole seconds, truncated toward the earlier second. Moments before year 0000
// or after year 9999 are clamped to 0000-01-01T00:00:00Z and 9999-12-31T23:59:59Z, so the text
// always parses back; NaN formats as the reference date 2001-01-01T00:00:00Z.
std::string formatInternetDateTime(Date date);

} // namespace platform
