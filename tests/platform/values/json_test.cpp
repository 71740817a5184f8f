#include "platform/values/json.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace platform {
namespace {

using namespace std::string_literals;

Value parsed(std::string_view text) {
    auto value = parseJson(text);
    EXPECT_TRUE(value.has_value()) << "rejected: " << text;
    return value.value_or(Value{});
}

TEST(ParseJson, MapsEachJsonKindToItsValueKind) {
    EXPECT_EQ(parsed("null"), Value(Null{}));
    EXPECT_EQ(parsed("true"), Value(true));
    EXPECT_EQ(parsed("false"), Value(false));
    EXPECT_EQ(parsed(R"("a\"b\u00e9\n")"), Value("a\"b\xC3\xA9\n"));
    EXPECT_EQ(parsed(R"("\ud83d\ude00")"), Value("\xF0\x9F\x98\x80"));
    EXPECT_EQ(parsed("[1, \"x\", [], {}]"), Value(Array{1, "x", Array{}, Dictionary{}}));
    EXPECT_EQ(parsed(R"({"b": {"c": null}, "a": 2})"),
              Value(Dictionary{{"a", 2}, {"b", Dictionary{{"c", Null{}}}}}));
    EXPECT_EQ(parsed(" \t\n 7 \n"), Value(7));
}

TEST(ParseJson, NumbersWithoutFractionOrExponentBecomeIntegersWhenTheyFit) {
    EXPECT_EQ(parsed("0"), Value(0));
    EXPECT_EQ(parsed("-0"), Value(0));
    EXPECT_EQ(parsed("42"), Value(42));
    EXPECT_EQ(parsed("-42"), Value(-42));
    EXPECT_EQ(parsed("9223372036854775807"), Value(std::numeric_limits<std::int64_t>::max()));
    EXPECT_EQ(parsed("-9223372036854775808"), Value(std::numeric_limits<std::int64_t>::min()));

    EXPECT_EQ(parsed("9223372036854775808"), Value(9223372036854775808.0));
    EXPECT_EQ(parsed("18446744073709551616"), Value(18446744073709551616.0));
    EXPECT_EQ(parsed("-9223372036854775809"), Value(-9223372036854775809.0));

    EXPECT_EQ(parsed("1.0"), Value(1.0));
    EXPECT_EQ(parsed("1e2"), Value(100.0));
    EXPECT_EQ(parsed("-2.5E-1"), Value(-0.25));
    EXPECT_EQ(parsed("0.1"), Value(0.1));
}

TEST(ParseJson, RejectsMalformedText) {
    for (std::string_view text : {"",
                                  " ",
                                  "{",
                                  "[1,]",
                                  "[1 2]",
                                  "{'a': 1}",
                                  "{\"a\" 1}",
                                  "{\"a\": }",
                                  "01",
                                  "1.",
                                  ".5",
                                  "+1",
                                  "nul",
                                  "True",
                                  "NaN",
                                  "Infinity",
                                  "\"unterminated",
                                  "1 2",
                                  "[] x",
                                  "/* c */ 1",
                                  "\"tab\there\"",
                                  "\"\\x41\"",
                                  "\"\\ud800\"",
                                  "1e400"}) {
        EXPECT_FALSE(parseJson(text).has_value()) << "accepted: " << text;
    }
}

TEST(ParseJson, RejectsInvalidUtf8) {
    EXPECT_FALSE(parseJson("\"\xFF\"").has_value());
    EXPECT_FALSE(parseJson("\"\xC3\"").has_value());
    EXPECT_FALSE(parseJson("\"\xC0\xAF\"").has_value());
    EXPECT_FALSE(parseJson("{\"\xED\xA0\x80\": 1}").has_value());
}

TEST(ParseJson, KeepsTheLastOfRepeatedKeys) {
    EXPECT_EQ(parsed(R"({"a": 1, "a": 2})"), Value(Dictionary{{"a", 2}}));
}

std::string nested(std::size_t depth, char open, char close, std::string_view inner) {
    return std::string(depth, open) + std::string(inner) + std::string(depth, close);
}

TEST(ParseJson, BoundsNestingDepth) {
    EXPECT_TRUE(parseJson(nested(maxJsonDepth, '[', ']', "1")).has_value());
    EXPECT_FALSE(parseJson(nested(maxJsonDepth + 1, '[', ']', "1")).has_value());

    std::string objects;
    for (std::size_t i = 0; i < maxJsonDepth + 1; ++i) {
        objects += "{\"k\":";
    }
    objects += "0" + std::string(maxJsonDepth + 1, '}');
    EXPECT_FALSE(parseJson(objects).has_value());

    // Deep enough to overflow the stack of any recursive descent.
    EXPECT_FALSE(parseJson(nested(1'000'000, '[', ']', "")).has_value());
}

TEST(FromJson, MapsADocumentLikeParsing) {
    nlohmann::json document = {{"big", std::numeric_limits<std::uint64_t>::max()},
                               {"small", std::uint64_t{5}},
                               {"negative", -3},
                               {"real", 2.0},
                               {"bytes", nlohmann::json::binary({1, 2, 255})},
                               {"list", {nullptr, true, "s"}}};
    EXPECT_EQ(fromJson(document), Value(Dictionary{{"big", 18446744073709551615.0},
                                                   {"small", 5},
                                                   {"negative", -3},
                                                   {"real", 2.0},
                                                   {"bytes", Data{1, 2, 255}},
                                                   {"list", Array{Null{}, true, "s"}}}));
}

