#pragma once

#include <algorithm>
#include <chrono>

namespace platform {

// The wait before each new attempt: first, then twice the previous one, never more than max.
// A success resets it, so that a brief loss is followed by a quick reconnect.
class ReconnectBackoff {
public:
    using Delay = std::chrono::milliseconds;

    ReconnectBackoff(Delay first, Delay max) : first_(first), max_(std::max(first, max)) {}

    Delay next() {
        Delay delay = next_;
        next_ = std::min(next_ * 2, max_);
        return delay;
    }

    void reset() { next_ = first_; }

private:
    Delay first_;
    Delay max_;
    Delay next_ = first_;
};

} // namespace platform
