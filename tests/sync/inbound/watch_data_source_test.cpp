#include "sync/inbound/watch_data_source.hpp"

#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "support/fake_session.hpp"
#include "sync/inbound/hub_fixture.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

using hubtest::Hub;
using hubtest::Replies;
using platform::Dictionary;
using platform::Value;
using watchsync::WatchDataSource;

namespace {

Dictionary success() {
    return Dictionary{{"status", Value("Success")}};
}

} // namespace

TEST_F(Hub, AcknowledgementIsAnsweredWhateverTheOutboxKnows) {
    EXPECT_EQ(dispatch({{"syncAck", Value("abc")}}),
              (Dictionary{{"status", Value("Success")}, {"syncAck", Value("abc")}}));
}

TEST_F(Hub, AcknowledgementRemovesTheAcknowledgedMessage) {
    auto id = outbox->enqueue(Dictionary{{"type", Value("add_set")}});
    ASSERT_TRUE(id);
    dispatch({{"syncAck", Value(*id)}, {"status", Value("success")}});
    EXPECT_TRUE(outbox->pendingMessages().empty());
}

TEST_F(Hub, AcknowledgementWinsOverACommandInTheSameDictionary) {
    EXPECT_EQ(dispatch({{"syncAck", Value("abc")}, {"commandId", Value("c1")}}),
              (Dictionary{{"status", Value("Success")}, {"syncAck", Value("abc")}}));
}

TEST_F(Hub, AcknowledgementThatIsNotTextLeavesTheRestToBeRouted) {
    EXPECT_EQ(dispatch({{"syncAck", Value(7)}, {"commandId", Value("c1")}}),
              (Dictionary{{"status", Value("Success")}, {"commandAck", Value("c1")}}));
    EXPECT_EQ(dispatch({{"syncAck", Value(true)}}), success());
}

TEST_F(Hub, CommandIsAcknowledgedByItsId) {
    EXPECT_EQ(dispatch({{"commandId", Value("c9")}, {"commandSequence", Value(3)}}),
              (Dictionary{{"status", Value("Success")}, {"commandAck", Value("c9")}}));
    // A command id that is not text makes it an ordinary message.
    EXPECT_EQ(dispatch({{"commandId", Value(9)}}), success());
}

TEST_F(Hub, OrdinaryMessagesAreAppliedAndAnsweredSuccess) {
    EXPECT_EQ(dispatch({}), success());
    EXPECT_EQ(dispatch({{"syncRevision", Value("4")}, {"syncSnapshotKind", Value("delta")}}),
              success());
}

TEST_F(Hub, MessagesWithoutReplyFunctionGetNone) {
    data->dispatchInbound({{"syncAck", Value("abc")}}, std::nullopt);
    data->dispatchInbound({{"commandId", Value("c1")}}, std::nullopt);
    EXPECT_NO_FATAL_FAILURE(executor.runUntilIdle());
}

TEST_F(Hub, DictionaryFromAnotherQueueHopsToMainInArrivalOrder) {
    auto sessionQueue = executor.makeSerialQueue("session");
    Replies replies;
    std::vector<bool> repliedOnMain;
    auto reply = [&](Dictionary answer) {
        repliedOnMain.push_back(executor.main().isCurrent());
        replies.received.push_back(std::move(answer));
    };
    sessionQueue->async([&] {
        data->dispatchInbound({{"syncAck", Value("first")}}, reply);
        data->dispatchInbound({{"commandId", Value("second")}}, reply);
        // Nothing is handled on the session's queue itself.
        EXPECT_TRUE(replies.received.empty());
    });
    executor.runUntilIdle();
    ASSERT_EQ(replies.received.size(), 2u);
    EXPECT_EQ(replies.received[0].at("syncAck"), Value("first"));
    EXPECT_EQ(replies.received[1].at("commandAck"), Value("second"));
    EXPECT_EQ(repliedOnMain, (std::vector<bool>{true, true}));
}

TEST_F(Hub, ActivationWithAnEmptyContextOnlyAsksForFreshData) {
    data->activationDidComplete(platform::ActivationState::activated, std::nullopt);
    executor.runUntilIdle();
    EXPECT_EQ(queuedTypes(), (std::vector<std::string>{"refresh_data"}));
}

TEST_F(Hub, ActivationReconcilesTransfersSoTheHeadIsSentAgain) {
    session.state = platform::ActivationState::notActivated;
    outbox->enqueue(Dictionary{{"type", Value("add_set")}});
    executor.runUntilIdle();
    ASSERT_TRUE(session.transfers.empty());
    session.state = platform::ActivationState::activated;
    data->activationDidComplete(platform::ActivationState::activated, std::nullopt);
    executor.runUntilIdle();
    ASSERT_EQ(session.transfers.size(), 1u);
    EXPECT_EQ(session.transfers[0].at("type"), Value("add_set"));
}

TEST_F(Hub, FailedActivationIsLoggedAndQueuesNothing) {
    data->activationDidComplete(
        platform::ActivationState::notActivated,
        platform::SessionError{platform::SessionError::Code::notActivated, "no paired phone"});
    executor.runUntilIdle();
    EXPECT_TRUE(log.contains("Unable to activate WatchConnectivity: no paired phone"));
    EXPECT_TRUE(outbox->pendingMessages().empty());
}

