#include "link_harness.hpp"

#include "platform/values/bplist.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace linktest;
using platform::LinkFaults;
using platform::SessionEngine;
using Code = platform::SessionError::Code;

namespace {

// Collects what a sendMessage call hears back.
struct Outcome {
    std::vector<Dictionary> replies;
    std::vector<SessionError> errors;

    std::optional<ReplyHandler> replyHandler() {
        return ReplyHandler([this](Dictionary d) { replies.push_back(std::move(d)); });
    }
    platform::ErrorHandler errorHandler() {
        return [this](SessionError e) { errors.push_back(std::move(e)); };
    }
    std::vector<Code> codes() const {
        std::vector<Code> out;
        for (const auto& e : errors) {
            out.push_back(e.code);
        }
        return out;
    }
};

// A dictionary whose binary property-list encoding is exactly `size` bytes.
Dictionary payloadOfEncodedSize(std::size_t size) {
    for (std::size_t n = size - 64; n <= size; ++n) {
        Dictionary d{{"b", Data(n, 0xAB)}};
        if (platform::encodeBinaryPlist(platform::Value(d))->size() == size) {
            return d;
        }
    }
    ADD_FAILURE() << "no payload of " << size << " bytes";
    return {};
}

// ---- activation ----

TEST(SessionActivationTest, CompletesShortlyAfterOnTheSessionQueueWithOrWithoutAPeer) {
    LinkPair pair;
    pair.start(LinkRole::watch);
    EXPECT_EQ(pair.watchEngine().activationState(), ActivationState::notActivated);
    EXPECT_TRUE(pair.watch.delegate.activations.empty());

    pair.exec.runUntilIdle();
    ASSERT_EQ(pair.watch.delegate.activations.size(), 1u);
    EXPECT_EQ(pair.watch.delegate.activations[0].first, ActivationState::activated);
    EXPECT_EQ(pair.watch.delegate.activations[0].second, std::nullopt);
    EXPECT_EQ(pair.watchEngine().activationState(), ActivationState::activated);
    EXPECT_FALSE(pair.watchEngine().isReachable());
    EXPECT_TRUE(pair.watch.delegate.reachability.empty());

    pair.start(LinkRole::phone);
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.phone.delegate.activations.size(), 1u);
    EXPECT_EQ(pair.watch.delegate.reachability, std::vector<bool>{true});
    EXPECT_EQ(pair.phone.delegate.reachability, std::vector<bool>{true});
    EXPECT_TRUE(pair.watchEngine().isReachable());
    EXPECT_TRUE(pair.phoneEngine().isReachable());
    EXPECT_EQ(pair.watch.delegate.callbacksOnMain + pair.phone.delegate.callbacksOnMain, 0);

    // A second activate changes nothing.
    pair.watchEngine().activate();
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.watch.delegate.activations.size(), 1u);
}

TEST(SessionActivationTest, EverySendBeforeActivationFailsWithSessionNotActivated) {
    platform::ManualExecutor exec;
    platform::MemoryKeyValueStore store;
    platform::MemoryFileSystem files;
    platform::MemoryLog log;
    RecordingDelegate delegate(files, exec.main());
    auto wire = std::make_shared<ScriptedWire>();
    SessionEngine engine(LinkRole::watch, std::make_unique<ScriptedTransport>(wire),
                         {exec, store, files, log});
    engine.setDelegate(&delegate);

    Outcome message;
    engine.sendMessage(numbered(1), message.replyHandler(), message.errorHandler());
    const auto transfer = engine.transferUserInfo(numbered(2));
    const auto file = engine.transferFile(Data{1}, {});
    const auto contextError = engine.updateApplicationContext(numbered(3));
    exec.runUntilIdle();

    const SessionError notActivated{Code::notActivated, "session not activated"};
    EXPECT_EQ(message.errors, std::vector<SessionError>{notActivated});
    EXPECT_EQ(delegate.finishedUserInfos,
              (std::vector<Finished>{{transfer.transferId, notActivated}}));
    EXPECT_EQ(delegate.finishedFiles, (std::vector<Finished>{{file.transferId, notActivated}}));
    EXPECT_EQ(contextError, notActivated);
    EXPECT_TRUE(engine.outstandingUserInfoTransfers().empty());
    EXPECT_TRUE(engine.applicationContext().empty());
    EXPECT_FALSE(wire->started);
}

