#include "phone/app_fixture.hpp"
#include "phone/command_runner.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using platform::Dictionary;

class CommandRunner : public phone::testing::AppFixture {
protected:
    int quits = 0;
    std::unique_ptr<phone::CommandRunner> runner;

    void SetUp() override {
        AppFixture::SetUp();
        runner =
            std::make_unique<phone::CommandRunner>(*app, executor.main(), log, [this] { ++quits; });
    }
    void TearDown() override { runner.reset(); }

    std::size_t snapshotsSent() const {
        std::size_t count = 0;
        for (const auto& body : session.liveBodies()) {
            count += body.contains("syncRevision") ? 1 : 0;
        }
        return count;
    }
};

TEST_F(CommandRunner, RunsGoodLinesInOrderAndRefusesWrongOnesWithoutDoingAnything) {
    runner->submit("ack retry");
    runner->submit("ack nonsense {");
    runner->submit("sned {}");
    runner->submit(R"(send {"type": )");
    runner->submit("# a comment");
    runner->submit("workout 9");
    session.receiveMessage(outboxMessage("complete_set", "S1"));
    executor.runUntilIdle();

    // "ack nonsense {" is a status text like any other; the refused lines changed nothing.
    EXPECT_EQ(session.liveBodies(), std::vector<Dictionary>{ack("S1", "nonsense {")});
    EXPECT_EQ(app->currentWorkout(), 0u);
    EXPECT_EQ(runner->failures(), 3u);
    EXPECT_TRUE(log.contains(R"(line 3: unknown command "sned" (help lists the commands) — )"
                             "nothing done"));
    EXPECT_TRUE(log.contains("line 4: send: the argument is not valid JSON"));
    EXPECT_TRUE(log.contains("there is no workout 9"));
}

TEST_F(CommandRunner, WaitHoldsTheFollowingLinesForItsVirtualTime) {
    runner->submit("wait 5");
    runner->submit("snapshot");
    runner->submit("wait 0.5");
    runner->submit("snapshot");
    executor.advanceBy(4999ms);
    EXPECT_EQ(snapshotsSent(), 0u);
    EXPECT_TRUE(runner->waiting());
    EXPECT_EQ(runner->heldLines(), 3u);
    executor.advanceBy(1ms);
    EXPECT_EQ(snapshotsSent(), 1u);
    executor.advanceBy(500ms);
    EXPECT_EQ(snapshotsSent(), 2u);
    EXPECT_FALSE(runner->waiting());
}

TEST_F(CommandRunner, WaitForResumesWhenANewMessageOfThatTypeArrives) {
    runner->submit("wait-for complete_set 10");
    runner->submit("snapshot");
    session.receiveMessage(outboxMessage("start_workout", "A"));
    executor.advanceBy(1s);
    EXPECT_EQ(snapshotsSent(), 0u);

    session.receiveMessage(outboxMessage("complete_set", "S1"));
    executor.advanceBy(1s);
    EXPECT_EQ(snapshotsSent(), 1u);

    // A repeat is the same message again: it does not satisfy a second wait.
    runner->submit("wait-for complete_set 10");
    runner->submit("snapshot");
    session.receiveUserInfo(outboxMessage("complete_set", "S1"));
    executor.advanceBy(1s);
    EXPECT_EQ(snapshotsSent(), 1u);
    session.receiveUserInfo(outboxMessage("complete_set", "S2"));
    executor.advanceBy(1s);
    EXPECT_EQ(snapshotsSent(), 2u);
    EXPECT_EQ(runner->failures(), 0u);
}

TEST_F(CommandRunner, WaitForCountsMessagesThatCameBeforeItsLine) {
    session.receiveMessage(outboxMessage("complete_set", "S1"));
    executor.runUntilIdle();
    runner->submit("wait-for complete_set");
    runner->submit("snapshot");
    EXPECT_EQ(snapshotsSent(), 1u);
    EXPECT_FALSE(runner->waiting());
}

TEST_F(CommandRunner, WaitForGivesUpAfterItsTimeoutAndGoesOn) {
    runner->submit("wait-for complete_set 3");
    runner->submit("snapshot");
    executor.advanceBy(2999ms);
    EXPECT_EQ(snapshotsSent(), 0u);
    executor.advanceBy(1ms);
    EXPECT_EQ(snapshotsSent(), 1u);
    EXPECT_EQ(runner->failures(), 1u);
    EXPECT_TRUE(log.contains("line 1: no complete_set arrived within 3 s — going on"));

    // The late message still counts, for the next wait.
    session.receiveMessage(outboxMessage("complete_set", "S1"));
    executor.runUntilIdle();
    runner->submit("wait-for complete_set 3");
    EXPECT_FALSE(runner->waiting());
}

TEST_F(CommandRunner, QuitsOnceAndIgnoresWhatFollows) {
    runner->submit("wait 1");
    runner->submit("quit");
    runner->submit("snapshot");
    runner->submit("quit");
    executor.advanceBy(1s);
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(runner->quitting());
    runner->submit("snapshot");
    executor.runUntilIdle();
    EXPECT_EQ(snapshotsSent(), 0u);
}

TEST_F(CommandRunner, PassesCommandsOnToTheAppAndTheLink) {
    runner->submit("reachable off");
    runner->submit("fail-transfers on");
    runner->submit("workout 1");
    runner->submit("ack none");
    runner->submit("snapshot");
    executor.runUntilIdle();
    EXPECT_EQ(session.phoneReachability, std::vector<bool>{false});
    EXPECT_EQ(session.transferFailures.size(), 1u);
    EXPECT_EQ(app->currentWorkout(), 1u);
    EXPECT_EQ(app->ackStatus(), std::nullopt);
    ASSERT_EQ(session.transfers.size(), 1u);
    EXPECT_EQ(session.transfers[0], *phone::workoutSnapshot(plan, 1, 1));
}

} // namespace
