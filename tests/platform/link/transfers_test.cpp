#include "link_harness.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace linktest;
using platform::LinkFaults;
using platform::UserInfoTransfer;
using Code = platform::SessionError::Code;

namespace {

std::vector<std::string> transferIds(const std::vector<UserInfoTransfer>& transfers) {
    std::vector<std::string> ids;
    for (const auto& t : transfers) {
        ids.push_back(t.transferId);
    }
    return ids;
}

std::vector<Dictionary> numbers(std::int64_t first, std::int64_t last) {
    std::vector<Dictionary> out;
    for (auto n = first; n <= last; ++n) {
        out.push_back(numbered(n));
    }
    return out;
}

// The phone queues `count` numbered transfers, the first numbered `first`.
std::vector<UserInfoTransfer> queue(LinkPair& pair, std::int64_t first, std::int64_t count) {
    std::vector<UserInfoTransfer> queued;
    for (auto n = first; n < first + count; ++n) {
        queued.push_back(pair.phoneEngine().transferUserInfo(numbered(n)));
    }
    return queued;
}

std::vector<Finished> succeeded(const std::vector<UserInfoTransfer>& transfers) {
    std::vector<Finished> out;
    for (const auto& t : transfers) {
        out.emplace_back(t.transferId, std::nullopt);
    }
    return out;
}

TEST(UserInfoTransferTest, QueuedWhileAwayTheyArriveOnceAndInOrderOnTheNextConnection) {
    LinkPair pair;
    pair.link.cut();
    pair.startBoth();
    const auto queued = queue(pair, 1, 5);
    pair.exec.advanceBy(1min);
    EXPECT_TRUE(pair.watch.delegate.userInfos.empty());
    EXPECT_EQ(transferIds(pair.phoneEngine().outstandingUserInfoTransfers()), transferIds(queued));
    EXPECT_EQ(pair.phoneEngine().outstandingUserInfoTransfers()[2].userInfo, numbered(3));

    pair.link.restore();
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.watch.delegate.userInfos, numbers(1, 5));
    EXPECT_EQ(pair.phone.delegate.finishedUserInfos, succeeded(queued));
    EXPECT_TRUE(pair.phoneEngine().outstandingUserInfoTransfers().empty());
}

TEST(UserInfoTransferTest, DuplicatedFramesAreDeliveredOnceAndFinishOnce) {
    LinkFaults faults;
    faults.transferDuplicate = 1;
    LinkPair pair(faults);
    pair.startBoth();
    const auto queued = queue(pair, 1, 4);
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.watch.delegate.userInfos, numbers(1, 4));
    EXPECT_EQ(pair.phone.delegate.finishedUserInfos, succeeded(queued));
    // Every copy is answered: 4 transfers and 8 answers, each sent twice.
    EXPECT_EQ(pair.link.stats().duplicated, 12u);
}

TEST(UserInfoTransferTest, LostFramesAreSentAgainAfterTheNextConnection) {
    LinkFaults faults;
    faults.transferLoss = 1;
    LinkPair pair(faults);
    pair.startBoth();
    const auto queued = queue(pair, 1, 3);
    pair.exec.advanceBy(1min);
    EXPECT_TRUE(pair.watch.delegate.userInfos.empty());
    EXPECT_EQ(pair.phoneEngine().outstandingUserInfoTransfers().size(), 3u);

    pair.link.setFaults({});
    pair.link.cut();
    pair.link.restore();
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.watch.delegate.userInfos, numbers(1, 3));
    EXPECT_EQ(pair.phone.delegate.finishedUserInfos, succeeded(queued));
}

