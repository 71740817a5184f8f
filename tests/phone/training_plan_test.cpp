#include "model/decoding.hpp"
#include "model/reference_exercise.hpp"
#include "phone/training_plan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

TEST(TrainingPlan, RefusesTextThatIsNotAPlan) {
    EXPECT_FALSE(phone::parseTrainingPlan(""));
    EXPECT_FALSE(phone::parseTrainingPlan("[]"));
    EXPECT_FALSE(phone::parseTrainingPlan(R"({"workouts": []})"));
    EXPECT_FALSE(phone::parseTrainingPlan(R"({"name": "p", "workouts": {}})"));
    EXPECT_FALSE(phone::parseTrainingPlan(R"({"name": "p", "workouts": [1]})"));
    EXPECT_TRUE(phone::parseTrainingPlan(R"({"name": "p", "workouts": []})"));
}

TEST(TrainingPlan, EmbeddedPlanIsAWeekThatTheWatchDecodesWhole) {
    auto plan = phone::parseTrainingPlan(phone::embeddedDemoPlanText());
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->workouts.size(), 4u);
    std::map<std::int64_t, int> supersetMembers;
    int timed = 0;
    int placeholders = 0;
    for (const auto& element : plan->workouts) {
        auto workout = model::decodeWorkout(*element.dictionary());
        ASSERT_TRUE(workout) << element;
        EXPECT_EQ(workout->week, "1");
        // Nothing in the plan may be dropped by the watch's decoder.
        EXPECT_EQ(workout->exercises.size(), element.find("exercises")->array()->size());
        for (std::size_t i = 0; i < workout->exercises.size(); ++i) {
            const auto& sets = *element.find("exercises")->array()->at(i).find("exerciseSets");
            EXPECT_EQ(workout->exercises[i]->exerciseSets->size(), sets.array()->size());
            EXPECT_FALSE(workout->exercises[i]->exerciseSets->empty());
            if (i + 1 < workout->exercises.size()) {
                EXPECT_GT(workout->exercises[i]->timerSeconds, 0)
                    << "only the last goes without rest";
            }
        }
        for (const auto& exercise : workout->exercises) {
            if (exercise->superset) {
                ++supersetMembers[*exercise->superset];
            }
            timed += exercise->isDuration ? 1 : 0;
            // The watch lets its user pick the exercise for a placeholder.
            if (exercise->name.empty()) {
                ++placeholders;
                EXPECT_TRUE(exercise->category || exercise->primaryMuscle);
                EXPECT_TRUE(exercise->recommendation);
            }
        }
    }
    EXPECT_TRUE(std::ranges::any_of(supersetMembers, [](auto m) { return m.second >= 2; }));
    EXPECT_GE(timed, 1);
    EXPECT_EQ(placeholders, 1);
}

TEST(TrainingPlan, EmbeddedCatalogueDecodesWholeWithRecentEntries) {
    auto plan = phone::parseTrainingPlan(phone::embeddedDemoPlanText());
    ASSERT_TRUE(plan);
    ASSERT_FALSE(plan->referenceExercises.empty());
    int recent = 0;
    for (const auto& entry : plan->referenceExercises) {
        auto decoded = model::decodeReferenceExercise(*entry.dictionary());
        ASSERT_TRUE(decoded) << entry;
        recent += decoded->isRecent ? 1 : 0;
    }
    EXPECT_GT(recent, 0);
    EXPECT_LT(recent, static_cast<int>(plan->referenceExercises.size()));
    EXPECT_FALSE(
        phone::parseTrainingPlan(R"({"name": "p", "workouts": [], "referenceExercises": 3})"));
}

TEST(WorkoutSnapshot, CarriesHeaderExercisesAndRevision) {
    auto plan = phone::parseTrainingPlan(R"({"name": "p", "workouts": [
        {"id": "w1", "name": "Day A", "status": "NOT_STARTED", "week": "1",
         "exercises": [{"id": "e1", "name": "Squat", "status": "NOT_STARTED"}]},
        {"id": "w2", "name": "Day B", "status": "NOT_STARTED", "week": "1"}]})");
    ASSERT_TRUE(plan);
    auto snapshot = phone::workoutSnapshot(*plan, 0, 7);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->at("syncRevision"), platform::Value(7.0));
    EXPECT_EQ(snapshot->at("workout"),
              platform::Value(platform::Dictionary{
                  {"id", "w1"}, {"name", "Day A"}, {"status", "NOT_STARTED"}}));
    EXPECT_EQ(snapshot->at("exercises").array()->size(), 1u);

    auto noExercises = phone::workoutSnapshot(*plan, 1, 8);
    ASSERT_TRUE(noExercises);
    EXPECT_EQ(noExercises->at("exercises"), platform::Value(platform::Array{}));
    EXPECT_FALSE(phone::workoutSnapshot(*plan, 2, 9));
}
