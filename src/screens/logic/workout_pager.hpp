#pragma once

#include "model/workout.hpp"

#include <string>
#include <vector>

namespace screens {

// One page of the available-workouts pager.
struct WorkoutCard {
    std::string workoutId;
    std::string title;
    std::vector<std::string> exerciseNames;
    // A finished workout shows "Workout Complete" in place of "Start Workout".
    bool complete = false;

    bool operator==(const WorkoutCard&) const = default;
};

WorkoutCard workoutCard(const model::Workout& workout);

// What the pager shows when the phone offers no workout.
inline constexpr std::string_view noWorkoutsText = "Start a workout on the iPhone";
inline constexpr std::string_view phonePromptText = "Open Tessaron on your iPhone to sync data.";

} // namespace screens