TEST(UserInfoTransferTest, AnAnswerLostOnTheWayBackLeadsToACopyThatIsNotDeliveredAgain) {
    LinkFaults faults;
    faults.transferDelay = {10ms, 10ms};
    LinkPair pair(faults);
    pair.startBoth();
    const auto queued = queue(pair, 1, 2);
    // Delivered at 10 ms; the answers would arrive at 20 ms.
    pair.exec.advanceBy(15ms);
    EXPECT_EQ(pair.watch.delegate.userInfos, numbers(1, 2));
    pair.link.cut();
    pair.exec.advanceBy(1s);
    EXPECT_EQ(pair.phoneEngine().outstandingUserInfoTransfers().size(), 2u);

    pair.link.restore();
    pair.exec.advanceBy(1s);
    EXPECT_EQ(pair.watch.delegate.userInfos, numbers(1, 2));
    EXPECT_EQ(pair.phone.delegate.finishedUserInfos, succeeded(queued));
}

TEST(UserInfoTransferTest, AReceivedWithAnErrorFinishesTheTransferWithThatError) {
    platform::ManualExecutor exec;
    ScriptedEnd phone(LinkRole::phone, exec);
    phone.connect(watchHello());
    const auto failing = phone.engine->transferUserInfo(numbered(1));
    const auto fine = phone.engine->transferUserInfo(numbered(2));
    exec.runUntilIdle();
    ASSERT_EQ(phone.wire->sentOfKind("userInfo"),
              (std::vector<Dictionary>{userInfoFrame(failing.transferId, numbered(1)),
                                       userInfoFrame(fine.transferId, numbered(2))}));

    phone.receive({{"kind", "received"}, {"id", failing.transferId}, {"error", "disk full"}});
    phone.receive({{"kind", "received"}, {"id", fine.transferId}});
    phone.receive({{"kind", "received"}, {"id", fine.transferId}});
    phone.receive({{"kind", "received"}, {"id", "never-sent"}});

    EXPECT_EQ(phone.delegate.finishedUserInfos,
              (std::vector<Finished>{
                  {failing.transferId, SessionError{Code::transferFailed, "disk full"}},
                  {fine.transferId, std::nullopt}}));
    EXPECT_TRUE(phone.engine->outstandingUserInfoTransfers().empty());

    // Finished transfers are not sent again.
    phone.wire->events.disconnected("gone");
    phone.connect(watchHello());
    EXPECT_EQ(phone.wire->sentOfKind("userInfo").size(), 2u);
}

TEST(UserInfoTransferTest, AMalformedTransferIsAnsweredWithAnErrorSoItIsNotSentForever) {
    platform::ManualExecutor exec;
    ScriptedEnd watch(LinkRole::watch, exec);
    watch.connect(phoneHello());
    watch.receive({{"kind", "userInfo"}, {"id", "t1"}, {"body", "not a dictionary"}});
    EXPECT_TRUE(watch.delegate.userInfos.empty());
    const auto answers = watch.wire->sentOfKind("received");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].at("id"), platform::Value("t1"));
    EXPECT_TRUE(answers[0].contains("error"));
}

TEST(UserInfoTransferTest, ASenderRestartKeepsItsQueueAndSendsItAgainInOrder) {
    LinkPair pair;
    pair.link.cut();
    pair.startBoth();
    const auto queued = queue(pair, 1, 3);
    pair.exec.runUntilIdle();

    pair.restart(LinkRole::phone);
    const auto restored = pair.phoneEngine().outstandingUserInfoTransfers();
    EXPECT_EQ(transferIds(restored), transferIds(queued));
    ASSERT_EQ(restored.size(), 3u);
    EXPECT_EQ(restored[1].userInfo, numbered(2));

    pair.exec.runUntilIdle();
    const auto later = queue(pair, 4, 1);
    pair.link.restore();
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.watch.delegate.userInfos, numbers(1, 4));
    auto all = queued;
    all.push_back(later[0]);
    EXPECT_EQ(pair.phone.delegate.finishedUserInfos, succeeded(all));
}

TEST(UserInfoTransferTest, AReceiverRestartDoesNotDeliverAnIdAgain) {
    LinkFaults faults;
    faults.transferDelay = {10ms, 10ms};
    LinkPair pair(faults);
    pair.startBoth();
    const auto queued = queue(pair, 1, 1);
    pair.exec.advanceBy(15ms);
    ASSERT_EQ(pair.watch.delegate.userInfos.size(), 1u);
    pair.link.cut();
    pair.restart(LinkRole::watch);
    pair.exec.runUntilIdle();

    pair.link.restore();
    pair.exec.advanceBy(1s);
    EXPECT_EQ(pair.watch.delegate.userInfos, numbers(1, 1));
    EXPECT_EQ(pair.phone.delegate.finishedUserInfos, succeeded(queued));
}

