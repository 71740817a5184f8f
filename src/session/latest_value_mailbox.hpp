#pragma once

#include <mutex>
#include <optional>
#include <utility>

namespace session {

// A hand-over slot that keeps only the newest waiting value: a producer on any thread puts,
// one consumer takes. put() says when the consumer needs waking, so that one wake-up is posted
// per batch of values rather than one per value.
template <class T> class LatestValueMailbox {
public:
    // True when no wake-up is outstanding, so the caller must post one.
    bool put(T value) {
        std::lock_guard lock(mutex_);
        slot_ = std::move(value);
        return !std::exchange(wakeOutstanding_, true);
    }

    // The waiting value, if any; the next put() asks for a fresh wake-up.
    std::optional<T> take() {
        std::lock_guard lock(mutex_);
        wakeOutstanding_ = false;
        return std::exchange(slot_, std::nullopt);
    }

private:
    std::mutex mutex_;
    std::optional<T> slot_;
    bool wakeOutstanding_ = false;
};

} // namespace session
