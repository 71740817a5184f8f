#include "sync/outbound/watch_sync_outbox.hpp"

#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/json.hpp"
#include "support/fake_session.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using platform::ActivationState;
using platform::Array;
using platform::Data;
using platform::Dictionary;
using platform::Value;
using testing::Each;
using testing::Eq;
using testsupport::FakeSession;
using watchsync::decodePendingList;
using watchsync::PendingWatchSyncMessage;
using watchsync::WatchSyncOutbox;

namespace {

using Ids = std::vector<std::string>;
using Flags = std::vector<bool>;

Dictionary message(std::string type, std::optional<Dictionary> payload = std::nullopt) {
    Dictionary result{{"type", Value(std::move(type))}};
    if (payload) {
        result.emplace("payload", Value(std::move(*payload)));
    }
    return result;
}

Dictionary withSyncId(Dictionary envelope, const std::string& id) {
    envelope.insert_or_assign("syncId", Value(id));
    return envelope;
}

Ids syncIds(const std::vector<Dictionary>& sent) {
    Ids ids;
    for (const auto& dictionary : sent) {
        const auto entry = dictionary.find("syncId");
        ids.push_back(entry != dictionary.end() && entry->second.string() != nullptr
                          ? *entry->second.string()
                          : "<no syncId>");
    }
    return ids;
}

Dictionary decoded(const Data& bytes) {
    const auto value = platform::decodeBinaryPlist(bytes);
    return value && value->dictionary() != nullptr ? *value->dictionary() : Dictionary{};
}

// Base64 from the platform's JSON codec, so that the stored form is checked against a second
// implementation.
std::string base64(const Data& bytes) {
    return platform::toJson(Value(bytes)).get<std::string>();
}

nlohmann::json storedElement(const std::string& id, const Data& payload, bool queued) {
    return {{"id", id}, {"payload", base64(payload)}, {"queuedForTransfer", queued}};
}

Data plist(const Value& value) {
    return platform::encodeBinaryPlist(value).value();
}

class OutboxTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(session.callsFromMain, 0); }

    std::unique_ptr<WatchSyncOutbox> start() {
        return std::make_unique<WatchSyncOutbox>(exec, session, defaults, log);
    }

    // A new process on the same stores: the old outbox is gone before the new one reads.
    void restart() {
        outbox.reset();
        session.liveMessages.clear();
        session.transfers.clear();
        outbox = start();
    }

    void forgetSent() {
        exec.runUntilIdle();
        session.liveMessages.clear();
        session.transfers.clear();
    }

    Ids pendingIds() {
        Ids ids;
        for (const auto& pending : outbox->pendingMessages()) {
            ids.push_back(pending.id);
        }
        return ids;
    }

    Flags flags() {
        Flags result;
        for (const auto& pending : outbox->pendingMessages()) {
            result.push_back(pending.queuedForTransfer);
        }
        return result;
    }

    std::optional<std::vector<PendingWatchSyncMessage>> stored() const {
        const auto data = defaults.dataForKey(WatchSyncOutbox::storageKey);
        return data ? decodePendingList(*data) : std::nullopt;
    }

    std::string storedText() const {
        const auto data = defaults.dataForKey(WatchSyncOutbox::storageKey);
        return data ? std::string(data->begin(), data->end()) : "<nothing>";
    }

    void store(std::string_view text) {
        defaults.setData(WatchSyncOutbox::storageKey, Data(text.begin(), text.end()));
    }

    // Three queued messages with known ids; only the first has gone out.
    void enqueueThree() {
        ASSERT_EQ(outbox->enqueue(message("log_set", Dictionary{{"setId", "s1"}}), "sync-1"),
                  "sync-1");
        ASSERT_EQ(outbox->enqueue(message("log_set", Dictionary{{"setId", "s2"}}), "sync-2"),
                  "sync-2");
        ASSERT_EQ(outbox->enqueue(message("log_set", Dictionary{{"setId", "s3"}}), "sync-3"),
                  "sync-3");
    }

    platform::ManualExecutor exec;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    FakeSession session{exec.main()};
    std::unique_ptr<WatchSyncOutbox> outbox = start();
};

