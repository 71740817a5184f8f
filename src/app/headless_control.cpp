#include "app/headless_control.hpp"

#include "app/state_json.hpp"
#include "model/conversions.hpp"
#include "model/set_type.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/json.hpp"
#include "screens/logic/set_editor.hpp"

#include <algorithm>
#include <array>
#include <chrono>

namespace app {

using platform::Dictionary;
using platform::Value;

namespace {

Value optionalNumber(const std::optional<double>& number) {
    return number ? Value(*number) : Value();
}

constexpr std::array<std::string_view, 8> exerciseActions{
    "openExercise",  "actionButton", "addSet",      "deleteSet",
    "changeSetType", "keypad",       "setDuration", "plateCalculator"};

std::optional<screens::KeypadKey> keypadKey(std::string_view text) {
    static constexpr std::array<screens::KeypadKey, 10> digits{
        screens::KeypadKey::zero,  screens::KeypadKey::one,   screens::KeypadKey::two,
        screens::KeypadKey::three, screens::KeypadKey::four,  screens::KeypadKey::five,
        screens::KeypadKey::six,   screens::KeypadKey::seven, screens::KeypadKey::eight,
        screens::KeypadKey::nine};
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') {
        return digits[static_cast<std::size_t>(text[0] - '0')];
    }
    if (text == ".") {
        return screens::KeypadKey::decimal;
    }
    if (text == "delete") {
        return screens::KeypadKey::del;
    }
    return std::nullopt;
}

std::optional<screens::SetFieldKind> keypadFieldKind(std::string_view field) {
    if (field == "reps") {
        return screens::SetFieldKind::reps;
    }
    if (field == "weight") {
        return screens::SetFieldKind::weight;
    }
    if (field == "distance") {
        return screens::SetFieldKind::distance;
    }
    if (field == "repsInReserve") {
        return screens::SetFieldKind::repsInReserve;
    }
    if (field == "ratePerceivedExertion") {
        return screens::SetFieldKind::ratePerceivedExertion;
    }
    return std::nullopt;
}

Value workoutState(const model::Workout& workout) {
    platform::Array exercises;
    for (const auto& exercise : workout.exercises) {
        exercises.push_back(Value(exercise->id));
    }
    return Dictionary{{"id", Value(workout.id)},
                      {"name", Value(workout.name)},
                      {"week", Value(workout.week)},
                      {"status", Value(workout.status)},
                      {"exercises", Value(std::move(exercises))}};
}

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
    } else if (*action == "quit") {
        reply("ok");
        wiring_.quit();
    } else if (wiring_.gestures != nullptr) {
        if (auto answer = wiring_.gestures->perform(*action, *parsed->dictionary())) {
            reply(answer->kind, std::move(answer->fields));
        } else {
            error("unknown action \"" + *action + "\"");
        }
    } else if (*action == "refresh") {
        wiring_.mainScreen.refresh();
        reply("ok");
    } else if (workoutAction(*action, *parsed->dictionary())) {
        return;
    } else if (std::find(exerciseActions.begin(), exerciseActions.end(), *action) !=
               exerciseActions.end()) {
        exerciseAction(*action, *parsed->dictionary());
    } else if (syncHealthAction(*action)) {
        return;
    } else if (*action == "dismissTimer") {
        wiring_.mainScreen.dismissRestTimer();
        reply("ok");
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
    // One read of the outbox for both its field and the sync health, each message decoded once.
    const auto health = wiring_.outbox.health();
    platform::Array outbox;
    std::vector<const Dictionary*> messages;
    outbox.reserve(health.pending.size());
    for (const auto& [pending, bookkeeping] : health.pending) {
        auto message = platform::decodeBinaryPlist(pending.payload);
        outbox.push_back(Dictionary{
            {"syncId", Value(pending.id)},
            {"queuedForTransfer", Value(pending.queuedForTransfer)},
            {"message", message ? std::move(*message) : Value()},
        });
    }
    std::optional<Value> syncHealth;
    if (wiring_.syncHealth != nullptr) {
        for (const auto& entry : outbox) {
            messages.push_back(entry.find("message")->dictionary());
        }
        syncHealth = syncHealthState(
            screens::syncHealthFacts(health, screens::WorkoutNames::of(data), messages));
    }
    platform::Array exercises;
    for (const auto& exercise : data.exercises.get()) {
        exercises.push_back(exerciseState(*exercise));
    }
    platform::Array availableWorkouts;
    for (const auto& workout : data.availableWorkouts.get()) {
        availableWorkouts.push_back(workoutState(workout));
    }
    platform::Array referenceExercises;
    for (const auto& reference : data.referenceExercises.get()) {
        referenceExercises.push_back(Value(reference->id));
    }
    Dictionary state{
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
        {"availableWorkouts", Value(std::move(availableWorkouts))},
        {"referenceExercises", Value(std::move(referenceExercises))},
        {"availableWeightPlates", plateListState(wiring_.restTimer.availableWeightPlates.get())},
        {"outbox", Value(std::move(outbox))},
        {"timer", timerState(wiring_.restTimer)},
        {"session", workoutSessionState(wiring_.workoutManager)},
        {"notifications", Value(pendingNotifications())},
    };
    if (syncHealth) {
        state.insert_or_assign("syncHealth", std::move(*syncHealth));
    }
    return state;
}

