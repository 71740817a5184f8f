// PhoneApp's answers to the watch's workout lifecycle events.
#include "phone/phone_app.hpp"

#include "platform/values/json.hpp"

namespace phone {

namespace {

std::string_view verb(LifecycleEvent::Kind kind) {
    switch (kind) {
    case LifecycleEvent::Kind::start:
        return "started";
    case LifecycleEvent::Kind::complete:
        return "completed";
    case LifecycleEvent::Kind::cancel:
        return "cancelled";
    }
    return "";
}

std::string nameOf(const platform::Dictionary& workout) {
    auto name = workout.find("name");
    return name != workout.end() && name->second.string() != nullptr ? *name->second.string()
                                                                     : "(unnamed)";
}

} // namespace

std::optional<LifecycleOutcome> PhoneApp::applyLifecycle(const LifecycleEvent& event) {
    auto outcome = applyLifecycleEvent({plan_, currentWorkout_, feed_}, event);
    // No rest belongs to a workout that has ended.
    if (outcome && event.kind != LifecycleEvent::Kind::start) {
        timer_.running = false;
    }
    return outcome;
}

std::optional<std::string> PhoneApp::answerLifecycle(const LifecycleEvent& event,
                                                     const std::string& syncId) {
    PlanPosition position{plan_, currentWorkout_, feed_};
    auto outcome = applyLifecycle(event);
    if (!outcome) {
        say("the watch " + std::string(verb(event.kind)) +
            (event.workoutId.empty()
                 ? " a workout without naming it"
                 : " workout " + event.workoutId + ", which the plan does not have") +
            ": nothing changes");
        return std::nullopt;
    }
    const auto done = position.workout(outcome->workout);
    std::string error;
    if (outcome->finished && !logbook_->recordFinishedWorkout(
                                 {syncId, event.workoutId, event.occurredAtMs,
                                  platform::toJsonText(platform::Value(*outcome->finished))},
                                 &error)) {
        say("cannot record the finished workout " + event.workoutId + ": " + error);
        return "Retry";
    }
    if (!logbook_->markApplied(syncId, &error)) {
        say("cannot note that syncId " + syncId + " is applied: " + error);
        return "Retry";
    }
    say("the watch " + std::string(verb(event.kind)) + " workout " + event.workoutId + " \"" +
        nameOf(outcome->finished ? *outcome->finished : done) + "\"");

    switch (event.kind) {
    case LifecycleEvent::Kind::start:
        // The watch runs it now; the phone's copy, in progress, is the state it should hold.
        sendSnapshot();
        break;
    case LifecycleEvent::Kind::complete: {
        auto revision = nextRevision("the available workouts");
        if (!revision) {
            break;
        }
        platform::Array updates{*outcome->finished};
        std::string what = "workout " + event.workoutId + " done";
        if (outcome->next) {
            auto next = position.workout(*outcome->next);
            what += ", next \"" + nameOf(next) + "\"";
            updates.push_back(std::move(next));
        }
        auto channel = deliver(platform::Dictionary{{"availableWorkoutUpdates", std::move(updates)},
                                                    {"availableWorkoutsRevision", *revision}},
                               "available workouts");
        say("sent the available workouts as a delta, revision " +
            std::to_string(static_cast<std::int64_t>(*revision)) + " (" + what + ") by " +
            std::string(channel));
        break;
    }
    case LifecycleEvent::Kind::cancel:
        // The watch has already put its copy back; nothing is recorded.
        break;
    }
    return std::nullopt;
}

std::vector<FinishedWorkout> PhoneApp::finishedWorkouts() const {
    return logbook_->finishedWorkouts();
}

} // namespace phone
