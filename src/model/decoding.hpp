#pragma once

#include "model/exercise.hpp"
#include "model/workout.hpp"
#include "platform/values/value.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace model {

// Builds a new exercise from the phone's dictionary, or null when "id", "name" or "status" is
// missing or not a string. Every other field takes its default when missing or malformed.
// fallbackSequence is the dictionary's position in the list it came from.
ExerciseRef decodeExercise(const platform::Dictionary& dictionary, std::int64_t fallbackSequence);

// A bar from the phone: `fallback` when the value is not a dictionary with a finite "weight";
// units from "units", else "weightUnits", else the exercise's.
Barbell decodeBarbell(const platform::Value* value, const std::string& weightUnits,
                      const Barbell& fallback);

// Decodes a list of exercise dictionaries; each element's index in the list as received is its
// fallback sequence, and elements that do not decode are left out. Nothing when the value is
// not a list whose every element is a dictionary.
std::optional<std::vector<ExerciseRef>> decodeExerciseList(const platform::Value* value);

// A workout the user can start, or nothing when "name", "id", "status" or "week" is missing or
// not a string.
std::optional<Workout> decodeWorkout(const platform::Dictionary& dictionary);

} // namespace model
