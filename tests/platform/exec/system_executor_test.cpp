#include "platform/exec/system_executor.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using platform::MainRunLoop;
using platform::SystemExecutor;
using platform::ThreadQueue;

namespace {

using Names = std::vector<std::string>;

// A broken queue fails the test instead of hanging it.
template <class T> bool arrives(const T& future) {
    return future.wait_for(10s) == std::future_status::ready;
}

// Fulfils its promise when the last task holding it has been run or dropped.
struct ReleaseSignal {
    std::promise<void> promise;
    ~ReleaseSignal() { promise.set_value(); }
};

// A task that holds a queue until the test lets it go, so that the test can line up tasks behind
// it.
struct Gate {
    std::promise<void> promise;
    std::shared_future<void> opened = promise.get_future().share();
    platform::Task holder() const {
        return [opened = opened] { opened.wait(); };
    }
    void open() { promise.set_value(); }
};

TEST(SystemClockTest, ReadsWallTime) {
    auto before = std::chrono::system_clock::now();
    auto now = platform::SystemClock().now();
    auto after = std::chrono::system_clock::now();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

TEST(ThreadQueueTest, RunsItsTasksOnItsOwnThreadWhereOnlyItIsCurrent) {
    ThreadQueue queue("outbox");
    ThreadQueue other("notes");
    EXPECT_EQ(queue.label(), "outbox");
    EXPECT_FALSE(queue.isCurrent());

    std::vector<std::thread::id> threads;
    std::vector<std::vector<bool>> current;
    std::promise<void> done;
    for (int i = 0; i < 3; ++i) {
        queue.async([&] {
            threads.push_back(std::this_thread::get_id());
            current.push_back({queue.isCurrent(), other.isCurrent()});
        });
    }
    queue.async([&] { done.set_value(); });
    ASSERT_TRUE(arrives(done.get_future()));
    auto otherThread = platform::syncResult(other, [&] {
        current.push_back({queue.isCurrent(), other.isCurrent()});
        return std::this_thread::get_id();
    });

    ASSERT_EQ(threads.size(), 3u);
    EXPECT_NE(threads[0], std::this_thread::get_id());
    EXPECT_NE(threads[0], otherThread);
    EXPECT_EQ(threads[1], threads[0]);
    EXPECT_EQ(threads[2], threads[0]);
    EXPECT_EQ(current, (std::vector<std::vector<bool>>{
                           {true, false}, {true, false}, {true, false}, {false, true}}));
}

TEST(ThreadQueueTest, KeepsEachPostersOrderAndRunsOneTaskAtATimeUnderConcurrentPosting) {
    constexpr int posters = 4;
    constexpr int perPoster = 2000;
    ThreadQueue queue("busy");
    // Touched only on the queue.
    std::vector<std::vector<int>> seen(posters);
    bool overlapped = false;
    std::atomic<int> active{0};

    std::latch go(posters);
    std::vector<std::thread> threads;
    for (int poster = 0; poster < posters; ++poster) {
        threads.emplace_back([&, poster] {
            go.arrive_and_wait();
            for (int i = 0; i < perPoster; ++i) {
                queue.async([&, poster, i] {
                    overlapped = overlapped || active.fetch_add(1) != 0;
                    seen[static_cast<std::size_t>(poster)].push_back(i);
                    active.fetch_sub(1);
                });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }

    std::vector<int> expected(perPoster);
    std::iota(expected.begin(), expected.end(), 0);
    auto result = platform::syncResult(queue, [&] { return seen; });
    for (const auto& order : result) {
        EXPECT_EQ(order, expected);
    }
    EXPECT_FALSE(platform::syncResult(queue, [&] { return overlapped; }));
}

TEST(ThreadQueueTest, SyncFromMainReturnsAfterTheEarlierTasksAndTheTaskRanOnTheQueue) {
    SystemExecutor exec;
    auto queue = exec.makeSerialQueue("outbox");
    Gate gate;
    int earlier = 0;
    queue->async(gate.holder());
    for (int i = 0; i < 100; ++i) {
        queue->async([&] { ++earlier; });
    }
    std::thread opener([&] { gate.open(); });

    int earlierSeen = -1;
    bool current = false;
    bool mainCurrent = true;
    std::thread::id ranOn;
    queue->sync([&] {
        earlierSeen = earlier;
        current = queue->isCurrent();
        mainCurrent = exec.main().isCurrent();
        ranOn = std::this_thread::get_id();
    });
    opener.join();

    EXPECT_EQ(earlierSeen, 100);
    EXPECT_TRUE(current);
    EXPECT_FALSE(mainCurrent);
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

TEST(ThreadQueueTest, DelayedTasksRunInDueOrderAfterReadyWork) {
    ThreadQueue queue("timers");
    Gate gate;
    Names order;
    std::promise<void> done;
    queue.async(gate.holder());
    queue.asyncAfter(20ms, [&] {
        order.push_back("20 ms");
        done.set_value();
    });
    queue.asyncAfter(1ms, [&] { order.push_back("1 ms"); });
    queue.async([&] { order.push_back("ready"); });
    gate.open();
    ASSERT_TRUE(arrives(done.get_future()));
    EXPECT_EQ(order, (Names{"ready", "1 ms", "20 ms"}));
}

TEST(ThreadQueueTest, ACancelledDelayedTaskNeverRunsAndIsReleasedEarly) {
    ThreadQueue queue("retries");
    Gate gate;
    bool ran = false;
    auto token = std::make_shared<int>();
    queue.async(gate.holder());
    // Both fall due while the queue is held; cancelled before their timers are armed.
    auto soon = queue.asyncAfter(1ms, [&] { ran = true; });
    auto later = queue.asyncAfter(1h, [&ran, token] { ran = true; });
    soon.cancel();
    later.cancel();
    std::promise<void> witness;
    queue.asyncAfter(5ms, [&] { witness.set_value(); });
    gate.open();
    ASSERT_TRUE(arrives(witness.get_future()));

    // Cancelled once its timer is armed.
    auto armed = queue.asyncAfter(1h, [&ran, token] { ran = true; });
    queue.sync([] {});
    armed.cancel();
    // The first sync lets the cancellation reach the timer, the second the aborted wait it causes.
    queue.sync([] {});
    queue.sync([] {});

    EXPECT_EQ(token.use_count(), 1);
    EXPECT_TRUE(armed.cancelled());
    EXPECT_FALSE(platform::syncResult(queue, [&] { return ran; }));
}

TEST(ThreadQueueTest, ATaskCanCancelAnotherThatFallsDueWithIt) {
    ThreadQueue queue("retries");
    Names order;
    platform::TaskHandle second;
    std::promise<void> done;
    queue.async([&] {
        queue.asyncAfter(1ms, [&] {
            order.push_back("first");
            second.cancel();
        });
        second = queue.asyncAfter(1ms, [&] { order.push_back("second"); });
        queue.asyncAfter(10ms, [&] { done.set_value(); });
    });
    ASSERT_TRUE(arrives(done.get_future()));
    EXPECT_EQ(order, Names{"first"});
}

TEST(ThreadQueueTest, DestroyedByItsOwnTaskItDropsAndReleasesTheRest) {
    auto queue = std::make_unique<ThreadQueue>("short-lived");
    Gate gate;
    std::atomic<int> ran{0};
    auto signal = std::make_shared<ReleaseSignal>();
    auto released = signal->promise.get_future();
    queue->async(gate.holder());
    queue->async([&queue] { queue.reset(); });
    for (int i = 0; i < 10; ++i) {
        queue->async([&ran, signal] { ++ran; });
    }
    queue->asyncAfter(1ms, [&ran, signal] { ++ran; });
    signal.reset();
    gate.open();

    ASSERT_TRUE(arrives(released));
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(queue, nullptr);
}

TEST(ThreadQueueTest, DestroyedFromAnotherThreadItFinishesTheRunningTaskAndReleasesTheRest) {
    auto queue = std::make_unique<ThreadQueue>("short-lived");
    Gate gate;
    std::promise<void> started;
    std::atomic<bool> finished{false};
    std::atomic<int> ran{0};
    auto signal = std::make_shared<ReleaseSignal>();
    auto released = signal->promise.get_future();
    queue->async([&, opened = gate.opened] {
        started.set_value();
        opened.wait();
        // Lingers so that a destructor that did not wait for it would be caught.
        std::this_thread::sleep_for(10ms);
        finished = true;
    });
    ASSERT_TRUE(arrives(started.get_future()));
    for (int i = 0; i < 1000; ++i) {
        queue->async([&ran, signal] { ++ran; });
    }
    queue->asyncAfter(1h, [&ran, signal] { ++ran; });
    signal.reset();

    std::thread destroyer([&] { queue.reset(); });
    gate.open();
    destroyer.join();

    EXPECT_TRUE(finished);
    EXPECT_EQ(released.wait_for(0s), std::future_status::ready);
    EXPECT_LE(ran.load(), 1000);
}

TEST(ThreadQueueDeathTest, SyncFromItsOwnThreadAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ThreadQueue queue("outbox");
            queue.async([&] { queue.sync([] {}); });
            // Waits behind the offending task, which ends the process.
            queue.sync([] {});
        },
        "sync onto queue 'outbox' from that same queue would deadlock");
}

TEST(MainRunLoopTest, RunDrainsReadyWorkAfterStopAndLeavesWorkNotYetDue) {
    MainRunLoop loop;
    EXPECT_EQ(loop.label(), "main");
    Names log;
    loop.async([&] { log.push_back("a"); });
    loop.async([&] {
        log.push_back("stop");
        loop.stop();
        loop.async([&] { log.push_back("posted while draining"); });
    });
    loop.async([&] { log.push_back("b"); });
    loop.asyncAfter(1h, [&] { log.push_back("an hour later"); });
    loop.run();
    EXPECT_EQ(log, (Names{"a", "stop", "b", "posted while draining"}));
}

TEST(MainRunLoopTest, RunsWhatOtherThreadsPostUntilTheyStopIt) {
    MainRunLoop loop;
    std::vector<int> seen;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            loop.async([&seen, i] { seen.push_back(i); });
        }
        loop.stop();
    });
    loop.run();
    poster.join();
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen, expected);
}

