// The outbox: stored before anything is sent, one message on the wire at a time, oldest first,
// kept until acknowledged, "Retry" and failed transfers tried again five seconds later.
#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "support/fake_session.hpp"
#include "support/forwarding_store.hpp"
#include "support/outbox_messages.hpp"
#include "sync/outbound/pending_watch_sync_message.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

namespace {

using namespace std::chrono_literals;
using platform::ActivationState;
using platform::Data;
using platform::Dictionary;
using platform::Value;
using testsupport::message;
using watchsync::PendingWatchSyncMessage;
using watchsync::WatchSyncOutbox;
using Ids = std::vector<std::string>;

Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
}

Data plist(const Value& value) {
    return *platform::encodeBinaryPlist(value);
}

Ids syncIds(const std::vector<Dictionary>& sent) {
    Ids ids;
    for (const auto& dictionary : sent) {
        ids.push_back(dictionary.count("syncId") ? *dictionary.at("syncId").string() : "-");
    }
    return ids;
}

TEST(PendingListCodec, WritesJsonWithBase64AndRefusesAnyFlaw) {
    EXPECT_EQ(watchsync::encodePendingList(
                  {{"s1", Data{0xFB, 0xFF, 0x10}, true}, {"s2", bytesOf("M"), false}}),
              bytesOf(R"([{"id":"s1","payload":"+/8Q","queuedForTransfer":true},)"
                      R"({"id":"s2","payload":"TQ==","queuedForTransfer":false}])"));
    EXPECT_EQ(watchsync::encodePendingList({{"\xC3\x28", Data{1}, false}}), std::nullopt);
    const std::string good = R"({"id":"s1","payload":"TWE=","queuedForTransfer":false})";
    for (const std::string& text : std::vector<std::string>{
             "[" + good + R"(,{"id":"s2","payload":"TWE="}])", good,
             R"([{"id":"s1","payload":"TWE=","queuedForTransfer":0}])",
             R"([{"id":"s1","payload":"TW=E","queuedForTransfer":false}])", "["}) {
        EXPECT_EQ(watchsync::decodePendingList(bytesOf(text)), std::nullopt) << text;
    }
}

RC_GTEST_PROP(PendingListCodec, ReadsBackExactlyWhatItWrote, ()) {
    const auto list = *rc::gen::container<std::vector<PendingWatchSyncMessage>>(rc::gen::build(
        rc::gen::construct<PendingWatchSyncMessage>(),
        rc::gen::set(&PendingWatchSyncMessage::id,
                     rc::gen::container<std::string>(rc::gen::inRange<char>(' ', '~'))),
        rc::gen::set(&PendingWatchSyncMessage::payload, rc::gen::arbitrary<Data>()),
        rc::gen::set(&PendingWatchSyncMessage::queuedForTransfer, rc::gen::arbitrary<bool>())));
    const auto encoded = watchsync::encodePendingList(list);
    RC_ASSERT(encoded.has_value());
    RC_ASSERT(watchsync::decodePendingList(*encoded) == std::optional(list));
}

// Notes, at each write of the queue, the flags stored and how many transfers had gone out.
class WatchedStore final : public testsupport::ForwardingStore {
public:
    WatchedStore(platform::KeyValueStore& inner, const testsupport::FakeSession& session)
        : ForwardingStore(inner), session_(session) {}
    std::vector<std::pair<std::vector<bool>, std::size_t>> writes;
    void setData(std::string_view key, const Data& value) override {
        if (key == WatchSyncOutbox::storageKey) {
            std::vector<bool> flags;
            const auto list = watchsync::decodePendingList(value).value();
            for (const auto& m : list) {
                flags.push_back(m.queuedForTransfer);
            }
            writes.emplace_back(flags, session_.transfers.size());
        }
        inner_.setData(key, value);
    }

private:
    const testsupport::FakeSession& session_;
};

class OutboxTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(session.callsFromMain, 0); }

    // A new process on the same stores.
    void restart() {
        outbox.reset();
        forgetSent();
        outbox = std::make_unique<WatchSyncOutbox>(exec, session, store, log);
    }

    void forgetSent() {
        exec.runUntilIdle();
        session.transfers.clear();
        session.liveMessages.clear();
    }

    Ids pendingIds() {
        Ids ids;
        for (const auto& pending : outbox->pendingMessages()) {
            ids.push_back(pending.id);
        }
        return ids;
    }

    std::vector<bool> flags() {
        std::vector<bool> result;
        for (const auto& pending : outbox->pendingMessages()) {
            result.push_back(pending.queuedForTransfer);
        }
        return result;
    }

    std::optional<std::vector<PendingWatchSyncMessage>> stored() const {
        const auto data = backing.dataForKey(WatchSyncOutbox::storageKey);
        return data ? watchsync::decodePendingList(*data) : std::nullopt;
    }

    void enqueueThree() {
        for (const char* id : {"sync-1", "sync-2", "sync-3"}) {
            ASSERT_EQ(outbox->enqueue(message("log_set", {{"setId", id}}), id), id);
        }
    }

    platform::ManualExecutor exec;
    platform::MemoryKeyValueStore backing;
    testsupport::FakeSession session{exec.main()};
    WatchedStore store{backing, session};
    platform::MemoryLog log;
    std::unique_ptr<WatchSyncOutbox> outbox =
        std::make_unique<WatchSyncOutbox>(exec, session, store, log);
};

