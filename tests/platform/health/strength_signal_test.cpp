#include "platform/health/strength_signal.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::vector<platform::StrengthSample> run(std::uint64_t seed, int count) {
    platform::StrengthSignal signal(seed);
    std::vector<platform::StrengthSample> samples;
    for (int i = 0; i < count; ++i) {
        samples.push_back(signal.next(5s));
    }
    return samples;
}

bool same(const std::vector<platform::StrengthSample>& a,
          const std::vector<platform::StrengthSample>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.heartRate == y.heartRate && x.energyKilocalories == y.energyKilocalories;
    });
}

TEST(StrengthSignal, SameSeedSameWorkoutOtherSeedAnother) {
    EXPECT_TRUE(same(run(42, 200), run(42, 200)));
    EXPECT_FALSE(same(run(42, 200), run(43, 200)));
}

TEST(StrengthSignal, StaysPlausibleForStrengthTraining) {
    for (std::uint64_t seed : {1u, 2u, 3u}) {
        auto samples = run(seed, 12 * 30); // half an hour
        auto [low, high] =
            std::minmax_element(samples.begin(), samples.end(), [](const auto& a, const auto& b) {
                return a.heartRate < b.heartRate;
            });
        EXPECT_GE(low->heartRate, 90);
        EXPECT_LE(high->heartRate, 160);
        // Sets and rests make it rise and fall.
        EXPECT_GT(high->heartRate - low->heartRate, 30);
        double total = 0;
        for (const auto& sample : samples) {
            total += sample.energyKilocalories;
        }
        EXPECT_GE(total, 5 * 30);
        EXPECT_LE(total, 10 * 30);
    }
}

TEST(StrengthSignal, NoTimeNoEnergy) {
    platform::StrengthSignal signal(1);
    EXPECT_EQ(signal.next(0s).energyKilocalories, 0);
    EXPECT_EQ(signal.next(-5s).energyKilocalories, 0);
}

} // namespace
