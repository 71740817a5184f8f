// The session engine's promises, each played against a watch engine on a scripted wire. The
// seeded simulations of tests/sim run two engines over a faulty link.
#include "link_harness.hpp"

#include "platform/values/bplist.hpp"

#include <gtest/gtest.h>

using namespace linktest;
using Code = platform::SessionError::Code;

namespace {

// A dictionary whose binary property-list encoding is exactly `size` bytes.
Dictionary payloadOfEncodedSize(std::size_t size) {
    Dictionary d{{"b", Data(size - 64, 0xAB)}};
    auto encoded = platform::encodeBinaryPlist(d)->size();
    d["b"] = Data(size - 64 + size - encoded, 0xAB);
    EXPECT_EQ(platform::encodeBinaryPlist(d)->size(), size);
    return d;
}

// Each id is stored before its delivery, so that not even a crash during it can repeat it.
TEST(UserInfoTransferTest, TheReceiverStoresAThousandDeliveredIdsEachBeforeItsDelivery) {
    ScriptedWatch watch;
    testsupport::SnapshotStore::Content atCrash;
    watch.delegate.onUserInfo = [&] {
        if (watch.delegate.userInfos.size() == 1) {
            atCrash = watch.store.content();
        }
    };
    watch.connect();
    for (int i = 0; i < 1000; ++i) {
        watch.receive(userInfoFrame("id-" + std::to_string(i), numbered(i)));
    }
    watch.receive(userInfoFrame("id-0", numbered(0)));
    EXPECT_EQ(watch.delegate.userInfos.size(), 1000u);
    EXPECT_EQ(watch.wire->sentOfKind("received").size(), 1001u);

    watch.start();
    watch.connect();
    watch.receive(userInfoFrame("id-0", numbered(0)));
    watch.receive(userInfoFrame("id-999", numbered(999)));
    EXPECT_EQ(watch.delegate.userInfos.size(), 1000u);
    EXPECT_EQ(watch.wire->sentOfKind("received").size(), 2u);

    watch.store.restore(atCrash);
    watch.start();
    watch.connect();
    watch.receive(userInfoFrame("id-0", numbered(0)));
    EXPECT_EQ(watch.delegate.userInfos.size(), 1000u);
    EXPECT_EQ(watch.delegate.callbacksOnMain, 0);
}

// What the watch queued or received outlives a restart; each transfer finishes once, on the first
// answer of the phone; a message hears back once, by reply or by the loss of its connection.
TEST(SessionStateTest, QueuedTransfersAndTheContextOutliveARestartAndEachHandlerIsCalledOnce) {
    ScriptedWatch watch;
    const auto first = watch.engine->transferUserInfo(numbered(1));
    const auto second = watch.engine->transferUserInfo(numbered(2));
    watch.start();
    ASSERT_EQ(watch.engine->outstandingUserInfoTransfers().size(), 2u);
    watch.connect();
    watch.receive({{"kind", "context"}, {"body", numbered(7)}});
    const auto sent = watch.wire->sentOfKind("userInfo");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], userInfoFrame(second.transferId, numbered(2)));
    for (const auto& id : {first.transferId, first.transferId, second.transferId}) {
        watch.receive({{"kind", "received"}, {"id", id}});
    }
    EXPECT_EQ(watch.delegate.finishedUserInfos,
              (std::vector<Finished>{{first.transferId, std::nullopt},
                                     {second.transferId, std::nullopt}}));
    EXPECT_TRUE(watch.engine->outstandingUserInfoTransfers().empty());

    watch.delegate.onMessage = [](const Dictionary&, std::optional<ReplyHandler> reply) {
        (*reply)(numbered(1));
        (*reply)(numbered(2));
    };
    watch.receive(
        {{"kind", "message"}, {"id", "m1"}, {"body", numbered(0)}, {"replyExpected", true}});
    const Dictionary reply{{"kind", "reply"}, {"id", "m1"}, {"body", numbered(1)}};
    EXPECT_EQ(watch.wire->sentOfKind("reply"), std::vector<Dictionary>{reply});
    std::vector<Code> errors;
    watch.engine->sendMessage(numbered(3), ReplyHandler([](Dictionary) { FAIL(); }),
                              [&](SessionError e) { errors.push_back(e.code); });
    watch.exec.runUntilIdle();
    watch.wire->events.disconnected("gone");
    watch.exec.runUntilIdle();
    EXPECT_EQ(errors, std::vector<Code>{Code::connectionLost});

    watch.start();
    EXPECT_EQ(watch.engine->receivedApplicationContext(), numbered(7));
    EXPECT_EQ(watch.delegate.contexts, std::vector<Dictionary>{numbered(7)});
}

