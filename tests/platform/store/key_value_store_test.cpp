#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/store/sqlite_key_value_store.hpp"

#include "platform/files/temp_directory.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace std::string_literals;
using platform::testing::TempDirectory;
using Strings = std::vector<std::string>;

struct MemoryKind {
    static std::unique_ptr<KeyValueStore> store(const TempDirectory&, Log&) {
        return std::make_unique<MemoryKeyValueStore>();
    }
    static std::unique_ptr<KeyValueStores> stores(const TempDirectory&, Log&) {
        return std::make_unique<MemoryKeyValueStores>();
    }
};

struct SqliteKind {
    static std::unique_ptr<KeyValueStore> store(const TempDirectory& temp, Log& log) {
        return std::make_unique<SqliteKeyValueStore>(temp.path() / "store.sqlite", log);
    }
    static std::unique_ptr<KeyValueStores> stores(const TempDirectory& temp, Log& log) {
        return std::make_unique<SqliteKeyValueStores>(temp.path(), log);
    }
};

template <class Kind> class KeyValueStoreTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(log.lines().empty()) << "unexpected log line: " << log.lines().front();
    }

    TempDirectory temp;
    MemoryLog log;
    std::unique_ptr<KeyValueStore> subject = Kind::store(temp, log);
};

using Kinds = ::testing::Types<MemoryKind, SqliteKind>;
TYPED_TEST_SUITE(KeyValueStoreTest, Kinds);

TYPED_TEST(KeyValueStoreTest, DoublesRoundTripExactly) {
    auto& store = *this->subject;
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (double value : {0.0, 0.1, -2.5, 1e300, -1e-300, 5e-324, 1.7976931348623157e308, inf, -inf,
                         9007199254740993.0}) {
        store.setDouble("weight", value);
        EXPECT_EQ(store.doubleForKey("weight"), value);
    }
    store.setDouble("weight", -0.0);
    ASSERT_TRUE(store.doubleForKey("weight"));
    EXPECT_TRUE(std::signbit(*store.doubleForKey("weight")));

    store.setDouble("weight", std::numeric_limits<double>::quiet_NaN());
    ASSERT_TRUE(store.doubleForKey("weight"));
    EXPECT_TRUE(std::isnan(*store.doubleForKey("weight")));
}

TYPED_TEST(KeyValueStoreTest, BoolsStringListsAndDataRoundTrip) {
    auto& store = *this->subject;
    store.setBool("on", true);
    store.setBool("off", false);
    EXPECT_EQ(store.boolForKey("on"), true);
    EXPECT_EQ(store.boolForKey("off"), false);

    for (const Strings& list : {Strings{}, Strings{""}, Strings{"Bench Press", "Squat"},
                                Strings{"quote\"", "comma,", "]", "\\", "nul\0byte"s,
                                        "\xC3\xA9\xF0\x9F\x98\x80", "[\"a\"]"}}) {
        store.setStringList("exercises", list);
        EXPECT_EQ(store.stringListForKey("exercises"), list);
    }

    Data all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    for (const Data& data : {Data{}, Data{0}, all}) {
        store.setData("blob", data);
        EXPECT_EQ(store.dataForKey("blob"), data);
    }
}

TYPED_TEST(KeyValueStoreTest, ReplacesInvalidUtf8InStringsWithReplacementCharacters) {
    auto& store = *this->subject;
    store.setStringList("names", {"ok", "bad\xFF", "\xC3"});
    EXPECT_EQ(store.stringListForKey("names"), (Strings{"ok", "bad\xEF\xBF\xBD", "\xEF\xBF\xBD"}));
}

