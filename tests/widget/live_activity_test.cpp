#include "widget/mark_set_completed.hpp"
#include "widget/text_timer.hpp"

#include "widget/defaults_suite.hpp"
#include "widget_fakes.hpp"

#include "platform/files/temp_directory.hpp"

#include <gtest/gtest.h>

namespace {

using glanceside::DateRange;
using platform::testing::TempDirectory;

TEST(TextTimer, MeasuresTheWholeRangeAsMinutesAndSeconds) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {{0, "00:00"},    {59.9, "00:59"}, {90, "01:30"},
                 {3599, "59:59"}, {3600, "60:00"}, {6000 * 60, "6000:00"}};
    for (const auto& c : cases) {
        EXPECT_EQ(glanceside::textTimerMeasuringText(DateRange{{100}, {100 + c.seconds}}), c.text)
            << c.seconds;
    }
    // A range too long for any integer still measures without overflow.
    EXPECT_FALSE(glanceside::textTimerMeasuringText(DateRange{{-1e308}, {1e308}}).empty());
}

class MarkSetCompletedTest : public ::testing::Test {
protected:
    std::optional<nlohmann::json> signal() const {
        auto store = glanceside::DefaultsSuite::open(dir.path(), glanceside::standardSuiteName);
        return store ? store->value(glanceside::setCompletedKey) : std::nullopt;
    }

    TempDirectory dir;
    widgettest::ManualClock clock;
    widgettest::FakeActivities activities;
    glanceside::MarkSetCompleted intent{dir.path(), clock, &activities};
};

TEST_F(MarkSetCompletedTest, WithoutAnActivityStillPausesAndLeavesAFreshSignalEachRun) {
    EXPECT_EQ(intent.title(), "Complete Set");
    intent.perform();
    const auto first = signal();
    intent.perform();
    const auto second = signal();

    ASSERT_TRUE(first && first->is_string() && second && second->is_string());
    EXPECT_EQ(first->get<std::string>().size(), 36U);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(clock.sleeps,
              (std::vector<std::chrono::nanoseconds>(2, std::chrono::milliseconds(500))));
    EXPECT_TRUE(activities.updated.empty());
}

TEST_F(MarkSetCompletedTest, UpdatesOnlyTheFirstRunningActivity) {
    const auto state = widgettest::sampleState();
    activities.order = {"first", "second"};
    activities.states = {{"first", state}, {"second", state}};

    intent.perform();

    auto expected = state;
    expected.nextSetInfo = "Next set...";
    EXPECT_EQ(activities.updated, std::vector<std::string>{"first"});
    EXPECT_EQ(activities.states["first"], expected);
    EXPECT_EQ(activities.states["second"], state);
    EXPECT_TRUE(signal());
}

} // namespace
