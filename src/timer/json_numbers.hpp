#pragma once

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace timer {

// An integer field as stored: any JSON number with a whole value that fits in 64 signed bits,
// so that 3.0 written by another encoder still reads as 3.
inline std::optional<std::int64_t> wholeNumber(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        const double real = value.get<double>();
        // 2^63 itself no longer fits, hence the exclusive upper bound.
        if (std::trunc(real) == real && real >= -9223372036854775808.0 &&
            real < 9223372036854775808.0) {
            return static_cast<std::int64_t>(real);
        }
    }
    return std::nullopt;
}

} // namespace timer
