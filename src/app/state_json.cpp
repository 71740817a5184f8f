#include "app/state_json.hpp"

namespace app {

namespace {

using platform::Dictionary;
using platform::Value;

template <class T> Value optional(const std::optional<T>& value) {
    return value ? Value(*value) : Value();
}

Value millis(const std::optional<platform::TimePoint>& time) {
    if (!time) {
        return Value();
    }
    return Value(static_cast<std::int64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(time->time_since_epoch()).count()));
}

Value optionalFloat(const std::optional<float>& value) {
    return value ? Value(static_cast<double>(*value)) : Value();
}

} // namespace

Value exerciseSetState(const model::ExerciseSet& set) {
    return Dictionary{
        {"id", set.id.get()},
        {"status", set.status.get()},
        {"reps", set.reps.get()},
        {"type", model::toText(set.type.get())},
        {"maxReps", optionalFloat(set.maxReps)},
        {"percentage", optionalFloat(set.percentage)},
        {"weight", set.weight.get()},
        {"sequence", set.sequence},
        {"duration", optional(set.duration.get())},
        {"distance", set.distance.get()},
        {"repsInReserve", set.repsInReserve.get()},
        {"ratePerceivedExertion", set.ratePerceivedExertion.get()},
        {"bandColor", set.bandColor.get()},
        {"timerSeconds", optional(set.timerSeconds)},
        {"setNumber", set.setNumber.get()},
        {"dateCompleted", optional(set.dateCompleted.get())},
    };
}

Value exerciseState(const model::Exercise& exercise) {
    platform::Array sets;
    for (const auto& set : exercise.exerciseSets.get()) {
        sets.push_back(exerciseSetState(*set));
    }
    return Dictionary{
        {"id", exercise.id},
        {"templateExerciseId", optional(exercise.templateExerciseId)},
        {"name", exercise.name},
        {"status", exercise.status},
        {"exerciseSets", std::move(sets)},
        {"isReps", exercise.isReps},
        {"isWeight", exercise.isWeight},
        {"isDuration", exercise.isDuration},
        {"isDistance", exercise.isDistance},
        {"isRepsInReserve", exercise.isRepsInReserve},
        {"isRatePerceivedExertion", exercise.isRatePerceivedExertion},
        {"isBand", exercise.isBand},
        {"superset", optional(exercise.superset)},
        {"weightUnits", exercise.weightUnits},
        {"sequence", exercise.sequence},
        {"category", optional(exercise.category)},
        {"primaryMuscle", optional(exercise.primaryMuscle)},
        {"recommendation", optional(exercise.recommendation)},
        {"barbell", Dictionary{{"name", exercise.barbell.name},
                               {"weight", exercise.barbell.weight},
                               {"units", exercise.barbell.units}}},
        {"plateMultiplier", exercise.plateMultiplier},
        {"timerSeconds", exercise.timerSeconds},
        {"warmupTimerSeconds", exercise.warmupTimerSeconds},
        {"equipment", exercise.equipment},
        {"note", optional(exercise.note)},
        {"color", std::string(model::colorName(exercise.color()))},
    };
}

Value plateState(const model::Plate& plate) {
    return Dictionary{{"id", plate.id},
                      {"units", plate.units},
                      {"plateWeight", plate.plateWeight},
                      {"quantity", plate.quantity}};
}

Value plateListState(const std::vector<model::Plate>& plates) {
    platform::Array list;
    for (const auto& plate : plates) {
        list.push_back(plateState(plate));
    }
    return list;
}

Value timerState(const timer::RestTimerManager& timer) {
    return Dictionary{
        {"timerIsRunning", timer.timerIsRunning.get()},
        {"startTime", timer.startTime.get()},
        {"timerSeconds", timer.timerSeconds.get()},
        {"timerId", optional(timer.timerId)},
        {"timerRevision", timer.timerRevision},
        {"latestTimerStartTime", optional(timer.latestTimerStartTime)},
        {"isExerciseCountdown", timer.isExerciseCountdown.get()},
        {"durationSetId", optional(timer.durationSetId)},
        {"postCountdownRestSeconds", timer.postCountdownRestSeconds},
        {"titleMessage", timer.titleMessage.get()},
        {"nextSetExercise", timer.nextSetExercise.get()},
        {"nextSetLoad", timer.nextSetLoad.get()},
        {"nextSetPlates", plateListState(timer.nextSetPlates.get())},
        {"workoutId", optional(timer.workoutId)},
        {"pendingTimerEvent",
         timer.pendingTimerEvent ? Value(timer.pendingTimerEvent->syncId) : Value()},
    };
}

Value workoutSessionState(const session::WorkoutManager& manager) {
    return Dictionary{
        {"sessionState", static_cast<std::int64_t>(manager.sessionState.get())},
        {"workoutIdentifier", optional(manager.workoutIdentifier())},
        {"workoutOwnershipStartedAt", optional(manager.workoutOwnershipStartedAt())},
        {"syncWorkoutsToHealth", manager.syncWorkoutsToHealth.get()},
        {"lastHeartRate", manager.lastHeartRate.get()},
        {"totalEnergyBurned", manager.totalEnergyBurned.get()},
        {"hasWorkoutSession", manager.workoutSession() != nullptr},
        {"hasWorkoutBuilder", manager.workoutBuilder() != nullptr},
    };
}

Value syncHealthState(const screens::SyncHealthFacts& facts) {
    platform::Array entries;
    for (const auto& entry : facts.entries) {
        entries.push_back(Dictionary{
            {"syncId", entry.syncId},
            {"description", entry.description},
            {"queuedAt", millis(entry.queuedAt)},
            {"liveSends", entry.liveSends},
            {"transfers", entry.transfers},
            {"lastAnswer", optional(entry.lastAnswer)},
        });
    }
    return Dictionary{
        {"waiting", static_cast<std::int64_t>(facts.waiting())},
        {"reachable", facts.reachable},
        {"unreachableSince", millis(facts.unreachableSince)},
        {"lastAcknowledgedAt", millis(facts.lastAcknowledgedAt)},
        {"heldBack", optional(facts.heldBack)},
        {"entries", std::move(entries)},
    };
}

} // namespace app