TEST(PayloadLimitsTest, WhatTheWatchSendsIsMeasuredByItsEncodingAndRefusedPastTheLimit) {
    ScriptedWatch watch;
    watch.connect();
    auto& engine = *watch.engine;
    const SessionError tooLarge{Code::payloadTooLarge, "payload too large"};
    const SessionError unsupported{Code::payloadUnsupportedTypes, "payload unsupported types"};
    const Dictionary notAPlist{{"when", platform::Null{}}};
    std::vector<Code> errors;
    for (const auto& m : {payloadOfEncodedSize(65'536), payloadOfEncodedSize(65'537), notAPlist}) {
        engine.sendMessage(m, std::nullopt, [&](SessionError e) { errors.push_back(e.code); });
    }
    const auto tooBig = engine.transferUserInfo(payloadOfEncodedSize(65'537));
    const auto bad = engine.transferUserInfo(notAPlist);
    engine.transferUserInfo(payloadOfEncodedSize(65'536));
    EXPECT_EQ(engine.updateApplicationContext(payloadOfEncodedSize(262'145)), tooLarge);
    EXPECT_EQ(engine.updateApplicationContext(notAPlist), unsupported);
    EXPECT_EQ(engine.updateApplicationContext(payloadOfEncodedSize(262'144)), std::nullopt);
    watch.exec.runUntilIdle();

    EXPECT_EQ(errors, (std::vector<Code>{tooLarge.code, unsupported.code}));
    EXPECT_EQ(
        watch.delegate.finishedUserInfos,
        (std::vector<Finished>{{tooBig.transferId, tooLarge}, {bad.transferId, unsupported}}));
    for (const char* kind : {"message", "userInfo", "context"}) {
        EXPECT_EQ(watch.wire->sentOfKind(kind).size(), 1u) << kind;
    }
}

// A peer that does not keep to the limits is refused frame by frame, and the connection goes on.
TEST(PayloadLimitsTest, OversizedFramesFromThePeerAreRefusedAndLaterOnesStillArrive) {
    ScriptedWatch watch;
    watch.connect();
    const auto over = payloadOfEncodedSize(65'537);
    watch.receive({{"kind", "message"}, {"id", "m1"}, {"body", over}, {"replyExpected", true}});
    watch.receive(userInfoFrame("t1", over));
    watch.receive(userInfoFrame(std::string(257, 'x'), numbered(1)));
    watch.receive({{"kind", "context"}, {"body", payloadOfEncodedSize(262'145)}});
    watch.receive({{"kind", "file"}, {"id", "f1"}, {"metadata", over}, {"contents", Data{1}}});

    const auto& heard = watch.delegate;
    EXPECT_TRUE(heard.messages.empty() && heard.userInfos.empty() && heard.contexts.empty() &&
                heard.files.empty());
    EXPECT_TRUE(watch.wire->sentOfKind("reply").empty());
    // Transfers are answered with the refusal, so that the sender stops sending them again.
    const auto answers = watch.wire->sentOfKind("received");
    ASSERT_EQ(answers.size(), 3u);
    for (const auto& answer : answers) {
        EXPECT_TRUE(answer.contains("error"));
    }
    EXPECT_EQ(watch.wire->disconnects, 0);

    watch.receive(userInfoFrame(std::string(256, 'y'), payloadOfEncodedSize(65'536)));
    EXPECT_EQ(watch.delegate.userInfos.size(), 1u);
    EXPECT_TRUE(watch.engine->isReachable());
}

TEST(FileTransferTest, AFileThatCannotBeStoredIsRefusedAndAStoredOneIsRemovedAfterItsCallback) {
    ScriptedWatch watch;
    watch.connect();
    const Dictionary file{
        {"kind", "file"}, {"id", "f1"}, {"metadata", numbered(1)}, {"contents", Data{1}}};
    watch.files.failWrites("disk full");
    watch.receive(file);
    watch.files.clearFailures();
    watch.receive(file);
    const auto answers = watch.wire->sentOfKind("received");
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_NE(answers[0].at("error").string()->find("disk full"), std::string::npos);
    EXPECT_FALSE(answers[1].contains("error"));
    EXPECT_EQ(watch.delegate.files, std::vector<Dictionary>{numbered(1)});
    EXPECT_TRUE(watch.files.files().empty());
}

TEST(HelloExchangeTest, AnythingButAFittingHelloFirstClosesTheConnectionAndTheRestOfItIsIgnored) {
    auto hello = [](std::string key, std::optional<platform::Value> value) {
        auto changed = phoneHello();
        changed.erase(key);
        if (value) {
            changed.emplace(key, *value);
        }
        return changed;
    };
    for (const auto& first : {userInfoFrame("t1", numbered(1)), hello("role", "watch"),
                              hello("version", 2), hello("reachable", std::nullopt)}) {
        ScriptedWatch watch;
        watch.wire->events.connected();
        watch.receive(first);
        watch.receive(userInfoFrame("t2", numbered(2)));
        EXPECT_EQ(watch.wire->disconnects, 1);
        EXPECT_TRUE(watch.delegate.userInfos.empty());
        EXPECT_FALSE(watch.engine->isReachable());
        // The next connection starts afresh.
        watch.wire->events.disconnected("closed");
        watch.connect();
        watch.receive(userInfoFrame("t3", numbered(3)));
        EXPECT_EQ(watch.delegate.userInfos, std::vector<Dictionary>{numbered(3)});
    }
}

} // namespace
