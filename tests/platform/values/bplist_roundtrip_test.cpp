#include "platform/values/bplist.hpp"
#include "platform/values/bplist_support.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>

namespace {

using namespace platform;
using bplist_test::identical;

Value roundTrip(const Value& value) {
    auto bytes = encodeBinaryPlist(value);
    EXPECT_TRUE(bytes.has_value()) << value;
    if (!bytes) {
        return Value{};
    }
    auto decoded = decodeBinaryPlist(*bytes);
    EXPECT_TRUE(decoded.has_value()) << value;
    return decoded ? *decoded : Value{};
}

void expectRoundTrip(const Value& value) {
    EXPECT_TRUE(identical(roundTrip(value), value)) << value;
}

// The bytes of the only object in a document holding one scalar: between the header and the
// one-entry offset table.
Data soleObjectBytes(const Value& value) {
    auto doc = encodeBinaryPlist(value);
    if (!doc || doc->size() < 8 + 1 + 32) {
        ADD_FAILURE() << "cannot encode " << value;
        return {};
    }
    return Data(doc->begin() + 8, doc->end() - 32 - 1);
}

TEST(BinaryPlistIntegers, RoundTripAtEveryWidthBoundary) {
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    for (std::int64_t i : {min, min + 1, std::int64_t{-4294967296}, std::int64_t{-256},
                           std::int64_t{-1}, std::int64_t{0}, std::int64_t{1}, std::int64_t{255},
                           std::int64_t{256}, std::int64_t{65535}, std::int64_t{65536},
                           std::int64_t{2147483647}, std::int64_t{2147483648},
                           std::int64_t{4294967295}, std::int64_t{4294967296}, max - 1, max}) {
        Value decoded = roundTrip(Value(i));
        ASSERT_NE(decoded.integer(), nullptr) << i;
        EXPECT_EQ(*decoded.integer(), i);
    }
}

TEST(BinaryPlistIntegers, UseTheNarrowestWidthAndEightBytesWhenNegative) {
    EXPECT_EQ(soleObjectBytes(Value(0)), (Data{0x10, 0x00}));
    EXPECT_EQ(soleObjectBytes(Value(255)), (Data{0x10, 0xFF}));
    EXPECT_EQ(soleObjectBytes(Value(256)), (Data{0x11, 0x01, 0x00}));
    EXPECT_EQ(soleObjectBytes(Value(65536)), (Data{0x12, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(soleObjectBytes(Value(std::int64_t{2147483648})), (Data{0x12, 0x80, 0, 0, 0}));
    EXPECT_EQ(soleObjectBytes(Value(std::int64_t{4294967296})),
              (Data{0x13, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(soleObjectBytes(Value(-1)),
              (Data{0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(BinaryPlistReals, KeepEveryBitIncludingSignedZeroInfinitiesAndNaN) {
    constexpr auto limits = std::numeric_limits<double>{};
    for (double d : {0.0, -0.0, 1.0, -1.5, 0.1, 1e308, -1e-308, limits.denorm_min(), limits.max(),
                     limits.lowest(), limits.infinity(), -limits.infinity(), limits.quiet_NaN(),
                     std::bit_cast<double>(std::uint64_t{0xFFF8000000000123})}) {
        expectRoundTrip(Value(d));
    }
}

TEST(BinaryPlistReals, StayRealsAndNeverTurnIntoIntegers) {
    EXPECT_EQ(soleObjectBytes(Value(1.0)), (Data{0x23, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
    Value decoded = roundTrip(Value(2.0));
    ASSERT_NE(decoded.real(), nullptr);
    EXPECT_EQ(*decoded.real(), 2.0);
    Value integer = roundTrip(Value(2));
    EXPECT_EQ(integer.kind(), ValueKind::integer);
}

TEST(BinaryPlistBooleans, StayBooleans) {
    EXPECT_EQ(soleObjectBytes(Value(true)), (Data{0x09}));
    EXPECT_EQ(soleObjectBytes(Value(false)), (Data{0x08}));
    EXPECT_EQ(roundTrip(Value(true)), Value(true));
    EXPECT_EQ(roundTrip(Value(false)), Value(false));
}

TEST(BinaryPlistDates, KeepFullPrecisionAndStayDates) {
    for (double seconds : {0.0, 1.0, -1.5, 123456789.123456789, 7.5e8 + 1.0 / 3.0, -978307200.25,
                           std::nextafter(700000000.0, 0.0), 1e15}) {
        Value decoded = roundTrip(Value(Date{seconds}));
        ASSERT_NE(decoded.date(), nullptr) << seconds;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(decoded.date()->sinceReferenceDate),
                  std::bit_cast<std::uint64_t>(seconds));
    }
    EXPECT_EQ(soleObjectBytes(Value(Date{0.0})).front(), 0x33);
}

TEST(BinaryPlistStrings, AsciiIsWrittenAsAsciiAndEverythingElseAsUtf16) {
    EXPECT_EQ(soleObjectBytes(Value("hi")), (Data{0x52, 'h', 'i'}));
    EXPECT_EQ(soleObjectBytes(Value("é")), (Data{0x61, 0x00, 0xE9}));
    // U+1F600 needs a surrogate pair, so the length counts two units.
    EXPECT_EQ(soleObjectBytes(Value("\xF0\x9F\x98\x80")), (Data{0x62, 0xD8, 0x3D, 0xDE, 0x00}));
}

TEST(BinaryPlistStrings, RoundTripAcrossPlanesAndLengths) {
    for (const char* text :
         {"", "a", "fourteen chars", "fifteen chars!!", "sixteen chars!!!", "h\xC3\xA9llo",
          "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\xF0\x9F\x98\x80",
          "mix \xF0\x9F\x8F\x8B\xEF\xB8\x8F weights \xE2\x82\xAC", "\xF4\x8F\xBF\xBF",
          "\xEF\xBF\xBF"}) {
        expectRoundTrip(Value(text));
    }
    expectRoundTrip(Value(std::string("nul\0inside", 10)));
    expectRoundTrip(Value(std::string(70000, 'x')));
    std::string longUnicode;
    for (int i = 0; i < 300; ++i) {
        longUnicode += "\xC3\xA9\xF0\x9F\x98\x80";
    }
    expectRoundTrip(Value(longUnicode));
}

TEST(BinaryPlistData, RoundTripsEveryByteValueAndLength) {
    expectRoundTrip(Value(Data{}));
    expectRoundTrip(Value(Data(15, 0xAB)));
    Data all;
    for (int i = 0; i < 300; ++i) {
        all.push_back(static_cast<std::uint8_t>(i));
    }
    expectRoundTrip(Value(all));
}

TEST(BinaryPlistContainers, EmptyNestedAndLargeRoundTrip) {
    expectRoundTrip(Value(Array{}));
    expectRoundTrip(Value(Dictionary{}));
    expectRoundTrip(Value(Array{Value(Array{}), Value(Dictionary{}), Value(Array{Value(1)})}));

    for (std::size_t n : {14, 15, 16, 255, 256, 70000}) {
        Array array;
        Dictionary dict;
        for (std::size_t i = 0; i < n; ++i) {
            array.emplace_back(static_cast<std::int64_t>(i));
            dict.emplace("k" + std::to_string(i), Value(i % 2 == 0));
        }
        expectRoundTrip(Value(array));
        expectRoundTrip(Value(dict));
    }

    Dictionary mixed{{"", Value(0)},
                     {"caf\xC3\xA9", Value("\xF0\x9F\x98\x80")},
                     {"data", Value(Data{1, 2, 3})},
                     {"date", Value(Date{-0.5})},
                     {"list", Value(Array{Value(1.5), Value(false), Value("x")})},
                     {"nested", Value(Dictionary{{"deeper", Value(Dictionary{{"a", Value(1)}})}})}};
    expectRoundTrip(Value(mixed));
}

TEST(BinaryPlistContainers, NestUpToTheDepthLimitAndNoFurther) {
    auto nested = [](std::size_t levels) {
        Value v = Value(Array{});
        for (std::size_t i = 1; i < levels; ++i) {
            v = Value(i % 2 == 0 ? Value(Array{std::move(v)})
                                 : Value(Dictionary{{"k", std::move(v)}}));
        }
        return v;
    };
    Value deepest = nested(binaryPlistMaxDepth);
    EXPECT_TRUE(isPropertyList(deepest));
    expectRoundTrip(deepest);

    Value tooDeep = nested(binaryPlistMaxDepth + 1);
    EXPECT_FALSE(isPropertyList(tooDeep));
    EXPECT_FALSE(encodeBinaryPlist(tooDeep).has_value());
}

TEST(BinaryPlistLayout, RefAndOffsetWidthsGrowOnlyWhenNeeded) {
    auto widths = [](const Value& value) {
        auto doc = encodeBinaryPlist(value);
        EXPECT_TRUE(doc.has_value());
        const auto& d = *doc;
        return std::pair<unsigned, unsigned>(d[d.size() - 26], d[d.size() - 25]);
    };
    auto distinctInts = [](std::int64_t n) {
        Array array;
        for (std::int64_t i = 0; i < n; ++i) {
            array.emplace_back(i);
        }
        return Value(array);
    };
    EXPECT_EQ(widths(Value(1)), (std::pair<unsigned, unsigned>(1, 1)));
    // 255 objects (array plus 254 integers) still take one-byte references, 256 take two: a
    // reference width must be able to hold the object count.
    EXPECT_EQ(widths(distinctInts(254)).second, 1u);
    EXPECT_EQ(widths(distinctInts(255)).second, 2u);
    // Offsets reach past 255 once the objects fill more than that.
    EXPECT_EQ(widths(Value(std::string(300, 'a'))).first, 2u);
    EXPECT_EQ(widths(Value(std::string(70000, 'a'))).first, 4u);
}

TEST(BinaryPlistLayout, EqualShortStringsAreWrittenOnce) {
    Array rows;
    for (int i = 0; i < 100; ++i) {
        rows.emplace_back(Dictionary{{"exerciseSets", Value(i)}, {"status", Value("completed")}});
    }
    auto doc = encodeBinaryPlist(Value(rows));
    ASSERT_TRUE(doc.has_value());
    const std::string text(doc->begin(), doc->end());
    auto occurrences = [&text](const std::string& needle) {
        std::size_t n = 0;
        for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(occurrences("exerciseSets"), 1u);
    EXPECT_EQ(occurrences("completed"), 1u);
    expectRoundTrip(Value(rows));
}

TEST(BinaryPlistEncode, RefusesNullMarkersAnywhere) {
    EXPECT_FALSE(encodeBinaryPlist(Value(Null{})).has_value());
    Value deep(Dictionary{
        {"a", Value(Array{Value(1), Value(Dictionary{{"b", Value(Array{Value(Null{})})}})})}});
    EXPECT_FALSE(isPropertyList(deep));
    EXPECT_FALSE(encodeBinaryPlist(deep).has_value());
}

TEST(BinaryPlistEncode, RefusesStringsAndKeysThatAreNotUtf8) {
    for (const char* bad :
         {"\x80", "abc\xC0\xAF", "\xC3", "\xE6\x97", "\xED\xA0\x80", "\xED\xBF\xBF",
          "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xFF", "\xE0\x80\xAF"}) {
        EXPECT_FALSE(isPropertyList(Value(bad))) << describe(Value(bad));
        EXPECT_FALSE(encodeBinaryPlist(Value(bad)).has_value());
        Value asKey(Array{Value(Dictionary{{std::string(bad), Value(1)}})});
        EXPECT_FALSE(isPropertyList(asKey));
        EXPECT_FALSE(encodeBinaryPlist(asKey).has_value());
        // A long string is not shared, so it takes the other path through the encoder.
        Value longBad(Array{Value(std::string(100, 'x') + bad)});
        EXPECT_FALSE(encodeBinaryPlist(longBad).has_value());
    }
}

TEST(BinaryPlistEncode, AcceptsEveryOtherKindOfValue) {
    for (const Value& v : {Value(true), Value(0), Value(0.5), Value("s"), Value(Date{1.0}),
                           Value(Data{1}), Value(Array{}), Value(Dictionary{})}) {
        EXPECT_TRUE(isPropertyList(v)) << v;
        EXPECT_TRUE(encodeBinaryPlist(v).has_value()) << v;
    }
}

} // namespace
