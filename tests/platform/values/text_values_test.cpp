#include "platform/values/bplist_support.hpp"
#include "platform/values/iso8601.hpp"
#include "platform/values/json.hpp"
#include "platform/values/uuid.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <regex>
#include <set>

namespace platform {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// The property below covers ordinary values; these are the edges of numbers, escapes and keys.
TEST(JsonTest, ReadsNumbersAsIntegersOnlyWhenTheyFitAndTheLastOfARepeatedKey) {
    EXPECT_EQ(parseJson(R"(["\ud83d\ude00", {"a": 2, "a": 3}, -0, 1.0, -9223372036854775808,
                            9223372036854775808])"),
              Value(Array{"\xF0\x9F\x98\x80", Dictionary{{"a", 3}}, 0, 1.0,
                          std::numeric_limits<std::int64_t>::min(), 9223372036854775808.0}));
}

TEST(JsonTest, RefusesMalformedTextInvalidUtf8AndDeepNesting) {
    for (std::string text :
         {"", "[1,]", "{'a': 1}", "01", "1.", "+1", "NaN", "1 2", "/* c */ 1", "\"tab\there\"",
          "\"\\ud800\"", "1e400", "\"\xFF\"", "\"\xC0\xAF\"", "{\"\xED\xA0\x80\": 1}"}) {
        EXPECT_FALSE(parseJson(text)) << text;
    }
    const auto nested = [](std::size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    EXPECT_TRUE(parseJson(nested(maxJsonDepth)));
    EXPECT_FALSE(parseJson(nested(maxJsonDepth + 1)));
    // Deep enough to overflow the stack of any recursive descent.
    EXPECT_FALSE(parseJson(nested(1'000'000)));
}

TEST(JsonTest, WritesDatesAsMillisecondsSince1970DataAsBase64AndNoNonFiniteNumbers) {
    EXPECT_EQ(toJson(Date{0}), nlohmann::json(978307200000));
    EXPECT_EQ(toJson(Date::fromUnixMillis(-1)), nlohmann::json(-1));
    EXPECT_EQ(toJson(Date::fromUnixSeconds(1.2346)), nlohmann::json(1235));
    EXPECT_TRUE(toJson(Date::fromUnixMillis(1709312700000)).is_number_integer());
    for (Value v : {Value(Date{nan}), Value(inf), Value(-inf), Value(nan)}) {
        EXPECT_TRUE(toJson(v).is_null());
    }
    for (auto [bytes, text] : {std::pair(Data{'f'}, "Zg=="),
                               {Data{'f', 'o'}, "Zm8="},
                               {Data{0xFB, 0xFF, 0xBF}, "+/+/"}}) {
        EXPECT_EQ(toJson(bytes), nlohmann::json(text));
    }
    EXPECT_EQ(toJsonText(Dictionary{{"zeta", Array{1, 1.0, true, Null{}}}, {"Alpha", "x\n\x01"}}),
              R"({"Alpha":"x\n\u0001","zeta":[1,1.0,true,null]})");
    EXPECT_EQ(toJsonText(Dictionary{{"k\xFF", "a\xC3"}}), "{\"k\xEF\xBF\xBD\":\"a\xEF\xBF\xBD\"}");
}

// Values that JSON can carry unchanged: no dates, data or non-finite reals.
rc::Gen<Value> jsonValue(int depth) {
    auto codePoint = rc::gen::oneOf(rc::gen::inRange<std::uint32_t>(0, 0xD800),
                                    rc::gen::inRange<std::uint32_t>(0xE000, 0x110000));
    auto text = rc::gen::map(rc::gen::container<std::vector<std::uint32_t>>(codePoint),
                             bplist_test::toUtf8);
    auto scalar = rc::gen::oneOf(
        rc::gen::just(Value(Null{})),
        rc::gen::map(rc::gen::arbitrary<bool>(), [](bool b) { return Value(b); }),
        rc::gen::map(rc::gen::arbitrary<std::int64_t>(), [](std::int64_t i) { return Value(i); }),
        rc::gen::map(rc::gen::suchThat(rc::gen::arbitrary<double>(),
                                       [](double d) { return std::isfinite(d); }),
                     [](double d) { return Value(d); }),
        rc::gen::map(text, [](std::string s) { return Value(std::move(s)); }));
    if (depth == 0) {
        return scalar;
    }
    // Few elements per level keep the values small enough for hundreds of runs.
    auto inner = rc::gen::lazy([depth] { return jsonValue(depth - 1); });
    using Entries = std::vector<std::pair<std::string, Value>>;
    return rc::gen::oneOf(
        scalar,
        rc::gen::map(rc::gen::resize(6, rc::gen::container<Array>(inner)),
                     [](Array a) { return Value(std::move(a)); }),
        rc::gen::map(rc::gen::resize(6, rc::gen::container<Entries>(rc::gen::pair(text, inner))),
                     [](Entries e) { return Value(Dictionary(e.begin(), e.end())); }));
}

RC_GTEST_PROP(JsonText, ParsesBackToTheSameValue, ()) {
    Value value = *jsonValue(3);
    auto back = parseJson(toJsonText(value));
    RC_ASSERT(back.has_value());
    RC_ASSERT(*back == value);
}

constexpr double year0000 = -62167219200.0;  // 0000-01-01T00:00:00Z in Unix seconds
constexpr double endOf9999 = 253402300799.0; // 9999-12-31T23:59:59Z in Unix seconds

TEST(InternetDateTimeTest, ReadsTheStrictFormAtAnyOffsetWithAnyFraction) {
    const std::vector<std::pair<std::string, double>> cases{
        {"2024-03-01T11:35:00-05:30", 1709312700.0},
        {"2024-03-01T17:05:00.99999999999999999999999999999999999999999Z", 1709312701.0},
        {"2017-01-01T00:59:60+01:00", 1483228800.0},
    };
    for (const auto& [text, unixSeconds] : cases) {
        auto date = parseInternetDateTime(text);
        ASSERT_TRUE(date) << text;
        EXPECT_NEAR(date->unixSeconds(), unixSeconds, 1e-6) << text;
    }
}

TEST(InternetDateTimeTest, RefusesAnythingElse) {
    for (std::string_view text :
         {"", "2023-02-29T00:00:00Z", "1900-02-29T00:00:00Z", "2024-04-31T00:00:00Z",
          "2024-13-10T00:00:00Z", "2024-01-10T24:00:00Z", "2024-01-10T23:59:61Z",
          "2024-01-10T10:00:00+01:60", "2016-12-31T23:58:60Z", "2016-12-31T23:59:60+01:00",
          "2024-03-01t17:05:00Z", "2024-03-01T17:05:00", "2024-03-01T17:05:00+0100",
          "2024-03-01T17:05:00.Z", "2024-3-01T17:05:00Z", "+2024-03-01T17:05:00Z",
          " 2024-03-01T17:05:00Z", "2024-03-01T17:05:00ZZ", "2024-03-01T-7:05:00Z"}) {
        EXPECT_FALSE(parseInternetDateTime(text)) << text;
    }
}

TEST(InternetDateTimeTest, WritesUtcWholeSecondsClampedToYears0000To9999) {
    EXPECT_EQ(formatInternetDateTime(Date{-inf}), "0000-01-01T00:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date{1e300}), "9999-12-31T23:59:59Z");
    EXPECT_EQ(formatInternetDateTime(Date{nan}), "2001-01-01T00:00:00Z");
}

RC_GTEST_PROP(InternetDateTime, WholeSecondsInRangeSurviveFormatAndParse, ()) {
    auto seconds = *rc::gen::inRange<std::int64_t>(static_cast<std::int64_t>(year0000),
                                                   static_cast<std::int64_t>(endOf9999) + 1);
    auto back = parseInternetDateTime(
        formatInternetDateTime(Date::fromUnixSeconds(static_cast<double>(seconds))));
    RC_ASSERT(back.has_value());
    RC_ASSERT(back->unixSeconds() == static_cast<double>(seconds));
}

RC_GTEST_PROP(InternetDateTime, AnyDateFormatsAsTextThatParsesToAnEarlierOrEqualSecond,
              (double sinceReferenceDate)) {
    auto back = parseInternetDateTime(formatInternetDateTime(Date{sinceReferenceDate}));
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
    int day = *rc::gen::inRange(1, lengths[month - 1] + (month == 2 && leap ? 1 : 0) + 1);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day,
                  *rc::gen::inRange(0, 24), *rc::gen::inRange(0, 60), *rc::gen::inRange(0, 60));
    auto date = parseInternetDateTime(text);
    RC_ASSERT(date.has_value());
    RC_ASSERT(formatInternetDateTime(*date) == std::string(text));
}

TEST(UuidTest, IsARandomUuidInUpperCaseCanonicalFormThatDoesNotRepeat) {
    const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 10000; ++i) {
        auto uuid = makeUuid();
        EXPECT_TRUE(std::regex_match(uuid, form)) << uuid;
        EXPECT_TRUE(seen.insert(uuid).second);
    }
}

} // namespace
} // namespace platform
