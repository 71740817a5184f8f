// The edits the user makes to an exercise on the watch, with the event each one sends.
#include "model/exercise.hpp"
#include "model/sequence.hpp"
#include "model/status.hpp"

#include "platform/values/uuid.hpp"

#include <algorithm>
#include <charconv>

namespace model {

using platform::Dictionary;
using platform::Value;

namespace {

constexpr std::string_view defaultBandColor = "#FF5216";

Dictionary event(std::string_view type, Dictionary payload) {
    return Dictionary{{"type", Value(type)}, {"payload", Value(std::move(payload))}};
}

// A label that reads entirely as a base-10 integer in the 64-bit range, with an optional sign;
// labels such as "W" or "1a" are names, not positions.
bool isNumericLabel(std::string_view label) {
    if (!label.empty() && label.front() == '+') {
        label.remove_prefix(1);
        // "+-1" is not a number.
        if (!label.empty() && label.front() == '-') {
            return false;
        }
    }
    if (label.empty()) {
        return false;
    }
    std::int64_t value = 0;
    const auto* end = label.data() + label.size();
    auto [next, error] = std::from_chars(label.data(), end, value);
    return error == std::errc() && next == end;
}

} // namespace

ExerciseSetRef Exercise::findSet(std::string_view setId) const {
    const auto& sets = exerciseSets.get();
    auto found = std::find_if(sets.begin(), sets.end(),
                              [&](const ExerciseSetRef& set) { return set->id.get() == setId; });
    return found != sets.end() ? *found : nullptr;
}

SetInWorkout findSetInWorkout(const std::vector<ExerciseRef>& exercises, std::string_view setId) {
    for (const auto& exercise : exercises) {
        if (auto set = exercise->findSet(setId)) {
            return {exercise, std::move(set)};
        }
    }
    return {};
}

ExerciseSetRef Exercise::addSet(const EditEventSink& send) {
    auto set = std::make_shared<ExerciseSet>();
    set->id = platform::makeUuid();
    set->status = std::string(status::notStarted);
    set->type = SetType::regular;
    set->bandColor = std::string(defaultBandColor);
    set->timerSeconds = timerSeconds;
    if (!exerciseSets->empty()) {
        const auto& last = *exerciseSets->back();
        set->reps = last.reps.get();
        set->weight = last.weight.get();
        set->distance = last.distance.get();
        set->repsInReserve = last.repsInReserve.get();
        set->ratePerceivedExertion = last.ratePerceivedExertion.get();
        set->percentage = last.percentage.value_or(0);
        set->duration = last.duration->value_or(0);
        set->sequence = sequenceAfter(last.sequence);
        // Counts from the last set's sequence, whatever that set is labelled.
        set->setNumber = std::to_string(sequenceAfter(last.sequence, 2));
    } else {
        set->reps = std::string();
        set->weight = std::string("0");
        set->distance = std::string("0");
        set->repsInReserve = std::string("0");
        set->ratePerceivedExertion = std::string("0");
        set->percentage = 0.0F;
        set->duration = std::int64_t{0};
        set->sequence = 0;
        set->setNumber = std::string("1");
    }
    exerciseSets.modify([&](auto& sets) { sets.push_back(set); });

    send(event("add_set", Dictionary{
                              {"exerciseId", Value(id)},
                              {"setId", Value(set->id.get())},
                              {"status", Value(set->status.get())},
                              {"reps", Value(set->reps.get())},
                              {"type", Value(toText(set->type.get()))},
                              {"percentage", Value(static_cast<double>(*set->percentage))},
                              {"weight", Value(set->weight.get())},
                              {"repsInReserve", Value(set->repsInReserve.get())},
                              {"ratePerceivedExertion", Value(set->ratePerceivedExertion.get())},
                              {"sequence", Value(set->sequence)},
                              {"duration", Value(set->duration->value_or(0))},
                              {"distance", Value(set->distance.get())},
                          }));
    return set;
}

void Exercise::deleteSet(std::string_view setId, const EditEventSink& send) {
    exerciseSets.modify([&](auto& sets) {
        std::erase_if(sets, [&](const ExerciseSetRef& set) { return set->id.get() == setId; });
        // Numbered labels follow the position; named ones ("W") stay. Sequences are the phone's.
        for (std::size_t position = 0; position < sets.size(); ++position) {
            if (isNumericLabel(sets[position]->setNumber.get())) {
                sets[position]->setNumber = std::to_string(position + 1);
            }
        }
    });
    // The phone may hold a set this copy has not seen yet.
    send(event("delete_set", Dictionary{{"id", Value(setId)}}));
}

void Exercise::changeSetType(std::string_view setId, SetType type, std::string setNumber,
                             const EditEventSink& send, platform::Log& log) {
    log.line("Change set type");
    auto set = findSet(setId);
    if (!set) {
        return;
    }
    log.line("Got set type");
    set->type = type;
    set->setNumber = std::move(setNumber);
    set->timerSeconds = type == SetType::warmup ? warmupTimerSeconds : timerSeconds;
    // Observers of the list redraw the row too.
    exerciseSets.modify([](auto&) {});
    send(event("update_set", Dictionary{{"id", Value(setId)}, {"type", Value(toText(type))}}));
}

void Exercise::completeSet(std::string_view setId, std::optional<platform::Date> dateCompleted) {
    auto set = findSet(setId);
    if (!set) {
        return;
    }
    set->status = std::string(status::complete);
    set->dateCompleted = dateCompleted;
}

void Exercise::markSetInProgress(std::string_view setId) {
    if (auto set = findSet(setId)) {
        set->status = std::string(status::inProgress);
    }
}

} // namespace model
