#include "app/state_json.hpp"

namespace app {

namespace {

using platform::Dictionary;
using platform::Value;

template <class T> Value optional(const std::optional<T>& value) {
    return value ? Value(*value) : Value();
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

} // namespace app