// --- enqueue -----------------------------------------------------------------------------------

TEST_F(OutboxTest, EnqueueStoresTheWholeEnvelopeUnderAFreshUuidBeforeSending) {
    session.state = ActivationState::notActivated;
    Dictionary sent = message("log_set", Dictionary{{"setId", "s1"}, {"reps", 5}});
    sent.emplace("syncId", "chosen-by-the-sender");

    const auto id = outbox->enqueue(sent);
    ASSERT_TRUE(id);
    EXPECT_THAT(*id, testing::MatchesRegex(
                         "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"));
    const auto pending = outbox->pendingMessages();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].id, *id);
    EXPECT_FALSE(pending[0].queuedForTransfer);
    EXPECT_EQ(decoded(pending[0].payload), withSyncId(sent, *id));
    EXPECT_EQ(stored(), pending);
    EXPECT_TRUE(session.transfers.empty());
    EXPECT_TRUE(session.liveMessages.empty());

    const auto second = outbox->enqueue(sent);
    ASSERT_TRUE(second);
    EXPECT_NE(*second, *id);
}

TEST_F(OutboxTest, EnqueueUsesTheSyncIdTheSenderSupplies) {
    const Dictionary sent = message("log_set", Dictionary{{"setId", "s1"}});
    EXPECT_EQ(outbox->enqueue(sent, "sync-7"), "sync-7");
    EXPECT_EQ(pendingIds(), (Ids{"sync-7"}));
    ASSERT_EQ(session.transfers.size(), 1u);
    EXPECT_EQ(session.transfers[0], withSyncId(sent, "sync-7"));
}

TEST_F(OutboxTest, EnqueueWithAnIdAlreadyPendingQueuesNothingButFlushes) {
    session.reachable = true;
    const Dictionary original = message("log_set", Dictionary{{"setId", "s1"}});
    ASSERT_EQ(outbox->enqueue(original, "sync-1"), "sync-1");
    const auto pendingBefore = outbox->pendingMessages();
    const auto storedBefore = defaults.dataForKey(WatchSyncOutbox::storageKey);
    ASSERT_EQ(session.liveMessages.size(), 1u);

    EXPECT_EQ(outbox->enqueue(message("log_set", Dictionary{{"setId", "s2"}}), "sync-1"), "sync-1");

    EXPECT_EQ(outbox->pendingMessages(), pendingBefore);
    EXPECT_EQ(defaults.dataForKey(WatchSyncOutbox::storageKey), storedBefore);
    // The flush puts the stored original on the wire again, not the new content.
    ASSERT_EQ(session.liveMessages.size(), 2u);
    EXPECT_EQ(session.liveMessages[1], withSyncId(original, "sync-1"));
    EXPECT_EQ(session.transfers.size(), 1u);
}

TEST_F(OutboxTest, OnlyTheNewestRefreshRequestStaysQueuedEvenWhenItWasTheHead) {
    // Away: activated but not reachable, so only background transfers go out.
    ASSERT_EQ(outbox->enqueue(message("refresh_data", Dictionary{{"n", 1}}), "refresh-1"),
              "refresh-1");
    ASSERT_EQ(outbox->enqueue(message("log_set"), "sync-a"), "sync-a");
    ASSERT_EQ(outbox->enqueue(message("refresh_data", Dictionary{{"n", 2}}), "refresh-2"),
              "refresh-2");
    ASSERT_EQ(outbox->enqueue(message("log_set"), "sync-b"), "sync-b");
    ASSERT_EQ(outbox->enqueue(message("refresh_data", Dictionary{{"n", 3}}), "refresh-3"),
              "refresh-3");

    EXPECT_EQ(pendingIds(), (Ids{"sync-a", "sync-b", "refresh-3"}));
    EXPECT_EQ(decoded(outbox->pendingMessages()[2].payload),
              withSyncId(message("refresh_data", Dictionary{{"n", 3}}), "refresh-3"));
    EXPECT_EQ(stored(), outbox->pendingMessages());
    // Dropping the queued head let the next message go out at once.
    EXPECT_EQ(syncIds(session.transfers), (Ids{"refresh-1", "sync-a"}));
}

