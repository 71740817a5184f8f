#pragma once

#include "model/barbell.hpp"
#include "platform/values/value.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace model {

// Rest times in whole seconds by kind of work.
struct RestTimerOptions {
    // None when the exercise has no warm-up rest of its own.
    std::optional<std::int64_t> warmup;
    std::int64_t T1 = 120;
    std::int64_t supplemental = 120;
    std::int64_t assistance = 120;

    bool operator==(const RestTimerOptions&) const = default;
};

// One exercise of the catalogue the user can add to the current workout.
struct ReferenceExercise {
    std::string id;
    std::string name;
    bool isReps = true;
    bool isWeight = true;
    bool isDuration = false;
    bool isDistance = false;
    bool isRepsInReserve = false;
    bool isRatePerceivedExertion = false;
    bool isBand = false;
    std::string weightUnits = "lb";
    bool isRecent = false;
    std::string equipment = "Barbell";
    RestTimerOptions restTimer;
    Barbell barbell;

    bool operator==(const ReferenceExercise&) const = default;
};

// Shared like the workout's exercises: the catalogue list and the screens hold the same entries.
using ReferenceExerciseRef = std::shared_ptr<const ReferenceExercise>;

inline std::string_view itemId(const ReferenceExerciseRef& exercise) {
    return exercise->id;
}

// A catalogue entry from the phone's dictionary, or nothing when "id" or "name" is missing or not
// a string. Every other field takes its default when missing or malformed.
std::optional<ReferenceExercise> decodeReferenceExercise(const platform::Dictionary& dictionary);

} // namespace model
