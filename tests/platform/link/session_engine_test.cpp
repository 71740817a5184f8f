#include "link_harness.hpp"

#include "platform/values/bplist.hpp"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace linktest;
using Code = platform::SessionError::Code;

namespace {

// Collects what a sendMessage call hears back.
struct Outcome {
    std::vector<Dictionary> replies;
    std::vector<Code> errors;

    std::optional<ReplyHandler> replyHandler() {
        return ReplyHandler([this](Dictionary d) { replies.push_back(std::move(d)); });
    }
    platform::ErrorHandler errorHandler() {
        return [this](SessionError e) { errors.push_back(e.code); };
    }
};

// A dictionary whose binary property-list encoding is exactly `size` bytes.
Dictionary payloadOfEncodedSize(std::size_t size) {
    Dictionary d{{"b", Data(size - 64, 0xAB)}};
    auto encoded = platform::encodeBinaryPlist(d)->size();
    d["b"] = Data(size - 64 + size - encoded, 0xAB);
    EXPECT_EQ(platform::encodeBinaryPlist(d)->size(), size);
    return d;
}

// The phone queues numbered transfers; what they look like delivered, and finished.
std::pair<std::vector<Dictionary>, std::vector<Finished>> queue(LinkPair& pair, int from, int to) {
    std::pair<std::vector<Dictionary>, std::vector<Finished>> out;
    for (auto n = from; n <= to; ++n) {
        out.first.push_back(numbered(n));
        out.second.emplace_back(pair.phoneEngine().transferUserInfo(numbered(n)).transferId,
                                std::nullopt);
    }
    return out;
}

TEST(UserInfoTransferTest, QueuedWhileAwayTheyOutliveASenderRestartAndArriveOnceInOrder) {
    LinkPair pair;
    pair.link.cut();
    pair.startBoth();
    auto [delivered, finished] = queue(pair, 1, 3);
    pair.exec.advanceBy(1min);
    pair.restart(LinkRole::phone);
    const auto restored = pair.phoneEngine().outstandingUserInfoTransfers();
    ASSERT_EQ(restored.size(), 3u);
    EXPECT_EQ(restored[1].transferId, finished[1].first);
    EXPECT_EQ(restored[1].userInfo, numbered(2));

    pair.exec.runUntilIdle();
    finished.push_back(queue(pair, 4, 4).second[0]);
    pair.link.restore();
    pair.exec.runUntilIdle();
    delivered.push_back(numbered(4));
    EXPECT_EQ(pair.watch.delegate.userInfos, delivered);
    EXPECT_EQ(pair.phone.delegate.finishedUserInfos, finished);
    EXPECT_TRUE(pair.phoneEngine().outstandingUserInfoTransfers().empty());
    EXPECT_EQ(pair.watch.delegate.callbacksOnMain + pair.phone.delegate.callbacksOnMain, 0);
}

TEST(UserInfoTransferTest, DuplicatedFramesAreDeliveredOnceAndFinishOnce) {
    LinkPair pair({.transferDuplicate = 1});
    pair.startBoth();
    const auto [delivered, finished] = queue(pair, 1, 4);
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.watch.delegate.userInfos, delivered);
    EXPECT_EQ(pair.phone.delegate.finishedUserInfos, finished);
    EXPECT_GT(pair.link.stats().duplicated, 0u);
}

// The copy sent again after a lost answer is recognised, also by a restarted receiver.
TEST(UserInfoTransferTest, AnAnswerLostOnTheWayBackLeadsToACopyThatIsNotDeliveredAgain) {
    LinkPair pair({.transferDelay = {10ms, 10ms}});
    pair.startBoth();
    for (int n : {1, 2}) {
        const auto [delivered, finished] = queue(pair, n, n);
        // Delivered at 10 ms; the answer would arrive at 20 ms.
        pair.exec.advanceBy(15ms);
        pair.link.cut();
        if (n == 2) {
            pair.restart(LinkRole::watch);
        }
        pair.exec.advanceBy(1s);
        EXPECT_EQ(pair.phoneEngine().outstandingUserInfoTransfers().size(), 1u);
        pair.link.restore();
        pair.exec.advanceBy(1s);
        EXPECT_EQ(pair.watch.delegate.userInfos.back(), delivered[0]);
        EXPECT_EQ(pair.watch.delegate.userInfos.size(), std::size_t(n));
        EXPECT_EQ(pair.phone.delegate.finishedUserInfos.back(), finished[0]);
        EXPECT_EQ(pair.phone.delegate.finishedUserInfos.size(), std::size_t(n));
    }
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
}

