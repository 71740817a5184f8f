#include "platform/values/bplist.hpp"
#include "platform/values/bplist_support.hpp"

#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <bit>
#include <limits>

namespace {

using namespace platform;
using bplist_test::identical;

// Mostly ASCII, so that both string encodings and the sharing of equal strings get exercised.
rc::Gen<std::string> genText() {
    auto codePoint = rc::gen::weightedOneOf<std::uint32_t>({
        {12, rc::gen::inRange<std::uint32_t>(0x61, 0x64)},
        {6, rc::gen::inRange<std::uint32_t>(0, 0x80)},
        {2, rc::gen::inRange<std::uint32_t>(0x80, 0xD800)},
        {1, rc::gen::inRange<std::uint32_t>(0xE000, 0x10000)},
        {1, rc::gen::inRange<std::uint32_t>(0x10000, 0x110000)},
    });
    auto ascii =
        rc::gen::container<std::vector<std::uint32_t>>(rc::gen::inRange<std::uint32_t>(0x61, 0x64));
    return rc::gen::map(
        rc::gen::oneOf(ascii, rc::gen::container<std::vector<std::uint32_t>>(std::move(codePoint))),
        bplist_test::toUtf8);
}

rc::Gen<double> genDouble() {
    constexpr auto limits = std::numeric_limits<double>{};
    return rc::gen::weightedOneOf<double>({
        {6, rc::gen::arbitrary<double>()},
        {2, rc::gen::map(rc::gen::arbitrary<std::uint64_t>(),
                         [](std::uint64_t bits) { return std::bit_cast<double>(bits); })},
        {1, rc::gen::element(0.0, -0.0, limits.infinity(), -limits.infinity(), limits.quiet_NaN(),
                             limits.denorm_min(), limits.max(), limits.lowest())},
    });
}

rc::Gen<std::int64_t> genInteger() {
    constexpr auto limits = std::numeric_limits<std::int64_t>{};
    return rc::gen::weightedOneOf<std::int64_t>({
        {4, rc::gen::arbitrary<std::int64_t>()},
        {2, rc::gen::map(rc::gen::arbitrary<std::uint64_t>(),
                         [](std::uint64_t u) { return static_cast<std::int64_t>(u); })},
        {1, rc::gen::element<std::int64_t>(limits.min(), limits.max(), -1, 0, 255, 256, 65535,
                                           65536, 4294967295, 4294967296)},
    });
}

rc::Gen<Value> genScalar() {
    return rc::gen::oneOf(
        rc::gen::map(rc::gen::arbitrary<bool>(), [](bool b) { return Value(b); }),
        rc::gen::map(genInteger(), [](std::int64_t i) { return Value(i); }),
        rc::gen::map(genDouble(), [](double d) { return Value(d); }),
        rc::gen::map(genDouble(), [](double d) { return Value(Date{d}); }),
        rc::gen::map(genText(), [](std::string s) { return Value(std::move(s)); }),
        rc::gen::map(rc::gen::arbitrary<Data>(), [](Data d) { return Value(std::move(d)); }));
}

// Bounded depth, and containers of up to 24 entries so that extended lengths come up.
rc::Gen<Value> genValue(int depth) {
    if (depth == 0) {
        return genScalar();
    }
    auto child = genValue(depth - 1);
    auto count = rc::gen::inRange<std::size_t>(0, 25);
    auto array = rc::gen::mapcat(count, [child](std::size_t n) {
        return rc::gen::map(rc::gen::container<Array>(n, child),
                            [](Array a) { return Value(std::move(a)); });
    });
    auto dict = rc::gen::mapcat(count, [child](std::size_t n) {
        return rc::gen::map(rc::gen::container<std::vector<std::pair<std::string, Value>>>(
                                n, rc::gen::pair(genText(), child)),
                            [](const std::vector<std::pair<std::string, Value>>& entries) {
                                return Value(Dictionary(entries.begin(), entries.end()));
                            });
    });
    // Rows of dictionaries with the same keys, as records come.
    auto table = rc::gen::mapcat(rc::gen::inRange<std::size_t>(4, 10), [child](std::size_t width) {
        return rc::gen::mapcat(
            rc::gen::container<std::vector<std::string>>(width, genText()),
            [child](const std::vector<std::string>& keys) {
                auto row = rc::gen::map(rc::gen::container<Array>(keys.size(), child),
                                        [keys](Array values) {
                                            Dictionary d;
                                            for (std::size_t i = 0; i < keys.size(); ++i) {
                                                d.emplace(keys[i], std::move(values[i]));
                                            }
                                            return Value(std::move(d));
                                        });
                return rc::gen::mapcat(rc::gen::inRange<std::size_t>(0, 12), [row](std::size_t n) {
                    return rc::gen::map(rc::gen::container<Array>(n, row),
                                        [](Array rows) { return Value(std::move(rows)); });
                });
            });
    });
    return rc::gen::weightedOneOf<Value>({{3, genScalar()}, {1, array}, {1, dict}, {1, table}});
}

RC_GTEST_PROP(BinaryPlistProperties, EveryRepresentableValueRoundTripsExactly, ()) {
    const Value value = *genValue(3);
    RC_ASSERT(isPropertyList(value));
    const auto bytes = encodeBinaryPlist(value);
    RC_ASSERT(bytes.has_value());
    const auto decoded = decodeBinaryPlist(*bytes);
    RC_ASSERT(decoded.has_value());
    RC_ASSERT(identical(*decoded, value));
}

RC_GTEST_PROP(BinaryPlistProperties, CorruptedDocumentsAreRejectedOrDecodeToRepresentableValues,
              ()) {
    const Value value = *genValue(2);
    auto bytes = *encodeBinaryPlist(value);
    const auto edits = *rc::gen::inRange<std::size_t>(1, 4);
    for (std::size_t i = 0; i < edits; ++i) {
        const auto at = *rc::gen::inRange<std::size_t>(0, bytes.size());
        bytes[at] = *rc::gen::arbitrary<std::uint8_t>();
    }
    const auto decoded = decodeBinaryPlist(bytes);
    if (decoded) {
        const auto again = encodeBinaryPlist(*decoded);
        RC_ASSERT(again.has_value());
        const auto redecoded = decodeBinaryPlist(*again);
        RC_ASSERT(redecoded.has_value());
        RC_ASSERT(identical(*redecoded, *decoded));
    }
}

} // namespace
