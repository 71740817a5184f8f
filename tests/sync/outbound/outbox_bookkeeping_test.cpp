// The outbox's delivery history kept beside it: what each pending message went through, across a
// restart and a kill, never touching the outbox's own stored queue, never blocking it.
#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "support/fake_session.hpp"
#include "support/outbox_messages.hpp"
#include "support/snapshot_store.hpp"
#include "sync/outbound/outbox_bookkeeping.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using platform::Data;
using testsupport::message;
using watchsync::MessageBookkeeping;
using watchsync::OutboxBookkeeping;
using watchsync::WatchSyncOutbox;

class BookkeepingTest : public ::testing::Test {
protected:
    platform::ManualExecutor exec;
    testsupport::FakeSession session{exec.main()};
    testsupport::SnapshotStore store;
    platform::MemoryLog log;
    std::optional<OutboxBookkeeping> bookkeeping;
    std::unique_ptr<WatchSyncOutbox> outbox;

    void SetUp() override {
        session.reachable = true;
        start();
    }
    void start() {
        bookkeeping.emplace(store, exec.clock());
        outbox = std::make_unique<WatchSyncOutbox>(exec, session, store, log, &*bookkeeping);
        exec.runUntilIdle();
    }
    void restart() {
        outbox.reset();
        start();
    }
    // The process dies: nothing it had not written yet survives.
    void kill() {
        const auto written = store.content();
        outbox.reset();
        store.restore(written);
        start();
    }
    std::string enqueue(std::string type) {
        auto id = outbox->enqueue(message(std::move(type))).value();
        exec.runUntilIdle();
        return id;
    }
    MessageBookkeeping entry(const std::string& id) {
        for (const auto& pending : outbox->health().pending) {
            if (pending.message.id == id) {
                return pending.bookkeeping;
            }
        }
        ADD_FAILURE() << id << " is not pending";
        return {};
    }
    platform::TimePoint now() const { return exec.now(); }
};

TEST_F(BookkeepingTest, CountsEachWayOutAndTheAnswersAndKeepsThemAcrossARestart) {
    const auto queuedAt = now();
    const auto head = enqueue("complete_set");
    EXPECT_EQ(entry(head), (MessageBookkeeping{queuedAt, 1, 1, std::nullopt, false}));
    exec.advanceBy(3s);
    const auto second = enqueue("update_set");
    EXPECT_EQ(entry(head), (MessageBookkeeping{queuedAt, 2, 1, std::nullopt, false}))
        << "each flush puts the head on the wire live again";
    EXPECT_EQ(entry(second), (MessageBookkeeping{queuedAt + 3s, 0, 0, std::nullopt, false}))
        << "only the head is on the wire";

    outbox->handleAck(head, "Retry");
    exec.runUntilIdle();
    EXPECT_EQ(entry(head), (MessageBookkeeping{queuedAt, 2, 1, "Retry", true}));
    exec.advanceBy(WatchSyncOutbox::retryDelay);
    EXPECT_EQ(entry(head), (MessageBookkeeping{queuedAt, 3, 2, "Retry", false}))
        << "sent again: no longer held back, the last answer remembered";

    session.reachable = false;
    outbox->handleTransferFinished(session.transfers.back(), true, "disk full");
    exec.runUntilIdle();
    EXPECT_EQ(entry(head), (MessageBookkeeping{queuedAt, 3, 2, "disk full", true}));

    restart();
    EXPECT_EQ(entry(head), (MessageBookkeeping{queuedAt, 3, 2, "disk full", true}));
    EXPECT_EQ(entry(second).queuedAt, queuedAt + 3s);

    // Confirmed: the message leaves the bookkeeping with the outbox; the link remembers when.
    exec.advanceBy(10s);
    session.reachable = true;
    outbox->handleAck(head, std::nullopt);
    exec.runUntilIdle();
    const auto ackedAt = now();
    const auto health = outbox->health();
    ASSERT_EQ(health.pending.size(), 1u);
    EXPECT_EQ(health.pending.front().message.id, second);
    EXPECT_EQ(health.link.lastAcknowledgedAt, ackedAt);
    restart();
    EXPECT_EQ(outbox->health().link.lastAcknowledgedAt, ackedAt);
    const auto stored = OutboxBookkeeping::decode(
        std::get<Data>(store.content().at(std::string(OutboxBookkeeping::storageKey))));
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->first.size(), 1u);
    EXPECT_TRUE(stored->first.contains(second));
}

