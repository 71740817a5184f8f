#pragma once

#include "phone/training_plan.hpp"
#include "phone/workout_feed.hpp"
#include "platform/values/value.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>

// What the phone shows of its plan outside the app: the home-screen widget's next workout and
// the running workout's live activity, in the widget plug-in's own JSON encoding.
namespace phone::widget {

// Dates travel as seconds since 2001-01-01 00:00:00 UTC.
constexpr double unixSecondsAtReferenceDate = 978'307'200;

// The first set that is not complete, walking the exercises in order.
struct OpenSet {
    std::string setId;
    std::string exerciseName;
    // "<reps> x <weight><units>", a timed set's "m:ss", or "<reps> reps" without a load
    std::string info;
};
std::optional<OpenSet> firstOpenSet(const platform::Dictionary& workout);

// Whether the workout has a set with that id that is not complete.
bool isOpenSet(const platform::Dictionary& workout, const std::string& setId);

// A rest the phone knows to be running, as the watch counts it.
struct RunningRest {
    // Seconds since 2001.
    double start = 0;
    double seconds = 0;
};

// The live activity's content state for a workout. `fallbackStart` (seconds since 2001) stands
// in for a workout without a start time. A running rest is the one the lock screen counts down,
// so that it ends with the watch's to the second; without one, the rest is derived from the
// newest completion.
nlohmann::json contentState(const platform::Dictionary& workout, double fallbackStart,
                            std::optional<RunningRest> runningRest = std::nullopt);
// {"workoutId", "name"}
nlohmann::json activityAttributes(const platform::Dictionary& workout);
// "workout-<workoutId>"
std::string activityId(const platform::Dictionary& workout);

// The home-screen widget's {"title", "status", "exercises"}: the current workout unless it is
// done ("Up Next", or "In Progress" while it runs), else the plan's next workout not done after
// it, wrapping round; when every workout is done, "Plan complete" without exercises.
nlohmann::json nextWorkout(const TrainingPlan& plan, std::size_t current, const WorkoutFeed& feed);

} // namespace phone::widget
