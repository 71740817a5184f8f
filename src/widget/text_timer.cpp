#include "widget/text_timer.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace glanceside {

std::string textTimerMeasuringText(const DateRange& dateRange) {
    const double length =
        dateRange.upper.secondsSinceReferenceDate - dateRange.lower.secondsSinceReferenceDate;
    // Decoded ranges are finite and ordered, but their difference can still exceed any integer.
    constexpr double largest = 9.0e18;
    const auto seconds = static_cast<std::int64_t>(
        std::isnan(length) ? 0.0 : std::trunc(std::fmin(std::fmax(length, 0.0), largest)));
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

} // namespace glanceside
