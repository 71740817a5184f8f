#pragma once

#include <string_view>

// The status words the phone chooses and the watch compares against.
namespace model::status {

inline constexpr std::string_view notStarted = "NOT_STARTED";
inline constexpr std::string_view inProgress = "IN_PROGRESS";
inline constexpr std::string_view complete = "COMPLETE";
// The sync hub's workout status before any workout data has arrived.
inline constexpr std::string_view notStartedDefault = "NOT_STARTED_DEFAULT";
// The phone's workout id for "no real workout"; never an owned or running workout.
inline constexpr std::string_view noWorkoutId = "NOT_STARTED_AND_NULL";

} // namespace model::status
