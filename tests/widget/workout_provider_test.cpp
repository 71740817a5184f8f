#include "widget/workout_provider.hpp"

#include "widget/defaults_suite.hpp"
#include "widget_fakes.hpp"

#include "platform/files/temp_directory.hpp"

#include <gtest/gtest.h>

namespace {

using glanceside::ConfigurationIntent;
using glanceside::Exercise;
using glanceside::SimpleEntry;
using glanceside::Timeline;
using glanceside::TimelineReloadPolicy;
using platform::testing::TempDirectory;

const std::vector<Exercise> samples{{"1", "Squat"}, {"2", "Bench Press"}};

TEST(WorkoutProvider, PlaceholderAndSnapshotAreSamplesDatedNow) {
    TempDirectory dir;
    widgettest::ManualClock clock;
    glanceside::WorkoutProvider provider(dir.path() / "absent", clock);
    EXPECT_EQ(provider.placeholder(),
              (SimpleEntry{clock.time, ConfigurationIntent{}, "placeholder", "Up Next", samples}));
    EXPECT_EQ(
        provider.snapshot(ConfigurationIntent{}),
        (SimpleEntry{clock.time, ConfigurationIntent{}, "Week 1 - Day 2", "Up Next", samples}));
}

TEST(WorkoutProvider, TimelineIsOneEntryTwoHoursAheadFromTheStoredWorkout) {
    widgettest::ManualClock clock;
    const auto later = clock.time.adding(2 * 3600);
    const auto entry = [&](const char* title, const char* status, std::vector<Exercise> list) {
        return std::optional(Timeline{{SimpleEntry{later, {}, title, status, std::move(list)}},
                                      TimelineReloadPolicy::atEnd});
    };
    const struct {
        const char* name;
        std::optional<nlohmann::json> stored;
        std::optional<Timeline> expected;
    } cases[] = {
        {"workout",
         R"({"title":"Week 2 - Day 1","status":"Up Next","exercises":[{"id":"9","name":"Deadlift"}]})",
         entry("Week 2 - Day 1", "Up Next", {{"9", "Deadlift"}})},
        {"empty exercise list", R"({"title":"Rest week","status":"Done","exercises":[]})",
         entry("Rest week", "Done", {})},
        {"no value", std::nullopt, entry("No data set", "Up Next", {})},
        {"a number, not a string", 42, entry("No data set", "Up Next", {})},
        {"missing status", R"({"title":"T","exercises":[]})", std::nullopt},
        {"not JSON", "\x01\xfe{", std::nullopt},
    };
    for (const auto& c : cases) {
        TempDirectory dir;
        if (c.stored) {
            ASSERT_TRUE(glanceside::DefaultsSuite::write(dir.path(), glanceside::sharedSuiteName,
                                                         glanceside::nextWorkoutKey, *c.stored));
        }
        glanceside::WorkoutProvider provider(dir.path(), clock);
        EXPECT_EQ(provider.timeline(ConfigurationIntent{}), c.expected) << c.name;
    }
}

TEST(WorkoutProvider, DeliversNothingWhenTheSuiteCannotBeOpened) {
    TempDirectory dir;
    widgettest::ManualClock clock;
    EXPECT_FALSE(glanceside::WorkoutProvider(dir.path() / "absent", clock).timeline({}));
}

} // namespace
