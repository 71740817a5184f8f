#include "platform/exec/queue.hpp"

#include <atomic>

namespace platform {

struct TaskHandle::State {
    std::atomic<bool> cancelled{false};
    // Written before the handle is shared, read only by the one cancel() that flips the flag.
    std::function<void()> release;
};

TaskHandle TaskHandle::create(std::function<void()> release) {
    auto state = std::make_shared<State>();
    state->release = std::move(release);
    return TaskHandle(std::move(state));
}

void TaskHandle::cancel() const {
    if (!state_ || state_->cancelled.exchange(true)) {
        return;
    }
    auto release = std::exchange(state_->release, {});
    if (release) {
        release();
    }
}

bool TaskHandle::cancelled() const {
    return state_ && state_->cancelled.load();
}

} // namespace platform
