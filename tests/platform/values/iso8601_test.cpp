#include "platform/values/iso8601.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace platform {
namespace {

constexpr double year0000 = -62167219200.0;  // 0000-01-01T00:00:00Z in Unix seconds
constexpr double endOf9999 = 253402300799.0; // 9999-12-31T23:59:59Z in Unix seconds

std::optional<double> unixSeconds(std::string_view text) {
    auto date = parseInternetDateTime(text);
    if (!date) {
        return std::nullopt;
    }
    return date->unixSeconds();
}

TEST(ParseInternetDateTime, ReadsUtcAndOffsetsAsTheSameInstant) {
    EXPECT_EQ(unixSeconds("2024-03-01T17:05:00Z"), 1709312700.0);
    EXPECT_EQ(unixSeconds("2024-03-01T18:05:00+01:00"), 1709312700.0);
    EXPECT_EQ(unixSeconds("2024-03-01T11:35:00-05:30"), 1709312700.0);
    EXPECT_EQ(unixSeconds("2024-03-01T17:05:00-00:00"), 1709312700.0);
    EXPECT_EQ(unixSeconds("2024-03-02T17:04:00+23:59"), 1709312700.0);
    EXPECT_EQ(unixSeconds("2001-01-01T00:00:00Z"), Date::unixOffsetSeconds);
    EXPECT_EQ(parseInternetDateTime("2001-01-01T00:00:00Z"), Date{0});
}

TEST(ParseInternetDateTime, CoversYears0000To9999) {
    EXPECT_EQ(unixSeconds("0000-01-01T00:00:00Z"), year0000);
    EXPECT_EQ(unixSeconds("0001-01-01T00:00:00Z"), -62135596800.0);
    EXPECT_EQ(unixSeconds("9999-12-31T23:59:59Z"), endOf9999);
    EXPECT_EQ(unixSeconds("1969-12-31T23:59:59Z"), -1.0);
}

TEST(ParseInternetDateTime, KeepsFractionsOfAnyLength) {
    EXPECT_EQ(unixSeconds("2024-03-01T17:05:00.5Z"), 1709312700.5);
    EXPECT_EQ(unixSeconds("2001-01-01T00:00:00.25Z"), Date::unixOffsetSeconds + 0.25);

    auto whole = parseInternetDateTime("2024-03-01T17:05:00Z");
    auto micro = parseInternetDateTime("2024-03-01T17:05:00.000001Z");
    ASSERT_TRUE(whole && micro);
    EXPECT_NEAR(micro->sinceReferenceDate - whole->sinceReferenceDate, 1e-6, 1e-7);

    auto longFraction = parseInternetDateTime(
        "2024-03-01T17:05:00.123456789012345678901234567890123456789012345678901234567890Z");
    ASSERT_TRUE(longFraction);
    EXPECT_NEAR(longFraction->sinceReferenceDate - whole->sinceReferenceDate, 0.123456789, 1e-6);

    auto justUnder = parseInternetDateTime("2024-03-01T17:05:00.99999999999999999999Z");
    ASSERT_TRUE(justUnder);
    EXPECT_NEAR(justUnder->sinceReferenceDate - whole->sinceReferenceDate, 1.0, 1e-6);
}

TEST(ParseInternetDateTime, ChecksFieldRanges) {
    EXPECT_TRUE(parseInternetDateTime("2024-02-29T00:00:00Z"));
    EXPECT_TRUE(parseInternetDateTime("2000-02-29T00:00:00Z"));
    EXPECT_TRUE(parseInternetDateTime("2024-12-31T23:59:59Z"));
    for (std::string_view text : {
             "2023-02-29T00:00:00Z",
             "1900-02-29T00:00:00Z",
             "2024-04-31T00:00:00Z",
             "2024-00-10T00:00:00Z",
             "2024-13-10T00:00:00Z",
             "2024-01-00T00:00:00Z",
             "2024-01-32T00:00:00Z",
             "2024-01-10T24:00:00Z",
             "2024-01-10T23:60:00Z",
             "2024-01-10T23:59:61Z",
             "2024-01-10T10:00:00+24:00",
             "2024-01-10T10:00:00+01:60",
         }) {
        EXPECT_FALSE(parseInternetDateTime(text)) << "accepted: " << text;
    }
}

TEST(ParseInternetDateTime, AcceptsALeapSecondOnlyWhereOneCanFall) {
    EXPECT_EQ(unixSeconds("2016-12-31T23:59:60Z"), 1483228800.0);
    EXPECT_EQ(unixSeconds("2017-01-01T00:59:60+01:00"), 1483228800.0);
    EXPECT_EQ(unixSeconds("2016-12-31T23:59:60.5Z"), 1483228800.5);
    EXPECT_FALSE(parseInternetDateTime("2016-12-31T22:59:60Z"));
    EXPECT_FALSE(parseInternetDateTime("2016-12-31T23:58:60Z"));
    EXPECT_FALSE(parseInternetDateTime("2016-12-31T23:59:60+01:00"));
}

TEST(ParseInternetDateTime, RefusesAnythingButTheStrictForm) {
    for (std::string_view text : {
             "",
             "2024-03-01",
             "2024-03-01t17:05:00Z",
             "2024-03-01T17:05:00z",
             "2024-03-01 17:05:00Z",
             "2024-03-01T17:05Z",
             "2024-03-01T17:05:00",
             "2024-03-01T17:05:00+0100",
             "2024-03-01T17:05:00+01",
             "2024-03-01T17:05:00.Z",
             "2024-03-01T17:05:00,5Z",
             "2024-3-01T17:05:00Z",
             "24-03-01T17:05:00Z",
             "+2024-03-01T17:05:00Z",
             "12024-03-01T17:05:00Z",
             "20240301T170500Z",
             " 2024-03-01T17:05:00Z",
             "2024-03-01T17:05:00Z ",
             "2024-03-01T17:05:00ZZ",
             "2024-03-01T17:05:00.5.5Z",
             "2024-03-01T17:05:00+01:00:00",
             "2024-03-01T1a:05:00Z",
             "2024-03-01T17:05:00+1:00",
             "2024-03-01T-7:05:00Z",
         }) {
        EXPECT_FALSE(parseInternetDateTime(text)) << "accepted: " << text;
    }
}

TEST(FormatInternetDateTime, WritesUtcWholeSeconds) {
    EXPECT_EQ(formatInternetDateTime(Date::fromUnixSeconds(1709312700)), "2024-03-01T17:05:00Z");
    EXPECT_EQ(formatInternetDateTime(Date{0}), "2001-01-01T00:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date::fromUnixSeconds(951825600)), "2000-02-29T12:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date::fromUnixSeconds(-1)), "1969-12-31T23:59:59Z");
    EXPECT_EQ(formatInternetDateTime(Date::fromUnixSeconds(year0000)), "0000-01-01T00:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date::fromUnixSeconds(endOf9999)), "9999-12-31T23:59:59Z");
}

TEST(FormatInternetDateTime, TruncatesTowardTheEarlierSecond) {
    EXPECT_EQ(formatInternetDateTime(Date{0.999}), "2001-01-01T00:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date{-0.001}), "2000-12-31T23:59:59Z");
    EXPECT_EQ(formatInternetDateTime(Date{-1.0}), "2000-12-31T23:59:59Z");
    EXPECT_EQ(formatInternetDateTime(Date::fromUnixSeconds(1709312700.75)), "2024-03-01T17:05:00Z");
}

TEST(FormatInternetDateTime, ClampsMomentsOutsideYears0000To9999) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(formatInternetDateTime(Date::fromUnixSeconds(year0000 - 0.5)),
              "0000-01-01T00:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date{-1e300}), "0000-01-01T00:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date{-inf}), "0000-01-01T00:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date::fromUnixSeconds(endOf9999 + 1)), "9999-12-31T23:59:59Z");
    EXPECT_EQ(formatInternetDateTime(Date{1e300}), "9999-12-31T23:59:59Z");
    EXPECT_EQ(formatInternetDateTime(Date{inf}), "9999-12-31T23:59:59Z");
    EXPECT_EQ(formatInternetDateTime(Date{std::numeric_limits<double>::quiet_NaN()}),
              "2001-01-01T00:00:00Z");
}

RC_GTEST_PROP(InternetDateTime, WholeSecondsInRangeSurviveFormatAndParse, ()) {
    auto seconds = *rc::gen::inRange<std::int64_t>(static_cast<std::int64_t>(year0000),
                                                   static_cast<std::int64_t>(endOf9999) + 1);
    auto date = Date::fromUnixSeconds(static_cast<double>(seconds));
    auto back = parseInternetDateTime(formatInternetDateTime(date));
    RC_ASSERT(back.has_value());
    RC_ASSERT(back->unixSeconds() == static_cast<double>(seconds));
}

RC_GTEST_PROP(InternetDateTime, AnyDateFormatsAsTextThatParsesToAnEarlierOrEqualSecond,
              (double sinceReferenceDate)) {
    auto text = formatInternetDateTime(Date{sinceReferenceDate});
    auto back = parseInternetDateTime(text);
    RC_ASSERT(back.has_value());
    if (std::isfinite(sinceReferenceDate) && sinceReferenceDate > year0000 &&
        Date{sinceReferenceDate}.unixSeconds() < endOf9999) {
        RC_ASSERT(back->sinceReferenceDate <= sinceReferenceDate);
        RC_ASSERT(sinceReferenceDate - back->sinceReferenceDate < 1.0);
    }
}

RC_GTEST_PROP(InternetDateTime, ValidUtcTextFormatsBackIdentically, ()) {
    int year = *rc::gen::inRange(0, 10000);
    int month = *rc::gen::inRange(1, 13);
    bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int days = lengths[month - 1] + (month == 2 && leap ? 1 : 0);
    int day = *rc::gen::inRange(1, days + 1);
    int hour = *rc::gen::inRange(0, 24);
    int minute = *rc::gen::inRange(0, 60);
    int second = *rc::gen::inRange(0, 60);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, hour,
                  minute, second);
    auto date = parseInternetDateTime(text);
    RC_ASSERT(date.has_value());
    RC_ASSERT(formatInternetDateTime(*date) == std::string(text));
}

} // namespace
} // namespace platform
