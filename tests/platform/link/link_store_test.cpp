#include "platform/link/delivered_ids.hpp"
#include "platform/link/outbox.hpp"
#include "platform/store/memory_key_value_store.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace phonelink = platform::phonelink;
using platform::Data;
using platform::Dictionary;
using Entry = phonelink::Outbox::Entry;

namespace {

const std::string prefix = "platform.link.phone.";

Entry userInfo(std::string id, std::int64_t n) {
    return {phonelink::Outbox::Kind::userInfo, std::move(id), {{"n", n}}, {}};
}

TEST(OutboxTest, ANewOutboxOnTheSameStoreFindsTheQueueInOrderFilesIncluded) {
    platform::MemoryKeyValueStore store;
    const Entry file{phonelink::Outbox::Kind::file, "f", {{"name", "log"}}, Data{1, 2, 3}};
    {
        phonelink::Outbox outbox(store, prefix);
        ASSERT_TRUE(outbox.append(userInfo("a", 1)));
        ASSERT_TRUE(outbox.append(file));
        ASSERT_TRUE(outbox.append(userInfo("c", 3)));
        EXPECT_EQ(outbox.remove("a"), userInfo("a", 1));
        EXPECT_EQ(outbox.remove("a"), std::nullopt);
        ASSERT_TRUE(outbox.append(userInfo("d", 4)));
    }
    phonelink::Outbox reopened(store, prefix);
    EXPECT_EQ(reopened.entries(), (std::vector<Entry>{file, userInfo("c", 3), userInfo("d", 4)}));

    phonelink::Outbox otherRole(store, "platform.link.watch.");
    EXPECT_TRUE(otherRole.entries().empty());
}

TEST(OutboxTest, AnEntryThatCannotBeStoredIsNotQueued) {
    platform::MemoryKeyValueStore store;
    phonelink::Outbox outbox(store, prefix);
    EXPECT_FALSE(
        outbox.append({phonelink::Outbox::Kind::userInfo, "x", {{"bad", platform::Null{}}}, {}}));
    EXPECT_TRUE(outbox.entries().empty());
    EXPECT_TRUE(phonelink::Outbox(store, prefix).entries().empty());
}

TEST(OutboxTest, EraseForgetsTheQueueAndAMissingRecordIsSkipped) {
    platform::MemoryKeyValueStore store;
    {
        phonelink::Outbox outbox(store, prefix);
        outbox.append(userInfo("a", 1));
        outbox.append(userInfo("b", 2));
    }
    // As if the program died between writing the order and a record.
    store.removeObject(prefix + "outbox/a");
    EXPECT_EQ(phonelink::Outbox(store, prefix).entries(), (std::vector<Entry>{userInfo("b", 2)}));

    phonelink::Outbox::erase(store, prefix);
    EXPECT_TRUE(phonelink::Outbox(store, prefix).entries().empty());
    EXPECT_FALSE(store.dataForKey(prefix + "outbox/b").has_value());
}

TEST(DeliveredIdsTest, RemembersTheNewestIdsAcrossInstancesAndForgetsTheOldest) {
    platform::MemoryKeyValueStore store;
    {
        phonelink::DeliveredIds ids(store, "delivered", 3);
        for (const char* id : {"a", "b", "c", "b"}) {
            ids.insert(id);
        }
        EXPECT_TRUE(ids.contains("a"));
        ids.insert("d");
        EXPECT_FALSE(ids.contains("a"));
        EXPECT_EQ(ids.size(), 3u);
    }
    phonelink::DeliveredIds reopened(store, "delivered", 3);
    EXPECT_FALSE(reopened.contains("a"));
    for (const char* id : {"b", "c", "d"}) {
        EXPECT_TRUE(reopened.contains(id)) << id;
    }
    // A smaller memory keeps the newest of what was stored.
    phonelink::DeliveredIds smaller(store, "delivered", 1);
    EXPECT_TRUE(smaller.contains("d"));
    EXPECT_FALSE(smaller.contains("c"));
}

TEST(DeliveredIdsTest, TheDefaultMemoryHoldsAThousandIds) {
    platform::MemoryKeyValueStore store;
    phonelink::DeliveredIds ids(store, "delivered");
    for (int i = 0; i < 1000; ++i) {
        ids.insert("id-" + std::to_string(i));
    }
    phonelink::DeliveredIds reopened(store, "delivered");
    EXPECT_TRUE(reopened.contains("id-0"));
    EXPECT_TRUE(reopened.contains("id-999"));
}

} // namespace
