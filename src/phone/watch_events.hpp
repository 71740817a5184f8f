#pragma once

#include "phone/training_plan.hpp"
#include "phone/workout_feed.hpp"
#include "platform/values/value.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace phone {

// The rest timer as the phone knows it: from the watch's timer events, and from its own
// corrections.
struct PhoneTimer {
    bool running = false;
    std::optional<std::string> id;
    std::int64_t revision = 0;
    // Milliseconds since 1970.
    double startMs = 0;
    double seconds = 0;
    bool isExerciseCountdown = false;
    std::optional<std::string> durationSetId;
    std::optional<std::string> exerciseId;
    std::vector<std::string> setCompletedIds;
    // The newest countdown run of each timed set, by set id: its timer id and start.
    std::map<std::string, std::pair<std::string, double>, std::less<>> countdowns;

    bool known() const { return id.has_value() || running; }
    // The "restTimerData" dictionary the watch reads.
    platform::Dictionary restTimerData() const;
};

// What the watch's event does to the phone's copy of the workout and of the timer. Called once
// per sync id (repeats are recognised before). True when the workout changed; false when the
// event names nothing the phone has, or changes only the timer.
bool applyWatchEvent(WorkoutFeed& feed, PhoneTimer& timer, const platform::Dictionary& message);

// The same for the whole plan: an event that names nothing in the current workout changes the
// plan's workout that has the set or exercise it names, since the watch may still log a workout
// the phone has moved on from. True only when the current workout changed.
bool applyWatchEventToPlan(TrainingPlan& plan, std::size_t current, WorkoutFeed& feed,
                           PhoneTimer& timer, const platform::Dictionary& message);

} // namespace phone
