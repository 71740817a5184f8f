#include "app/app_delegate.hpp"
#include "app/complication_controller.hpp"

#include "platform/exec/manual_executor.hpp"
#include "platform/health/simulated_health_store.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"

#include <gtest/gtest.h>

namespace {

TEST(AppDelegate, StartsTheRequestedSessionWithoutIdentityAndLeavesARunningOneAlone) {
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryLog log;
    platform::SimulatedHealthStore health{executor};
    session::WorkoutManager manager{executor, defaults, health, log};
    app::AppDelegate delegate{executor, manager, log};
    health.setFailures({.sessionCreation = true});
    delegate.handleWorkoutConfiguration({});
    executor.runUntilIdle();
    EXPECT_EQ(manager.workoutSession(), nullptr);

    health.setFailures({});
    delegate.handleWorkoutConfiguration({{"activityType", 13}, {"locationType", 3}});
    executor.runUntilIdle();
    auto first = manager.workoutSession();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->configuration(),
              (platform::WorkoutConfiguration{.activityType = 13, .locationType = 3}));
    EXPECT_EQ(manager.workoutIdentifier(), std::nullopt);
    delegate.handleWorkoutConfiguration({});
    executor.runUntilIdle();
    EXPECT_EQ(manager.workoutSession(), first);

    // Values that are not small integers keep the defaults.
    EXPECT_EQ(app::AppDelegate::decodeConfiguration(
                  {{"activityType", "fifty"}, {"locationType", std::int64_t{1} << 40}}),
              platform::WorkoutConfiguration{});
}

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
