#pragma once

#include "model/barbell.hpp"
#include "model/palette.hpp"
#include "model/set_type.hpp"
#include "platform/observe/observable.hpp"
#include "platform/values/value.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model {

// One set of an exercise. Shared by reference between the sync hub, the screens and the rest
// timer, so that an edit made in one place is seen everywhere; observable fields tell the screens.
class ExerciseSet {
public:
    platform::Observable<std::string> id;
    platform::Observable<std::string> status;
    // Typed numbers are kept as the text entered or received; they are parsed only where a
    // calculation needs them.
    platform::Observable<std::string> reps;
    platform::Observable<SetType> type{SetType::regular};
    std::optional<float> maxReps;
    std::optional<float> percentage;
    platform::Observable<std::string> weight;
    std::int64_t sequence = 0;
    platform::Observable<std::optional<std::int64_t>> duration;
    platform::Observable<std::string> distance;
    platform::Observable<std::string> repsInReserve;
    platform::Observable<std::string> ratePerceivedExertion;
    platform::Observable<std::string> bandColor;
    std::optional<std::int64_t> timerSeconds;
    platform::Observable<std::string> setNumber;
    platform::Observable<std::optional<platform::Date>> dateCompleted;
};

using ExerciseSetRef = std::shared_ptr<ExerciseSet>;

// One exercise of the current workout, shared by reference like its sets.
class Exercise {
public:
    std::string id;
    std::optional<std::string> templateExerciseId;
    std::string name;
    std::string status;
    platform::Observable<std::vector<ExerciseSetRef>> exerciseSets;
    bool isReps = true;
    bool isWeight = true;
    bool isDuration = false;
    bool isDistance = false;
    bool isRepsInReserve = false;
    bool isRatePerceivedExertion = false;
    bool isBand = false;
    std::optional<std::int64_t> superset;
    std::string weightUnits = "lb";
    std::int64_t sequence = 0;
    std::optional<std::string> category;
    std::optional<std::string> primaryMuscle;
    std::optional<std::string> recommendation;
    Barbell barbell;
    std::int64_t plateMultiplier = 2;
    std::int64_t timerSeconds = 0;
    std::int64_t warmupTimerSeconds = 0;
    std::string equipment = "Barbell";
    std::optional<std::string> note;
    static constexpr const std::array<PaletteColor, 6>& colors = supersetPalette;

    PaletteColor color() const { return supersetColor(superset); }
};

using ExerciseRef = std::shared_ptr<Exercise>;

inline std::string_view itemId(const ExerciseRef& exercise) {
    return exercise->id;
}

} // namespace model
