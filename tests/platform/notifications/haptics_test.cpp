#include "platform/exec/clock.hpp"
#include "platform/haptics/haptics.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using platform::HapticType;
using platform::PlayedHaptic;

TEST(HapticRecorder, RecordsEachHapticWithItsTimeAndTellsTheScreens) {
    platform::ManualClock clock;
    platform::HapticRecorder haptics(clock);
    int told = 0;
    auto subscription = haptics.lastPlayed.observe([&](const auto&) { ++told; });

    haptics.play(HapticType::success);
    clock.advance(std::chrono::seconds(2));
    haptics.play(HapticType::click);

    auto start = platform::ManualClock::defaultStart();
    std::vector<PlayedHaptic> expected{{HapticType::success, start},
                                       {HapticType::click, start + std::chrono::seconds(2)}};
    EXPECT_EQ(haptics.played(), expected);
    EXPECT_EQ(haptics.lastPlayed.get(), expected.back());
    EXPECT_EQ(told, 2);
    EXPECT_EQ(platform::hapticName(HapticType::success), "success");
}

} // namespace
