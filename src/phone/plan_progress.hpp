#pragma once

#include "phone/training_plan.hpp"
#include "phone/workout_feed.hpp"
#include "platform/values/value.hpp"

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace phone {

// The watch's account of a workout's life: started, completed or cancelled on the watch.
struct LifecycleEvent {
    enum class Kind { start, complete, cancel };
    Kind kind = Kind::start;
    std::string workoutId;
    // Milliseconds since 1970; 0 when the watch gave none.
    double occurredAtMs = 0;
};

// Nothing for messages that are not lifecycle events; an empty workout id when the event names
// none.
std::optional<LifecycleEvent> readLifecycleEvent(const platform::Dictionary& message);

// The plan's workouts and the one the phone works on, whose live copy is the feed. The plan
// holds every other workout as it was left.
struct PlanPosition {
    TrainingPlan& plan;
    std::size_t& current;
    WorkoutFeed& feed;

    // Keeps the current workout's changes in the plan, then makes `index` current. False when
    // the plan has no such workout.
    bool select(std::size_t index);
    std::optional<std::size_t> find(std::string_view workoutId) const;
    // The workout as the phone has it now: the live copy for the current one.
    platform::Dictionary workout(std::size_t index) const;
};

// What an applied lifecycle event did to the plan.
struct LifecycleOutcome {
    std::size_t workout = 0;
    // After a completion: the workout as done, with its sets as the watch reported them.
    std::optional<platform::Dictionary> finished;
    // After a completion: the plan's next workout not done, now the current one.
    std::optional<std::size_t> next;
};

// A started workout becomes the current one, in progress since the event; a completed one is
// done and the plan moves on to its next workout not done (wrapping round to the start of the
// plan); a cancelled one is back to not started. Nothing, changing nothing, when the plan has no
// such workout.
std::optional<LifecycleOutcome> applyLifecycleEvent(PlanPosition position,
                                                    const LifecycleEvent& event);

// The workouts offered to the watch, in plan order: those done (as done, so that the watch shows
// the week's progress), the first one not done and the current one. Workouts in `withdrawn` are
// left out.
platform::Array offeredWorkouts(const TrainingPlan& plan, std::size_t current,
                                const WorkoutFeed& feed, const std::set<std::string>& withdrawn);

} // namespace phone
