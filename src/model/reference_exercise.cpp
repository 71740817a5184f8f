#include "model/reference_exercise.hpp"

#include "model/decoding.hpp"

#include "model/conversions.hpp"

#include <cmath>

namespace model {

using platform::Dictionary;
using platform::Value;

namespace {

std::string stringOr(const Dictionary& dictionary, std::string_view key,
                     std::string_view fallback) {
    const auto* text = asString(lookup(dictionary, key));
    return text != nullptr ? *text : std::string(fallback);
}

bool flag(const Dictionary& dictionary, std::string_view key, bool fallback) {
    return asBoolean(lookup(dictionary, key)).value_or(fallback);
}

RestTimerOptions decodeRestTimer(const Value* value) {
    RestTimerOptions options;
    auto dictionary = asDictionary(value);
    if (!dictionary) {
        return options;
    }
    options.warmup = asInteger(lookup(*dictionary, "warmup"));
    // Only an absent "T1" falls back to "t1"; a present but unusable one takes the default.
    const auto* t1 = lookup(*dictionary, "T1");
    options.T1 = asInteger(t1 != nullptr ? t1 : lookup(*dictionary, "t1")).value_or(options.T1);
    options.supplemental =
        asInteger(lookup(*dictionary, "supplemental")).value_or(options.supplemental);
    options.assistance = asInteger(lookup(*dictionary, "assistance")).value_or(options.assistance);
    return options;
}

// Unlike a workout exercise's default bar, the catalogue's tests for "kg".
Barbell catalogueDefaultBarbell(const std::string& weightUnits) {
    return Barbell{std::string(defaultBarbellName), weightUnits == "kg" ? 20.0 : 45.0, weightUnits};
}

} // namespace

std::optional<ReferenceExercise> decodeReferenceExercise(const Dictionary& dictionary) {
    const auto* id = asString(lookup(dictionary, "id"));
    const auto* name = asString(lookup(dictionary, "name"));
    // An empty id cannot be picked apart from another, and an empty name is a blank row.
    if (id == nullptr || name == nullptr || id->empty() || name->empty()) {
        return std::nullopt;
    }
    ReferenceExercise exercise;
    exercise.id = *id;
    exercise.name = *name;
    exercise.weightUnits = stringOr(dictionary, "weightUnits", "lb");
    exercise.isReps = flag(dictionary, "isReps", true);
    exercise.isWeight = flag(dictionary, "isWeight", true);
    exercise.isDuration = flag(dictionary, "isDuration", false);
    exercise.isDistance = flag(dictionary, "isDistance", false);
    exercise.isRepsInReserve = flag(dictionary, "isRepsInReserve", false);
    exercise.isRatePerceivedExertion = flag(dictionary, "isRatePerceivedExertion", false);
    exercise.isBand = flag(dictionary, "isBand", false);
    exercise.isRecent = flag(dictionary, "isRecent", false);
    exercise.equipment = stringOr(dictionary, "equipment", "Barbell");
    exercise.restTimer = decodeRestTimer(lookup(dictionary, "restTimer"));
    exercise.barbell = decodeBarbell(lookup(dictionary, "barbell"), exercise.weightUnits,
                                     catalogueDefaultBarbell(exercise.weightUnits));
    return exercise;
}

} // namespace model