// ---- the hello exchange ----

TEST(HelloExchangeTest, EachEndSaysHelloFirstOnEveryConnection) {
    platform::ManualExecutor exec;
    ScriptedEnd phone(LinkRole::phone, exec);
    ScriptedEnd watch(LinkRole::watch, exec);
    for (int connection = 0; connection < 2; ++connection) {
        phone.wire->events.connected();
        watch.wire->events.connected();
        exec.runUntilIdle();
        ASSERT_FALSE(phone.wire->sent.empty());
        ASSERT_FALSE(watch.wire->sent.empty());
        EXPECT_EQ(phone.wire->sent.back(), phoneHello(true));
        EXPECT_EQ(watch.wire->sent.back(), watchHello());
        phone.wire->events.disconnected("gone");
        watch.wire->events.disconnected("gone");
        exec.runUntilIdle();
    }
    EXPECT_EQ(phone.wire->sent.size(), 2u);

    phone.engine->setPhoneReachable(false);
    phone.wire->events.connected();
    exec.runUntilIdle();
    EXPECT_EQ(phone.wire->sent.back(), phoneHello(false));
}

TEST(HelloExchangeTest, AFrameBeforeThePeersHelloClosesTheConnectionUndelivered) {
    platform::ManualExecutor exec;
    ScriptedEnd watch(LinkRole::watch, exec);
    watch.wire->events.connected();
    exec.runUntilIdle();
    watch.receive(userInfoFrame("t1", numbered(1)));
    EXPECT_EQ(watch.wire->disconnects.size(), 1u);
    EXPECT_TRUE(watch.log.contains("before hello"));

    // The rest of that connection is ignored, its hello included.
    watch.receive(phoneHello());
    watch.receive(userInfoFrame("t2", numbered(2)));
    EXPECT_TRUE(watch.delegate.userInfos.empty());
    EXPECT_TRUE(watch.wire->sentOfKind("received").empty());
    EXPECT_FALSE(watch.engine->isReachable());

    // The next connection starts afresh.
    watch.wire->events.disconnected("closed");
    watch.connect(phoneHello());
    watch.receive(userInfoFrame("t3", numbered(3)));
    EXPECT_TRUE(watch.engine->isReachable());
    EXPECT_EQ(watch.delegate.userInfos, std::vector<Dictionary>{numbered(3)});
    EXPECT_EQ(watch.wire->disconnects.size(), 1u);
}

TEST(HelloExchangeTest, AHelloThatDoesNotFitClosesTheConnection) {
    const std::vector<std::pair<std::string, Dictionary>> cases{
        {"same role", watchHello()},
        {"other version",
         {{"kind", "hello"}, {"role", "phone"}, {"version", 2}, {"reachable", true}}},
        {"phone without reachable", {{"kind", "hello"}, {"role", "phone"}, {"version", 1}}},
        {"no role", {{"kind", "hello"}, {"version", 1}, {"reachable", true}}},
    };
    for (const auto& [name, hello] : cases) {
        SCOPED_TRACE(name);
        platform::ManualExecutor exec;
        ScriptedEnd watch(LinkRole::watch, exec);
        watch.connect(hello);
        EXPECT_EQ(watch.wire->disconnects.size(), 1u);
        EXPECT_FALSE(watch.engine->isReachable());
        EXPECT_TRUE(watch.delegate.reachability.empty());
    }

    platform::ManualExecutor exec;
    ScriptedEnd watch(LinkRole::watch, exec);
    watch.connect(phoneHello());
    EXPECT_TRUE(watch.wire->disconnects.empty());
    watch.receive(phoneHello());
    EXPECT_EQ(watch.wire->disconnects.size(), 1u) << "a second hello";
    EXPECT_EQ(watch.delegate.reachability, (std::vector<bool>{true, false}));
}

