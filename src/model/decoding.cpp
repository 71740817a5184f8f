#include "model/decoding.hpp"

#include "model/conversions.hpp"
#include "platform/values/iso8601.hpp"

#include <cmath>
#include <limits>

namespace model {

namespace {

using platform::Dictionary;
using platform::Value;

constexpr std::string_view defaultBandColor = "#FF5216";

std::string stringOr(const Dictionary& dictionary, std::string_view key,
                     std::string_view fallback) {
    const auto* text = asString(lookup(dictionary, key));
    return text != nullptr ? *text : std::string(fallback);
}

std::optional<std::string> optionalString(const Dictionary& dictionary, std::string_view key) {
    const auto* text = asString(lookup(dictionary, key));
    return text != nullptr ? std::optional<std::string>(*text) : std::nullopt;
}

bool flag(const Dictionary& dictionary, std::string_view key, bool fallback) {
    return asBoolean(lookup(dictionary, key)).value_or(fallback);
}

// Narrowing a double that float cannot hold is undefined in C++; saturate to infinity instead.
std::optional<float> asFloat(const Value* value) {
    auto number = asNumber(value);
    if (!number) {
        return std::nullopt;
    }
    if (std::isfinite(*number) && std::fabs(*number) > std::numeric_limits<float>::max()) {
        return *number > 0 ? std::numeric_limits<float>::infinity()
                           : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(*number);
}

std::optional<platform::Date> completionDate(const Value* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* text = value->string()) {
        return platform::parseInternetDateTime(*text);
    }
    return asDateMillis(value);
}

ExerciseSetRef decodeSet(const Dictionary& dictionary) {
    const auto* id = asString(lookup(dictionary, "id"));
    const auto* status = asString(lookup(dictionary, "status"));
    if (id == nullptr || status == nullptr) {
        return nullptr;
    }
    auto set = std::make_shared<ExerciseSet>();
    set->id.set(*id);
    set->status.set(*status);
    set->setNumber.set(asText(lookup(dictionary, "setNumber")).value_or("-"));
    set->sequence = asInteger(lookup(dictionary, "sequence")).value_or(0);
    const auto* type = asString(lookup(dictionary, "type"));
    set->type.set(type != nullptr ? setTypeFromText(*type).value_or(SetType::regular)
                                  : SetType::regular);
    set->reps.set(asText(lookup(dictionary, "reps")).value_or(""));
    set->maxReps = asFloat(lookup(dictionary, "maxReps"));
    set->percentage = asFloat(lookup(dictionary, "percentage"));
    set->weight.set(asText(lookup(dictionary, "weight")).value_or("0"));
    set->duration.set(asInteger(lookup(dictionary, "duration")));
    set->distance.set(asText(lookup(dictionary, "distance")).value_or(""));
    set->repsInReserve.set(asText(lookup(dictionary, "repsInReserve")).value_or(""));
    set->ratePerceivedExertion.set(
        asText(lookup(dictionary, "ratePerceivedExertion")).value_or(""));
    set->timerSeconds = asInteger(lookup(dictionary, "timerSeconds"));
    set->bandColor.set(stringOr(dictionary, "bandColor", defaultBandColor));
    set->dateCompleted.set(completionDate(lookup(dictionary, "dateCompleted")));
    return set;
}

std::vector<ExerciseSetRef> decodeSets(const Value* value) {
    std::vector<ExerciseSetRef> sets;
    auto dictionaries = asDictionaryList(value);
    if (!dictionaries) {
        return sets;
    }
    sets.reserve(dictionaries->size());
    for (const auto* dictionary : *dictionaries) {
        if (dictionary->empty()) {
            continue;
        }
        if (auto set = decodeSet(*dictionary)) {
            sets.push_back(std::move(set));
        }
    }
    return sets;
}

} // namespace

Barbell decodeBarbell(const Value* value, const std::string& weightUnits, const Barbell& fallback) {
    auto dictionary = asDictionary(value);
    if (!dictionary) {
        return fallback;
    }
    auto weight = asNumber(lookup(*dictionary, "weight"));
    // A bar of no finite weight would turn every plate calculation into nonsense.
    if (!weight || !std::isfinite(*weight)) {
        return fallback;
    }
    Barbell bar;
    bar.weight = *weight;
    bar.name = stringOr(*dictionary, "name", defaultBarbellName);
    if (const auto* units = asString(lookup(*dictionary, "units"))) {
        bar.units = *units;
    } else {
        bar.units = stringOr(*dictionary, "weightUnits", weightUnits);
    }
    return bar;
}

ExerciseRef decodeExercise(const Dictionary& dictionary, std::int64_t fallbackSequence) {
    const auto* id = asString(lookup(dictionary, "id"));
    const auto* name = asString(lookup(dictionary, "name"));
    const auto* status = asString(lookup(dictionary, "status"));
    if (id == nullptr || name == nullptr || status == nullptr) {
        return nullptr;
    }
    auto exercise = std::make_shared<Exercise>();
    exercise->id = *id;
    exercise->name = *name;
    exercise->status = *status;
    exercise->exerciseSets.set(decodeSets(lookup(dictionary, "exerciseSets")));
    exercise->weightUnits = stringOr(dictionary, "weightUnits", "lb");
    exercise->barbell = decodeBarbell(lookup(dictionary, "barbell"), exercise->weightUnits,
                                      defaultBarbell(exercise->weightUnits));
    exercise->templateExerciseId = stringOr(dictionary, "templateExerciseId", "");
    exercise->category = optionalString(dictionary, "category");
    exercise->primaryMuscle = optionalString(dictionary, "primaryMuscle");
    exercise->recommendation = optionalString(dictionary, "recommendation");
    exercise->isReps = flag(dictionary, "isReps", true);
    exercise->isWeight = flag(dictionary, "isWeight", true);
    exercise->isDuration = flag(dictionary, "isDuration", false);
    exercise->isDistance = flag(dictionary, "isDistance", false);
    exercise->isRepsInReserve = flag(dictionary, "isRepsInReserve", false);
    exercise->isRatePerceivedExertion = flag(dictionary, "isRatePerceivedExertion", false);
    exercise->isBand = flag(dictionary, "isBand", false);
    exercise->superset = asInteger(lookup(dictionary, "superset"));
    exercise->sequence = asInteger(lookup(dictionary, "sequence")).value_or(fallbackSequence);
    // "multiplier" is the older name, read only when the newer key is missing altogether.
    const auto* multiplier = lookup(dictionary, "plateMultiplier");
    if (multiplier == nullptr) {
        multiplier = lookup(dictionary, "multiplier");
    }
    exercise->plateMultiplier = asInteger(multiplier).value_or(2);
    exercise->equipment = stringOr(dictionary, "equipment", "Barbell");
    exercise->timerSeconds = asInteger(lookup(dictionary, "timerSeconds")).value_or(0);
    exercise->warmupTimerSeconds =
        asInteger(lookup(dictionary, "warmupTimerSeconds")).value_or(exercise->timerSeconds);
    exercise->note = optionalString(dictionary, "note");
    return exercise;
}

std::optional<std::vector<ExerciseRef>> decodeExerciseList(const Value* value) {
    auto dictionaries = asDictionaryList(value);
    if (!dictionaries) {
        return std::nullopt;
    }
    std::vector<ExerciseRef> exercises;
    exercises.reserve(dictionaries->size());
    std::int64_t index = 0;
    for (const auto* dictionary : *dictionaries) {
        if (auto exercise = decodeExercise(*dictionary, index)) {
            exercises.push_back(std::move(exercise));
        }
        ++index;
    }
    return exercises;
}

std::optional<Workout> decodeWorkout(const Dictionary& dictionary) {
    const auto* name = asString(lookup(dictionary, "name"));
    const auto* id = asString(lookup(dictionary, "id"));
    const auto* status = asString(lookup(dictionary, "status"));
    const auto* week = asString(lookup(dictionary, "week"));
    if (name == nullptr || id == nullptr || status == nullptr || week == nullptr) {
        return std::nullopt;
    }
    Workout workout{*id, *name, *week, *status, {}};
    if (auto exercises = decodeExerciseList(lookup(dictionary, "exercises"))) {
        workout.exercises = std::move(*exercises);
    }
    return workout;
}

} // namespace model
