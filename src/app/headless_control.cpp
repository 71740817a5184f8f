#include "app/headless_control.hpp"

#include "app/state_json.hpp"
#include "model/conversions.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/json.hpp"

#include <array>

namespace app {

using platform::Dictionary;
using platform::Value;

namespace {

Value optionalNumber(const std::optional<double>& number) {
    return number ? Value(*number) : Value();
}

// The actions of screens and flows that are not built yet: they answer with an error that says so.
constexpr std::array<std::string_view, 16> actionsToCome{
    "startWorkout",   "finishWorkout",   "confirmFinish",      "openExercise",
    "actionButton",   "addSet",          "deleteSet",          "changeSetType",
    "keypad",         "setDuration",     "openExercisePicker", "pickExercise",
    "deleteExercise", "plateCalculator", "dismissTimer",       "dismissSyncStatus"};

} // namespace

HeadlessControl::HeadlessControl(Wiring wiring) : wiring_(std::move(wiring)) {}

void HeadlessControl::handleLine(std::string_view line) {
    auto parsed = platform::parseJson(line);
    if (!parsed || parsed->dictionary() == nullptr) {
        error("malformed line: expected one JSON object, got " + std::string(line.substr(0, 200)));
        return;
    }
    const auto* action = model::asString(parsed->find("action"));
    if (action == nullptr) {
        error("missing \"action\" (a string)");
        return;
    }
    if (*action == "state") {
        reply("state", state());
    } else if (*action == "refresh") {
        // The phone prompt's "Refresh": clear the error and ask the phone again.
        wiring_.data.syncWorkoutError = std::string();
        wiring_.outbox.enqueue(Dictionary{{"type", Value("refresh_data")}});
        reply("ok");
    } else if (*action == "quit") {
        reply("ok");
        wiring_.quit();
    } else if (std::find(actionsToCome.begin(), actionsToCome.end(), *action) !=
               actionsToCome.end()) {
        error("action \"" + *action + "\" is not available yet: its screen is not built");
    } else {
        error("unknown action \"" + *action + "\"");
    }
}

void HeadlessControl::reply(std::string_view kind, Dictionary fields) {
    // "reply" leads the line so that a reader can tell answers from log lines by their start.
    fields.erase("reply");
    std::string rest = platform::toJsonText(Value(std::move(fields)));
    std::string line = "{\"reply\":" + platform::toJsonText(Value(kind));
    if (rest.size() > 2) {
        line += "," + rest.substr(1);
    } else {
        line += "}";
    }
    wiring_.writeLine(line);
}

void HeadlessControl::error(std::string message) {
    reply("error", Dictionary{{"message", Value(std::move(message))}});
}

Dictionary HeadlessControl::state() {
    auto& data = wiring_.data;
    platform::Array outbox;
    for (const auto& pending : wiring_.outbox.pendingMessages()) {
        auto message = platform::decodeBinaryPlist(pending.payload);
        outbox.push_back(Dictionary{
            {"syncId", Value(pending.id)},
            {"queuedForTransfer", Value(pending.queuedForTransfer)},
            {"message", message ? std::move(*message) : Value()},
        });
    }
    platform::Array exercises;
    for (const auto& exercise : data.exercises.get()) {
        exercises.push_back(exerciseState(*exercise));
    }
    return Dictionary{
        {"workoutId", Value(data.workoutId.get())},
        {"name", Value(data.name.get())},
        {"workoutStatus", Value(data.workoutStatus.get())},
        {"syncWorkoutError", Value(data.syncWorkoutError.get())},
        {"hasAppliedWorkoutSnapshot", Value(data.hasAppliedWorkoutSnapshot)},
        {"lastPhoneCommandSequence", Value(data.lastPhoneCommandSequence)},
        {"syncingFinishedWorkout", Value(data.syncingFinishedWorkout.get())},
        {"syncingFinishedWorkoutStatus",
         Value(std::string(model::toText(data.syncingFinishedWorkoutStatus.get())))},
        {"finishingWorkoutSyncId",
         data.finishingWorkoutSyncId ? Value(*data.finishingWorkoutSyncId) : Value()},
        {"revisions",
         Dictionary{
             {"lastSnapshotRevision", optionalNumber(data.lastSnapshotRevision)},
             {"lastDeltaRevision", optionalNumber(data.lastDeltaRevision)},
             {"lastAvailableWorkoutsRevision", optionalNumber(data.lastAvailableWorkoutsRevision)},
             {"lastReferenceExercisesRevision",
              optionalNumber(data.lastReferenceExercisesRevision)},
             {"lastWeightPlatesRevision", optionalNumber(data.lastWeightPlatesRevision)},
             {"persistedReferenceExercisesRevision",
              optionalNumber(data.persistedReferenceExercisesRevision)},
         }},
        {"exercises", Value(std::move(exercises))},
        {"availableWeightPlates", plateListState(wiring_.restTimer.availableWeightPlates.get())},
        {"outbox", Value(std::move(outbox))},
        {"timer", timerState(wiring_.restTimer)},
        {"session", workoutSessionState(wiring_.workoutManager)},
    };
}

} // namespace app
