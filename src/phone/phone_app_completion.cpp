// PhoneApp's own completion of a set, as its user makes it outside the watch.
#include "phone/fields.hpp"
#include "phone/phone_app.hpp"

#include "platform/values/iso8601.hpp"
#include "platform/values/json.hpp"
#include "platform/values/uuid.hpp"

#include <cmath>

namespace phone {

namespace {

struct FoundSet {
    const platform::Dictionary* exercise = nullptr;
    const platform::Dictionary* set = nullptr;
    std::size_t position = 0;
};

FoundSet findSet(const WorkoutFeed& feed, std::string_view setId) {
    for (const auto& exercise : feed.exercises()) {
        const auto* sets = exercise.find("exerciseSets");
        if (exercise.dictionary() == nullptr || sets == nullptr || sets->array() == nullptr) {
            continue;
        }
        for (std::size_t i = 0; i < sets->array()->size(); ++i) {
            const auto* set = (*sets->array())[i].dictionary();
            const auto* id = set != nullptr ? stringAt(*set, "id") : nullptr;
            if (id != nullptr && *id == setId) {
                return {exercise.dictionary(), set, i + 1};
            }
        }
    }
    return {};
}

} // namespace

PhoneApp::PhoneCompletion PhoneApp::completeSetNow(const std::string& syncId,
                                                   const std::string& setId) {
    using Outcome = PhoneCompletion::Outcome;
    if (recorded(syncId)) {
        return {Outcome::alreadyTaken, {}, 0};
    }
    auto found = findSet(feed_, setId);
    const auto* status = found.set != nullptr ? stringAt(*found.set, "status") : nullptr;
    const bool completable = found.set != nullptr && (status == nullptr || *status != "COMPLETE");
    const auto now = executor_.clock().now();
    const auto nowMs = static_cast<double>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
    // The same shape as the watch's own complete_set, so that replaying the logbook after a
    // restart applies it like one.
    platform::Dictionary message{{"syncId", syncId}};
    if (completable) {
        auto rest = numberAt(*found.set, "timerSeconds").value_or(0);
        message.insert_or_assign("type", "complete_set");
        message.insert_or_assign(
            "payload",
            platform::Dictionary{
                {"id", setId},
                {"status", "COMPLETE"},
                {"dateCompleted",
                 platform::formatInternetDateTime(platform::Date::fromUnixMillis(nowMs))},
                {"occurredAt", nowMs},
                {"timerSeconds", static_cast<std::int64_t>(std::max(0.0, std::round(rest)))},
                {"timerId", platform::makeUuid()},
                {"timerRevision", std::int64_t{0}}});
    } else {
        // Taken, so that a later workout does not take it for a tap of its own.
        message.insert_or_assign("type", "phone_tap_without_set");
    }
    std::string error;
    if (!logbook_->record(syncId, *stringAt(message, "type"),
                          platform::toJsonText(platform::Value(message)), now, &error)) {
        say("cannot record " + syncId + ": " + error + " — nothing completed");
        return {Outcome::notRecorded, {}, 0};
    }
    if (!completable) {
        workoutMayHaveChanged();
        return {Outcome::nothingToComplete, {}, 0};
    }
    const auto* name = stringAt(*found.exercise, "name");
    PhoneCompletion result{Outcome::completed, name != nullptr ? *name : "", found.position};
    applyWatchEventToPlan(plan_, currentWorkout_, feed_, timer_, message);
    sendDelta("phone's complete_set", true);
    return result;
}

} // namespace phone
