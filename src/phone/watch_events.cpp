#include "phone/watch_events.hpp"
#include "phone/fields.hpp"

#include <array>
#include <cmath>
#include <string_view>

namespace phone {

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

// The set's own fields; the timer fields that travel in the same events belong to the timer.
constexpr std::array<std::string_view, 11> setFields{
    "status",    "type",       "reps",          "weight",
    "duration",  "distance",   "repsInReserve", "ratePerceivedExertion",
    "bandColor", "percentage", "dateCompleted"};

Dictionary setFieldsOf(const Dictionary& payload) {
    Dictionary fields;
    for (auto key : setFields) {
        if (auto found = payload.find(key); found != payload.end()) {
            fields.insert_or_assign(std::string(key), found->second);
        }
    }
    return fields;
}

std::optional<std::string> exerciseOfSet(const WorkoutFeed& feed, std::string_view setId) {
    for (const auto& exercise : feed.exercises()) {
        const auto* sets = exercise.find("exerciseSets");
        if (sets == nullptr || sets->array() == nullptr) {
            continue;
        }
        for (const auto& set : *sets->array()) {
            const auto* id = set.find("id");
            if (id != nullptr && id->string() != nullptr && *id->string() == setId) {
                return *exercise.find("id")->string();
            }
        }
    }
    return std::nullopt;
}

// The label a set takes with a new kind, as the watch gives it when the user changes the kind:
// its position, counted from 1, for a regular set; else the kind's letter. The watch sends only
// the kind, so the phone must relabel the set itself or its next state would undo the label.
std::optional<std::string> labelForKind(const Dictionary& set, std::string_view kind) {
    constexpr std::array<std::pair<std::string_view, std::string_view>, 6> letters{
        {{"warmup", "W"},
         {"drop", "D"},
         {"pr", "P"},
         {"joker", "J"},
         {"restPause", "R"},
         {"failed", "F"}}};
    if (kind == "regular") {
        auto sequence = set.find("sequence");
        const auto* number = sequence != set.end() ? sequence->second.integer() : nullptr;
        return number != nullptr ? std::optional(std::to_string(*number + 1)) : std::nullopt;
    }
    for (const auto& [name, letter] : letters) {
        if (name == kind) {
            return std::string(letter);
        }
    }
    return std::nullopt;
}

// The label the watch gives a new set: one past the last set's sequence, counted from 1.
std::string nextSetNumber(const WorkoutFeed& feed, std::string_view exerciseId) {
    const auto* exercise = feed.findExercise(exerciseId);
    if (exercise == nullptr) {
        return "1";
    }
    auto sets = exercise->find("exerciseSets");
    if (sets == exercise->end() || sets->second.array() == nullptr ||
        sets->second.array()->empty()) {
        return "1";
    }
    const auto& last = sets->second.array()->back();
    std::int64_t sequence = static_cast<std::int64_t>(sets->second.array()->size()) - 1;
    if (const auto* own = last.find("sequence"); own != nullptr && own->integer() != nullptr) {
        sequence = *own->integer();
    }
    return std::to_string(sequence + 2);
}

void startTimerFrom(PhoneTimer& timer, const WorkoutFeed& feed, const Dictionary& payload,
                    bool countdown) {
    const auto* timerId = stringAt(payload, "timerId");
    const auto* setId = stringAt(payload, "id");
    if (timerId == nullptr || setId == nullptr) {
        return;
    }
    timer.running = true;
    timer.id = *timerId;
    timer.revision = static_cast<std::int64_t>(numberAt(payload, "timerRevision").value_or(0));
    timer.startMs = numberAt(payload, "occurredAt").value_or(0);
    timer.seconds = std::max(0.0, numberAt(payload, "timerSeconds").value_or(0));
    timer.isExerciseCountdown = countdown;
    timer.durationSetId = countdown ? std::optional<std::string>(*setId) : std::nullopt;
    timer.exerciseId = exerciseOfSet(feed, *setId);
    timer.setCompletedIds =
        countdown ? std::vector<std::string>{} : std::vector<std::string>{*setId};
    if (countdown) {
        timer.countdowns.insert_or_assign(*setId, std::pair(*timerId, timer.startMs));
    }
}

// The end of a countdown run that a later countdown of the same set has replaced: the watch
// started that set again, so the old run's running out does not complete it. A completion the
// user tapped always does, whichever run the watch showed.
bool endsSupersededCountdown(const PhoneTimer& timer, std::string_view setId,
                             const Dictionary& payload) {
    if (flagAt(payload, "isManualDurationCompletion")) {
        return false;
    }
    const auto* source = stringAt(payload, "sourceTimerId");
    auto sourceStart = numberAt(payload, "sourceTimerStartTime");
    auto newest = timer.countdowns.find(setId);
    return source != nullptr && sourceStart && newest != timer.countdowns.end() &&
           newest->second.first != *source && newest->second.second > *sourceStart;
}

} // namespace