TEST_F(Hub, ContextLeftByThePhoneIsDispatchedAtActivationWithoutTheCatalogueCheck) {
    session.receivedContext = {{"referenceExercisesRevision", Value(3)}};
    data->activationDidComplete(platform::ActivationState::activated, std::nullopt);
    executor.runUntilIdle();
    // Only activation's own request: the catalogue check belongs to a delivered context.
    EXPECT_EQ(queuedTypes(), (std::vector<std::string>{"refresh_data"}));
}

TEST_F(Hub, DeliveredContextWithANewerCatalogueAsksForFreshData) {
    session.state = platform::ActivationState::notActivated; // keep the queue still
    data->didReceiveApplicationContext({{"referenceExercisesRevision", Value("3")}});
    executor.runUntilIdle();
    EXPECT_EQ(queuedTypes(), (std::vector<std::string>{"refresh_data"}));
}

TEST_F(Hub, DeliveredContextWithTheCatalogueOnFileAsksForNothing) {
    session.state = platform::ActivationState::notActivated;
    data->persistedReferenceExercisesRevision = 3;
    data->didReceiveApplicationContext({{"referenceExercisesRevision", Value(3)}});
    data->didReceiveApplicationContext({{"other", Value(1)}});
    executor.runUntilIdle();
    EXPECT_TRUE(queuedTypes().empty());
}

TEST_F(Hub, ReachablePhoneGetsTheHeadLive) {
    outbox->enqueue(Dictionary{{"type", Value("add_set")}});
    executor.runUntilIdle();
    ASSERT_TRUE(session.liveMessages.empty());
    session.reachable = true;
    data->reachabilityDidChange(true);
    executor.runUntilIdle();
    ASSERT_EQ(session.liveMessages.size(), 1u);
    EXPECT_EQ(session.liveMessages[0].at("type"), Value("add_set"));
}

TEST_F(Hub, FailedTransferIsTriedAgainFiveSecondsLater) {
    auto id = outbox->enqueue(Dictionary{{"type", Value("add_set")}});
    executor.runUntilIdle();
    ASSERT_EQ(session.transfers.size(), 1u);
    data->didFinishUserInfoTransfer(
        platform::UserInfoTransfer{"t1", session.transfers[0]},
        platform::SessionError{platform::SessionError::Code::transferFailed, "gone"});
    executor.advanceBy(std::chrono::milliseconds(4999));
    EXPECT_EQ(session.transfers.size(), 1u);
    executor.advanceBy(std::chrono::milliseconds(1));
    EXPECT_EQ(session.transfers.size(), 2u);
    EXPECT_EQ(session.transfers[1].at("syncId"), Value(*id));
}

TEST_F(Hub, ReadsTheLastCommandSequenceAtConstruction) {
    EXPECT_EQ(data->lastPhoneCommandSequence, 0);
    defaults.setDouble(WatchDataSource::lastPhoneCommandSequenceKey, 41);
    data.reset();
    start();
    EXPECT_EQ(data->lastPhoneCommandSequence, 41);
    EXPECT_EQ(data->workoutStatus.get(), "NOT_STARTED_DEFAULT");
}

TEST_F(Hub, HubBecomesTheSessionsDelegateAndActivatesIt) {
    EXPECT_EQ(session.delegate, data.operator->());
    EXPECT_EQ(session.activations, 1);
    data.reset();
    EXPECT_EQ(session.delegate, nullptr);
}

RC_GTEST_PROP(HubReplies, EveryMessageWithAReplyFunctionGetsExactlyOne, ()) {
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    testsupport::FakeSession session{executor.main()};
    watchsync::WatchSyncOutbox outbox(executor, session, defaults, log);
    platform::MemoryFileSystem files;
    WatchDataSource data(
        WatchDataSource::Services{executor, defaults, files, &session, outbox, log});

    auto routing = rc::gen::container<std::vector<std::pair<std::string, Value>>>(rc::gen::pair(
        rc::gen::element<std::string>("syncAck", "status", "commandId", "commandSequence",
                                      "syncRevision", "syncSnapshotKind", "workout", "error"),
        rc::gen::element(Value("x"), Value(1), Value(true), Value(Dictionary{}), Value("delta"))));
    auto count = *rc::gen::inRange(1, 20);
    std::vector<int> replies(static_cast<std::size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        Dictionary message;
        for (auto& [key, value] : *routing) {
            message.insert_or_assign(key, value);
        }
        data.dispatchInbound(message,
                             [&replies, i](Dictionary) { ++replies[static_cast<std::size_t>(i)]; });
    }
    executor.runUntilIdle();
    for (int n : replies) {
        RC_ASSERT(n == 1);
    }
}

TEST_F(Hub, DictionaryStillOnItsWayWhenTheHubGoesIsDropped) {
    auto sessionQueue = executor.makeSerialQueue("session");
    Replies replies;
    sessionQueue->async([&] {
        data->dispatchInbound({{"commandId", Value("c1")}}, replies.function());
    });
    executor.runNext(); // the session's callback: the hop to main is now queued
    data.reset();
    executor.runUntilIdle();
    EXPECT_TRUE(replies.received.empty());
}
