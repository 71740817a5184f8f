#include "platform/exec/clock.hpp"

namespace platform {

TimePoint SystemClock::now() const {
    return std::chrono::time_point_cast<Duration>(std::chrono::system_clock::now());
}

} // namespace platform
