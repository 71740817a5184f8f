#include "widget/host/countdown.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace glanceside::host {
namespace {

// Whole seconds within what the texts can print; decoded dates are finite but may be far apart.
std::int64_t wholeSeconds(double seconds, bool roundUp) {
    constexpr double largest = 9.0e15;
    if (std::isnan(seconds) || seconds <= 0) {
        return 0;
    }
    const double whole = roundUp ? std::ceil(seconds) : std::floor(seconds);
    return static_cast<std::int64_t>(std::fmin(whole, largest));
}

std::string withHours(std::int64_t seconds) {
    char text[64];
    if (seconds >= 3600) {
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return text;
}

} // namespace

std::string timerText(double seconds) {
    return withHours(wholeSeconds(seconds, false));
}

std::string countdownText(const DateRange& range, Date now) {
    return withHours(
        wholeSeconds(range.upper.secondsSinceReferenceDate - now.secondsSinceReferenceDate, true));
}

std::string countUpText(Date start, Date now) {
    return withHours(
        wholeSeconds(now.secondsSinceReferenceDate - start.secondsSinceReferenceDate, false));
}

std::string textTimerText(const DateRange& range, Date now) {
    const auto seconds =
        wholeSeconds(range.upper.secondsSinceReferenceDate - now.secondsSinceReferenceDate, true);
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

} // namespace glanceside::host