TEST_F(OutboxTest, MessagesThatAreNoPropertyListAreRefusedWithALogLine) {
    session.reachable = true;
    const Dictionary nestedNull =
        message("log_set", Dictionary{{"sets", Array{Value(1), Value(platform::Null{})}}});
    const Dictionary badText = message("log_set", Dictionary{{"note", "\xC3\x28"}});

    EXPECT_EQ(outbox->enqueue(nestedNull), std::nullopt);
    EXPECT_EQ(outbox->enqueue(badText, "sync-1"), std::nullopt);

    EXPECT_EQ(log.lines(), (Ids{"Unable to serialize Watch sync message",
                                "Unable to serialize Watch sync message"}));
    EXPECT_TRUE(outbox->pendingMessages().empty());
    EXPECT_EQ(defaults.dataForKey(WatchSyncOutbox::storageKey), std::nullopt);
    EXPECT_TRUE(session.transfers.empty());
    EXPECT_TRUE(session.liveMessages.empty());
}

TEST_F(OutboxTest, ASyncIdThatIsNotUtf8IsRefusedWithoutALogLine) {
    session.state = ActivationState::notActivated;
    ASSERT_EQ(outbox->enqueue(message("log_set"), "sync-1"), "sync-1");

    EXPECT_EQ(outbox->enqueue(message("log_set"), "\xC3\x28"), std::nullopt);
    EXPECT_EQ(outbox->enqueue(message("refresh_data"), "\xC3\x28"), std::nullopt);

    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(pendingIds(), (Ids{"sync-1"}));
    EXPECT_EQ(stored(), outbox->pendingMessages());
}

TEST_F(OutboxTest, ARefusedRefreshRequestLeavesTheStoreInStepWithTheQueue) {
    session.state = ActivationState::notActivated;
    ASSERT_EQ(outbox->enqueue(message("refresh_data"), "refresh-1"), "refresh-1");

    EXPECT_EQ(outbox->enqueue(message("refresh_data"), "\xC3\x28"), std::nullopt);

    EXPECT_EQ(stored(), outbox->pendingMessages());
}

// --- order and acknowledgements ----------------------------------------------------------------

TEST_F(OutboxTest, OnlyTheOldestUnacknowledgedMessageIsSent) {
    session.reachable = true;
    enqueueThree();
    exec.runUntilIdle();

    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
    EXPECT_FALSE(session.liveMessages.empty());
    EXPECT_THAT(syncIds(session.liveMessages), Each(Eq("sync-1")));
    EXPECT_EQ(session.liveMessagesWithReplyHandler, 0);
    EXPECT_EQ(flags(), (Flags{true, false, false}));
}

TEST_F(OutboxTest, AfterTheHeadIsAcknowledgedTheNextGoesOutAsTransferAndLiveMessage) {
    session.reachable = true;
    enqueueThree();
    const auto second = outbox->pendingMessages()[1];
    forgetSent();

    outbox->handleAck("sync-1", "Success");
    exec.runUntilIdle();

    EXPECT_EQ(pendingIds(), (Ids{"sync-2", "sync-3"}));
    EXPECT_EQ(session.transfers, std::vector<Dictionary>{decoded(second.payload)});
    EXPECT_EQ(session.liveMessages, std::vector<Dictionary>{decoded(second.payload)});
    EXPECT_EQ(stored(), outbox->pendingMessages());
}

class AckStatusTest : public OutboxTest,
                      public ::testing::WithParamInterface<std::optional<std::string>> {};