TEST(ToJson, WritesDatesAsWholeMillisecondsSince1970) {
    EXPECT_EQ(toJson(Date::fromUnixSeconds(1709312700)), nlohmann::json(1709312700000));
    EXPECT_EQ(toJson(Date{0}), nlohmann::json(978307200000));
    EXPECT_EQ(toJson(Date::fromUnixMillis(-1)), nlohmann::json(-1));
    EXPECT_EQ(toJson(Date::fromUnixSeconds(1.2344)), nlohmann::json(1234));
    EXPECT_EQ(toJson(Date::fromUnixSeconds(1.2346)), nlohmann::json(1235));
    EXPECT_TRUE(toJson(Date::fromUnixMillis(1709312700000)).is_number_integer());
    EXPECT_EQ(toJson(Date{1e300}), nlohmann::json(std::round((1e300 + 978307200.0) * 1000.0)));
    EXPECT_TRUE(toJson(Date{std::numeric_limits<double>::quiet_NaN()}).is_null());
}

TEST(ToJson, WritesDataAsBase64) {
    auto encode = [](std::string_view text) {
        return toJson(Data(text.begin(), text.end())).get<std::string>();
    };
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("f"), "Zg==");
    EXPECT_EQ(encode("fo"), "Zm8=");
    EXPECT_EQ(encode("foo"), "Zm9v");
    EXPECT_EQ(encode("foob"), "Zm9vYg==");
    EXPECT_EQ(encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(toJson(Data{0xFB, 0xFF, 0xBF}).get<std::string>(), "+/+/");
}

TEST(ToJson, WritesNullForNullAndNonFiniteReals) {
    EXPECT_TRUE(toJson(Value(Null{})).is_null());
    EXPECT_TRUE(toJson(std::numeric_limits<double>::infinity()).is_null());
    EXPECT_TRUE(toJson(-std::numeric_limits<double>::infinity()).is_null());
    EXPECT_TRUE(toJson(std::numeric_limits<double>::quiet_NaN()).is_null());
}

TEST(ToJsonText, IsCompactWithSortedKeys) {
    Value value = Dictionary{{"zeta", Array{1, 1.0, true, Null{}}},
                             {"Alpha", "x"},
                             {"alpha", Dictionary{{"b", 1}, {"a", 2}}}};
    EXPECT_EQ(toJsonText(value), R"({"Alpha":"x","alpha":{"a":2,"b":1},"zeta":[1,1.0,true,null]})");
    EXPECT_EQ(toJsonText("line\nquote\"\x01"), R"("line\nquote\"\u0001")");
}

TEST(ToJsonText, ReplacesInvalidUtf8InsteadOfThrowing) {
    std::string text;
    ASSERT_NO_THROW(text = toJsonText(Dictionary{{"k\xFF", "a\xC3"}}));
    EXPECT_EQ(text, "{\"k\xEF\xBF\xBD\":\"a\xEF\xBF\xBD\"}");
}

std::string utf8(const std::vector<char32_t>& codePoints) {
    std::string out;
    for (char32_t c : codePoints) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

rc::Gen<std::string> utf8Text() {
    auto codePoint = rc::gen::oneOf(rc::gen::inRange<char32_t>(0, 0x80),
                                    rc::gen::inRange<char32_t>(0x80, 0xD800),
                                    rc::gen::inRange<char32_t>(0xE000, 0x110000));
    return rc::gen::map(rc::gen::container<std::vector<char32_t>>(codePoint), utf8);
}

// Values that JSON can carry unchanged: no dates, data or non-finite reals.
rc::Gen<Value> jsonValue(int depth) {
    auto scalar = rc::gen::oneOf(
        rc::gen::just(Value(Null{})),
        rc::gen::map(rc::gen::arbitrary<bool>(), [](bool b) { return Value(b); }),
        rc::gen::map(rc::gen::arbitrary<std::int64_t>(), [](std::int64_t i) { return Value(i); }),
        rc::gen::map(rc::gen::suchThat(rc::gen::arbitrary<double>(),
                                       [](double d) { return std::isfinite(d); }),
                     [](double d) { return Value(d); }),
        rc::gen::map(utf8Text(), [](std::string s) { return Value(std::move(s)); }));
    if (depth == 0) {
        return scalar;
    }
    auto inner = rc::gen::lazy([depth] { return jsonValue(depth - 1); });
    // Few elements per level keep the values small enough for hundreds of runs.
    auto count = rc::gen::inRange<std::size_t>(0, 6);
    return rc::gen::oneOf(
        scalar,
        rc::gen::mapcat(count,
                        [inner](std::size_t n) {
                            return rc::gen::map(rc::gen::container<Array>(n, inner),
                                                [](Array a) { return Value(std::move(a)); });
                        }),
        rc::gen::mapcat(count, [inner](std::size_t n) {
            return rc::gen::map(rc::gen::container<std::vector<std::pair<std::string, Value>>>(
                                    n, rc::gen::pair(utf8Text(), inner)),
                                [](std::vector<std::pair<std::string, Value>> entries) {
                                    return Value(Dictionary(entries.begin(), entries.end()));
                                });
        }));
}

RC_GTEST_PROP(JsonText, ParsesBackToTheSameValue, ()) {
    Value value = *jsonValue(3);
    auto text = toJsonText(value);
    auto back = parseJson(text);
    RC_ASSERT(back.has_value());
    RC_ASSERT(*back == value);
}

} // namespace
} // namespace platform
