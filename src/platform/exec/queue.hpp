#pragma once

#include "platform/exec/clock.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace platform {

// Tasks must not throw: a queue has nobody to hand an exception to.
using Task = std::function<void()>;

// Refers to a task scheduled with Queue::asyncAfter; copies refer to the same task.
class TaskHandle {
public:
    // Refers to no task: cancel() does nothing, cancelled() stays false.
    TaskHandle() = default;

    // For queue implementations. `release` (may be empty) runs once, on the thread that cancels,
    // so that the queue can free the task before its due time.
    static TaskHandle create(std::function<void()> release = {});

    // Safe from any thread. Once it has returned the task will not start; a run already under
    // way finishes.
    void cancel() const;
    bool cancelled() const;

private:
    struct State;
    explicit TaskHandle(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

// A serial queue: its tasks run one at a time, in the order they were posted, delayed ones once
// they are due. async and asyncAfter may be called from any thread, except on the manual
// executor, which lives on the test's thread.
class Queue {
public:
    virtual ~Queue() = default;

    virtual void async(Task task) = 0;

    // Runs the task once `delay` has passed (a negative delay counts as none).
    virtual TaskHandle asyncAfter(Duration delay, Task task) = 0;

    // Runs the task on this queue after the tasks posted before it and returns once it has run.
    // Called from this queue (or, on the manual executor, from any queue waiting in a sync of
    // its own) it would deadlock: that is a programming error and aborts with a message.
    virtual void sync(Task task) = 0;

    // True on the queue's own thread (on the manual executor: while its task runs). The main
    // queue counts as current on the thread that owns it even between tasks.
    virtual bool isCurrent() const = 0;

    virtual std::string_view label() const = 0;
};

// What the core receives.
class Executor {
public:
    virtual ~Executor() = default;

    virtual Queue& main() = 0;

    // Destroying the queue lets a running task finish and drops the tasks that have not started.
    virtual std::unique_ptr<Queue> makeSerialQueue(std::string label) = 0;

    virtual const Clock& clock() const = 0;
};

// A callable that may be called on any thread and runs `function` on `queue` with copies of the
// arguments: the "hop to main" for callbacks that arrive elsewhere. `queue` must outlive every
// call.
template <class F> auto deliverOn(Queue& queue, F function) {
    return [&queue, function = std::move(function)](auto&&... args) {
        queue.async([function, ... copies = std::forward<decltype(args)>(args)]() mutable {
            function(copies...);
        });
    };
}

// Queue::sync for a task that computes something.
template <class F> std::invoke_result_t<F&> syncResult(Queue& queue, F&& function) {
    using Result = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<Result>) {
        queue.sync([&function] { function(); });
    } else {
        std::optional<Result> result;
        queue.sync([&] { result.emplace(function()); });
        return std::move(*result);
    }
}

} // namespace platform