TEST_P(AckStatusTest, AnyAcknowledgementButRetryRemovesTheMessage) {
    enqueueThree();
    forgetSent();

    outbox->handleAck("sync-1", GetParam());
    exec.runUntilIdle();

    EXPECT_EQ(pendingIds(), (Ids{"sync-2", "sync-3"}));
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-2"}));
}

INSTANTIATE_TEST_SUITE_P(Statuses, AckStatusTest,
                         ::testing::Values(std::nullopt, "Success", "sUcCeSs", "SUCCESS", "Failed",
                                           "", "Retry later", "Retr"));

TEST_F(OutboxTest, AnAcknowledgementForAMessageBehindTheHeadRemovesOnlyThatOne) {
    session.reachable = true;
    enqueueThree();
    forgetSent();

    outbox->handleAck("sync-2", "Success");
    exec.runUntilIdle();

    EXPECT_EQ(pendingIds(), (Ids{"sync-1", "sync-3"}));
    EXPECT_EQ(flags(), (Flags{true, false}));
    EXPECT_TRUE(session.transfers.empty());
    EXPECT_EQ(stored(), outbox->pendingMessages());
    EXPECT_THAT(syncIds(session.liveMessages), Each(Eq("sync-1")));
}

TEST_F(OutboxTest, AnAcknowledgementForAnUnknownIdChangesNothing) {
    session.reachable = true;
    enqueueThree();
    const auto before = outbox->pendingMessages();
    const auto storedBefore = storedText();
    forgetSent();

    outbox->handleAck("sync-9", "Success");
    outbox->handleAck("sync-9", "Retry");
    exec.advanceBy(10s);

    EXPECT_EQ(outbox->pendingMessages(), before);
    EXPECT_EQ(storedText(), storedBefore);
    EXPECT_TRUE(session.transfers.empty());
    EXPECT_TRUE(session.liveMessages.empty());
}

// --- retries -----------------------------------------------------------------------------------

TEST_F(OutboxTest, RetryKeepsTheMessageAndSendsItAgainAfterFiveSeconds) {
    session.reachable = true;
    enqueueThree();
    forgetSent();

    outbox->handleAck("sync-1", "rEtRy");
    exec.runUntilIdle();
    EXPECT_EQ(pendingIds(), (Ids{"sync-1", "sync-2", "sync-3"}));
    EXPECT_EQ(flags(), (Flags{false, false, false}));
    EXPECT_EQ(stored(), outbox->pendingMessages());

    exec.advanceBy(4999ms);
    EXPECT_TRUE(session.transfers.empty());
    EXPECT_TRUE(session.liveMessages.empty());

    exec.advanceBy(1ms);
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
    EXPECT_EQ(syncIds(session.liveMessages), (Ids{"sync-1"}));
    EXPECT_EQ(flags(), (Flags{true, false, false}));
}

TEST_F(OutboxTest, RetryDoesNothingWhenTheHeadWentOutMeanwhile) {
    session.reachable = true;
    enqueueThree();
    outbox->handleAck("sync-1", "Retry");
    forgetSent();

    outbox->flush();
    exec.runUntilIdle();
    ASSERT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
    ASSERT_EQ(syncIds(session.liveMessages), (Ids{"sync-1"}));

    exec.advanceBy(5s);
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
    EXPECT_EQ(syncIds(session.liveMessages), (Ids{"sync-1"}));
}

TEST_F(OutboxTest, RetryDoesNothingForAMessageThatIsNotTheHead) {
    enqueueThree();
    forgetSent();

    outbox->handleAck("sync-2", "Retry");
    exec.advanceBy(1s);
    outbox->handleAck("sync-1", "Retry");
    exec.runUntilIdle();
    ASSERT_EQ(flags(), (Flags{false, false, false}));

    // The retry for sync-2 is due: the head is idle, but it is not the message that asked.
    exec.advanceBy(4s);
    EXPECT_TRUE(session.transfers.empty());

    exec.advanceBy(1s);
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
}

