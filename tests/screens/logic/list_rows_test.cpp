// The exercise rows' labels and the metrics header's numbers.
#include "screens/logic/list_rows.hpp"

#include <gtest/gtest.h>

namespace {

model::ExerciseRef exerciseWith(std::string name, std::vector<std::string> statuses) {
    auto exercise = std::make_shared<model::Exercise>();
    exercise->name = std::move(name);
    std::vector<model::ExerciseSetRef> sets;
    for (auto& status : statuses) {
        auto set = std::make_shared<model::ExerciseSet>();
        set->status = std::move(status);
        sets.push_back(set);
    }
    exercise->exerciseSets = std::move(sets);
    return exercise;
}

TEST(ExerciseRowLabel, ANamedExerciseShowsItsProgressNeverItsRecommendation) {
    auto empty = exerciseWith("Squat", {});
    empty->recommendation = "8-10";
    EXPECT_EQ(screens::exerciseRowLabel(*empty),
              (screens::ExerciseRowLabel{"Squat", "0/0 sets complete", false}));
    auto some = exerciseWith("Bench", {"COMPLETE", "", "IN_PROGRESS", "COMPLETE", "complete"});
    EXPECT_EQ(screens::exerciseRowLabel(*some).detail, "2/5 sets complete")
        << "only the exact status counts as done";
}

TEST(ExerciseRowLabel, APlaceholderPromptsByCategoryThenMuscle) {
    auto placeholder = exerciseWith("", {"COMPLETE"});
    placeholder->primaryMuscle = "Quads";
    EXPECT_EQ(screens::exerciseRowLabel(*placeholder),
              (screens::ExerciseRowLabel{"Select Exercise", std::nullopt, true}))
        << "no category: the muscle is not consulted, and no progress line";
    placeholder->category = "Chest";
    EXPECT_EQ(screens::exerciseRowLabel(*placeholder).title, "Chest Exercise");
    placeholder->category = "";
    EXPECT_EQ(screens::exerciseRowLabel(*placeholder).title, "Quads Exercise");
    placeholder->primaryMuscle.reset();
    EXPECT_EQ(screens::exerciseRowLabel(*placeholder).title, "Select Exercise");
    placeholder->recommendation = "6-8";
    EXPECT_EQ(screens::exerciseRowLabel(*placeholder).detail, "6-8 reps");
}

TEST(MetricsHeader, NumbersAreRoundedToWholeUnits) {
    EXPECT_EQ(screens::metricsHeader(72.6, 0.4), (screens::MetricsHeader{"73", "0"}));
    EXPECT_EQ(screens::metricsHeader(0, 0), (screens::MetricsHeader{"0", "0"}));
    EXPECT_EQ(screens::metricsHeader(140.5, 1234.49).energy, "1234");
}

} // namespace