Dictionary PhoneTimer::restTimerData() const {
    Dictionary data{{"timerIsRunning", running},
                    {"timerRevision", revision},
                    {"startTime", startMs},
                    {"timerSeconds", seconds},
                    {"isExerciseCountdown", isExerciseCountdown}};
    if (id) {
        data.insert_or_assign("timerId", *id);
    }
    if (durationSetId) {
        data.insert_or_assign("durationSetId", *durationSetId);
    }
    if (exerciseId) {
        data.insert_or_assign("exerciseId", *exerciseId);
    }
    if (!setCompletedIds.empty()) {
        data.insert_or_assign("setCompletedIds",
                              Array(setCompletedIds.begin(), setCompletedIds.end()));
    }
    return data;
}

bool applyWatchEvent(WorkoutFeed& feed, PhoneTimer& timer, const Dictionary& message) {
    const auto* type = stringAt(message, "type");
    auto payloadValue = message.find("payload");
    const auto* payload =
        payloadValue != message.end() ? payloadValue->second.dictionary() : nullptr;
    if (type == nullptr || payload == nullptr) {
        return false;
    }
    const auto* id = stringAt(*payload, "id");
    if (*type == "add_set") {
        const auto* exerciseId = stringAt(*payload, "exerciseId");
        const auto* setId = stringAt(*payload, "setId");
        if (exerciseId == nullptr || setId == nullptr) {
            return false;
        }
        auto set = setFieldsOf(*payload);
        set.insert_or_assign("id", *setId);
        if (auto sequence = payload->find("sequence"); sequence != payload->end()) {
            set.insert_or_assign("sequence", sequence->second);
        }
        set.insert_or_assign("setNumber", nextSetNumber(feed, *exerciseId));
        return feed.addSet(*exerciseId, std::move(set));
    }
    if (*type == "update_set" && id != nullptr) {
        auto fields = setFieldsOf(*payload);
        const bool countdown = flagAt(*payload, "isExerciseCountdown");
        // The watch starts a countdown only on a set not started; on a set the phone has done,
        // its user saw a stale state that undid the completion, which still stands.
        if (const auto* set = feed.findSet(*id); countdown && set != nullptr) {
            auto status = set->find("status");
            if (status != set->end() && status->second == Value("COMPLETE")) {
                fields.erase("status");
            }
        }
        if (const auto* set = feed.findSet(*id); set != nullptr) {
            if (const auto* kind = stringAt(*payload, "type")) {
                if (auto label = labelForKind(*set, *kind)) {
                    fields.insert_or_assign("setNumber", *label);
                }
            }
        }
        bool changed = feed.updateSet(*id, fields);
        if (countdown) {
            startTimerFrom(timer, feed, *payload, true);
        }
        return changed;
    }
    if (*type == "complete_set" && id != nullptr) {
        if (endsSupersededCountdown(timer, *id, *payload)) {
            return false;
        }
        auto fields = setFieldsOf(*payload);
        fields.insert_or_assign("status", "COMPLETE");
        bool changed = feed.updateSet(*id, fields);
        startTimerFrom(timer, feed, *payload, false);
        return changed;
    }
    if (*type == "delete_set" && id != nullptr) {
        return feed.removeSet(*id);
    }
    if (*type == "create_exercise" && id != nullptr) {
        Dictionary exercise{{"id", *id}, {"status", "NOT_STARTED"}, {"exerciseSets", Array{}}};
        for (const char* key : {"name", "templateExerciseId", "sequence", "referenceExerciseId"}) {
            if (auto found = payload->find(key); found != payload->end()) {
                exercise.insert_or_assign(key, found->second);
            }
        }
        return feed.addExercise(std::move(exercise));
    }
    if (*type == "delete_exercise" && id != nullptr) {
        return feed.removeExercise(*id);
    }
    if (*type == "cancel_timer") {
        // The timer only: the workout stays as it is.
        timer.running = false;
    }
    return false;
}

bool applyWatchEventToPlan(TrainingPlan& plan, std::size_t current, WorkoutFeed& feed,
                           PhoneTimer& timer, const Dictionary& message) {
    if (applyWatchEvent(feed, timer, message)) {
        return true;
    }
    for (std::size_t i = 0; i < plan.workouts.size(); ++i) {
        const auto* workout = plan.workouts[i].dictionary();
        if (i == current || workout == nullptr) {
            continue;
        }
        WorkoutFeed other(*workout);
        // The timer has heard the event already.
        PhoneTimer ignored = timer;
        if (applyWatchEvent(other, ignored, message)) {
            plan.workouts[i] = other.workout();
            return false;
        }
    }
    return false;
}

} // namespace phone
