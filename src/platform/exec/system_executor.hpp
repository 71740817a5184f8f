#pragma once

#include "platform/exec/clock.hpp"
#include "platform/exec/queue.hpp"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace platform {

namespace detail {
class AsioLoop;
}

// A private serial queue with a thread of its own. Destroying it lets the running task finish,
// drops the tasks that have not started (a sync waiting on one of them returns) and joins the
// thread; destroyed from one of its own tasks, it lets the thread end by itself instead.
class ThreadQueue final : public Queue {
public:
    explicit ThreadQueue(std::string label);
    ~ThreadQueue() override;
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;

    void async(Task task) override;
    TaskHandle asyncAfter(Duration delay, Task task) override;
    void sync(Task task) override;
    bool isCurrent() const override;
    std::string_view label() const override { return label_; }

private:
    std::string label_;
    std::shared_ptr<detail::AsioLoop> loop_;
    std::thread thread_;
};

// The main queue of the headless program. It belongs to the thread that creates it, which is
// the only one that may call run() and on which isCurrent() holds even outside run(). A task
// posted while no run() is under way waits for the next one; so does a sync from another
// thread. Tasks still queued when it is destroyed are dropped.
class MainRunLoop final : public Queue {
public:
    explicit MainRunLoop(std::string label = "main");
    ~MainRunLoop() override;
    MainRunLoop(const MainRunLoop&) = delete;
    MainRunLoop& operator=(const MainRunLoop&) = delete;

    void async(Task task) override;
    TaskHandle asyncAfter(Duration delay, Task task) override;
    void sync(Task task) override;
    bool isCurrent() const override;
    std::string_view label() const override { return label_; }

    // Runs tasks until stop() has been called and no task is ready any more (tasks posted while
    // draining run too); delayed tasks not yet due stay for a later run().
    void run();

    // Safe from any thread and from a task. Called while no run() is under way, it makes the
    // next run() return once it has drained.
    void stop();

private:
    std::string label_;
    std::thread::id owner_;
    std::shared_ptr<detail::AsioLoop> loop_;
    std::atomic<bool> stopRequested_{false};
    bool running_ = false;
};

// The executor of the headless program: main is a MainRunLoop owned by the thread that creates
// the executor, serial queues are ThreadQueues, the clock is the system clock. Delays are
// measured on the steady clock, so changes of wall time do not move them. Whatever posts to main
// (the core, its serial queues) must be gone before the executor.
class SystemExecutor final : public Executor {
public:
    SystemExecutor() = default;

    Queue& main() override { return mainLoop_; }
    MainRunLoop& mainLoop() { return mainLoop_; }
    std::unique_ptr<Queue> makeSerialQueue(std::string label) override;
    const Clock& clock() const override { return clock_; }

private:
    SystemClock clock_;
    MainRunLoop mainLoop_;
};

} // namespace platform