TEST_F(OutboxTest, AMessageIsStoredBeforeItsTransferAndTheFlagBeforeItGoes) {
    const auto sent = message("log_set", {{"setId", "s1"}});
    const auto id = outbox->enqueue(sent);
    ASSERT_TRUE(id);
    EXPECT_NE(outbox->enqueue(sent), id) << "each message gets a fresh id";
    // Stored unflagged, then flagged, each time before the transfer went out.
    ASSERT_GE(store.writes.size(), 2u);
    EXPECT_EQ(store.writes[0], (std::pair{std::vector<bool>{false}, std::size_t{0}}));
    EXPECT_EQ(store.writes[1], (std::pair{std::vector<bool>{true}, std::size_t{0}}));
    auto envelope = sent;
    envelope.insert_or_assign("syncId", *id);
    EXPECT_EQ(session.transfers.at(0), envelope);
    EXPECT_EQ(stored(), outbox->pendingMessages());
}

TEST_F(OutboxTest, OnlyTheOldestGoesOutAndAnAcknowledgementSendsTheNext) {
    session.reachable = true;
    enqueueThree();
    exec.runUntilIdle();
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
    EXPECT_EQ(syncIds(session.liveMessages), (Ids{"sync-1", "sync-1", "sync-1"}));
    EXPECT_EQ(flags(), (std::vector<bool>{true, false, false}));
    forgetSent();

    outbox->handleAck("sync-1", "Success");
    outbox->handleAck("unknown", std::nullopt);
    exec.runUntilIdle();
    EXPECT_EQ(pendingIds(), (Ids{"sync-2", "sync-3"}));
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-2"}));
    EXPECT_EQ(syncIds(session.liveMessages), (Ids{"sync-2"}));
    EXPECT_EQ(stored(), outbox->pendingMessages());

    // An id already pending queues nothing; the stored original goes out again.
    EXPECT_EQ(outbox->enqueue(message("other"), "sync-2"), "sync-2");
    EXPECT_EQ(pendingIds(), (Ids{"sync-2", "sync-3"}));
    EXPECT_EQ(syncIds(session.liveMessages), (Ids{"sync-2", "sync-2"}));
}

TEST_F(OutboxTest, RetryInAnyCaseAndAFailedTransferSendTheHeadAgainFiveSecondsLater) {
    enqueueThree();
    const auto head = session.transfers.at(0);
    for (const auto& fail :
         std::vector<std::function<void()>>{[&] { outbox->handleAck("sync-1", "rEtRy"); },
                                            [&] { outbox->handleTransferFinished(head, true); }}) {
        forgetSent();
        fail();
        exec.runUntilIdle();
        EXPECT_EQ(flags(), (std::vector<bool>{false, false, false}));
        EXPECT_EQ(stored(), outbox->pendingMessages());
        exec.advanceBy(4999ms);
        EXPECT_TRUE(session.transfers.empty());
        exec.advanceBy(1ms);
        EXPECT_EQ(session.transfers, std::vector<Dictionary>{head});
    }
    // A finished transfer, or one of an unknown message, changes nothing: only the ack counts.
    forgetSent();
    outbox->handleTransferFinished(head, false);
    outbox->handleTransferFinished(message("log_set"), true);
    exec.advanceBy(10s);
    EXPECT_TRUE(session.transfers.empty());
    EXPECT_EQ(pendingIds(), (Ids{"sync-1", "sync-2", "sync-3"}));

    // A retry for a message that is not the head, or once the head went out again, does nothing.
    outbox->handleAck("sync-2", "Retry");
    outbox->handleAck("sync-1", "Retry");
    outbox->flush();
    exec.advanceBy(10s);
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
    outbox->handleAck("sync-1", "Retry");
    exec.runUntilIdle();
    outbox.reset();
    EXPECT_EQ(exec.advanceBy(10s), 0u) << "retries go with the outbox";
}

TEST_F(OutboxTest, OnlyTheNewestRefreshRequestStaysQueued) {
    for (const char* id : {"refresh-1", "sync-a", "refresh-2", "sync-b", "refresh-3"}) {
        outbox->enqueue(
            message(std::string(id).starts_with("refresh") ? "refresh_data" : "log_set"), id);
    }
    EXPECT_EQ(pendingIds(), (Ids{"sync-a", "sync-b", "refresh-3"}));
    EXPECT_EQ(stored(), outbox->pendingMessages());
    EXPECT_EQ(syncIds(session.transfers), (Ids{"refresh-1", "sync-a"}));
}

