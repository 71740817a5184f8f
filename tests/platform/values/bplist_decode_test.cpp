#include "platform/values/bplist.hpp"
#include "platform/values/bplist_support.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

using namespace platform;
using bplist_test::identical;
using bplist_test::patchTrailer;
using bplist_test::RawPlist;
using bplist_test::TrailerField;

bool rejects(const Data& doc) {
    return !decodeBinaryPlist(doc).has_value();
}

std::optional<Value> decodeSole(std::initializer_list<std::uint8_t> object) {
    RawPlist doc;
    doc.add(object);
    return decodeBinaryPlist(doc.build());
}

Data sampleDocument() {
    Dictionary dict{{"name", Value("Bench press")},
                    {"sets", Value(Array{Value(Dictionary{{"reps", Value(5)}}), Value(2.5)})},
                    {"note", Value("caf\xC3\xA9")},
                    {"when", Value(Date{1.25})},
                    {"blob", Value(Data{9, 8, 7})}};
    return *encodeBinaryPlist(Value(dict));
}

TEST(BinaryPlistDecodeInput, RejectsEveryTruncationAndEmptyInput) {
    const Data doc = sampleDocument();
    ASSERT_TRUE(decodeBinaryPlist(doc).has_value());
    for (std::size_t n = 0; n < doc.size(); ++n) {
        EXPECT_TRUE(rejects(Data(doc.begin(), doc.begin() + static_cast<std::ptrdiff_t>(n))))
            << "prefix of " << n << " bytes";
    }
    EXPECT_FALSE(decodeBinaryPlist(std::span<const std::uint8_t>()).has_value());
}

TEST(BinaryPlistDecodeInput, RejectsAnyOtherHeader) {
    for (const char* header : {"bplist01", "bplist10", "Bplist00", "bplist0 ", "<?xml ve"}) {
        Data doc = sampleDocument();
        std::copy(header, header + 8, doc.begin());
        EXPECT_TRUE(rejects(doc)) << header;
    }
}

TEST(BinaryPlistDecodeTrailer, RejectsImpossibleWidthsCountsAndOffsets) {
    const Data good = sampleDocument();
    auto with = [&good](TrailerField field, std::uint64_t value) {
        Data doc = good;
        patchTrailer(doc, field, value);
        return doc;
    };
    EXPECT_TRUE(rejects(with(TrailerField::offsetWidth, 0)));
    EXPECT_TRUE(rejects(with(TrailerField::offsetWidth, 9)));
    EXPECT_TRUE(rejects(with(TrailerField::refWidth, 0)));
    EXPECT_TRUE(rejects(with(TrailerField::refWidth, 9)));
    EXPECT_TRUE(rejects(with(TrailerField::objectCount, 0)));
    // More objects than the offset table has room for, however large the lie.
    for (std::uint64_t lie :
         {std::uint64_t{100}, std::uint64_t{1} << 32, ~std::uint64_t{0}, std::uint64_t{1} << 61}) {
        EXPECT_TRUE(rejects(with(TrailerField::objectCount, lie))) << lie;
    }
    std::uint64_t count = 0;
    for (std::size_t i = good.size() - 24; i < good.size() - 16; ++i) {
        count = count << 8 | good[i];
    }
    ASSERT_FALSE(rejects(with(TrailerField::objectCount, count)));
    EXPECT_TRUE(rejects(with(TrailerField::topObject, count)));
    EXPECT_TRUE(rejects(with(TrailerField::topObject, ~std::uint64_t{0})));
    EXPECT_TRUE(rejects(with(TrailerField::offsetTableOffset, 0)));
    EXPECT_TRUE(rejects(with(TrailerField::offsetTableOffset, 8)));
    EXPECT_TRUE(rejects(with(TrailerField::offsetTableOffset, good.size() - 31)));
    EXPECT_TRUE(rejects(with(TrailerField::offsetTableOffset, ~std::uint64_t{0} - 4)));
}

TEST(BinaryPlistDecodeTrailer, AcceptsNonStandardButConsistentWidths) {
    RawPlist doc;
    doc.refWidth = 3;
    doc.offsetWidth = 5;
    doc.add({0xA2, 0, 0, 1, 0, 0, 2});
    doc.add({0x10, 7});
    doc.add({0x51, 'x'});
    auto decoded = decodeBinaryPlist(doc.build());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, Value(Array{Value(7), Value("x")}));
}

