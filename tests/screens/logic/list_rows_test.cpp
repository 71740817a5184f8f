// The exercise rows' labels and the metrics header's numbers.
#include "screens/logic/list_rows.hpp"
#include "support/workout_builders.hpp"

#include <gtest/gtest.h>

namespace {

TEST(ExerciseRowLabel, ProgressForANamedExerciseAndAPromptForAPlaceholder) {
    auto bench = testsupport::makeExercise("Bench", {testsupport::makeSet("a", "COMPLETE"),
                                                     testsupport::makeSet("b", "complete"),
                                                     testsupport::makeSet("c", "IN_PROGRESS")});
    bench->recommendation = "8-10";
    EXPECT_EQ(screens::exerciseRowLabel(*bench),
              (screens::ExerciseRowLabel{"Bench", "1/3 sets complete", false}));
    auto placeholder = testsupport::makeExercise("", {testsupport::makeSet("a", "COMPLETE")});
    placeholder->name = "";
    placeholder->primaryMuscle = "Quads";
    EXPECT_EQ(screens::exerciseRowLabel(*placeholder),
              (screens::ExerciseRowLabel{"Select Exercise", std::nullopt, true}))
        << "no category: the muscle is not consulted";
    placeholder->category = "";
    EXPECT_EQ(screens::exerciseRowLabel(*placeholder).title, "Quads Exercise");
    placeholder->recommendation = "6-8";
    EXPECT_EQ(screens::exerciseRowLabel(*placeholder).detail, "6-8 reps");
    EXPECT_EQ(screens::metricsHeader(72.6, 1234.49), (screens::MetricsHeader{"73", "1234"}));
}

} // namespace