TEST_F(OutboxTest, WhatIsNoPropertyListIsRefusedAndChangesNothing) {
    session.state = ActivationState::notActivated;
    EXPECT_EQ(outbox->enqueue(message("log_set", {{"x", Value()}})), std::nullopt);
    EXPECT_EQ(outbox->enqueue(message("log_set", {{"note", "\xC3\x28"}})), std::nullopt);
    EXPECT_EQ(outbox->enqueue(message("log_set"), "\xC3\x28"), std::nullopt);
    EXPECT_TRUE(outbox->pendingMessages().empty());
    EXPECT_FALSE(backing.dataForKey(WatchSyncOutbox::storageKey));
}

TEST_F(OutboxTest, NothingGoesOutBeforeActivationAndARestartSendsTheHeadOnce) {
    session.state = ActivationState::notActivated;
    enqueueThree();
    outbox->flush();
    exec.advanceBy(10s);
    EXPECT_TRUE(session.transfers.empty());

    session.state = ActivationState::activated;
    outbox->reconcileOutstandingTransfers();
    exec.runUntilIdle();
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));

    // After a restart the head goes again only once its transfer is no longer outstanding.
    restart();
    for (const bool outstanding : {true, false}) {
        session.outstanding.clear();
        if (outstanding) {
            session.outstanding = {{"t1", Dictionary{{"syncId", "sync-1"}}}};
        }
        outbox->reconcileOutstandingTransfers();
        exec.runUntilIdle();
        EXPECT_EQ(syncIds(session.transfers), outstanding ? Ids{} : Ids{"sync-1"});
    }
    EXPECT_EQ(flags(), (std::vector<bool>{true, false, false}));
}

TEST_F(OutboxTest, ADamagedStoreStartsEmptyAndAnUndecodableHeadIsDropped) {
    backing.setData(WatchSyncOutbox::storageKey, bytesOf("not json"));
    restart();
    EXPECT_TRUE(outbox->pendingMessages().empty());

    const auto good = plist(Value(Dictionary{{"type", "log_set"}, {"syncId", "s3"}}));
    backing.setData(WatchSyncOutbox::storageKey,
                    *watchsync::encodePendingList({{"s1", Data{0, 1, 2}, false},
                                                   {"s2", plist(Value(platform::Array{})), false},
                                                   {"s3", good, false}}));
    restart();
    outbox->flush();
    exec.runUntilIdle();
    EXPECT_EQ(pendingIds(), (Ids{"s3"}));
    EXPECT_EQ(syncIds(session.transfers), (Ids{"s3"}));
    EXPECT_EQ(stored(), outbox->pendingMessages());
}

TEST_F(OutboxTest, QueriesFindStartsEndsAndTimerEventsByTheirPayload) {
    session.state = ActivationState::notActivated;
    const auto start = outbox->enqueue(message("start_workout", {{"workoutId", "w1"}}));
    outbox->enqueue(message("cancel_workout", {{"id", "w3"}, {"timerId", 3}}));
    outbox->enqueue(message("log_set", {{"workoutId", "w5"}, {"sourceTimerId", "t2"}}));
    outbox->enqueue(Dictionary{{"type", "complete_workout"}, {"workoutId", "w6"}});
    struct Case {
        std::string id;
        bool start, end, timer;
    };
    for (const auto& c : {Case{"w1", true, false, false}, Case{"w3", false, true, false},
                          Case{"w5", false, false, false}, Case{"w6", false, false, false},
                          Case{"t2", false, false, true}, Case{"3", false, false, false}}) {
        EXPECT_EQ(outbox->hasPendingStartWorkout(c.id), c.start) << c.id;
        EXPECT_EQ(outbox->hasPendingWorkoutEnd(c.id), c.end) << c.id;
        EXPECT_EQ(outbox->hasPendingTimerEvent(c.id), c.timer) << c.id;
    }
    outbox->handleAck(*start, std::nullopt);
    EXPECT_FALSE(outbox->hasPendingStartWorkout("w1"));
}

TEST_F(OutboxTest, EnqueueWaitsForTheDeliveryEventsQueuedBeforeIt) {
    enqueueThree();
    forgetSent();
    outbox->handleAck("sync-1", std::nullopt);
    EXPECT_EQ(outbox->enqueue(message("log_set"), "sync-4"), "sync-4");
    // Without driving the executor: the acknowledgement ran first, inside enqueue's wait.
    EXPECT_EQ(exec.pendingCount(), 0u);
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-2"}));
}

} // namespace
