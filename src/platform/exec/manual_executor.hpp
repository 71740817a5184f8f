#pragma once

#include "platform/exec/clock.hpp"
#include "platform/exec/queue.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace platform {

namespace detail {
class ManualScheduler;
}

// Runs every queue of a test on the test's thread, deterministically, against a virtual clock
// that moves only when the test says so. All queues feed one schedule:
// - a task is ready once its due time has come (async: at once);
// - ready tasks run in posting order, whatever their queue;
// - time moves from due time to due time, and before each move all ready work runs, so a task
//   never runs before its due time and runs with now() equal to it.
// While a task of queue Q runs, only Q is current. Outside tasks the test's thread counts as
// the main thread, so main() is current there. Q.sync(task) runs Q's earlier ready tasks and
// then the task inline, with Q current. Misuse that would deadlock on real threads (sync onto a
// queue that is running or waiting in a sync, including main from the test's thread) aborts,
// as does driving the executor from inside a task or from another thread.
class ManualExecutor final : public Executor {
public:
    explicit ManualExecutor(TimePoint start = ManualClock::defaultStart());
    // Drops the tasks not yet run; queues that outlive it accept tasks but never run them.
    ~ManualExecutor() override;
    ManualExecutor(const ManualExecutor&) = delete;
    ManualExecutor& operator=(const ManualExecutor&) = delete;

    Queue& main() override;
    std::unique_ptr<Queue> makeSerialQueue(std::string label) override;
    const Clock& clock() const override;
    TimePoint now() const;

    // Each returns the number of tasks it ran. Time never moves backwards: asking for it aborts.
    std::size_t runUntilIdle();
    std::size_t advanceBy(Duration duration);
    std::size_t advanceTo(TimePoint time);
    // Runs the one task that would run next, moving time to its due time when it is not ready
    // yet; false when nothing is pending. Simulations step with it to stop between any two
    // tasks.
    bool runNext();

    // Tasks that are waiting to run, ready or delayed, not counting cancelled ones.
    std::size_t pendingCount() const;
    // Due time of the earliest pending task.
    std::optional<TimePoint> nextDueTime() const;

private:
    std::shared_ptr<detail::ManualScheduler> scheduler_;
    std::unique_ptr<Queue> main_;
};

} // namespace platform
