#include "screens/logic/list_rows.hpp"

#include "model/status.hpp"

#include <algorithm>
#include <cstdio>

namespace screens {

namespace {

std::string wholeNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

std::string placeholderSubject(const model::Exercise& exercise) {
    // A category sent as empty text means "any exercise for this muscle".
    if (exercise.category && exercise.category->empty()) {
        return exercise.primaryMuscle.value_or("Select");
    }
    return exercise.category.value_or("Select");
}

} // namespace

bool isSetDone(const model::ExerciseSet& set) {
    return set.status.get() == model::status::complete;
}

std::optional<int> firstOpenSet(const model::Exercise& exercise) {
    const auto& sets = exercise.exerciseSets.get();
    for (std::size_t i = 0; i < sets.size(); ++i) {
        if (!isSetDone(*sets[i])) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

bool anySetDone(const std::vector<model::ExerciseRef>& exercises) {
    return std::any_of(exercises.begin(), exercises.end(), [](const model::ExerciseRef& e) {
        const auto& sets = e->exerciseSets.get();
        return std::any_of(sets.begin(), sets.end(),
                           [](const model::ExerciseSetRef& set) { return isSetDone(*set); });
    });
}

ExerciseRowLabel exerciseRowLabel(const model::Exercise& exercise) {
    if (!exercise.name.empty()) {
        const auto& sets = exercise.exerciseSets.get();
        auto done = std::count_if(sets.begin(), sets.end(),
                                  [](const model::ExerciseSetRef& set) { return isSetDone(*set); });
        return {exercise.name,
                std::to_string(done) + "/" + std::to_string(sets.size()) + " sets complete", false};
    }
    std::optional<std::string> detail;
    if (exercise.recommendation) {
        detail = *exercise.recommendation + " reps";
    }
    return {placeholderSubject(exercise) + " Exercise", std::move(detail), true};
}

MetricsHeader metricsHeader(double lastHeartRate, double totalEnergyBurned) {
    return {wholeNumber(lastHeartRate), wholeNumber(totalEnergyBurned)};
}

std::vector<model::ExerciseRef> exerciseListOrder(std::vector<model::ExerciseRef> exercises) {
    std::stable_sort(exercises.begin(), exercises.end(),
                     [](const model::ExerciseRef& a, const model::ExerciseRef& b) {
                         return a->sequence < b->sequence;
                     });
    return exercises;
}

std::string finishButtonLabel(const std::vector<model::ExerciseRef>& exercises) {
    return anySetDone(exercises) ? "Finish Workout" : "Cancel Workout";
}

} // namespace screens
