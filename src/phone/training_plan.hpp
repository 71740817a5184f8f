#pragma once

#include "platform/values/value.hpp"

#include <optional>
#include <string_view>

namespace phone {

// The phone's training plan: its workouts in the dictionary form the phone sends them in.
struct TrainingPlan {
    std::string name;
    platform::Array workouts;
    // The user's plate inventory as the phone sends it: {"id", "weight", "units", "quantity"}.
    platform::Array weightPlates;
    // The exercise catalogue the watch offers when its user adds an exercise.
    platform::Array referenceExercises;
};

// The plan built into phone-sim: four training days of one week, and a catalogue.
std::string_view embeddedDemoPlanText();

// Reads a plan from JSON text: {"name": ..., "workouts": [workout dictionaries],
// "weightPlates": [plate dictionaries] (optional), "referenceExercises": [catalogue entries]
// (optional)}. Nothing when the text is not such an object.
std::optional<TrainingPlan> parseTrainingPlan(std::string_view json);

// The full snapshot of one workout as the phone sends it: its header, its exercises and the
// revision.
std::optional<platform::Dictionary> workoutSnapshot(const TrainingPlan& plan, std::size_t index,
                                                    double revision);

} // namespace phone
