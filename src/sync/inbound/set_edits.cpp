// The watch's own edits to the current workout and the events that report them to the phone.
#include "model/status.hpp"
#include "platform/values/uuid.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <algorithm>
#include <array>

namespace watchsync {

using platform::Dictionary;
using platform::Value;

namespace {

Dictionary event(std::string_view type, Dictionary payload) {
    return Dictionary{{"type", Value(type)}, {"payload", Value(std::move(payload))}};
}

// Equipment that takes plates on one side only; compared as whole strings, case included.
std::int64_t plateMultiplierFor(std::string_view equipment) {
    constexpr std::array<std::string_view, 3> oneSided{"Landmine", "Dip Belt",
                                                       "Machine (plate loaded single post)"};
    return std::find(oneSided.begin(), oneSided.end(), equipment) != oneSided.end() ? 1 : 2;
}

} // namespace

model::EditEventSink WatchDataSource::editEvents() {
    return [&outbox = outbox_](Dictionary message) { outbox.enqueue(message); };
}

model::ExerciseRef WatchDataSource::createExercise(const model::ReferenceExercise& reference,
                                                   std::optional<std::int64_t> sequence) {
    auto exercise = std::make_shared<model::Exercise>();
    exercise->id = platform::makeUuid();
    exercise->templateExerciseId = platform::makeUuid();
    exercise->name = reference.name;
    exercise->status = std::string(model::status::notStarted);
    exercise->isReps = reference.isReps;
    exercise->isWeight = reference.isWeight;
    exercise->isDuration = reference.isDuration;
    exercise->isDistance = reference.isDistance;
    exercise->isRepsInReserve = reference.isRepsInReserve;
    exercise->isRatePerceivedExertion = reference.isRatePerceivedExertion;
    exercise->isBand = reference.isBand;
    exercise->weightUnits = reference.weightUnits;
    exercise->equipment = reference.equipment;
    exercise->barbell = reference.barbell;
    exercise->sequence = sequence.value_or(static_cast<std::int64_t>(exercises->size()));
    exercise->plateMultiplier = plateMultiplierFor(reference.equipment);
    exercise->timerSeconds = reference.restTimer.assistance;
    exercise->warmupTimerSeconds =
        reference.restTimer.warmup.value_or(reference.restTimer.assistance);
    exercises.modify([&](auto& list) { list.push_back(exercise); });

    outbox_.enqueue(
        event("create_exercise", Dictionary{
                                     {"name", Value(exercise->name)},
                                     {"referenceExerciseId", Value(reference.id)},
                                     {"id", Value(exercise->id)},
                                     {"templateExerciseId", Value(*exercise->templateExerciseId)},
                                     {"sequence", Value(exercise->sequence)},
                                     {"workoutId", Value(workoutId.get())},
                                 }));
    // Queued after the exercise, so the phone knows it when the set arrives.
    exercise->addSet(editEvents());
    return exercise;
}

void WatchDataSource::deleteExercise(std::string exerciseId) {
    onMain([this, exerciseId = std::move(exerciseId)] {
        exercises.modify([&](auto& list) {
            std::erase_if(list, [&](const model::ExerciseRef& exercise) {
                return exercise->id == exerciseId;
            });
        });
        // Also when nothing matched: the phone may hold an exercise this copy has not seen.
        outbox_.enqueue(event("delete_exercise", Dictionary{{"id", Value(exerciseId)}}));
    });
}

void WatchDataSource::sendSetFieldEdit(const std::string& setId, const std::string& field,
                                       const std::string& text) {
    Dictionary payload{{field, Value(text)}};
    // The set's id wins over a field of the same name.
    payload.insert_or_assign("id", Value(setId));
    outbox_.enqueue(event("update_set", std::move(payload)));
}

void WatchDataSource::sendSetDurationEdit(const std::string& setId, std::int64_t seconds) {
    outbox_.enqueue(
        event("update_set", Dictionary{{"id", Value(setId)}, {"duration", Value(seconds)}}));
}

} // namespace watchsync