bool HeadlessControl::syncHealthAction(const std::string& action) {
    auto* health = wiring_.syncHealth;
    if (health == nullptr || (action != "openSyncStatus" && action != "sendNow")) {
        return false;
    }
    using Content = screens::MainScreen::Content;
    const auto content = wiring_.mainScreen.content();
    if (action == "openSyncStatus") {
        if (content == Content::phonePrompt || wiring_.mainScreen.tagToShow.get()) {
            error("openSyncStatus: the root screen's pager or exercise list is not on screen");
        } else if (!health->open()) {
            error("openSyncStatus: the sync indicator is not on screen: everything is delivered "
                  "and the phone answered within the last minute");
        } else {
            reply("ok");
        }
    } else if (!health->showing.get()) {
        error("sendNow: the sync screen is not open");
    } else {
        health->sendNow();
        reply("ok");
    }
    return true;
}

platform::Array HeadlessControl::pendingNotifications() {
    platform::Array pending;
    auto now = wiring_.executor.clock().now();
    for (const auto& notification : wiring_.notifications.pendingNow()) {
        auto left = std::chrono::duration<double>(notification.fireDate - now).count();
        pending.push_back(Dictionary{{"identifier", Value(notification.request.identifier)},
                                     {"title", Value(notification.request.content.title)},
                                     {"body", Value(notification.request.content.body)},
                                     {"seconds", Value(std::max(0.0, left))}});
    }
    return pending;
}

bool HeadlessControl::workoutAction(const std::string& action, const Dictionary& arguments) {
    using Content = screens::MainScreen::Content;
    auto& screen = wiring_.mainScreen;
    auto shows = [&](Content content, std::string_view what) {
        if (screen.content() == content) {
            return true;
        }
        error(action + ": " + std::string(what) +
              " is not on screen while the workout's status is \"" +
              wiring_.data.workoutStatus.get() + "\"");
        return false;
    };
    auto stringArgument = [&](std::string_view key) {
        return model::asString(model::lookup(arguments, key));
    };
    if (action == "startWorkout") {
        const auto* workoutId = stringArgument("workoutId");
        if (workoutId == nullptr) {
            error("startWorkout needs \"workoutId\" (a string)");
        } else if (shows(Content::availableWorkouts, "the workout pager")) {
            auto cards = screen.workoutCards();
            auto card =
                std::find_if(cards.begin(), cards.end(), [&](const screens::WorkoutCard& c) {
                    return c.workoutId == *workoutId;
                });
            if (card == cards.end()) {
                error("no available workout with id \"" + *workoutId + "\"");
            } else if (card->complete) {
                error("workout \"" + *workoutId +
                      "\" is complete: its card has no \"Start Workout\"");
            } else if (!screen.startWorkoutEnabled()) {
                error("\"Start Workout\" is disabled while a health session exists");
            } else if (!screen.startWorkout(*workoutId)) {
                error("the workout could not be started");
            } else {
                reply("ok");
            }
        }
    } else if (action == "finishWorkout") {
        if (shows(Content::exerciseList, "the finish button")) {
            screen.finishButtonTapped();
            reply("ok");
        }
    } else if (action == "confirmFinish") {
        if (screen.confirmFinish()) {
            reply("ok");
        } else {
            error("confirmFinish: the finish confirmation sheet is not open");
        }
    } else if (action == "openExercisePicker") {
        const auto* placeholderValue = model::lookup(arguments, "placeholderExerciseId");
        const auto* placeholderId = model::asString(placeholderValue);
        if (placeholderValue != nullptr && placeholderId == nullptr) {
            error("openExercisePicker takes \"placeholderExerciseId\" (a string) or nothing");
        } else if (shows(Content::exerciseList, "the exercise list")) {
            auto placeholder =
                placeholderId ? wiring_.mainScreen.findExercise(*placeholderId) : nullptr;
            if (placeholderId != nullptr && (!placeholder || !placeholder->name.empty())) {
                error("no placeholder exercise with id \"" + *placeholderId + "\"");
            } else {
                screen.openExercisePicker(placeholder);
                reply("ok");
            }
        }
    } else if (action == "pickExercise") {
        const auto* referenceId = stringArgument("referenceExerciseId");
        if (referenceId == nullptr) {
            error("pickExercise needs \"referenceExerciseId\" (a string)");
        } else if (!screen.showingAddExerciseScreen.get()) {
            error("pickExercise: the exercise picker is not open");
        } else if (!screen.pickExercise(*referenceId)) {
            error("no catalogue entry with id \"" + *referenceId + "\"");
        } else {
            reply("ok");
        }
    } else if (action == "deleteExercise") {
        const auto* exerciseId = stringArgument("exerciseId");
        auto exercise = exerciseId ? wiring_.mainScreen.findExercise(*exerciseId) : nullptr;
        if (exerciseId == nullptr) {
            error("deleteExercise needs \"exerciseId\" (a string)");
        } else if (!exercise) {
            error("no exercise with id \"" + *exerciseId + "\" in the current workout");
        } else if (exercise->name.empty()) {
            error("exercise \"" + *exerciseId + "\" is a placeholder: its row has no trash button");
        } else {
            screen.deleteExercise(exercise);
            reply("ok");
        }
    } else if (action == "dismissSyncStatus") {
        if (screen.showingSyncStatus.get()) {
            screen.showingSyncStatus = false;
            reply("ok");
        } else {
            error("dismissSyncStatus: the hand-off status sheet is not open");
        }
    } else {
        return false;
    }
    return true;
}