TEST(HelloExchangeTest, UnknownKindsAreLoggedAndIgnored) {
    platform::ManualExecutor exec;
    ScriptedEnd watch(LinkRole::watch, exec);
    watch.connect(phoneHello());
    watch.receive({{"kind", "heartRate"}, {"bpm", 80}});
    watch.receive({{"noKind", true}});
    watch.receive(userInfoFrame("t1", numbered(1)));
    EXPECT_TRUE(watch.log.contains("heartRate"));
    EXPECT_TRUE(watch.wire->disconnects.empty());
    EXPECT_EQ(watch.delegate.userInfos, std::vector<Dictionary>{numbered(1)});
}

// ---- live messages ----

TEST(LiveMessageTest, ARepliedMessageGetsExactlyOneReplyEvenWhenTheReceiverAnswersTwice) {
    LinkPair pair;
    pair.startBoth();
    pair.phone.delegate.onMessage = [](const Dictionary& m, std::optional<ReplyHandler> reply) {
        ASSERT_TRUE(reply);
        (*reply)({{"echo", m.at("n")}});
        auto copy = *reply;
        copy({{"echo", "again"}});
    };
    Outcome outcome;
    pair.watchEngine().sendMessage(numbered(7), outcome.replyHandler(), outcome.errorHandler());
    pair.exec.runUntilIdle();

    EXPECT_EQ(pair.phone.delegate.messages, std::vector<Dictionary>{numbered(7)});
    EXPECT_EQ(outcome.replies, (std::vector<Dictionary>{{{"echo", 7}}}));
    EXPECT_TRUE(outcome.errors.empty());
    EXPECT_TRUE(pair.log.contains("second reply"));

    // Its connection dropping later fails nothing: the reply has come.
    pair.link.cut();
    pair.exec.runUntilIdle();
    EXPECT_TRUE(outcome.errors.empty());
}

TEST(LiveMessageTest, AMessageSentWithoutReplyHandlerGivesTheReceiverNone) {
    LinkPair pair;
    pair.startBoth();
    Outcome outcome;
    pair.phoneEngine().sendMessage(numbered(1), std::nullopt, outcome.errorHandler());
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.watch.delegate.messages, std::vector<Dictionary>{numbered(1)});
    EXPECT_EQ(pair.watch.delegate.messageHadReplyHandler, std::vector<bool>{false});
    pair.link.cut();
    pair.exec.runUntilIdle();
    EXPECT_TRUE(outcome.errors.empty());
}

TEST(LiveMessageTest, AReplyThatNeverArrivesFailsOnceWhenTheConnectionDrops) {
    LinkFaults faults;
    faults.replyLoss = 1;
    LinkPair pair(faults);
    pair.startBoth();
    pair.phone.delegate.onMessage = [](const Dictionary&, std::optional<ReplyHandler> reply) {
        (*reply)({{"ok", true}});
    };
    Outcome outcome;
    pair.watchEngine().sendMessage(numbered(1), outcome.replyHandler(), outcome.errorHandler());
    pair.exec.advanceBy(10s);
    EXPECT_EQ(pair.phone.delegate.messages.size(), 1u);
    EXPECT_TRUE(outcome.replies.empty());
    EXPECT_TRUE(outcome.errors.empty());

    pair.link.cut();
    pair.exec.runUntilIdle();
    EXPECT_EQ(outcome.codes(), std::vector<Code>{Code::connectionLost});
    pair.link.restore();
    pair.exec.advanceBy(10s);
    EXPECT_EQ(outcome.errors.size(), 1u);
    EXPECT_TRUE(outcome.replies.empty());
}

TEST(LiveMessageTest, AReplyHandlerDroppedOrCalledTooLateSendsNothing) {
    LinkPair pair;
    pair.startBoth();
    std::vector<ReplyHandler> kept;
    pair.phone.delegate.onMessage = [&](const Dictionary& m, std::optional<ReplyHandler> reply) {
        if (m.at("n") != platform::Value(1)) {
            kept.push_back(*reply);
        }
    };
    std::vector<Outcome> outcomes(3);
    for (int n = 1; n <= 3; ++n) {
        auto& o = outcomes[static_cast<std::size_t>(n - 1)];
        pair.watchEngine().sendMessage(numbered(n), o.replyHandler(), o.errorHandler());
    }
    pair.exec.runUntilIdle();
    EXPECT_TRUE(pair.log.contains("dropped without a reply"));

    pair.link.cut();
    pair.link.restore();
    pair.exec.advanceBy(1s);
    ASSERT_TRUE(pair.watchEngine().isReachable());
    for (const auto& o : outcomes) {
        EXPECT_EQ(o.codes(), std::vector<Code>{Code::connectionLost});
    }

    // On the next connection the answer has nobody waiting for it.
    ASSERT_EQ(kept.size(), 2u);
    kept[0]({{"too", "late"}});
    pair.exec.advanceBy(1s);
    EXPECT_TRUE(pair.log.contains("connection is gone"));

    // A handler that outlives its engine reaches nothing.
    pair.stop(LinkRole::phone);
    kept[1]({{"after", "the end"}});
    pair.exec.advanceBy(1s);
    for (const auto& o : outcomes) {
        EXPECT_TRUE(o.replies.empty());
        EXPECT_EQ(o.errors.size(), 1u);
    }
}

