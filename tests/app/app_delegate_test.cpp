#include "app/app_delegate.hpp"
#include "app/complication_controller.hpp"

#include "platform/exec/manual_executor.hpp"
#include "platform/health/simulated_health_store.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"

#include <gtest/gtest.h>

namespace {

using platform::Dictionary;

class AppDelegateTest : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    platform::SimulatedHealthStore health{executor};
    session::WorkoutManager manager{executor, defaults, health, log};
    app::AppDelegate delegate{executor, manager, log};

    std::size_t count(std::string_view line) {
        auto lines = log.lines();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }
};

TEST_F(AppDelegateTest, StartsASessionWithoutIdentityAndLeavesARunningOneAlone) {
    delegate.handleWorkoutConfiguration({{"activityType", 50}, {"locationType", 2}});
    executor.runUntilIdle();
    auto first = manager.workoutSession();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(manager.workoutIdentifier(), std::nullopt);
    EXPECT_EQ(count("Requested workout start from iPhone"), 1u);

    delegate.handleWorkoutConfiguration({});
    executor.runUntilIdle();
    EXPECT_EQ(manager.workoutSession(), first);
    EXPECT_EQ(count("Requested workout start from iPhone"), 2u);
}

TEST_F(AppDelegateTest, AFailedStartIsOnlyLogged) {
    health.setFailures({.sessionCreation = true});
    delegate.handleWorkoutConfiguration({});
    executor.runUntilIdle();
    EXPECT_EQ(manager.workoutSession(), nullptr);
    auto lines = log.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("Failed to request workout start from iPhone: ");
    }));
}

TEST_F(AppDelegateTest, ConfigurationValuesThatAreNotSmallIntegersKeepTheDefaults) {
    auto decoded = app::AppDelegate::decodeConfiguration(
        {{"activityType", "fifty"}, {"locationType", std::int64_t{1} << 40}});
    EXPECT_EQ(decoded, platform::WorkoutConfiguration{});
    decoded = app::AppDelegate::decodeConfiguration({{"activityType", 13}, {"locationType", 3}});
    EXPECT_EQ(decoded.activityType, 13);
    EXPECT_EQ(decoded.locationType, 3);
}

} // namespace

namespace {

// The complication only opens the program: one descriptor for every face, nothing to show.
TEST(ComplicationTest, OneDescriptorForEveryFamilyAndNothingOnAnyTimeline) {
    app::ComplicationController controller;
    std::vector<platform::ComplicationDescriptor> descriptors;
    controller.getComplicationDescriptors([&](auto answer) { descriptors = std::move(answer); });
    ASSERT_EQ(descriptors.size(), 1u);
    EXPECT_EQ(descriptors[0].identifier, "complication");
    EXPECT_EQ(descriptors[0].displayName, "Tessaron");
    EXPECT_EQ(descriptors[0].supportedFamilies.size(), 12u);

    int answers = 0;
    for (auto family : platform::allComplicationFamilies) {
        const platform::Complication face{"complication", family};
        controller.getTimelineEndDate(face, [&](auto date) { answers += !date; });
        controller.getTimelineEntries(face, platform::Date{}, 10,
                                      [&](auto entries) { answers += !entries; });
        controller.getCurrentTimelineEntry(face, [&](auto entry) { answers += !entry; });
        controller.getLocalizableSampleTemplate(face, [&](auto sample) { answers += !sample; });
        controller.getPrivacyBehavior(
            face, [&](auto behaviour) { answers += static_cast<int>(behaviour) == 0; });
    }
    EXPECT_EQ(answers, 5 * 12);
    controller.handleSharedComplicationDescriptors(descriptors);
}

} // namespace
