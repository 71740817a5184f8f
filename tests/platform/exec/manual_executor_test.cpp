#include "platform/exec/manual_executor.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using platform::ManualExecutor;
using platform::Queue;
using platform::TaskHandle;
using platform::TimePoint;

namespace {

class ManualExecutorTest : public ::testing::Test {
protected:
    // Records a task's name and the virtual time it ran at.
    auto record(std::string name) {
        return [this, name = std::move(name)] {
            log.push_back(name);
            times.push_back(exec.now() - start);
        };
    }

    ManualExecutor exec;
    TimePoint start = exec.now();
    Queue& main = exec.main();
    std::unique_ptr<Queue> outbox = exec.makeSerialQueue("outbox");
    std::unique_ptr<Queue> notes = exec.makeSerialQueue("notes");
    std::vector<std::string> log;
    std::vector<platform::Duration> times;
};

using Names = std::vector<std::string>;

TEST(ManualClockTest, StartsOnAFixedMondayMorningAndMovesOnlyWhenTold) {
    ManualExecutor exec;
    // 2026-01-05T09:00:00Z
    EXPECT_EQ(exec.clock().now().time_since_epoch(), 1767603600s);
    EXPECT_EQ(exec.clock().now(), exec.now());
    exec.runUntilIdle();
    EXPECT_EQ(exec.now().time_since_epoch(), 1767603600s);
    exec.advanceBy(90s);
    EXPECT_EQ(exec.clock().now().time_since_epoch(), 1767603690s);

    ManualExecutor later(TimePoint{100s});
    EXPECT_EQ(later.clock().now(), TimePoint{100s});
}

TEST_F(ManualExecutorTest, ReadyTasksRunOnlyWhenDrivenInPostingOrderAcrossQueues) {
    main.async(record("a"));
    outbox->async(record("b"));
    main.async(record("c"));
    notes->async(record("d"));
    outbox->async(record("e"));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(exec.pendingCount(), 5u);

    EXPECT_EQ(exec.runUntilIdle(), 5u);
    EXPECT_EQ(log, (Names{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(exec.pendingCount(), 0u);
    EXPECT_EQ(exec.runUntilIdle(), 0u);
}

TEST_F(ManualExecutorTest, TasksPostedByTasksRunInTheSameDrainAfterTheEarlierOnes) {
    main.async([&] {
        log.push_back("a");
        outbox->async([&] {
            log.push_back("a.outbox");
            main.async(record("a.outbox.main"));
        });
    });
    notes->async(record("b"));

    EXPECT_EQ(exec.runUntilIdle(), 4u);
    EXPECT_EQ(log, (Names{"a", "b", "a.outbox", "a.outbox.main"}));
    EXPECT_EQ(exec.now(), start);
}

TEST_F(ManualExecutorTest, OnlyTheQueueWhoseTaskRunsIsCurrentAndTheTestThreadIsMain) {
    EXPECT_TRUE(main.isCurrent());
    EXPECT_FALSE(outbox->isCurrent());
    EXPECT_EQ(main.label(), "main");
    EXPECT_EQ(outbox->label(), "outbox");

    std::vector<std::vector<bool>> seen;
    auto look = [&] {
        seen.push_back({main.isCurrent(), outbox->isCurrent(), notes->isCurrent()});
    };
    main.async(look);
    outbox->async(look);
    notes->async(look);
    exec.runUntilIdle();
    EXPECT_EQ(seen, (std::vector<std::vector<bool>>{
                        {true, false, false}, {false, true, false}, {false, false, true}}));
    EXPECT_TRUE(main.isCurrent());
}

TEST_F(ManualExecutorTest, ARetryRunsExactlyAtItsDueTimeAndNotBefore) {
    outbox->asyncAfter(5s, record("retry"));
    EXPECT_EQ(exec.nextDueTime(), start + 5s);

    EXPECT_EQ(exec.runUntilIdle(), 0u);
    EXPECT_EQ(exec.advanceBy(4999ms), 0u);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(exec.pendingCount(), 1u);
    EXPECT_EQ(exec.now(), start + 4999ms);

    EXPECT_EQ(exec.advanceBy(1ms), 1u);
    EXPECT_EQ(log, Names{"retry"});
    EXPECT_EQ(times, std::vector<platform::Duration>{5s});
    EXPECT_EQ(exec.pendingCount(), 0u);
    EXPECT_EQ(exec.nextDueTime(), std::nullopt);
}

TEST_F(ManualExecutorTest, DelayedTasksRunAtTheirDueTimesInDueOrderWithTiesInPostingOrder) {
    main.asyncAfter(3s, record("c@3"));
    outbox->asyncAfter(1s, record("a@1"));
    notes->asyncAfter(2s, record("b@2 first"));
    main.asyncAfter(2s, record("b@2 second"));
    exec.advanceBy(500ms);
    // Posted later with a shorter delay, it falls due together with the others at 2 s.
    outbox->asyncAfter(1500ms, record("b@2 third"));

    EXPECT_EQ(exec.advanceBy(10s), 5u);
    EXPECT_EQ(log, (Names{"a@1", "b@2 first", "b@2 second", "b@2 third", "c@3"}));
    EXPECT_EQ(times, (std::vector<platform::Duration>{1s, 2s, 2s, 2s, 3s}));
    EXPECT_EQ(exec.now(), start + 10500ms);
}

TEST_F(ManualExecutorTest, WorkPostedAtADueTimeRunsBeforeTimeMovesOn) {
    main.asyncAfter(1s, [&] {
        log.push_back("tick");
        outbox->async(record("posted by tick"));
        notes->asyncAfter(0s, record("zero delay from tick"));
        main.asyncAfter(500ms, record("half a second after tick"));
    });
    main.asyncAfter(2s, record("later"));

    EXPECT_EQ(exec.advanceBy(2s), 5u);
    EXPECT_EQ(log, (Names{"tick", "posted by tick", "zero delay from tick",
                          "half a second after tick", "later"}));
    EXPECT_EQ(times, (std::vector<platform::Duration>{1s, 1s, 1500ms, 2s}));
}

TEST_F(ManualExecutorTest, ZeroAndNegativeDelaysAreReadyAtOnceInPostingOrder) {
    outbox->asyncAfter(0s, record("zero"));
    main.async(record("async"));
    notes->asyncAfter(-3s, record("negative"));

    EXPECT_EQ(exec.runUntilIdle(), 3u);
    EXPECT_EQ(log, (Names{"zero", "async", "negative"}));
    EXPECT_EQ(exec.now(), start);
}

TEST_F(ManualExecutorTest, AdvanceToRunsEverythingDueUpToTheTargetAndStopsThere) {
    main.asyncAfter(1min, record("1 min"));
    main.asyncAfter(1h, record("1 h"));
    main.asyncAfter(1h + 1s, record("1 h 1 s"));

    EXPECT_EQ(exec.advanceTo(start + 1h), 2u);
    EXPECT_EQ(log, (Names{"1 min", "1 h"}));
    EXPECT_EQ(exec.now(), start + 1h);
    EXPECT_EQ(exec.pendingCount(), 1u);
    EXPECT_EQ(exec.advanceTo(start + 1h), 0u);
    EXPECT_EQ(exec.advanceBy(0s), 0u);
    EXPECT_EQ(exec.advanceBy(1s), 1u);
}

TEST_F(ManualExecutorTest, ACancelledTaskNeverRunsAndIsNoLongerPending) {
    auto retry = outbox->asyncAfter(5s, record("retry"));
    auto copy = retry;
    auto kept = outbox->asyncAfter(5s, record("kept"));
    exec.advanceBy(2s);
    copy.cancel();
    EXPECT_TRUE(retry.cancelled());
    EXPECT_FALSE(kept.cancelled());
    EXPECT_EQ(exec.pendingCount(), 1u);

    EXPECT_EQ(exec.advanceBy(1h), 1u);
    EXPECT_EQ(log, Names{"kept"});
    kept.cancel(); // after the run: nothing left to stop
    TaskHandle none;
    none.cancel();
    EXPECT_FALSE(none.cancelled());
}

TEST_F(ManualExecutorTest, ATaskCanCancelAnotherBeforeItsTurn) {
    TaskHandle second;
    main.asyncAfter(5s, [&] {
        log.push_back("first");
        second.cancel();
    });
    second = outbox->asyncAfter(5s, record("second, due together with first"));
    TaskHandle ready;
    main.async([&] { ready.cancel(); });
    ready = notes->asyncAfter(0s, record("ready, behind its canceller"));

    EXPECT_EQ(exec.advanceBy(5s), 2u);
    EXPECT_EQ(log, Names{"first"});
}

TEST_F(ManualExecutorTest, SyncRunsTheQueuesEarlierReadyTasksThenTheTaskInline) {
    outbox->async(record("outbox 1"));
    main.async(record("main"));
    outbox->async(record("outbox 2"));
    outbox->asyncAfter(1s, record("outbox delayed"));

    std::vector<bool> current;
    outbox->sync([&] {
        log.push_back("sync");
        current = {outbox->isCurrent(), main.isCurrent()};
    });
    EXPECT_EQ(log, (Names{"outbox 1", "outbox 2", "sync"}));
    EXPECT_EQ(current, (std::vector<bool>{true, false}));
    EXPECT_TRUE(main.isCurrent());
    EXPECT_EQ(exec.pendingCount(), 2u);

    exec.advanceBy(1s);
    EXPECT_EQ(log, (Names{"outbox 1", "outbox 2", "sync", "main", "outbox delayed"}));
}

TEST_F(ManualExecutorTest, SyncLeavesTasksPostedAfterItStartedForLater) {
    outbox->async([&] {
        log.push_back("earlier");
        outbox->async(record("posted by earlier"));
    });
    outbox->sync(record("sync"));
    EXPECT_EQ(log, (Names{"earlier", "sync"}));
    exec.runUntilIdle();
    EXPECT_EQ(log, (Names{"earlier", "sync", "posted by earlier"}));
}

TEST_F(ManualExecutorTest, SyncFromAnotherQueuesTaskRunsOnTheTargetAndReturnsToTheCaller) {
    notes->async(record("notes earlier"));
    std::vector<std::vector<bool>> current;
    main.async([&] {
        outbox->sync([&] {
            current.push_back({main.isCurrent(), outbox->isCurrent()});
            notes->sync([&] { current.push_back({main.isCurrent(), notes->isCurrent()}); });
        });
        current.push_back({main.isCurrent(), outbox->isCurrent()});
    });
    exec.runUntilIdle();
    EXPECT_EQ(current,
              (std::vector<std::vector<bool>>{{false, true}, {false, true}, {true, false}}));
    EXPECT_EQ(log, Names{"notes earlier"});
}

TEST_F(ManualExecutorTest, ASerialQueueTaskMaySyncOntoMain) {
    bool ranOnMain = false;
    outbox->async([&] { main.sync([&] { ranOnMain = main.isCurrent(); }); });
    exec.runUntilIdle();
    EXPECT_TRUE(ranOnMain);
}

TEST_F(ManualExecutorTest, SyncResultReturnsWhatTheTaskComputedOnTheQueue) {
    int pending = 0;
    outbox->async([&] { pending = 3; });
    auto seen = platform::syncResult(*outbox, [&] { return outbox->isCurrent() ? pending : -1; });
    EXPECT_EQ(seen, 3);
}

TEST_F(ManualExecutorTest, DeliverOnRunsTheCallbackOnTheQueueWithCopiesOfTheArguments) {
    std::vector<std::pair<int, std::string>> received;
    auto onMain = platform::deliverOn(main, [&](int count, const std::string& text) {
        EXPECT_TRUE(main.isCurrent());
        received.emplace_back(count, text);
    });
    outbox->async([&] {
        std::string text = "sets";
        onMain(3, text);
        text = "changed";
    });
    exec.runUntilIdle();
    EXPECT_EQ(received, (std::vector<std::pair<int, std::string>>{{3, "sets"}}));
}

TEST_F(ManualExecutorTest, DestroyingAQueueDropsAndReleasesItsTasks) {
    auto token = std::make_shared<int>();
    outbox->async([token] {});
    outbox->asyncAfter(1s, [token] {});
    main.async(record("main"));
    outbox.reset();
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_EQ(exec.advanceBy(1s), 1u);
    EXPECT_EQ(log, Names{"main"});
}

TEST_F(ManualExecutorTest, AQueueDestroyedByItsOwnTaskDropsTheRest) {
    outbox->async([&] {
        log.push_back("destroying");
        outbox.reset();
    });
    outbox->async(record("dropped"));
    notes->async([&] {
        log.push_back("notes");
        auto replacement = exec.makeSerialQueue("replacement");
        log.push_back(replacement->isCurrent() ? "replacement current" : "replacement idle");
    });
    EXPECT_EQ(exec.runUntilIdle(), 2u);
    EXPECT_EQ(log, (Names{"destroying", "notes", "replacement idle"}));
}

TEST(ManualExecutorLifetimeTest, QueuesOutlivingTheExecutorAcceptTasksButNeverRunThem) {
    auto token = std::make_shared<int>();
    auto exec = std::make_unique<ManualExecutor>();
    auto outbox = exec->makeSerialQueue("outbox");
    outbox->async([token] {});
    exec.reset();
    EXPECT_EQ(token.use_count(), 1);
    outbox->async([token] {});
    EXPECT_EQ(token.use_count(), 1);
}

using ManualExecutorDeathTest = ManualExecutorTest;

TEST_F(ManualExecutorDeathTest, SyncOntoTheRunningQueueAborts) {
    outbox->async([&] { outbox->sync([] {}); });
    EXPECT_DEATH(exec.runUntilIdle(), "sync onto queue 'outbox'.*would deadlock");
}

TEST_F(ManualExecutorDeathTest, SyncOntoMainFromTheTestThreadAborts) {
    EXPECT_DEATH(main.sync([] {}), "sync onto queue 'main'.*would deadlock");
}

TEST_F(ManualExecutorDeathTest, SyncBackOntoMainWaitingInASyncAborts) {
    main.async([&] { outbox->sync([&] { main.sync([] {}); }); });
    EXPECT_DEATH(exec.runUntilIdle(), "sync onto queue 'main'.*would deadlock");
}

TEST_F(ManualExecutorDeathTest, SyncOntoMainFromASyncTheTestThreadWaitsInAborts) {
    EXPECT_DEATH(outbox->sync([&] { main.sync([] {}); }), "sync onto queue 'main'.*would deadlock");
}

TEST_F(ManualExecutorDeathTest, SyncBackOntoASerialQueueWaitingInASyncAborts) {
    outbox->async([&] { notes->sync([&] { outbox->sync([] {}); }); });
    EXPECT_DEATH(exec.runUntilIdle(), "sync onto queue 'outbox'.*would deadlock");
}

TEST_F(ManualExecutorDeathTest, DrivingTheExecutorFromInsideATaskAborts) {
    main.async([&] { exec.runUntilIdle(); });
    EXPECT_DEATH(exec.runUntilIdle(), "runUntilIdle called from inside a task");
    EXPECT_DEATH(outbox->sync([&] { exec.advanceBy(1s); }), "called from inside a task");
}

TEST_F(ManualExecutorDeathTest, MovingTimeBackwardsAborts) {
    exec.advanceBy(1s);
    EXPECT_DEATH(exec.advanceTo(start), "backwards");
    EXPECT_DEATH(exec.advanceBy(-1ms), "negative");
}

TEST_F(ManualExecutorDeathTest, PostingFromAnotherThreadAborts) {
    EXPECT_DEATH(std::thread([&] { outbox->async([] {}); }).join(), "single-threaded");
}

} // namespace

TEST_F(ManualExecutorTest, RunNextRunsOneTaskAtATimeInTheOrderADrainWould) {
    outbox->asyncAfter(2s, record("late"));
    main.async(record("first"));
    notes->async(record("second"));
    main.asyncAfter(1s, record("cancelled")).cancel();

    EXPECT_TRUE(exec.runNext());
    EXPECT_EQ(log, (Names{"first"}));
    EXPECT_TRUE(exec.runNext());
    EXPECT_EQ(log, (Names{"first", "second"}));
    EXPECT_EQ(exec.now(), start);
    // Nothing is ready: time moves to the next due task, and only that one runs.
    EXPECT_TRUE(exec.runNext());
    EXPECT_EQ(log, (Names{"first", "second", "late"}));
    EXPECT_EQ(exec.now() - start, 2s);
    EXPECT_FALSE(exec.runNext());
}
