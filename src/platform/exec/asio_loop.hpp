#pragma once

#include "platform/exec/queue.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

namespace platform::detail {

// What ThreadQueue and MainRunLoop share: an io_context that one thread at a time runs, so its
// tasks run serially in posting order, plus cancellable delayed tasks. Always owned through a
// shared_ptr, because a cancel may arrive from another thread while the owner goes away.
class AsioLoop : public std::enable_shared_from_this<AsioLoop> {
public:
    AsioLoop() = default;
    AsioLoop(const AsioLoop&) = delete;
    AsioLoop& operator=(const AsioLoop&) = delete;

    void post(Task task);
    TaskHandle postAfter(Duration delay, Task task);

    asio::io_context& context() { return io_; }

private:
    void startTimer(std::uint64_t id, std::chrono::steady_clock::time_point due, TaskHandle handle,
                    Task task);

    asio::io_context io_;
    // Only the loop's thread touches the timers. Declared after io_ so that they are destroyed
    // while the io_context still exists.
    std::map<std::uint64_t, asio::steady_timer> timers_;
    std::atomic<std::uint64_t> nextTimer_{0};
    // Keeps run() waiting for work instead of returning when the queue is momentarily empty.
    asio::executor_work_guard<asio::io_context::executor_type> work_ = asio::make_work_guard(io_);
};

// The loop whose task the calling thread is running, if any.
const AsioLoop* currentLoop();

// Marks the calling thread as running `loop` for the guard's lifetime.
class CurrentLoopGuard {
public:
    explicit CurrentLoopGuard(const AsioLoop* loop);
    ~CurrentLoopGuard();
    CurrentLoopGuard(const CurrentLoopGuard&) = delete;
    CurrentLoopGuard& operator=(const CurrentLoopGuard&) = delete;

private:
    const AsioLoop* previous_;
};

} // namespace platform::detail
