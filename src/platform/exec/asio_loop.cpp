#include "platform/exec/asio_loop.hpp"

#include <asio/post.hpp>

#include <algorithm>

namespace platform::detail {

namespace {
thread_local const AsioLoop* tCurrentLoop = nullptr;
} // namespace

void AsioLoop::post(Task task) {
    asio::post(io_, std::move(task));
}

TaskHandle AsioLoop::postAfter(Duration delay, Task task) {
    // The due time is fixed now, not when the loop's thread gets round to arming the timer.
    auto due = std::chrono::steady_clock::now() + std::max(delay, Duration::zero());
    auto id = nextTimer_.fetch_add(1);
    std::weak_ptr<AsioLoop> weak = weak_from_this();
    auto handle = TaskHandle::create([weak, id] {
        // Frees the task now rather than at its due time; the timer belongs to the loop's thread.
        if (auto loop = weak.lock()) {
            asio::post(loop->io_, [raw = loop.get(), id] { raw->timers_.erase(id); });
        }
    });
    asio::post(io_, [this, id, due, handle, task = std::move(task)]() mutable {
        startTimer(id, due, std::move(handle), std::move(task));
    });
    return handle;
}

void AsioLoop::startTimer(std::uint64_t id, std::chrono::steady_clock::time_point due,
                          TaskHandle handle, Task task) {
    if (handle.cancelled()) {
        return;
    }
    auto& timer = timers_.try_emplace(id, io_, due).first->second;
    timer.async_wait([this, id, handle = std::move(handle),
                      task = std::move(task)](const asio::error_code& error) {
        timers_.erase(id);
        if (!error && !handle.cancelled()) {
            task();
        }
    });
}

const AsioLoop* currentLoop() {
    return tCurrentLoop;
}

CurrentLoopGuard::CurrentLoopGuard(const AsioLoop* loop)
    : previous_(std::exchange(tCurrentLoop, loop)) {}

CurrentLoopGuard::~CurrentLoopGuard() {
    tCurrentLoop = previous_;
}

} // namespace platform::detail
