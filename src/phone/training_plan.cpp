#include "phone/training_plan.hpp"

#include "platform/values/json.hpp"

namespace phone {

std::optional<TrainingPlan> parseTrainingPlan(std::string_view json) {
    auto document = platform::parseJson(json);
    if (!document) {
        return std::nullopt;
    }
    const auto* name = document->find("name");
    const auto* workouts = document->find("workouts");
    if (name == nullptr || name->string() == nullptr || workouts == nullptr ||
        workouts->array() == nullptr) {
        return std::nullopt;
    }
    for (const auto& workout : *workouts->array()) {
        if (workout.dictionary() == nullptr) {
            return std::nullopt;
        }
    }
    platform::Array plates;
    if (const auto* list = document->find("weightPlates")) {
        if (list->array() == nullptr) {
            return std::nullopt;
        }
        plates = *list->array();
    }
    platform::Array catalogue;
    if (const auto* list = document->find("referenceExercises")) {
        if (list->array() == nullptr) {
            return std::nullopt;
        }
        catalogue = *list->array();
    }
    return TrainingPlan{*name->string(), *workouts->array(), std::move(plates),
                        std::move(catalogue)};
}

std::optional<platform::Dictionary> workoutSnapshot(const TrainingPlan& plan, std::size_t index,
                                                    double revision) {
    if (index >= plan.workouts.size()) {
        return std::nullopt;
    }
    const auto& workout = plan.workouts[index];
    platform::Dictionary header;
    for (const char* key : {"id", "name", "status"}) {
        if (const auto* field = workout.find(key)) {
            header.emplace(key, *field);
        }
    }
    platform::Dictionary snapshot;
    snapshot.emplace("syncRevision", revision);
    snapshot.emplace("workout", std::move(header));
    const auto* exercises = workout.find("exercises");
    snapshot.emplace("exercises",
                     exercises != nullptr ? *exercises : platform::Value(platform::Array{}));
    return snapshot;
}

} // namespace phone