TEST(BinaryPlistDecodeOffsets, RejectOffsetsOutsideTheObjectArea) {
    RawPlist raw;
    raw.add({0xA1, 1});
    raw.add({0x10, 1});
    const Data good = raw.build();
    ASSERT_TRUE(decodeBinaryPlist(good).has_value());
    const std::size_t table = good.size() - 32 - 2;
    // Into the header, onto the offset table itself, into the trailer, past the end.
    for (std::uint8_t offset : {std::uint8_t{0}, std::uint8_t{7}, static_cast<std::uint8_t>(table),
                                static_cast<std::uint8_t>(table + 1),
                                static_cast<std::uint8_t>(good.size() - 1), std::uint8_t{0xFF}}) {
        for (std::size_t entry : {0, 1}) {
            Data doc = good;
            doc[table + entry] = offset;
            EXPECT_TRUE(rejects(doc)) << "entry " << entry << " at " << int(offset);
        }
    }
    // Even an object nothing refers to has to be where the table says.
    RawPlist unreferenced = raw;
    unreferenced.add({0x10, 2});
    Data doc = unreferenced.build();
    ASSERT_TRUE(decodeBinaryPlist(doc).has_value());
    doc[doc.size() - 32 - 1] = 0xF0;
    EXPECT_TRUE(rejects(doc));
}

TEST(BinaryPlistDecodeObjects, RejectLengthsThatRunPastTheObjectArea) {
    // Each object claims more bytes than remain before the offset table.
    EXPECT_FALSE(decodeSole({0x53, 'a', 'b'}).has_value());
    EXPECT_FALSE(decodeSole({0x62, 0, 'a', 0}).has_value());
    EXPECT_FALSE(decodeSole({0x43, 1, 2}).has_value());
    EXPECT_FALSE(decodeSole({0x11, 1}).has_value());
    EXPECT_FALSE(decodeSole({0x13, 1, 2, 3, 4, 5, 6, 7}).has_value());
    EXPECT_FALSE(decodeSole({0x23, 0, 0, 0}).has_value());
    EXPECT_FALSE(decodeSole({0x33, 0}).has_value());
    EXPECT_FALSE(decodeSole({0xA2, 0}).has_value());
    EXPECT_FALSE(decodeSole({0xD1, 0}).has_value());
    // Extended lengths: missing, of a non-integer kind, too wide, huge enough to wrap.
    EXPECT_FALSE(decodeSole({0x4F}).has_value());
    EXPECT_FALSE(decodeSole({0x4F, 0x11, 0}).has_value());
    EXPECT_FALSE(decodeSole({0x4F, 0x23, 0, 0, 0, 0, 0, 0, 0, 0x10}).has_value());
    EXPECT_FALSE(
        decodeSole({0x4F, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 7}).has_value());
    EXPECT_FALSE(
        decodeSole({0x4F, 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1}).has_value());
    EXPECT_FALSE(decodeSole({0x6F, 0x13, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0, 'a'})
                     .has_value());
    // The exact fit is fine, also when the length is spelled out in an extended, wider form.
    EXPECT_EQ(decodeSole({0x43, 1, 2, 3}), Value(Data{1, 2, 3}));
    EXPECT_EQ(decodeSole({0x4F, 0x11, 0, 3, 1, 2, 3}), Value(Data{1, 2, 3}));
}

TEST(BinaryPlistDecodeObjects, RejectMarkersWithNoPropertyListValue) {
    // null, fill, unknown singletons, odd integer and real widths, other date forms, UTF-8
    // strings, UIDs, ordered sets, sets, and the unassigned kinds.
    for (int marker : {0x00, 0x01, 0x0C, 0x0E, 0x0F, 0x15, 0x1F, 0x20, 0x21, 0x24, 0x30,
                       0x32, 0x34, 0x70, 0x80, 0x90, 0xB0, 0xC0, 0xE0, 0xF0, 0xFF}) {
        RawPlist doc;
        Data object(20, 0);
        object[0] = static_cast<std::uint8_t>(marker);
        doc.add(object);
        EXPECT_TRUE(rejects(doc.build())) << std::hex << marker;
    }
}

