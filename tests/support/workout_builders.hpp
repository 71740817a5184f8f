#pragma once

#include "model/exercise.hpp"
#include "platform/values/value.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Workouts for tests: the watch's records, and the dictionaries the phone sends.
namespace testsupport {

// A set with reps and weight; its id names it.
inline model::ExerciseSetRef makeSet(std::string id, std::string status = "NOT_STARTED",
                                     std::string reps = "5", std::string weight = "225") {
    auto set = std::make_shared<model::ExerciseSet>();
    set->id = std::move(id);
    set->status = std::move(status);
    set->reps = std::move(reps);
    set->weight = std::move(weight);
    return set;
}

// An exercise whose id is also its name, on a 45 lb bar.
inline model::ExerciseRef makeExercise(std::string id, std::vector<model::ExerciseSetRef> sets = {},
                                       std::int64_t sequence = 0,
                                       std::optional<std::int64_t> superset = std::nullopt) {
    auto exercise = std::make_shared<model::Exercise>();
    exercise->id = id;
    exercise->name = std::move(id);
    exercise->sequence = sequence;
    exercise->superset = superset;
    exercise->barbell = {"Olympic Bar", 45, "lb"};
    exercise->exerciseSets = std::move(sets);
    return exercise;
}

// The phone's dictionaries.
inline platform::Dictionary phoneSet(std::string id, std::string status = "NOT_STARTED") {
    return {{"id", std::move(id)},
            {"status", std::move(status)},
            {"reps", "5"},
            {"weight", "95"},
            {"timerSeconds", 90}};
}

inline platform::Dictionary phoneExercise(std::string id, std::int64_t sequence = 0,
                                          platform::Array sets = {},
                                          std::optional<std::int64_t> superset = std::nullopt) {
    platform::Dictionary e{{"id", id},
                           {"name", "Exercise " + id},
                           {"status", "NOT_STARTED"},
                           {"sequence", sequence},
                           {"exerciseSets", std::move(sets)}};
    if (superset) {
        e.insert_or_assign("superset", *superset);
    }
    return e;
}

// An available workout.
inline platform::Dictionary phoneWorkout(std::string id, std::string status = "NOT_STARTED",
                                         platform::Array exercises = {}) {
    return {{"id", id},
            {"name", "Day " + id},
            {"week", "1"},
            {"status", std::move(status)},
            {"exercises", std::move(exercises)}};
}

// The current workout's header.
inline platform::Dictionary phoneHeader(std::string id, std::string status) {
    return {{"id", std::move(id)}, {"name", "Day A"}, {"status", std::move(status)}};
}

inline platform::Array listOf(std::vector<platform::Dictionary> dictionaries) {
    return platform::Array(std::make_move_iterator(dictionaries.begin()),
                           std::make_move_iterator(dictionaries.end()));
}

inline platform::Array stringsOf(const std::vector<std::string>& texts) {
    return platform::Array(texts.begin(), texts.end());
}

} // namespace testsupport