TEST_F(BookkeepingTest, AKillLosesAtMostTheLastSecondOfHistoryAndNeverTheQueue) {
    enqueue("complete_set");
    exec.advanceBy(OutboxBookkeeping::saveDelay);
    const auto late = enqueue("complete_set");
    kill();
    const auto health = outbox->health();
    ASSERT_EQ(health.pending.size(), 2u);
    EXPECT_EQ(health.pending[0].bookkeeping.transfers, 1);
    EXPECT_EQ(health.pending[1].message.id, late);
    EXPECT_EQ(health.pending[1].bookkeeping, MessageBookkeeping{})
        << "queued within the second before the kill: its time is unknown, not made up";
}

TEST_F(BookkeepingTest, AReachabilityChangeIsDatedAndAnAbsenceOutlivesARestart) {
    EXPECT_EQ(outbox->health().link.unreachableSince, std::nullopt);
    exec.advanceBy(5s);
    const auto away = now();
    session.reachable = false;
    outbox->reachabilityChanged(false);
    exec.runUntilIdle();
    EXPECT_EQ(outbox->health().link.unreachableSince, away);
    exec.advanceBy(1min);
    restart();
    EXPECT_EQ(outbox->health().link.unreachableSince, away) << "away since then, not since now";
    session.reachable = true;
    outbox->reachabilityChanged(true);
    exec.runUntilIdle();
    EXPECT_EQ(outbox->health().link.unreachableSince, std::nullopt);
}

// The stored queue is the phone's and older builds' business: the bookkeeping leaves it alone,
// and a record that does not read, or speaks of messages long gone, changes nothing for it.
TEST_F(BookkeepingTest, TheOutboxStoresTheSameBytesAndADamagedRecordNeverBlocksIt) {
    testsupport::SnapshotStore bare;
    WatchSyncOutbox plain(exec, session, bare, log);
    for (auto* box : {outbox.get(), &plain}) {
        box->enqueue(message("complete_set"), "s1");
        box->enqueue(message("update_set"), "s2");
        box->handleAck("s1", "Retry");
        exec.runUntilIdle();
    }
    const auto key = std::string(WatchSyncOutbox::storageKey);
    EXPECT_EQ(std::get<Data>(store.content().at(key)), std::get<Data>(bare.content().at(key)));

    for (const std::string damaged :
         {"{", "[]", R"({"messages":{"s1":["x",1,1,null,false]},"lastAcknowledgedAt":"y"})",
          R"({"messages":{"s1":["x",1,1,null,false],"s2":[1,-1,1,null,false]}})",
          R"({"messages":{"gone":[1,1,1,null,false]}})"}) {
        outbox.reset();
        auto content = store.content();
        content.insert_or_assign(std::string(OutboxBookkeeping::storageKey),
                                 Data(damaged.begin(), damaged.end()));
        store.restore(content);
        start();
        const auto health = outbox->health();
        ASSERT_EQ(health.pending.size(), 2u) << damaged;
        EXPECT_EQ(health.pending[0].bookkeeping.transfers, 0) << damaged;
        outbox->handleAck("s1", std::nullopt);
        outbox->handleAck("s2", std::nullopt);
        exec.runUntilIdle();
        EXPECT_TRUE(outbox->pendingMessages().empty()) << damaged;
        outbox->enqueue(message("complete_set"), "s1");
        outbox->enqueue(message("update_set"), "s2");
        exec.runUntilIdle();
    }
    restart();
    const auto stored = OutboxBookkeeping::decode(
        std::get<Data>(store.content().at(std::string(OutboxBookkeeping::storageKey))));
    ASSERT_TRUE(stored.has_value());
    EXPECT_FALSE(stored->first.contains("gone")) << "an entry of no pending message is dropped";
}

} // namespace
