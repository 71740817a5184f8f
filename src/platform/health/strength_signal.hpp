#pragma once

#include "platform/exec/clock.hpp"

#include <cstdint>
#include <random>

namespace platform {

struct StrengthSample {
    double heartRate = 0;          // beats per minute
    double energyKilocalories = 0; // active energy burned since the previous sample
};

// Heart rate and active energy of a simulated strength-training workout: working sets of about
// 40 s push the heart rate towards 130-160 bpm, rests of about 90 s let it settle towards
// 95-110 bpm; energy accrues at 5-10 kcal/min with the effort. The same seed gives the same
// samples on every platform (no standard distributions, whose output varies by library).
class StrengthSignal {
public:
    static constexpr double minHeartRate = 90;
    static constexpr double maxHeartRate = 160;
    static constexpr double minKilocaloriesPerMinute = 5;
    static constexpr double maxKilocaloriesPerMinute = 10;

    explicit StrengthSignal(std::uint64_t seed);

    // The next sample, `elapsed` after the previous one.
    StrengthSample next(Duration elapsed);

private:
    double uniform(); // [0, 1)
    void startPhase();

    std::mt19937_64 random_;
    bool working_ = false;
    double phaseSecondsLeft_ = 0;
    double target_ = 100;
    double heartRate_ = 0;
};

} // namespace platform
