#include "platform/values/iso8601.hpp"

#include <date/date.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace platform {

namespace {

constexpr std::int64_t secondsPerDay = 86400;

// Days from 1970-01-01 to 2001-01-01, so that arithmetic stays in whole numbers until the very
// end and the fraction is added to a value near the reference date, where doubles are finest.
constexpr std::int64_t referenceDays = 11323;

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out) {
    if (at + count > text.size()) {
        return false;
    }
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}

bool expect(std::string_view text, std::size_t at, char c) {
    return at < text.size() && text[at] == c;
}

std::int64_t daysSinceReference(int year, unsigned month, unsigned day) {
    auto days = date::sys_days(date::year{year} / date::month{month} / date::day{day});
    return std::int64_t{days.time_since_epoch().count()} - referenceDays;
}

} // namespace

std::optional<Date> parseInternetDateTime(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, 0, 4, year) || !expect(text, 4, '-') || !digits(text, 5, 2, month) ||
        !expect(text, 7, '-') || !digits(text, 8, 2, day) || !expect(text, 10, 'T') ||
        !digits(text, 11, 2, hour) || !expect(text, 13, ':') || !digits(text, 14, 2, minute) ||
        !expect(text, 16, ':') || !digits(text, 17, 2, second)) {
        return std::nullopt;
    }
    std::size_t at = 19;
    double fraction = 0;
    if (expect(text, at, '.')) {
        std::size_t start = at;
        ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            ++at;
        }
        if (at == start + 1) {
            return std::nullopt;
        }
        // from_chars rounds correctly however many digits follow, so long fractions cost nothing.
        std::string number = "0";
        number.append(text.substr(start, at - start));
        auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), fraction);
        if (ec != std::errc{} || end != number.data() + number.size()) {
            return std::nullopt;
        }
    }
    int offsetMinutes = 0;
    if (expect(text, at, 'Z')) {
        ++at;
    } else if (expect(text, at, '+') || expect(text, at, '-')) {
        int sign = text[at] == '-' ? -1 : 1;
        int offsetHour = 0, offsetMinute = 0;
        if (!digits(text, at + 1, 2, offsetHour) || !expect(text, at + 3, ':') ||
            !digits(text, at + 4, 2, offsetMinute) || offsetHour > 23 || offsetMinute > 59) {
            return std::nullopt;
        }
        offsetMinutes = sign * (offsetHour * 60 + offsetMinute);
        at += 6;
    } else {
        return std::nullopt;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    auto ymd = date::year{year} / date::month{static_cast<unsigned>(month)} /
               date::day{static_cast<unsigned>(day)};
    if (!ymd.ok() || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    std::int64_t minutes =
        daysSinceReference(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 1440 +
        hour * 60 + minute - offsetMinutes;
    if (second == 60) {
        // POSIX time has no leap seconds: the one a leap second would be folds into the next.
        auto utcMinuteOfDay = ((minutes % 1440) + 1440) % 1440;
        if (utcMinuteOfDay != 1439) {
            return std::nullopt;
        }
    }
    std::int64_t whole = minutes * 60 + second;
    return Date{static_cast<double>(whole) + fraction};
}

std::string formatInternetDateTime(Date date) {
    static const std::int64_t earliest = daysSinceReference(0, 1, 1) * secondsPerDay;
    static const std::int64_t latest =
        daysSinceReference(9999, 12, 31) * secondsPerDay + secondsPerDay - 1;
    double seconds = std::floor(date.sinceReferenceDate);
    std::int64_t whole = 0;
    if (std::isnan(seconds)) {
        whole = 0;
    } else if (seconds <= static_cast<double>(earliest)) {
        whole = earliest;
    } else if (seconds >= static_cast<double>(latest)) {
        whole = latest;
    } else {
        whole = static_cast<std::int64_t>(seconds);
    }
    std::int64_t days = whole / secondsPerDay;
    std::int64_t secondOfDay = whole % secondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += secondsPerDay;
        --days;
    }
    date::year_month_day ymd{date::sys_days{date::days{days + referenceDays}}};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    std::string out = buffer;
    std::snprintf(buffer, sizeof buffer, "T%02d:%02d:%02dZ", static_cast<int>(secondOfDay / 3600),
                  static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
    out += buffer;
    return out;
}

} // namespace platform
