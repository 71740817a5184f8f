// The rest timer's preview of the next set: what comes next, its load, and the plates to put on.
#include "model/conversions.hpp"
#include "model/status.hpp"
#include "timer/next_set.hpp"
#include "timer/plates.hpp"
#include "timer/rest_timer_manager.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>

namespace timer {

namespace {

constexpr std::array<std::string_view, 5> plateEquipment{"Barbell", "Machine (plate loaded)",
                                                         "Landmine", "Dip Belt",
                                                         "Machine (plate loaded single post)"};

bool isOpen(const model::ExerciseSetRef& set) {
    return set != nullptr && set->status.get() != model::status::complete;
}

void appendPart(std::string& text, std::string_view part) {
    if (!text.empty()) {
        text += " x ";
    }
    text += part;
}

} // namespace

bool takesPlates(std::string_view equipment) {
    return std::find(plateEquipment.begin(), plateEquipment.end(), equipment) !=
           plateEquipment.end();
}

double weightValue(std::string_view weight) {
    const platform::Value text{std::string(weight)};
    return model::asNumber(&text).value_or(0);
}

std::string positionalDuration(std::int64_t seconds) {
    // Unsigned, so that the most negative number has a magnitude too.
    const std::uint64_t magnitude =
        seconds < 0 ? 0 - static_cast<std::uint64_t>(seconds) : static_cast<std::uint64_t>(seconds);
    const auto hours = static_cast<unsigned long long>(magnitude / 3600);
    const auto minutes = static_cast<unsigned long long>(magnitude / 60 % 60);
    const auto rest = static_cast<unsigned long long>(magnitude % 60);
    char buffer[48];
    if (hours > 0) {
        std::snprintf(buffer, sizeof buffer, "%llu:%02llu:%02llu", hours, minutes, rest);
    } else {
        std::snprintf(buffer, sizeof buffer, "%llu:%02llu", minutes, rest);
    }
    return (seconds < 0 ? "-" : "") + std::string(buffer);
}

std::string nextSetLoadText(const model::Exercise& exercise, const model::ExerciseSet& set) {
    std::string text;
    if (exercise.isReps) {
        text += set.reps.get();
        if (set.type.get() == model::SetType::pr) {
            text += "+";
        }
        if (!exercise.isWeight && !exercise.isDistance && !exercise.isDuration) {
            text += " reps";
        }
    }
    if (exercise.isDuration && set.duration.get()) {
        appendPart(text, positionalDuration(*set.duration.get()));
    }
    if (exercise.isDistance) {
        appendPart(text, set.distance.get());
    }
    if (exercise.isWeight) {
        appendPart(text, set.weight.get() + exercise.weightUnits);
    }
    return text;
}

model::ExerciseSetRef firstOpenSet(const model::Exercise& exercise) {
    const auto& sets = exercise.exerciseSets.get();
    auto open = std::find_if(sets.begin(), sets.end(), isOpen);
    return open != sets.end() ? *open : nullptr;
}

std::optional<NextSetChoice> findNextSet(const model::ExerciseRef& exercise,
                                         const std::vector<std::string>& completedSetIds,
                                         const std::vector<model::ExerciseRef>& exercises) {
    if (exercise == nullptr) {
        return std::nullopt;
    }
    auto firstCandidate = [&](const model::Exercise& visited) -> model::ExerciseSetRef {
        for (const auto& set : visited.exerciseSets.get()) {
            if (isOpen(set) && std::find(completedSetIds.begin(), completedSetIds.end(),
                                         set->id.get()) == completedSetIds.end()) {
                return set;
            }
        }
        return nullptr;
    };

    std::int64_t lastSequence = exercise->sequence;
    if (!exercise->superset) {
        if (auto set = firstCandidate(*exercise)) {
            return NextSetChoice{exercise, std::move(set)};
        }
    } else {
        std::vector<model::ExerciseRef> group;
        for (const auto& member : exercises) {
            if (member != nullptr && member->superset == exercise->superset) {
                group.push_back(member);
            }
        }
        if (std::find(group.begin(), group.end(), exercise) == group.end()) {
            group.push_back(exercise);
        }
        std::stable_sort(group.begin(), group.end(),
                         [](const auto& a, const auto& b) { return a->sequence < b->sequence; });
        // Those after the given exercise first, then round from the start of the group.
        std::vector<model::ExerciseRef> visitOrder;
        visitOrder.reserve(group.size());
        std::copy_if(group.begin(), group.end(), std::back_inserter(visitOrder),
                     [&](const auto& member) { return member->sequence > exercise->sequence; });
        std::copy_if(group.begin(), group.end(), std::back_inserter(visitOrder),
                     [&](const auto& member) { return member->sequence <= exercise->sequence; });
        for (const auto& member : visitOrder) {
            if (auto set = firstCandidate(*member)) {
                return NextSetChoice{member, std::move(set)};
            }
            lastSequence = std::max(lastSequence, member->sequence);
        }
    }

    model::ExerciseRef following;
    for (const auto& candidate : exercises) {
        if (candidate != nullptr && candidate->sequence > lastSequence &&
            (following == nullptr || candidate->sequence < following->sequence) &&
            firstOpenSet(*candidate) != nullptr) {
            following = candidate;
        }
    }
    if (following != nullptr) {
        return NextSetChoice{std::move(following), nullptr};
    }
    return std::nullopt;
}

void RestTimerManager::updateNextSet(const model::Exercise& exercise,
                                     const model::ExerciseSet* set) {
    model::ExerciseSetRef firstOpen;
    if (set == nullptr) {
        firstOpen = firstOpenSet(exercise);
        set = firstOpen.get();
    }
    if (set == nullptr || set->status.get() == model::status::complete) {
        resetTimerContext();
        return;
    }
    nextSetExercise = exercise.name;
    nextSetLoad = nextSetLoadText(exercise, *set);
    updateNextSetPlates(exercise, set);
}

void RestTimerManager::updateNextSetPlates(const model::Exercise& exercise,
                                           const model::ExerciseSet* set) {
    if (!takesPlates(exercise.equipment)) {
        return;
    }
    const double target = set != nullptr ? weightValue(set->weight.get()) : 0;
    std::vector<model::Plate> sameUnits;
    for (const auto& plate : availableWeightPlates.get()) {
        if (plate.units == exercise.weightUnits) {
            sameUnits.push_back(plate);
        }
    }
    nextSetPlates =
        computePlates(target, exercise.barbell.weight, sameUnits, exercise.plateMultiplier);
}

void RestTimerManager::chooseNextSet(const model::ExerciseRef& exercise,
                                     const std::vector<std::string>& completedSetIds,
                                     const std::vector<model::ExerciseRef>& exercises) {
    if (auto choice = findNextSet(exercise, completedSetIds, exercises)) {
        updateNextSet(*choice->exercise, choice->set.get());
    } else {
        resetTimerContext();
    }
}

} // namespace timer