TEST(UserInfoTransferTest, TheReceiverRemembersAThousandDeliveredIdsAcrossRestarts) {
    platform::ManualExecutor exec;
    ScriptedEnd watch(LinkRole::watch, exec);
    watch.connect(phoneHello());
    watch.receive(userInfoFrame("first", numbered(0)));
    for (int i = 1; i < 1000; ++i) {
        watch.receive(userInfoFrame("id-" + std::to_string(i), numbered(i)));
    }
    watch.receive(userInfoFrame("first", numbered(0)));
    EXPECT_EQ(watch.delegate.userInfos.size(), 1000u);
    EXPECT_EQ(watch.wire->sentOfKind("received").size(), 1001u);

    watch.start();
    watch.connect(phoneHello());
    watch.receive(userInfoFrame("first", numbered(0)));
    watch.receive(userInfoFrame("id-999", numbered(999)));
    EXPECT_EQ(watch.delegate.userInfos.size(), 1000u);
    EXPECT_EQ(watch.wire->sentOfKind("received").size(), 2u);
}

TEST(UserInfoTransferTest, ADeviceResetLosesTheQueue) {
    LinkPair pair;
    pair.link.cut();
    pair.startBoth();
    queue(pair, 1, 2);
    pair.exec.runUntilIdle();

    pair.resetDevice(LinkRole::phone);
    EXPECT_TRUE(pair.phoneEngine().outstandingUserInfoTransfers().empty());
    pair.exec.runUntilIdle();
    const auto after = queue(pair, 3, 1);
    pair.link.restore();
    pair.exec.runUntilIdle();
    EXPECT_EQ(pair.watch.delegate.userInfos, numbers(3, 3));
    EXPECT_EQ(pair.phone.delegate.finishedUserInfos, succeeded(after));
}

TEST(UserInfoTransferTest, ALiveMessageOvertakesQueuedTransfers) {
    LinkFaults faults;
    faults.transferDelay = {1s, 1s};
    LinkPair pair(faults);
    pair.startBoth();
    queue(pair, 1, 1);
    pair.exec.runUntilIdle();
    pair.phoneEngine().sendMessage(numbered(2), std::nullopt, {});
    pair.exec.advanceBy(2s);
    const std::vector<std::string> expected{"activation", "reachability", "message", "userInfo"};
    EXPECT_EQ(pair.watch.delegate.trace, expected);
}

TEST(FileTransferTest, FilesQueueLikeUserInfosAndArriveOnceAfterARestart) {
    LinkFaults faults;
    faults.transferDuplicate = 1;
    LinkPair pair(faults);
    pair.link.cut();
    pair.startBoth();
    const auto first = pair.phoneEngine().transferUserInfo(numbered(1));
    const auto file = pair.phoneEngine().transferFile(Data{7, 7}, {{"name", "a"}});
    const auto last = pair.phoneEngine().transferUserInfo(numbered(2));
    pair.exec.runUntilIdle();
    pair.restart(LinkRole::phone);
    pair.link.restore();
    pair.exec.runUntilIdle();

    ASSERT_EQ(pair.watch.delegate.files.size(), 1u);
    EXPECT_EQ(pair.watch.delegate.files[0].contentsDuringCallback, (Data{7, 7}));
    const std::vector<std::string> expected{"activation", "reachability", "userInfo", "file",
                                            "userInfo"};
    EXPECT_EQ(pair.watch.delegate.trace, expected);
    EXPECT_EQ(pair.phone.delegate.finishedFiles,
              (std::vector<Finished>{{file.transferId, std::nullopt}}));
    EXPECT_EQ(idsOf(pair.phone.delegate.finishedUserInfos),
              (std::vector<std::string>{first.transferId, last.transferId}));
}

} // namespace