TYPED_TEST(KeyValueStoreTest, BoolsAndZeroOrOneDoublesReadAsEachOther) {
    auto& store = *this->subject;
    store.setBool("flag", true);
    EXPECT_EQ(store.doubleForKey("flag"), 1.0);
    store.setBool("flag", false);
    EXPECT_EQ(store.doubleForKey("flag"), 0.0);

    store.setDouble("number", 1.0);
    EXPECT_EQ(store.boolForKey("number"), true);
    store.setDouble("number", 0.0);
    EXPECT_EQ(store.boolForKey("number"), false);
    store.setDouble("number", -0.0);
    EXPECT_EQ(store.boolForKey("number"), false);
    for (double other : {0.5, 2.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        store.setDouble("number", other);
        EXPECT_EQ(store.boolForKey("number"), std::nullopt) << other;
    }
}

TYPED_TEST(KeyValueStoreTest, OtherReadsOfTheWrongTypeGiveNothing) {
    auto& store = *this->subject;
    store.setDouble("double", 1.0);
    store.setBool("bool", true);
    store.setStringList("list", {"1"});
    store.setData("data", Data{1});

    EXPECT_EQ(store.stringListForKey("double"), std::nullopt);
    EXPECT_EQ(store.dataForKey("double"), std::nullopt);
    EXPECT_EQ(store.stringListForKey("bool"), std::nullopt);
    EXPECT_EQ(store.dataForKey("bool"), std::nullopt);
    EXPECT_EQ(store.doubleForKey("list"), std::nullopt);
    EXPECT_EQ(store.boolForKey("list"), std::nullopt);
    EXPECT_EQ(store.dataForKey("list"), std::nullopt);
    EXPECT_EQ(store.doubleForKey("data"), std::nullopt);
    EXPECT_EQ(store.boolForKey("data"), std::nullopt);
    EXPECT_EQ(store.stringListForKey("data"), std::nullopt);
}

TYPED_TEST(KeyValueStoreTest, ASetReplacesTheValueAndItsType) {
    auto& store = *this->subject;
    store.setDouble("k", 3.5);
    store.setStringList("k", {"x"});
    EXPECT_EQ(store.doubleForKey("k"), std::nullopt);
    EXPECT_EQ(store.stringListForKey("k"), Strings{"x"});
    store.setData("k", Data{9});
    EXPECT_EQ(store.stringListForKey("k"), std::nullopt);
    EXPECT_EQ(store.dataForKey("k"), Data{9});
    store.setDouble("k", 7);
    EXPECT_EQ(store.dataForKey("k"), std::nullopt);
    EXPECT_EQ(store.doubleForKey("k"), 7.0);
}

TYPED_TEST(KeyValueStoreTest, MissingKeysReadAsNothing) {
    auto& store = *this->subject;
    auto expectMissing = [&](std::string_view key) {
        EXPECT_EQ(store.doubleForKey(key), std::nullopt) << key;
        EXPECT_EQ(store.boolForKey(key), std::nullopt) << key;
        EXPECT_EQ(store.stringListForKey(key), std::nullopt) << key;
        EXPECT_EQ(store.dataForKey(key), std::nullopt) << key;
    };
    expectMissing("never");
    store.setDouble("key", 1.0);
    expectMissing("Key");
    expectMissing("key ");
    expectMissing("ke");
    expectMissing("");
    store.setDouble("", 2.0);
    EXPECT_EQ(store.doubleForKey(""), 2.0);
    EXPECT_EQ(store.doubleForKey("key"), 1.0);
}

TYPED_TEST(KeyValueStoreTest, RemoveObjectForgetsOnlyThatKey) {
    auto& store = *this->subject;
    store.setStringList("a", {"x"});
    store.setData("b", Data{1});
    store.removeObject("a");
    EXPECT_EQ(store.stringListForKey("a"), std::nullopt);
    EXPECT_EQ(store.dataForKey("b"), Data{1});
    store.removeObject("a");
    store.removeObject("never there");
    EXPECT_EQ(store.dataForKey("b"), Data{1});
    store.setBool("a", true);
    EXPECT_EQ(store.boolForKey("a"), true);
}

TYPED_TEST(KeyValueStoreTest, ServesSeveralThreadsAtOnce) {
    auto& store = *this->subject;
    constexpr int threads = 4;
    constexpr int keysPerThread = 40;
    std::vector<int> mismatches(threads, 0);
    {
        std::vector<std::jthread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&store, &mismatches, t] {
                for (int i = 0; i < keysPerThread; ++i) {
                    auto key = "t" + std::to_string(t) + "." + std::to_string(i);
                    store.setDouble(key, t * 1000 + i);
                    store.setStringList("shared", {key});
                    if (store.doubleForKey(key) != t * 1000.0 + i) {
                        ++mismatches[t];
                    }
                    if (!store.stringListForKey("shared")) {
                        ++mismatches[t];
                    }
                }
            });
        }
    }
    EXPECT_EQ(mismatches, std::vector<int>(threads, 0));
    for (int t = 0; t < threads; ++t) {
        for (int i = 0; i < keysPerThread; ++i) {
            auto key = "t" + std::to_string(t) + "." + std::to_string(i);
            EXPECT_EQ(store.doubleForKey(key), t * 1000.0 + i) << key;
        }
    }
}

template <class Kind> class KeyValueStoresTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(log.lines().empty()) << "unexpected log line: " << log.lines().front();
    }

    TempDirectory temp;
    MemoryLog log;
    std::unique_ptr<KeyValueStores> provider = Kind::stores(temp, log);
};

TYPED_TEST_SUITE(KeyValueStoresTest, Kinds);

TYPED_TEST(KeyValueStoresTest, GiveTheSameStoreForTheSameName) {
    auto& stores = *this->provider;
    EXPECT_EQ(&stores.standard(), &stores.standard());
    EXPECT_EQ(&stores.suite("group.watch"), &stores.suite("group.watch"));
    EXPECT_EQ(&stores.suite(""), &stores.suite(""));
    EXPECT_NE(&stores.suite("group.watch"), &stores.suite("group.Watch"));
    EXPECT_NE(&stores.suite("standard"), &stores.standard());
}

TYPED_TEST(KeyValueStoresTest, KeepStandardAndSuitesApart) {
    auto& stores = *this->provider;
    stores.standard().setDouble("k", 0.5);
    stores.suite("a").setDouble("k", 1.5);
    stores.suite("b").setBool("only-in-b", true);
    stores.suite("a/b").setDouble("k", 2.5);
    stores.suite("a%2Fb").setDouble("k", 3.5);

    EXPECT_EQ(stores.standard().doubleForKey("k"), 0.5);
    EXPECT_EQ(stores.suite("a").doubleForKey("k"), 1.5);
    EXPECT_EQ(stores.suite("b").doubleForKey("k"), std::nullopt);
    EXPECT_EQ(stores.suite("a").boolForKey("only-in-b"), std::nullopt);
    EXPECT_EQ(stores.standard().boolForKey("only-in-b"), std::nullopt);
    EXPECT_EQ(stores.suite("a/b").doubleForKey("k"), 2.5);
    EXPECT_EQ(stores.suite("a%2Fb").doubleForKey("k"), 3.5);
}

} // namespace
} // namespace platform