void HeadlessControl::exerciseAction(const std::string& action, const Dictionary& arguments) {
    const auto* exerciseId = model::asString(model::lookup(arguments, "exerciseId"));
    if (exerciseId == nullptr) {
        error(action + " needs \"exerciseId\" (a string)");
        return;
    }
    auto& screen = wiring_.mainScreen;
    auto exercise = wiring_.mainScreen.findExercise(*exerciseId);
    if (!exercise) {
        error("no exercise with id \"" + *exerciseId + "\" in the current workout");
        return;
    }
    if (exercise->name.empty() && action != "openExercise") {
        error("exercise \"" + *exerciseId +
              "\" is a placeholder without a detail: pick an exercise for it first");
        return;
    }
    screen.openExercise(*exerciseId);
    if (action == "openExercise") {
        reply("ok");
        return;
    }
    auto* detail = screen.detail();
    if (action == "addSet") {
        if (detail->hasSets()) {
            detail->openMoreMenu();
            detail->chooseMoreMenuEntry(screens::MoreMenuAction::addSet);
        } else {
            detail->addSet();
        }
        reply("ok");
        return;
    }
    const auto* index = model::lookup(arguments, "setIndex");
    auto setIndex = index != nullptr && index->integer() != nullptr
                        ? std::optional<std::int64_t>(*index->integer())
                        : std::nullopt;
    if (!setIndex || *setIndex < 0 || *setIndex >= static_cast<std::int64_t>(detail->setCount())) {
        error(action + " needs \"setIndex\", the page of one of the exercise's " +
              std::to_string(detail->setCount()) + " sets (0 = the first)");
        return;
    }
    screen.selectedPage = static_cast<int>(*setIndex);
    auto set = detail->currentSet();
    if (action == "actionButton") {
        detail->tapActionButton();
    } else if (action == "deleteSet") {
        detail->openMoreMenu();
        detail->chooseMoreMenuEntry(screens::MoreMenuAction::deleteSet);
    } else if (action == "plateCalculator") {
        detail->openMoreMenu();
        detail->chooseMoreMenuEntry(screens::MoreMenuAction::plateCalculator);
    } else if (action == "changeSetType") {
        const auto* typeText = model::asString(model::lookup(arguments, "type"));
        auto type = typeText != nullptr ? model::setTypeFromText(*typeText) : std::nullopt;
        if (!type) {
            error("changeSetType needs \"type\", one of warmup, regular, drop, pr, joker, "
                  "restPause, myoReps, failed");
            return;
        }
        detail->openSetTypeOptions();
        detail->chooseSetType(*type);
    } else if (action == "keypad") {
        const auto* field = model::asString(model::lookup(arguments, "field"));
        auto kind = field != nullptr ? keypadFieldKind(*field) : std::nullopt;
        const auto* keys = model::lookup(arguments, "keys");
        std::vector<screens::KeypadKey> presses;
        bool keysGood = keys != nullptr && keys->array() != nullptr;
        for (const auto& key : keysGood ? *keys->array() : platform::Array{}) {
            auto pressed = key.string() != nullptr ? keypadKey(*key.string()) : std::nullopt;
            keysGood = keysGood && pressed.has_value();
            if (pressed) {
                presses.push_back(*pressed);
            }
        }
        if (!kind || !keysGood) {
            error("keypad needs \"field\" (reps, weight, distance, repsInReserve or "
                  "ratePerceivedExertion) and \"keys\" (a list of digits, \".\" and "
                  "\"delete\")");
            return;
        }
        screens::SetEditor editor(detail->exercise(), set,
                                  screens::SetEditReports::to(wiring_.data),
                                  wiring_.mainScreen.numberLocale());
        auto* keypad = editor.keypadField(*kind);
        if (keypad == nullptr) {
            error("this exercise's sets have no " + *field + " field");
            return;
        }
        keypad->tap();
        for (auto key : presses) {
            keypad->modal()->press(key);
        }
        keypad->dismiss();
    } else if (action == "setDuration") {
        const auto* seconds = model::lookup(arguments, "seconds");
        if (seconds == nullptr || seconds->integer() == nullptr ||
            !screens::SetEditor::offersDuration(*seconds->integer())) {
            error(std::string(screens::SetEditor::durationArgumentError));
            return;
        }
        screens::SetEditor editor(detail->exercise(), set,
                                  screens::SetEditReports::to(wiring_.data));
        editor.openDurationPicker();
        editor.selectDuration(*seconds->integer());
        editor.durationDone();
    }
    reply("ok");
}

} // namespace app