TEST(BinaryPlistDecodeObjects, ReadNarrowIntegersAsUnsignedAndFourByteReals) {
    EXPECT_EQ(decodeSole({0x10, 0xFF}), Value(255));
    EXPECT_EQ(decodeSole({0x11, 0xFF, 0xFF}), Value(65535));
    EXPECT_EQ(decodeSole({0x12, 0xFF, 0xFF, 0xFF, 0xFF}), Value(std::int64_t{4294967295}));
    EXPECT_EQ(decodeSole({0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}), Value(-2));
    EXPECT_EQ(decodeSole({0x22, 0x3F, 0xC0, 0x00, 0x00}), Value(1.5));
    EXPECT_EQ(decodeSole({0x08}), Value(false));
}

TEST(BinaryPlistDecodeObjects, AcceptSixteenByteIntegersOnlyWithinInt64) {
    EXPECT_EQ(decodeSole({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 42}), Value(42));
    EXPECT_EQ(decodeSole({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0, 0, 0,
                          0, 0}),
              Value(std::numeric_limits<std::int64_t>::min()));
    // 2^63, as a writer emits integers past int64, and values further out either way.
    EXPECT_FALSE(decodeSole({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(decodeSole({0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(decodeSole({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF,
                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF})
                     .has_value());
}

TEST(BinaryPlistDecodeStrings, RejectAsciiWithHighBytes) {
    EXPECT_EQ(decodeSole({0x53, 'a', 'b', 'c'}), Value("abc"));
    EXPECT_FALSE(decodeSole({0x53, 'a', 0x80, 'c'}).has_value());
    EXPECT_FALSE(decodeSole({0x51, 0xFF}).has_value());
    EXPECT_FALSE(decodeSole({0x52, 0xC3, 0xA9}).has_value()); // UTF-8 is not ASCII either
}

TEST(BinaryPlistDecodeStrings, RejectUnpairedSurrogates) {
    EXPECT_EQ(decodeSole({0x62, 0xD8, 0x3D, 0xDE, 0x00}), Value("\xF0\x9F\x98\x80"));
    EXPECT_EQ(decodeSole({0x63, 0x00, 'a', 0x00, 0xE9, 0x20, 0xAC}),
              Value("a\xC3\xA9\xE2\x82\xAC"));
    EXPECT_FALSE(decodeSole({0x61, 0xD8, 0x3D}).has_value());             // high at the end
    EXPECT_FALSE(decodeSole({0x62, 0xD8, 0x3D, 0x00, 'a'}).has_value());  // high, no low
    EXPECT_FALSE(decodeSole({0x62, 0xD8, 0x3D, 0xD8, 0x3D}).has_value()); // high, high
    EXPECT_FALSE(decodeSole({0x61, 0xDE, 0x00}).has_value());             // lone low
    EXPECT_FALSE(decodeSole({0x62, 0x00, 'a', 0xDC, 0x00}).has_value());  // low at the end
    EXPECT_FALSE(decodeSole({0x62, 0xDE, 0x00, 0xD8, 0x3D}).has_value()); // reversed pair
}

TEST(BinaryPlistDecodeDictionaries, RejectKeysThatAreNotStringsOrRepeat) {
    RawPlist good;
    good.add({0xD1, 1, 2});
    good.add({0x51, 'k'});
    good.add({0x10, 1});
    ASSERT_EQ(decodeBinaryPlist(good.build()), Value(Dictionary{{"k", Value(1)}}));

    for (auto key : {Data{0x10, 1}, Data{0x09}, Data{0x41, 'k'}, Data{0xA0}, Data{0xD0},
                     Data{0x33, 0, 0, 0, 0, 0, 0, 0, 0}}) {
        RawPlist doc;
        doc.add({0xD1, 1, 2});
        doc.add(key);
        doc.add({0x10, 1});
        EXPECT_TRUE(rejects(doc.build())) << std::hex << int(key[0]);
    }

    RawPlist repeated;
    repeated.add({0xD2, 1, 1, 2, 2});
    repeated.add({0x51, 'k'});
    repeated.add({0x10, 1});
    EXPECT_TRUE(rejects(repeated.build()));
    // The same text spelled once in ASCII and once in UTF-16 is still the same key.
    RawPlist respelled;
    respelled.add({0xD2, 1, 3, 2, 2});
    respelled.add({0x51, 'k'});
    respelled.add({0x10, 1});
    respelled.add({0x61, 0, 'k'});
    EXPECT_TRUE(rejects(respelled.build()));
}

TEST(BinaryPlistDecodeReferences, RejectReferencesPastTheObjectCount) {
    RawPlist array;
    array.add({0xA2, 1, 2});
    array.add({0x10, 1});
    EXPECT_TRUE(rejects(array.build()));

    RawPlist dictValue;
    dictValue.add({0xD1, 1, 2});
    dictValue.add({0x51, 'k'});
    EXPECT_TRUE(rejects(dictValue.build()));

    RawPlist dictKey;
    dictKey.add({0xD1, 0xFF, 1});
    dictKey.add({0x10, 1});
    EXPECT_TRUE(rejects(dictKey.build()));
}

TEST(BinaryPlistDecodeReferences, RejectContainersThatContainThemselves) {
    RawPlist self;
    self.add({0xA1, 0});
    EXPECT_TRUE(rejects(self.build()));

    RawPlist indirect; // array -> dictionary -> array -> the first array
    indirect.add({0xA1, 1});
    indirect.add({0xD1, 2, 3});
    indirect.add({0x51, 'k'});
    indirect.add({0xA2, 4, 0});
    indirect.add({0x10, 1});
    EXPECT_TRUE(rejects(indirect.build()));
}

TEST(BinaryPlistDecodeReferences, DecodeSharedObjectsOnceForEachReference) {
    // Two references to the same array, and a dictionary whose keys and values share objects: a
    // graph, but no cycle.
    RawPlist doc;
    doc.add({0xA3, 1, 1, 3});
    doc.add({0xA2, 2, 2});
    doc.add({0x51, 'k'});
    doc.add({0xD1, 2, 2});
    auto decoded = decodeBinaryPlist(doc.build());
    ASSERT_TRUE(decoded.has_value());
    Value pair(Array{Value("k"), Value("k")});
    EXPECT_EQ(*decoded, Value(Array{pair, pair, Value(Dictionary{{"k", Value("k")}})}));
}

TEST(BinaryPlistDecodeDictionaries, ManyWithTheSameKeysInAnyOrderGetTheirOwnValues) {
    // Keys written in neither sorted nor reverse order, shared by every dictionary, each of which
    // nests another family of dictionaries with shared keys of their own.
    RawPlist doc;
    const std::size_t rows = 20;
    doc.refWidth = 2;
    doc.offsetWidth = 2;
    auto ref = [](std::size_t i) {
        return Data{static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
    };
    const std::size_t keyBase = 1 + rows * 2;
    const char* outerKeys[] = {"reps", "id", "weight", "done", "nested"};
    const char* innerKeys[] = {"z", "x", "y", "w"};
    Data top{0xAF, 0x10, static_cast<std::uint8_t>(rows)};
    for (std::size_t r = 0; r < rows; ++r) {
        const auto rowRef = ref(1 + 2 * r);
        top.insert(top.end(), rowRef.begin(), rowRef.end());
    }
    doc.add(top);
    const std::size_t valueBase = keyBase + 9;
    for (std::size_t r = 0; r < rows; ++r) {
        Data outer{0xD5};
        for (std::size_t k = 0; k < 5; ++k) {
            const auto keyRef = ref(keyBase + k);
            outer.insert(outer.end(), keyRef.begin(), keyRef.end());
        }
        for (std::size_t k = 0; k < 4; ++k) {
            const auto v = ref(valueBase + (r + k) % 40);
            outer.insert(outer.end(), v.begin(), v.end());
        }
        const auto innerRef = ref(2 + 2 * r);
        outer.insert(outer.end(), innerRef.begin(), innerRef.end());
        doc.add(outer);
        Data inner{0xD4};
        for (std::size_t k = 0; k < 4; ++k) {
            const auto keyRef = ref(keyBase + 5 + k);
            inner.insert(inner.end(), keyRef.begin(), keyRef.end());
        }
        for (std::size_t k = 0; k < 4; ++k) {
            const auto v = ref(valueBase + (r * 3 + k) % 40);
            inner.insert(inner.end(), v.begin(), v.end());
        }
        doc.add(inner);
    }
    for (const char* key : outerKeys) {
        Data object{static_cast<std::uint8_t>(0x50 | std::strlen(key))};
        object.insert(object.end(), key, key + std::strlen(key));
        doc.add(object);
    }
    for (const char* key : innerKeys) {
        doc.add({0x51, static_cast<std::uint8_t>(key[0])});
    }
    for (std::uint8_t v = 0; v < 40; ++v) {
        doc.add({0x10, v});
    }

    auto decoded = decodeBinaryPlist(doc.build());
    ASSERT_TRUE(decoded.has_value());
    Array expected;
    for (std::int64_t r = 0; r < static_cast<std::int64_t>(rows); ++r) {
        Dictionary inner;
        for (std::int64_t k = 0; k < 4; ++k) {
            inner.emplace(innerKeys[k], Value((r * 3 + k) % 40));
        }
        Dictionary outer;
        for (std::int64_t k = 0; k < 4; ++k) {
            outer.emplace(outerKeys[k], Value((r + k) % 40));
        }
        outer.emplace("nested", Value(std::move(inner)));
        expected.emplace_back(std::move(outer));
    }
    EXPECT_EQ(*decoded, Value(expected));
}

TEST(BinaryPlistDecodeDictionaries, ManyKindsOfDictionariesRoundTrip) {
    // More distinct key sets than the decoder keeps skeletons for, each used several times.
    Array rows;
    for (int round = 0; round < 3; ++round) {
        for (int kind = 0; kind < 40; ++kind) {
            Dictionary d;
            for (int k = 0; k < 4 + kind % 7; ++k) {
                d.emplace("k" + std::to_string(kind) + "." + std::to_string(k),
                          Value(round * 1000 + kind * 10 + k));
            }
            rows.emplace_back(std::move(d));
        }
    }
    auto doc = encodeBinaryPlist(Value(rows));
    ASSERT_TRUE(doc.has_value());
    auto decoded = decodeBinaryPlist(*doc);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, Value(rows));
}

RawPlist nestedArrays(std::size_t levels) {
    RawPlist doc;
    doc.refWidth = 2;
    doc.offsetWidth = 2;
    for (std::size_t i = 0; i + 1 < levels; ++i) {
        const auto next = i + 1;
        doc.add({0xA1, static_cast<std::uint8_t>(next >> 8), static_cast<std::uint8_t>(next)});
    }
    doc.add({0xA0});
    return doc;
}

TEST(BinaryPlistDecodeLimits, NestingStopsAtTheDepthLimit) {
    EXPECT_TRUE(decodeBinaryPlist(nestedArrays(binaryPlistMaxDepth).build()).has_value());
    EXPECT_TRUE(rejects(nestedArrays(binaryPlistMaxDepth + 1).build()));
    EXPECT_TRUE(rejects(nestedArrays(5000).build()));
}

TEST(BinaryPlistDecodeLimits, RejectsSharedReferencesThatExpandExponentially) {
    // Each level refers to the next one 15 times: 15^40 leaves from a few hundred bytes.
    RawPlist doc;
    constexpr std::uint8_t levels = 40;
    for (std::uint8_t i = 0; i < levels; ++i) {
        Data object{0xAF, 0x10, 15};
        object.insert(object.end(), 15, static_cast<std::uint8_t>(i + 1));
        doc.add(object);
    }
    doc.add({0x53, 'l', 'o', 'l'});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(rejects(doc.build()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // Two levels of the same sharing stay within what the document pays for.
    RawPlist modest;
    for (std::uint8_t i = 0; i < 2; ++i) {
        Data object{0xAF, 0x10, 15};
        object.insert(object.end(), 15, static_cast<std::uint8_t>(i + 1));
        modest.add(object);
    }
    modest.add({0x53, 'l', 'o', 'l'});
    auto decoded = decodeBinaryPlist(modest.build());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->array()->at(14).array()->at(14), Value("lol"));
}

TEST(BinaryPlistDecodeLimits, LargeDocumentsFromTheEncoderDecodeInFull) {
    // One-byte references to the longest string the encoder shares are the most expansion it
    // ever writes; the decoder's budget has to allow for them.
    Array rows(200000, Value(std::string(64, 's')));
    for (int i = 0; i < 100; ++i) {
        rows.emplace_back(
            Dictionary{{"a", Value(std::string(64, 's'))}, {"b", Value(std::string(64, 's'))}});
    }
    auto doc = encodeBinaryPlist(Value(rows));
    ASSERT_TRUE(doc.has_value());
    ASSERT_EQ(doc->at(doc->size() - 25), 1) << "references are meant to be one byte wide";
    auto decoded = decodeBinaryPlist(*doc);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_TRUE(identical(*decoded, Value(rows)));
}

} // namespace
