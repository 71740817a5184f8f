#pragma once

#include <string_view>

namespace screens::texts {

// The fixed texts of the root screen and its sheets, exactly as the user reads them.
inline constexpr std::string_view startWorkout = "Start Workout";
inline constexpr std::string_view workoutComplete = "Workout Complete";
inline constexpr std::string_view refresh = "Refresh";
inline constexpr std::string_view addExercise = "Add Exercise";
inline constexpr std::string_view finishWorkout = "Finish Workout";
inline constexpr std::string_view finishQuestion =
    "You have uncompleted sets. Do you still want to finish the workout?";
inline constexpr std::string_view recentSection = "Recent";
inline constexpr std::string_view allExercisesSection = "All Exercises";
inline constexpr std::string_view next = "Next";

} // namespace screens::texts