TEST_F(OutboxTest, DestroyingTheOutboxDropsItsScheduledRetries) {
    enqueueThree();
    outbox->handleAck("sync-1", "Retry");
    forgetSent();

    outbox.reset();
    EXPECT_EQ(exec.advanceBy(10s), 0u);
    EXPECT_TRUE(session.transfers.empty());
}

// --- background transfers ----------------------------------------------------------------------

TEST_F(OutboxTest, ATransferFinishingWithoutErrorKeepsTheMessageUntilAcknowledged) {
    enqueueThree();
    const Dictionary transferred = session.transfers.at(0);
    forgetSent();

    outbox->handleTransferFinished(transferred, false);
    exec.advanceBy(10s);

    EXPECT_EQ(pendingIds(), (Ids{"sync-1", "sync-2", "sync-3"}));
    EXPECT_EQ(flags(), (Flags{true, false, false}));
    EXPECT_TRUE(session.transfers.empty());
}

TEST_F(OutboxTest, AFailedTransferClearsTheFlagAndIsRetriedAfterFiveSeconds) {
    enqueueThree();
    const Dictionary transferred = session.transfers.at(0);
    forgetSent();

    outbox->handleTransferFinished(transferred, true);
    exec.runUntilIdle();
    EXPECT_EQ(flags(), (Flags{false, false, false}));
    EXPECT_EQ(stored(), outbox->pendingMessages());

    exec.advanceBy(4999ms);
    EXPECT_TRUE(session.transfers.empty());
    exec.advanceBy(1ms);
    EXPECT_EQ(session.transfers, std::vector<Dictionary>{transferred});
    EXPECT_EQ(flags(), (Flags{true, false, false}));
}

TEST_F(OutboxTest, FailedTransfersWithoutAPendingSyncIdAreIgnored) {
    enqueueThree();
    const Dictionary first = session.transfers.at(0);
    outbox->handleAck("sync-1", "Success");
    forgetSent();
    ASSERT_EQ(flags(), (Flags{true, false}));

    outbox->handleTransferFinished(first, true);
    outbox->handleTransferFinished(message("log_set"), true);
    outbox->handleTransferFinished(Dictionary{{"syncId", 2}}, true);
    exec.advanceBy(10s);

    EXPECT_EQ(flags(), (Flags{true, false}));
    EXPECT_TRUE(session.transfers.empty());
}

// --- session state -----------------------------------------------------------------------------

TEST_F(OutboxTest, NothingIsSentUntilTheSessionIsActivated) {
    session.state = ActivationState::notActivated;
    session.reachable = true;
    enqueueThree();
    session.state = ActivationState::inactive;
    outbox->flush();
    exec.advanceBy(10s);
    EXPECT_TRUE(session.transfers.empty());
    EXPECT_TRUE(session.liveMessages.empty());
    EXPECT_EQ(flags(), (Flags{false, false, false}));

    session.state = ActivationState::activated;
    exec.advanceBy(10s);
    EXPECT_TRUE(session.transfers.empty());

    outbox->reconcileOutstandingTransfers();
    exec.runUntilIdle();
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
    EXPECT_EQ(syncIds(session.liveMessages), (Ids{"sync-1"}));
}

TEST_F(OutboxTest, AFlushAfterActivationSendsTheHead) {
    session.state = ActivationState::notActivated;
    enqueueThree();
    session.state = ActivationState::activated;

    outbox->flush();
    exec.runUntilIdle();

    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
    EXPECT_TRUE(session.liveMessages.empty());
}

TEST_F(OutboxTest, WhenThePhoneBecomesReachableTheHeadGoesLiveWithoutASecondTransfer) {
    enqueueThree();
    ASSERT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
    ASSERT_TRUE(session.liveMessages.empty());

    session.reachable = true;
    outbox->flush();
    exec.runUntilIdle();

    EXPECT_EQ(syncIds(session.liveMessages), (Ids{"sync-1"}));
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-1"}));
}

