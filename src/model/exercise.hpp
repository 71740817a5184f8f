#pragma once

#include "model/barbell.hpp"
#include "model/palette.hpp"
#include "model/set_type.hpp"
#include "platform/log/log.hpp"
#include "platform/observe/observable.hpp"
#include "platform/values/value.hpp"

#include <cstdint>
#include <functional>
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

// Where an edit's event for the phone goes (the sync hub queues it in the outbox); the model
// only builds the message dictionary, so it needs nothing of the link.
using EditEventSink = std::function<void(platform::Dictionary message)>;

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

    // Edits made on the watch: the records change first (and stay changed), then the event goes
    // to the sink.
    // Appends a set that continues from the last one and sends "add_set".
    ExerciseSetRef addSet(const EditEventSink& send);
    // Removes every set with the id, renumbers the numeric labels by position and sends
    // "delete_set" (also when nothing matched).
    void deleteSet(std::string_view setId, const EditEventSink& send);
    // Sets the kind, the label and the rest that goes with the kind, and sends "update_set";
    // nothing for an unknown set.
    void changeSetType(std::string_view setId, SetType type, std::string setNumber,
                       const EditEventSink& send, platform::Log& log);
    // Local only: the caller sends its own completion event.
    void completeSet(std::string_view setId, std::optional<platform::Date> dateCompleted);
    void markSetInProgress(std::string_view setId);

    // The first set with the id.
    ExerciseSetRef findSet(std::string_view setId) const;
};

using ExerciseRef = std::shared_ptr<Exercise>;

// A set of the workout with its exercise.
struct SetInWorkout {
    ExerciseRef exercise;
    ExerciseSetRef set;
};

// The first set with the id, exercise by exercise in list order; nulls when there is none.
SetInWorkout findSetInWorkout(const std::vector<ExerciseRef>& exercises, std::string_view setId);

inline std::string_view itemId(const ExerciseRef& exercise) {
    return exercise->id;
}

} // namespace model