TEST(LiveMessageTest, SendingWhileUnreachableFailsAtOnce) {
    LinkPair pair;
    pair.start(LinkRole::watch);
    pair.exec.runUntilIdle();
    const auto before = pair.exec.now();
    Outcome outcome;
    pair.watchEngine().sendMessage(numbered(1), outcome.replyHandler(), outcome.errorHandler());
    pair.exec.runUntilIdle();
    EXPECT_EQ(outcome.codes(), std::vector<Code>{Code::notReachable});
    EXPECT_EQ(pair.exec.now(), before);
}

TEST(ReachabilityTest, ThePhoneDecidesItsOwnAndTheWatchHearsEveryChange) {
    LinkPair pair;
    pair.startBoth();
    auto& watch = pair.watch.delegate;
    auto& phone = pair.phone.delegate;

    pair.phoneEngine().setPhoneReachable(false);
    pair.exec.runUntilIdle();
    EXPECT_EQ(watch.reachability, (std::vector<bool>{true, false}));
    EXPECT_FALSE(pair.watchEngine().isReachable());
    // The phone sees the watch while connected, whatever it says about itself.
    EXPECT_TRUE(pair.phoneEngine().isReachable());

    Outcome fromWatch;
    pair.watchEngine().sendMessage(numbered(1), fromWatch.replyHandler(), fromWatch.errorHandler());
    Outcome fromPhone;
    pair.phoneEngine().sendMessage(numbered(2), std::nullopt, fromPhone.errorHandler());
    pair.exec.runUntilIdle();
    EXPECT_EQ(fromWatch.codes(), std::vector<Code>{Code::notReachable});
    EXPECT_TRUE(phone.messages.empty());
    EXPECT_TRUE(fromPhone.errors.empty());
    EXPECT_EQ(watch.messages, std::vector<Dictionary>{numbered(2)});

    pair.phoneEngine().setPhoneReachable(true);
    pair.exec.runUntilIdle();
    pair.link.cut();
    pair.exec.runUntilIdle();
    EXPECT_EQ(watch.reachability, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(phone.reachability, (std::vector<bool>{true, false}));

    // An unreachable phone says so in its hello on the next connection.
    pair.phoneEngine().setPhoneReachable(false);
    pair.link.restore();
    pair.exec.runUntilIdle();
    EXPECT_EQ(watch.reachability, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(phone.reachability, (std::vector<bool>{true, false, true}));
}

// ---- limits ----

TEST(PayloadLimitsTest, BodiesAreMeasuredByTheirEncodingAndRefusedPastTheLimit) {
    LinkPair pair;
    pair.startBoth();
    auto& watch = pair.watchEngine();
    const SessionError tooLarge{Code::payloadTooLarge, "payload too large"};

    Outcome atLimit;
    Outcome overLimit;
    watch.sendMessage(payloadOfEncodedSize(65'536), std::nullopt, atLimit.errorHandler());
    watch.sendMessage(payloadOfEncodedSize(65'537), std::nullopt, overLimit.errorHandler());
    const auto fits = watch.transferUserInfo(payloadOfEncodedSize(65'536));
    const auto tooBig = watch.transferUserInfo(payloadOfEncodedSize(65'537));
    EXPECT_EQ(watch.updateApplicationContext(payloadOfEncodedSize(262'145)), tooLarge);
    EXPECT_EQ(watch.updateApplicationContext(payloadOfEncodedSize(262'144)), std::nullopt);
    pair.exec.runUntilIdle();

    EXPECT_TRUE(atLimit.errors.empty());
    EXPECT_EQ(overLimit.errors, std::vector<SessionError>{tooLarge});
    EXPECT_EQ(pair.phone.delegate.messages.size(), 1u);
    EXPECT_EQ(
        pair.watch.delegate.finishedUserInfos,
        (std::vector<Finished>{{tooBig.transferId, tooLarge}, {fits.transferId, std::nullopt}}));
    EXPECT_EQ(pair.phone.delegate.userInfos.size(), 1u);
    EXPECT_EQ(pair.phone.delegate.contexts, std::vector<Dictionary>{payloadOfEncodedSize(262'144)});
}

// A peer that does not keep to the limits is refused frame by frame, and the connection goes on.
TEST(PayloadLimitsTest, OversizedFramesFromThePeerAreRefusedAndLaterOnesStillArrive) {
    platform::ManualExecutor exec;
    ScriptedEnd watch(LinkRole::watch, exec);
    watch.connect(phoneHello());
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
    EXPECT_TRUE(watch.wire->disconnects.empty());

    watch.receive(userInfoFrame(std::string(256, 'y'), payloadOfEncodedSize(65'536)));
    EXPECT_EQ(watch.delegate.userInfos.size(), 1u);
    EXPECT_TRUE(watch.engine->isReachable());
}

TEST(PayloadLimitsTest, WhatIsNotAPropertyListIsRefusedEverywhere) {
    LinkPair pair;
    pair.startBoth();
    auto& phone = pair.phoneEngine();
    const Dictionary bad{{"when", platform::Null{}}};
    const SessionError unsupported{Code::payloadUnsupportedTypes, "payload unsupported types"};

    Outcome message;
    phone.sendMessage(bad, message.replyHandler(), message.errorHandler());
    const auto transfer = phone.transferUserInfo(bad);
    const auto file = phone.transferFile(Data{1}, bad);
    EXPECT_EQ(phone.updateApplicationContext(bad), unsupported);
    pair.exec.runUntilIdle();

    EXPECT_EQ(message.errors, std::vector<SessionError>{unsupported});
    EXPECT_EQ(pair.phone.delegate.finishedUserInfos,
              (std::vector<Finished>{{transfer.transferId, unsupported}}));
    EXPECT_EQ(pair.phone.delegate.finishedFiles,
              (std::vector<Finished>{{file.transferId, unsupported}}));
    EXPECT_TRUE(phone.outstandingUserInfoTransfers().empty());
    EXPECT_TRUE(pair.watch.delegate.trace ==
                std::vector<std::string>({"activation", "reachability"}));
}

// ---- application context ----

TEST(ApplicationContextTest, OnlyTheNewestArrivesAndItIsSentAgainOnEveryConnection) {
    LinkFaults faults;
    faults.contextDelay = {50ms, 50ms};
    LinkPair pair(faults);
    pair.startBoth();
    auto& phone = pair.phoneEngine();
    for (int v = 1; v <= 3; ++v) {
        ASSERT_EQ(phone.updateApplicationContext({{"v", v}}), std::nullopt);
        pair.exec.advanceBy(10ms);
    }
    pair.exec.advanceBy(1s);
    EXPECT_EQ(pair.watch.delegate.contexts, (std::vector<Dictionary>{{{"v", 3}}}));
    EXPECT_EQ(pair.watchEngine().receivedApplicationContext(), (Dictionary{{"v", 3}}));
    EXPECT_EQ(phone.applicationContext(), (Dictionary{{"v", 3}}));

    // Changed while away, delivered on the next connection.
    pair.link.cut();
    ASSERT_EQ(phone.updateApplicationContext({{"v", 4}}), std::nullopt);
    pair.exec.advanceBy(1s);
    EXPECT_EQ(pair.watch.delegate.contexts.size(), 1u);
    pair.link.restore();
    pair.exec.advanceBy(1s);
    pair.link.cut();
    pair.link.restore();
    pair.exec.advanceBy(1s);
    EXPECT_EQ(pair.watch.delegate.contexts,
              (std::vector<Dictionary>{{{"v", 3}}, {{"v", 4}}, {{"v", 4}}}));
}

TEST(ApplicationContextTest, BothContextsSurviveARestart) {
    LinkPair pair;
    pair.startBoth();
    ASSERT_EQ(pair.phoneEngine().updateApplicationContext({{"plan", "A"}}), std::nullopt);
    pair.exec.runUntilIdle();

    pair.link.cut();
    pair.stop(LinkRole::watch);
    pair.stop(LinkRole::phone);
    SessionEngine watch(LinkRole::watch, pair.link.attach(LinkRole::watch),
                        {pair.exec, pair.watch.store, pair.watch.files, pair.log});
    EXPECT_EQ(watch.receivedApplicationContext(), (Dictionary{{"plan", "A"}}));
    pair.start(LinkRole::phone);
    EXPECT_EQ(pair.phoneEngine().applicationContext(), (Dictionary{{"plan", "A"}}));

    // The restarted phone sends it on its first connection.
    watch.setDelegate(&pair.watch.delegate);
    watch.activate();
    pair.link.restore();
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.watch.delegate.contexts,
              (std::vector<Dictionary>{{{"plan", "A"}}, {{"plan", "A"}}}));
}

// ---- files and workout data ----

TEST(FileTransferTest, TheFileExistsOnlyWhileTheCallbackRuns) {
    LinkPair pair;
    pair.startBoth();
    const Data contents{0, 1, 2, 250};
    const auto transfer = pair.phoneEngine().transferFile(contents, {{"name", "plan"}});
    pair.exec.runUntilIdle();

    ASSERT_EQ(pair.watch.delegate.files.size(), 1u);
    const auto& file = pair.watch.delegate.files[0];
    EXPECT_EQ(file.contentsDuringCallback, contents);
    EXPECT_EQ(file.metadata, (Dictionary{{"name", "plan"}}));
    EXPECT_FALSE(pair.watch.files.exists(file.path));
    EXPECT_TRUE(pair.watch.files.files().empty());
    EXPECT_EQ(pair.phone.delegate.finishedFiles,
              (std::vector<Finished>{{transfer.transferId, std::nullopt}}));
    // Files are not user-info transfers.
    EXPECT_TRUE(pair.watch.delegate.userInfos.empty());
}

TEST(FileTransferTest, AReceiverThatCannotStoreTheFileFailsTheTransfer) {
    LinkPair pair;
    pair.startBoth();
    pair.watch.files.failWrites("disk full");
    const auto transfer = pair.phoneEngine().transferFile(Data{1}, {});
    pair.exec.runUntilIdle();

    EXPECT_TRUE(pair.watch.delegate.files.empty());
    ASSERT_EQ(pair.phone.delegate.finishedFiles.size(), 1u);
    const auto& [id, error] = pair.phone.delegate.finishedFiles[0];
    EXPECT_EQ(id, transfer.transferId);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, Code::transferFailed);
    EXPECT_NE(error->description.find("disk full"), std::string::npos);

    // Finished means not sent again.
    pair.watch.files.clearFailures();
    pair.link.cut();
    pair.link.restore();
    pair.exec.advanceBy(1s);
    EXPECT_TRUE(pair.watch.delegate.files.empty());
}

TEST(WorkoutDataTest, DataFlowsBothWaysAndStartWorkoutOnlyFromThePhone) {
    LinkPair pair;
    pair.startBoth();
    const Dictionary configuration{{"activityType", 20}, {"locationType", 2}};
    pair.phoneEngine().sendWorkoutData(Data{1, 2});
    pair.watchEngine().sendWorkoutData(Data{3});
    pair.phoneEngine().startWorkout(configuration);
    pair.watchEngine().startWorkout(configuration);
    pair.exec.runUntilIdle();

    EXPECT_EQ(pair.watch.delegate.workoutData, std::vector<Data>{Data({1, 2})});
    EXPECT_EQ(pair.phone.delegate.workoutData, std::vector<Data>{Data{3}});
    EXPECT_EQ(pair.watch.delegate.startWorkouts, std::vector<Dictionary>{configuration});
    EXPECT_TRUE(pair.phone.delegate.startWorkouts.empty());
}

} // namespace
