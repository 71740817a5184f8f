#pragma once

#include "model/exercise.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace timer {

// Equipment that takes plates; the preview leaves the plates alone for anything else.
bool takesPlates(std::string_view equipment);

// A set's weight text as a number: the whole text in C-locale decimal notation, else 0.
double weightValue(std::string_view weight);

// Seconds as a countdown shows them: "1:00:10", "2:05", "0:07".
std::string positionalDuration(std::int64_t seconds);

// One line for the next set: reps (with "+" on a PR set, " reps" when nothing else is
// recorded), then duration, distance and weight with its units, joined by " x ".
std::string nextSetLoadText(const model::Exercise& exercise, const model::ExerciseSet& set);

// The first set of the exercise that is not complete, or null.
model::ExerciseSetRef firstOpenSet(const model::Exercise& exercise);

// What the preview shows after the phone's timer data. A null set means the exercise's first
// open set.
struct NextSetChoice {
    model::ExerciseRef exercise;
    model::ExerciseSetRef set;
};

// The next set after the phone reports completedSetIds on exercise: the next open set not just
// completed, through the exercise's superset group (those after it first, then from the start)
// or within the exercise alone; failing that, the first open set of the following exercise.
// Nothing when there is no open set anywhere after it.
std::optional<NextSetChoice> findNextSet(const model::ExerciseRef& exercise,
                                         const std::vector<std::string>& completedSetIds,
                                         const std::vector<model::ExerciseRef>& exercises);

} // namespace timer
