#include "model/conversions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using model::asBoolean;
using model::asDateMillis;
using model::asDictionary;
using model::asDictionaryList;
using model::asInteger;
using model::asNumber;
using model::asStringList;
using model::asText;
using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

template <class F> auto of(F&& convert, Value value) {
    return convert(&value);
}

} // namespace

TEST(AsText, TakesStringsAsTheyAreAndNumbersAsDecimalText) {
    EXPECT_EQ(of(asText, Value("")), "");
    EXPECT_EQ(of(asText, Value("12.50")), "12.50");
    EXPECT_EQ(of(asText, Value(5)), "5");
    EXPECT_EQ(of(asText, Value(-3)), "-3");
    EXPECT_EQ(of(asText, Value(5.0)), "5");
    EXPECT_EQ(of(asText, Value(-0.0)), "0");
    EXPECT_EQ(of(asText, Value(102.5)), "102.5");
    EXPECT_EQ(of(asText, Value(0.1)), "0.1");
    EXPECT_EQ(of(asText, Value(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
}

TEST(AsText, RefusesEverythingElse) {
    EXPECT_FALSE(asText(nullptr));
    EXPECT_FALSE(of(asText, Value(true)));
    EXPECT_FALSE(of(asText, Value()));
    EXPECT_FALSE(of(asText, Value(Array{Value("5")})));
    EXPECT_FALSE(of(asText, Value(platform::Date{0})));
}

TEST(AsNumber, ReadsNumbersBooleansAndWholeDecimalStrings) {
    EXPECT_EQ(of(asNumber, Value(7)), 7.0);
    EXPECT_EQ(of(asNumber, Value(2.5)), 2.5);
    EXPECT_EQ(of(asNumber, Value(true)), 1.0);
    EXPECT_EQ(of(asNumber, Value(false)), 0.0);
    EXPECT_EQ(of(asNumber, Value("3")), 3.0);
    EXPECT_EQ(of(asNumber, Value("-2.25")), -2.25);
    EXPECT_EQ(of(asNumber, Value("+4")), 4.0);
    EXPECT_EQ(of(asNumber, Value(".5")), 0.5);
    EXPECT_EQ(of(asNumber, Value("1e3")), 1000.0);
    EXPECT_EQ(of(asNumber, Value("1e400")), std::numeric_limits<double>::infinity());
    EXPECT_EQ(of(asNumber, Value("1e-400")), 0.0);
}

TEST(AsNumber, RefusesTextThatIsNotWhollyANumber) {
    for (const char* text : {"", " 3", "3 ", "3a", "1,5", "0x10", "+-1", "++1", "+", "-", "five"}) {
        EXPECT_FALSE(of(asNumber, Value(text))) << text;
    }
    EXPECT_FALSE(asNumber(nullptr));
    EXPECT_FALSE(of(asNumber, Value(Dictionary{})));
}

TEST(AsInteger, TruncatesTowardZero) {
    EXPECT_EQ(of(asInteger, Value(2.9)), 2);
    EXPECT_EQ(of(asInteger, Value(-2.9)), -2);
    EXPECT_EQ(of(asInteger, Value("3")), 3);
    EXPECT_EQ(of(asInteger, Value("90.7")), 90);
    EXPECT_EQ(of(asInteger, Value(true)), 1);
}

TEST(AsInteger, KeepsLargeIntegersExactAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(of(asInteger, Value(std::numeric_limits<std::int64_t>::max())),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(of(asInteger, Value(-9223372036854775808.0)),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_FALSE(of(asInteger, Value(9223372036854775808.0)));
    EXPECT_FALSE(of(asInteger, Value(-1e19)));
    EXPECT_FALSE(of(asInteger, Value(1e300)));
    EXPECT_FALSE(of(asInteger, Value(std::nan(""))));
    EXPECT_FALSE(of(asInteger, Value("inf")));
    EXPECT_FALSE(of(asInteger, Value("3a")));
}

TEST(AsDateMillis, ReadsMillisecondsSince1970) {
    auto date = of(asDateMillis, Value(1700000000000.0));
    ASSERT_TRUE(date);
    EXPECT_EQ(date->unixSeconds(), 1700000000.0);
    EXPECT_EQ(of(asDateMillis, Value("1500"))->unixSeconds(), 1.5);
    EXPECT_FALSE(of(asDateMillis, Value(std::numeric_limits<double>::infinity())));
    EXPECT_FALSE(of(asDateMillis, Value("soon")));
}

TEST(AsDictionary, TakesDictionariesAndJsonObjectText) {
    Dictionary bar{{"weight", Value(20)}};
    EXPECT_EQ(of(asDictionary, Value(bar)), bar);
    auto parsed = of(asDictionary, Value(R"({"weight": 20, "name": "Axle"})"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(Value(*parsed), Value(Dictionary{{"weight", Value(20)}, {"name", Value("Axle")}}));
    EXPECT_FALSE(of(asDictionary, Value("[1, 2]")));
    EXPECT_FALSE(of(asDictionary, Value("{not json")));
    EXPECT_FALSE(of(asDictionary, Value(3)));
}

TEST(AsBoolean, TakesBooleansAndTheNumbersZeroAndOne) {
    EXPECT_EQ(of(asBoolean, Value(true)), true);
    EXPECT_EQ(of(asBoolean, Value(1)), true);
    EXPECT_EQ(of(asBoolean, Value(0.0)), false);
    EXPECT_FALSE(of(asBoolean, Value(2)));
    EXPECT_FALSE(of(asBoolean, Value(0.5)));
    EXPECT_FALSE(of(asBoolean, Value("true")));
}

TEST(Lists, CountOnlyWhenEveryElementHasTheExpectedType) {
    EXPECT_EQ(of(asStringList, Value(Array{Value("a"), Value("b")})),
              (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(of(asStringList, Value(Array{Value("a"), Value(1)})));
    EXPECT_EQ(of(asStringList, Value(Array{}))->size(), 0u);
    EXPECT_EQ(of(asDictionaryList, Value(Array{Value(Dictionary{})}))->size(), 1u);
    EXPECT_FALSE(of(asDictionaryList, Value(Array{Value(Dictionary{}), Value("x")})));
    EXPECT_FALSE(of(asDictionaryList, Value(Dictionary{})));
}