TEST(LiveMessageTest, AMessageHearsBackOnceWhateverTheReceiverDoesWithItsHandler) {
    LinkPair pair;
    pair.startBoth();
    pair.phone.delegate.onMessage = [](const Dictionary& m, std::optional<ReplyHandler> reply) {
        if (m.at("n") == platform::Value(1)) {
            (*reply)({{"echo", 1}});
            auto copy = *reply;
            copy({{"echo", "again"}});
        } // any other message's handler is dropped unanswered
    };
    Outcome answered;
    Outcome dropped;
    pair.watchEngine().sendMessage(numbered(1), answered.replyHandler(), answered.errorHandler());
    pair.watchEngine().sendMessage(numbered(2), dropped.replyHandler(), dropped.errorHandler());
    pair.exec.runUntilIdle();
    EXPECT_EQ(answered.replies, (std::vector<Dictionary>{{{"echo", 1}}}));
    EXPECT_TRUE(dropped.errors.empty());
    EXPECT_TRUE(pair.log.contains("second reply to"));
    EXPECT_TRUE(pair.log.contains("dropped without a reply"));

    // The unanswered one fails when its connection drops, and only then; the answered one never.
    pair.link.cut();
    pair.exec.runUntilIdle();
    pair.link.restore();
    pair.exec.advanceBy(10s);
    EXPECT_TRUE(answered.errors.empty());
    EXPECT_EQ(dropped.errors, std::vector<Code>{Code::connectionLost});
    EXPECT_EQ(answered.replies.size() + dropped.replies.size(), 1u);
}

TEST(PayloadLimitsTest, WhatTheWatchSendsIsMeasuredByItsEncodingAndRefusedPastTheLimit) {
    LinkPair pair;
    pair.startBoth();
    auto& watch = pair.watchEngine();
    const SessionError tooLarge{Code::payloadTooLarge, "payload too large"};
    const SessionError unsupported{Code::payloadUnsupportedTypes, "payload unsupported types"};
    const Dictionary notAPlist{{"when", platform::Null{}}};

    Outcome messages;
    watch.sendMessage(payloadOfEncodedSize(65'536), std::nullopt, messages.errorHandler());
    watch.sendMessage(payloadOfEncodedSize(65'537), std::nullopt, messages.errorHandler());
    watch.sendMessage(notAPlist, std::nullopt, messages.errorHandler());
    const auto fits = watch.transferUserInfo(payloadOfEncodedSize(65'536));
    const auto tooBig = watch.transferUserInfo(payloadOfEncodedSize(65'537));
    const auto bad = watch.transferUserInfo(notAPlist);
    EXPECT_EQ(watch.updateApplicationContext(payloadOfEncodedSize(262'145)), tooLarge);
    EXPECT_EQ(watch.updateApplicationContext(notAPlist), unsupported);
    EXPECT_EQ(watch.updateApplicationContext(payloadOfEncodedSize(262'144)), std::nullopt);
    pair.exec.runUntilIdle();

    EXPECT_EQ(messages.errors, (std::vector<Code>{tooLarge.code, unsupported.code}));
    EXPECT_EQ(pair.phone.delegate.messages.size(), 1u);
    EXPECT_EQ(pair.watch.delegate.finishedUserInfos,
              (std::vector<Finished>{{tooBig.transferId, tooLarge},
                                     {bad.transferId, unsupported},
                                     {fits.transferId, std::nullopt}}));
    EXPECT_EQ(pair.phone.delegate.userInfos.size(), 1u);
    EXPECT_EQ(pair.phone.delegate.contexts, std::vector<Dictionary>{payloadOfEncodedSize(262'144)});
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

    EXPECT_TRUE(watch.delegate.messages.empty());
    EXPECT_TRUE(watch.delegate.userInfos.empty());
    EXPECT_TRUE(watch.delegate.contexts.empty());
    EXPECT_TRUE(watch.delegate.files.empty());
    EXPECT_TRUE(watch.wire->sentOfKind("reply").empty());
    // Transfers are answered with the refusal, so that the sender stops sending them again.
    const auto answers = watch.wire->sentOfKind("received");
    ASSERT_EQ(answers.size(), 3u);
    for (const auto& answer : answers) {
        EXPECT_TRUE(answer.contains("error"));
    }
    EXPECT_TRUE(watch.log.contains("refused"));
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

TEST(ApplicationContextTest, BothEndsKeepItAcrossRestartsAndItIsSentOnEveryConnection) {
    LinkPair pair;
    pair.startBoth();
    ASSERT_EQ(pair.phoneEngine().updateApplicationContext({{"v", 1}}), std::nullopt);
    pair.exec.runUntilIdle();
    pair.link.cut();
    ASSERT_EQ(pair.phoneEngine().updateApplicationContext({{"v", 2}}), std::nullopt);
    pair.restart(LinkRole::watch);
    pair.restart(LinkRole::phone);
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.watchEngine().receivedApplicationContext(), (Dictionary{{"v", 1}}));
    EXPECT_EQ(pair.phoneEngine().applicationContext(), (Dictionary{{"v", 2}}));
    pair.link.restore();
    pair.exec.advanceBy(1s);
    pair.link.cut();
    pair.link.restore();
    pair.exec.advanceBy(1s);
    EXPECT_EQ(pair.watch.delegate.contexts,
              (std::vector<Dictionary>{{{"v", 1}}, {{"v", 2}}, {{"v", 2}}}));
    EXPECT_EQ(pair.watchEngine().receivedApplicationContext(), (Dictionary{{"v", 2}}));
}

} // namespace