// --- restarts ----------------------------------------------------------------------------------

TEST_F(OutboxTest, TheQueueSurvivesARestartByteForByte) {
    session.state = ActivationState::notActivated;
    // Consecutive sizes, so that every Base64 padding length is read back.
    std::set<std::size_t> sizeResidues;
    for (std::size_t length = 0; length < 6; ++length) {
        outbox->enqueue(message("note", Dictionary{{"text", std::string(length, 'x')}}));
        sizeResidues.insert(outbox->pendingMessages().back().payload.size() % 3);
    }
    ASSERT_EQ(sizeResidues, (std::set<std::size_t>{0, 1, 2}));
    const auto before = outbox->pendingMessages();

    restart();

    EXPECT_EQ(outbox->pendingMessages(), before);
    EXPECT_TRUE(session.transfers.empty());
}

TEST_F(OutboxTest, ARestartWithoutOutstandingTransfersClearsEveryFlagAndTransfersTheHeadAgain) {
    const auto first = withSyncId(message("log_set"), "sync-1");
    store(nlohmann::json::array({storedElement("sync-1", plist(first), true),
                                 storedElement("sync-2", plist(message("log_set")), true),
                                 storedElement("sync-3", plist(message("log_set")), true)})
              .dump());
    restart();
    ASSERT_EQ(flags(), (Flags{true, true, true}));

    outbox->reconcileOutstandingTransfers();
    exec.runUntilIdle();

    EXPECT_EQ(session.transfers, std::vector<Dictionary>{first});
    EXPECT_EQ(flags(), (Flags{true, false, false}));
    EXPECT_EQ(stored(), outbox->pendingMessages());
}

TEST_F(OutboxTest, ARestartWithTheHeadTransferStillOutstandingDoesNotTransferItAgain) {
    session.reachable = true;
    enqueueThree();
    const auto headTransfer = session.transfers.at(0);

    restart();
    session.outstanding = {
        {"transfer-1", headTransfer},
        {"transfer-2", withSyncId(message("log_set"), "sync-3")},
        {"transfer-3", message("log_set")},
    };
    outbox->reconcileOutstandingTransfers();
    exec.runUntilIdle();

    EXPECT_TRUE(session.transfers.empty());
    EXPECT_EQ(flags(), (Flags{true, false, true}));
    EXPECT_EQ(syncIds(session.liveMessages), (Ids{"sync-1"}));
}

// --- stored form -------------------------------------------------------------------------------

TEST_F(OutboxTest, TheStoredFormIsAJsonArrayOfIdBase64PayloadAndFlag) {
    const Dictionary sent = message("log_set", Dictionary{{"setId", "s1"}});
    ASSERT_EQ(outbox->enqueue(sent, "sync-1"), "sync-1");

    EXPECT_EQ(storedText(), R"([{"id":"sync-1","payload":")" +
                                base64(plist(withSyncId(sent, "sync-1"))) +
                                R"(","queuedForTransfer":true}])");
}

class DamagedStoreTest : public OutboxTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(DamagedStoreTest, StartsEmptyWithoutComplaintAndOverwritesIt) {
    session.reachable = true;
    store(GetParam());
    restart();

    EXPECT_TRUE(outbox->pendingMessages().empty());
    outbox->reconcileOutstandingTransfers();
    exec.runUntilIdle();
    EXPECT_TRUE(session.transfers.empty());
    EXPECT_TRUE(log.lines().empty());

