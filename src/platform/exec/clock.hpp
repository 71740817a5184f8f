#pragma once

#include <chrono>

namespace platform {

// Integral chrono durations of any unit convert to these implicitly.
using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::time_point<std::chrono::system_clock, Duration>;

// Wall time as the app sees it: the system clock in production, a virtual clock in tests.
class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
};

class SystemClock final : public Clock {
public:
    TimePoint now() const override;
};

// Stands still until set or advanced. Not thread-safe: it belongs to the test's thread.
class ManualClock final : public Clock {
public:
    // A fixed Monday morning, so that every run of a test sees the same dates.
    static constexpr TimePoint defaultStart() {
        using namespace std::chrono;
        return sys_days{year{2026} / January / 5} + hours{9};
    }

    explicit ManualClock(TimePoint start = defaultStart()) : now_(start) {}

    TimePoint now() const override { return now_; }
    void set(TimePoint time) { now_ = time; }
    void advance(Duration by) { now_ += by; }

private:
    TimePoint now_;
};

} // namespace platform
