#include "platform/health/strength_signal.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace platform {

StrengthSignal::StrengthSignal(std::uint64_t seed) : random_(seed) {
    heartRate_ = 92 + 8 * uniform();
    startPhase();
}

double StrengthSignal::uniform() {
    return static_cast<double>(random_() >> 11) * 0x1.0p-53;
}

void StrengthSignal::startPhase() {
    working_ = !working_;
    if (working_) {
        phaseSecondsLeft_ = 30 + 20 * uniform();
        target_ = 130 + 30 * uniform();
    } else {
        phaseSecondsLeft_ = 60 + 60 * uniform();
        target_ = 95 + 15 * uniform();
    }
}

StrengthSample StrengthSignal::next(Duration elapsed) {
    // Capped so that a long gap cannot spin through thousands of phases.
    double seconds = std::clamp(std::chrono::duration<double>(elapsed).count(), 0.0, 3600.0);
    // The heart follows effort with a lag of roughly 20 s, plus a little beat-to-beat noise.
    double pull = 1.0 - std::exp(-seconds / 20.0);
    double noise = (uniform() - 0.5) * 4.0;
    heartRate_ =
        std::clamp(heartRate_ + (target_ - heartRate_) * pull + noise, minHeartRate, maxHeartRate);
    phaseSecondsLeft_ -= seconds;
    while (phaseSecondsLeft_ <= 0) {
        double carried = phaseSecondsLeft_;
        startPhase();
        phaseSecondsLeft_ += carried;
    }
    double effort = (heartRate_ - minHeartRate) / (maxHeartRate - minHeartRate);
    double perMinute =
        minKilocaloriesPerMinute + effort * (maxKilocaloriesPerMinute - minKilocaloriesPerMinute);
    return {heartRate_, perMinute * seconds / 60.0};
}

} // namespace platform