TEST(MainRunLoopTest, IsCurrentOnItsOwnersThreadOnlyAndSyncFromElsewhereRunsThere) {
    MainRunLoop loop;
    EXPECT_TRUE(loop.isCurrent());
    bool currentElsewhere = true;
    bool currentInside = false;
    std::thread::id ranOn;
    std::thread worker([&] {
        currentElsewhere = loop.isCurrent();
        loop.sync([&] {
            currentInside = loop.isCurrent();
            ranOn = std::this_thread::get_id();
        });
        loop.stop();
    });
    loop.run();
    worker.join();
    EXPECT_FALSE(currentElsewhere);
    EXPECT_TRUE(currentInside);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MainRunLoopTest, AStopBeforeRunEndsOnlyTheNextRun) {
    MainRunLoop loop;
    Names log;
    loop.async([&] { log.push_back("queued before run"); });
    loop.stop();
    loop.run();
    EXPECT_EQ(log, Names{"queued before run"});

    // Had the first stop stuck, this run would return before the delayed task fell due.
    loop.async([&] {
        log.push_back("second run");
        loop.asyncAfter(1ms, [&] {
            log.push_back("delayed");
            loop.stop();
        });
    });
    loop.run();
    EXPECT_EQ(log, (Names{"queued before run", "second run", "delayed"}));
}