    ASSERT_EQ(outbox->enqueue(message("log_set"), "sync-new"), "sync-new");
    const auto now = stored();
    ASSERT_TRUE(now);
    EXPECT_EQ(now->size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, DamagedStoreTest,
    ::testing::Values(
        // A complete element next to one without its flag.
        nlohmann::json::array({storedElement("sync-1", plist(message("log_set")), false),
                               {{"id", "sync-2"}, {"payload", base64(plist(message("a")))}}})
            .dump(),
        R"([{"id":"sync-1","payload":"AAEC","queuedForTransfer":false},)", "not json at all"));

TEST_F(OutboxTest, AHeadThatDoesNotDecodeIsDroppedAndTheNextIsSent) {
    const auto good = withSyncId(message("log_set"), "sync-3");
    store(nlohmann::json::array(
              {storedElement("not-plist", Data{0, 1, 2}, false),
               storedElement("not-dictionary", plist(Array{Value("log_set")}), false),
               storedElement("sync-3", plist(good), false)})
              .dump());
    restart();
    ASSERT_EQ(pendingIds(), (Ids{"not-plist", "not-dictionary", "sync-3"}));

    outbox->flush();
    exec.runUntilIdle();

    EXPECT_EQ(pendingIds(), (Ids{"sync-3"}));
    EXPECT_EQ(session.transfers, std::vector<Dictionary>{good});
    EXPECT_EQ(stored(), outbox->pendingMessages());
}

// --- queries -----------------------------------------------------------------------------------

TEST_F(OutboxTest, APendingStartIsFoundByWorkoutIdOrIdUntilAcknowledged) {
    session.state = ActivationState::notActivated;
    const auto byWorkoutId =
        outbox->enqueue(message("start_workout", Dictionary{{"workoutId", "w1"}}));
    outbox->enqueue(message("start_workout", Dictionary{{"id", "w2"}}));
    outbox->enqueue(message("start_workout", Dictionary{{"workoutId", 3}}));
    outbox->enqueue(message("complete_workout", Dictionary{{"workoutId", "w4"}}));
    outbox->enqueue(Dictionary{{"type", "start_workout"}, {"workoutId", "w5"}});
    outbox->enqueue(Dictionary{{"type", "start_workout"}, {"payload", "w6"}});
    outbox->enqueue(Dictionary{{"type", 7}, {"payload", Dictionary{{"workoutId", "w7"}}}});

    EXPECT_TRUE(outbox->hasPendingStartWorkout("w1"));
    EXPECT_TRUE(outbox->hasPendingStartWorkout("w2"));
    EXPECT_FALSE(outbox->hasPendingStartWorkout("3"));
    EXPECT_FALSE(outbox->hasPendingStartWorkout("w4"));
    EXPECT_FALSE(outbox->hasPendingStartWorkout("w5"));
    EXPECT_FALSE(outbox->hasPendingStartWorkout("w6"));
    EXPECT_FALSE(outbox->hasPendingStartWorkout("w7"));
    EXPECT_FALSE(outbox->hasPendingStartWorkout("w"));

    ASSERT_TRUE(byWorkoutId);
    outbox->handleAck(*byWorkoutId, std::nullopt);
    EXPECT_FALSE(outbox->hasPendingStartWorkout("w1"));
}

TEST_F(OutboxTest, APendingEndIsACompletionOrCancellationByWorkoutIdOrId) {
    session.state = ActivationState::notActivated;
    outbox->enqueue(message("complete_workout", Dictionary{{"workoutId", "w1"}}));
    outbox->enqueue(message("cancel_workout", Dictionary{{"id", "w2"}}));
    outbox->enqueue(message("start_workout", Dictionary{{"workoutId", "w3"}}));
    outbox->enqueue(message("log_set", Dictionary{{"workoutId", "w4"}}));
    outbox->enqueue(message("cancel_workout", Dictionary{{"workoutId", Data{'w', '5'}}}));

    EXPECT_TRUE(outbox->hasPendingWorkoutEnd("w1"));
    EXPECT_TRUE(outbox->hasPendingWorkoutEnd("w2"));
    EXPECT_FALSE(outbox->hasPendingWorkoutEnd("w3"));
    EXPECT_FALSE(outbox->hasPendingWorkoutEnd("w4"));
    EXPECT_FALSE(outbox->hasPendingWorkoutEnd("w5"));
}

TEST_F(OutboxTest, APendingTimerEventIsAnyMessageNamingTheTimerInItsPayload) {
    session.state = ActivationState::notActivated;
    outbox->enqueue(message("timer_started", Dictionary{{"timerId", "t1"}}));
    outbox->enqueue(message("log_set", Dictionary{{"sourceTimerId", "t2"}}));
    outbox->enqueue(message("timer_stopped", Dictionary{{"timerId", 3}}));
    outbox->enqueue(Dictionary{{"type", "timer_stopped"}, {"timerId", "t4"}});

    EXPECT_TRUE(outbox->hasPendingTimerEvent("t1"));
    EXPECT_TRUE(outbox->hasPendingTimerEvent("t2"));
    EXPECT_FALSE(outbox->hasPendingTimerEvent("3"));
    EXPECT_FALSE(outbox->hasPendingTimerEvent("t4"));
    EXPECT_FALSE(outbox->hasPendingTimerEvent("t5"));
}

TEST_F(OutboxTest, QueriesPassOverMessagesThatDoNotDecode) {
    store(nlohmann::json::array(
              {storedElement("broken", Data{0, 1, 2}, false),
               storedElement("sync-2",
                             plist(message("start_workout",
                                           Dictionary{{"workoutId", "w1"}, {"timerId", "t1"}})),
                             false)})
              .dump());
    session.state = ActivationState::notActivated;
    restart();

    EXPECT_TRUE(outbox->hasPendingStartWorkout("w1"));
    EXPECT_TRUE(outbox->hasPendingTimerEvent("t1"));
    EXPECT_FALSE(outbox->hasPendingWorkoutEnd("w1"));
}

// --- queues ------------------------------------------------------------------------------------

TEST_F(OutboxTest, EnqueueFromAMainQueueTaskWhileADeliveryEventIsQueuedRunsBoth) {
    session.reachable = true;
    enqueueThree();
    forgetSent();

    outbox->handleAck("sync-1", std::nullopt);
    std::optional<std::string> enqueued;
    exec.main().async([&] { enqueued = outbox->enqueue(message("log_set"), "sync-4"); });
    exec.runUntilIdle();

    EXPECT_EQ(enqueued, "sync-4");
    EXPECT_EQ(pendingIds(), (Ids{"sync-2", "sync-3", "sync-4"}));
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-2"}));
}

TEST_F(OutboxTest, EnqueueWaitsForTheDeliveryEventsQueuedBeforeIt) {
    enqueueThree();
    forgetSent();

    outbox->handleAck("sync-1", std::nullopt);
    ASSERT_EQ(exec.pendingCount(), 1u);
    EXPECT_EQ(outbox->enqueue(message("log_set"), "sync-4"), "sync-4");

    // Without driving the executor: the acknowledgement ran first, inside enqueue's wait.
    EXPECT_EQ(exec.pendingCount(), 0u);
    EXPECT_EQ(syncIds(session.transfers), (Ids{"sync-2"}));
}

// Remembers the labels of the queues it hands out.
class LabelRecordingExecutor final : public platform::Executor {
public:
    explicit LabelRecordingExecutor(platform::Executor& inner) : inner_(inner) {}
    platform::Queue& main() override { return inner_.main(); }
    std::unique_ptr<platform::Queue> makeSerialQueue(std::string label) override {
        labels.push_back(label);
        return inner_.makeSerialQueue(std::move(label));
    }
    const platform::Clock& clock() const override { return inner_.clock(); }

    std::vector<std::string> labels;

private:
    platform::Executor& inner_;
};

TEST_F(OutboxTest, StateLivesOnOnePrivateQueueNamedAfterTheOutbox) {
    LabelRecordingExecutor recording(exec);
    WatchSyncOutbox other(recording, session, defaults, log);
    EXPECT_EQ(recording.labels, (Ids{"dev.wristside.watch-sync.outbox"}));
}

} // namespace
