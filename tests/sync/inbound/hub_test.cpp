// How the hub routes and answers what the phone sends, and its part as the session's delegate.
#include "platform/values/json.hpp"
#include "support/watch_core_fixture.hpp"

#include <rapidcheck/gtest.h>

namespace {

using Hub = testsupport::WatchCoreTest;
using platform::Dictionary;
using platform::Value;

TEST_F(Hub, AnAcknowledgementWinsOverACommandAndACommandOverAnOrdinaryMessage) {
    const Dictionary success{{"status", "Success"}};
    auto with = [&](Dictionary extra) {
        extra.insert(success.begin(), success.end());
        return extra;
    };
    const std::vector<std::pair<Dictionary, Dictionary>> cases{
        {{{"syncAck", "abc"}, {"commandId", "c1"}}, with({{"syncAck", "abc"}})},
        {{{"syncAck", 7}, {"commandId", "c1"}}, with({{"commandAck", "c1"}})},
        {{{"commandId", "c9"}, {"commandSequence", 3}}, with({{"commandAck", "c9"}})},
        {{{"commandId", 9}}, success},
        {{{"syncAck", true}}, success},
        {{}, success},
    };
    for (const auto& [message, reply] : cases) {
        EXPECT_EQ(dispatch(message), reply) << platform::toJsonText(Value(message));
    }
    auto id = core->outbox().enqueue(testsupport::message("add_set"));
    dispatch({{"syncAck", *id}, {"status", "success"}});
    EXPECT_TRUE(core->outbox().pendingMessages().empty());
}

TEST_F(Hub, WhatArrivesOnAnotherQueueIsHandledOnMainInArrivalOrderWhileTheHubLives) {
    auto sessionQueue = executor.makeSerialQueue("session");
    std::vector<Dictionary> replies;
    auto reply = [&](Dictionary answer) {
        EXPECT_TRUE(executor.main().isCurrent());
        replies.push_back(std::move(answer));
    };
    sessionQueue->async([&] {
        data().dispatchInbound({{"syncAck", "first"}}, reply);
        data().dispatchInbound({{"commandId", "second"}}, reply);
        EXPECT_TRUE(replies.empty());
    });
    executor.runUntilIdle();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].at("syncAck"), Value("first"));
    EXPECT_EQ(replies[1].at("commandAck"), Value("second"));

    sessionQueue->async([&] { data().dispatchInbound({{"commandId", "c1"}}, reply); });
    executor.runNext(); // the hop to main is now queued
    core.reset();
    executor.runUntilIdle();
    EXPECT_EQ(replies.size(), 2u);
}

RC_GTEST_PROP(HubReplies, EveryMessageWithAReplyFunctionGetsExactlyOne, ()) {
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    platform::MemoryFileSystem files;
    testsupport::FakeSession session{executor.main()};
    watchsync::WatchSyncOutbox outbox(executor, session, defaults, log);
    watchsync::WatchDataSource data({executor, defaults, files, &session, outbox, log});
    auto routing = rc::gen::container<std::vector<std::pair<std::string, Value>>>(rc::gen::pair(
        rc::gen::element<std::string>("syncAck", "status", "commandId", "commandSequence",
                                      "syncRevision", "syncSnapshotKind", "workout", "error"),
        rc::gen::element(Value("x"), Value(1), Value(true), Value(Dictionary{}), Value("delta"))));
    const auto count = *rc::gen::inRange(1, 20);
    std::vector<int> replies(static_cast<std::size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        Dictionary message;
        for (auto& [key, value] : *routing) {
            message.insert_or_assign(key, value);
        }
        data.dispatchInbound(message, [&replies, i](Dictionary) { ++replies[std::size_t(i)]; });
    }
    executor.runUntilIdle();
    RC_ASSERT(std::count(replies.begin(), replies.end(), 1) == count);
}

} // namespace