TEST(MainRunLoopTest, DelayedTasksRunInDueOrderUnlessCancelled) {
    MainRunLoop loop;
    Names log;
    loop.asyncAfter(10ms, [&] {
        log.push_back("10 ms");
        loop.stop();
    });
    auto cancelled = loop.asyncAfter(1ms, [&] { log.push_back("cancelled"); });
    loop.asyncAfter(2ms, [&] { log.push_back("2 ms"); });
    cancelled.cancel();
    loop.run();
    EXPECT_EQ(log, (Names{"2 ms", "10 ms"}));
}

TEST(MainRunLoopDeathTest, MisuseAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    MainRunLoop loop;
    EXPECT_DEATH(loop.sync([] {}), "sync onto queue 'main' from that same queue would deadlock");
    EXPECT_DEATH(std::thread([&] { loop.run(); }).join(), "thread other than its owner");
    loop.async([&] { loop.run(); });
    loop.stop();
    EXPECT_DEATH(loop.run(), "called from one of its own tasks");
}

TEST(SystemExecutorTest, SerialQueueWorkHopsToMainWhichRunsOnTheOwningThread) {
    SystemExecutor exec;
    EXPECT_EQ(&exec.main(), &exec.mainLoop());
    auto before = std::chrono::system_clock::now();
    auto now = exec.clock().now();
    EXPECT_LE(before, now);
    EXPECT_LE(now, std::chrono::system_clock::now());

    auto outbox = exec.makeSerialQueue("outbox");
    EXPECT_EQ(outbox->label(), "outbox");
    int delivered = 0;
    std::thread::id mainThread;
    std::thread::id workerThread;
    std::vector<bool> workerCurrent;
    auto onMain = platform::deliverOn(exec.main(), [&](int result) {
        delivered = result;
        mainThread = std::this_thread::get_id();
        exec.mainLoop().stop();
    });
    outbox->async([&] {
        workerThread = std::this_thread::get_id();
        workerCurrent = {outbox->isCurrent(), exec.main().isCurrent()};
        onMain(42);
    });
    exec.mainLoop().run();

    EXPECT_EQ(delivered, 42);
    EXPECT_EQ(mainThread, std::this_thread::get_id());
    EXPECT_NE(workerThread, std::this_thread::get_id());
    EXPECT_EQ(workerCurrent, (std::vector<bool>{true, false}));
}

} // namespace
