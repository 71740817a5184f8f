#include "platform/values/bplist.hpp"
#include "platform/values/bplist_support.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace platform;
using bplist_test::identical;

void put(Data& out, std::uint64_t v, unsigned width) {
    for (unsigned shift = width * 8; shift > 0;) {
        shift -= 8;
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

// A document of these objects, the first one on top, so that a test states exactly which bytes a
// decoder sees, including layouts no sane writer produces.
Data document(const std::vector<Data>& objects, unsigned refWidth = 1) {
    Data out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(out.size());
        out.insert(out.end(), object.begin(), object.end());
    }
    const std::uint64_t table = out.size();
    for (auto offset : offsets) {
        put(out, offset, 2);
    }
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, 2, static_cast<std::uint8_t>(refWidth)});
    put(out, objects.size(), 8);
    put(out, 0, 8);
    put(out, table, 8);
    return out;
}

// `levels` arrays, each holding the next one `width` times, the last a string.
Data nested(std::size_t levels, std::uint8_t width) {
    std::vector<Data> objects;
    for (std::size_t i = 1; i < levels; ++i) {
        objects.push_back({0xAF, 0x10, width});
        for (std::uint8_t n = 0; n < width; ++n) {
            put(objects.back(), i, 2);
        }
    }
    objects.push_back({0x53, 'l', 'o', 'l'});
    return document(objects, 2);
}

// Sizes past what the properties draw: longer lengths, wider references and offsets, the deepest
// nesting.
TEST(BinaryPlistTest, KeepsLargeAndDeepValuesAndRefusesToWriteDeeperOnesOrWhatIsNoPropertyList) {
    std::vector<Value> values{std::string(70000, 'x'), Data(70000, 1)};
    for (std::size_t n : {256, 70000}) {
        Array array;
        Dictionary dict;
        for (std::size_t i = 0; i < n; ++i) {
            array.emplace_back(static_cast<std::int64_t>(i));
            dict.emplace("k" + std::to_string(i), Value(i % 2 == 0));
        }
        values.emplace_back(std::move(array));
        values.emplace_back(std::move(dict));
    }
    Value deepest = Array{};
    for (std::size_t i = 1; i < binaryPlistMaxDepth; ++i) {
        deepest = Dictionary{{"k", std::move(deepest)}};
    }
    values.push_back(deepest);
    for (const auto& value : values) {
        EXPECT_EQ(decodeBinaryPlist(encodeBinaryPlist(value).value()), value);
    }
    EXPECT_FALSE(encodeBinaryPlist(Array{std::move(deepest)}));
    // Nor what the phone could not read: a null, text that is not UTF-8 (shared or not).
    EXPECT_FALSE(encodeBinaryPlist(Dictionary{{"a", Array{1, Dictionary{{"b", Null{}}}}}}));
    EXPECT_FALSE(encodeBinaryPlist(Array{Dictionary{{"\xED\xA0\x80", 1}}}));
    EXPECT_FALSE(encodeBinaryPlist(Array{std::string(100, 'x') + "\xC3"}));
}

TEST(BinaryPlistTest, RejectsDocumentsThatLieAboutThemselves) {
    const Data good = *encodeBinaryPlist(Dictionary{{"name", "Bench"}, {"sets", Array{5, 2.5}}});
    auto patched = [&good](std::size_t fromEnd, std::initializer_list<std::uint8_t> bytes) {
        Data doc = good;
        std::copy(bytes.begin(), bytes.end(), doc.end() - static_cast<std::ptrdiff_t>(fromEnd));
        return doc;
    };
    std::vector<Data> bad{
        {},
        patched(good.size(), {'b', 'p', 'l', 'i', 's', 't', '0', '1'}),
        patched(24, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}),               // object count
        patched(8, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0}), // offset table
        document({{0x4F, 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1}}),
        document({{0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}}), // 2^63
        document({{0x00}}),                                                    // null
        document({{0x80, 0}}),                                                 // UID
        document({{0x62, 0xD8, 0x3D, 0x00, 'a'}}),                             // unpaired surrogate
        document({{0xD2, 1, 3, 2, 2}, {0x51, 'k'}, {0x10, 1}, {0x61, 0, 'k'}}), // repeated key
        document({{0xA1, 1}, {0xD1, 2, 0}, {0x51, 'k'}}),                       // a cycle
        nested(binaryPlistMaxDepth + 2, 1), // one array too deep
    };
    for (std::size_t n = 1; n < good.size(); ++n) {
        bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    }
    for (const auto& doc : bad) {
        EXPECT_FALSE(decodeBinaryPlist(doc)) << testing::PrintToString(doc);
    }
    EXPECT_TRUE(decodeBinaryPlist(nested(binaryPlistMaxDepth + 1, 1)));
    // Each level holding the next 15 times: 15^40 leaves from a few hundred bytes.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(decodeBinaryPlist(nested(41, 15)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(BinaryPlistTest, LargeDocumentsFromTheEncoderDecodeInFull) {
    // One-byte references to the longest string the encoder shares are the most expansion it
    // ever writes; the decoder's budget has to allow for them.
    Array rows(200000, Value(std::string(64, 's')));
    for (int i = 0; i < 100; ++i) {
        rows.emplace_back(Dictionary{{"a", std::string(64, 's')}, {"b", std::string(64, 's')}});
    }
    auto doc = encodeBinaryPlist(rows);
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->at(doc->size() - 25), 1) << "references are meant to be one byte wide";
    auto decoded = decodeBinaryPlist(*doc);
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(identical(*decoded, rows));
}

} // namespace
