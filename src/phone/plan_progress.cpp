#include "phone/plan_progress.hpp"
#include "phone/fields.hpp"

#include <cmath>

namespace phone {

using platform::Dictionary;
using platform::Value;

namespace {

constexpr std::string_view complete = "COMPLETE";

bool isDone(const Value& workout) {
    const auto* status = workout.find("status");
    return status != nullptr && status->string() != nullptr && *status->string() == complete;
}

const std::string* idOf(const Value& workout) {
    const auto* id = workout.find("id");
    return id != nullptr ? id->string() : nullptr;
}

} // namespace

std::optional<LifecycleEvent> readLifecycleEvent(const Dictionary& message) {
    const auto* type = stringAt(message, "type");
    auto payloadValue = message.find("payload");
    const auto* payload =
        payloadValue != message.end() ? payloadValue->second.dictionary() : nullptr;
    if (type == nullptr || payload == nullptr) {
        return std::nullopt;
    }
    LifecycleEvent event;
    if (*type == "start_workout") {
        event.kind = LifecycleEvent::Kind::start;
    } else if (*type == "complete_workout") {
        event.kind = LifecycleEvent::Kind::complete;
    } else if (*type == "cancel_workout") {
        event.kind = LifecycleEvent::Kind::cancel;
    } else {
        return std::nullopt;
    }
    // The watch sends the id twice; either will do.
    const auto* id = stringAt(*payload, "workoutId");
    if (id == nullptr || id->empty()) {
        id = stringAt(*payload, "id");
    }
    if (id != nullptr) {
        event.workoutId = *id;
    }
    event.occurredAtMs = numberAt(*payload, "occurredAt").value_or(0);
    return event;
}

bool PlanPosition::select(std::size_t index) {
    if (index >= plan.workouts.size()) {
        return false;
    }
    if (current < plan.workouts.size()) {
        plan.workouts[current] = feed.workout();
    }
    current = index;
    const auto* chosen = plan.workouts[index].dictionary();
    feed = WorkoutFeed(chosen != nullptr ? *chosen : Dictionary{});
    return true;
}

std::optional<std::size_t> PlanPosition::find(std::string_view workoutId) const {
    for (std::size_t i = 0; i < plan.workouts.size(); ++i) {
        const auto* id = idOf(plan.workouts[i]);
        if (id != nullptr && *id == workoutId) {
            return i;
        }
    }
    return std::nullopt;
}

Dictionary PlanPosition::workout(std::size_t index) const {
    if (index == current) {
        return feed.workout();
    }
    const auto* workout =
        index < plan.workouts.size() ? plan.workouts[index].dictionary() : nullptr;
    return workout != nullptr ? *workout : Dictionary{};
}

std::optional<LifecycleOutcome> applyLifecycleEvent(PlanPosition position,
                                                    const LifecycleEvent& event) {
    auto index = position.find(event.workoutId);
    if (!index) {
        return std::nullopt;
    }
    LifecycleOutcome outcome{*index, std::nullopt, std::nullopt};
    switch (event.kind) {
    case LifecycleEvent::Kind::start:
        // Reselecting the current workout would forget what the watch confirmed of it.
        if (position.current != *index) {
            position.select(*index);
        }
        position.feed.setStatus("IN_PROGRESS");
        position.feed.setDateStarted(event.occurredAtMs);
        break;
    case LifecycleEvent::Kind::complete: {
        // The sets the watch reported are in the live copy, so completion works on that.
        if (position.current != *index) {
            position.select(*index);
        }
        position.feed.setStatus(std::string(complete));
        auto finished = position.feed.workout();
        finished.insert_or_assign("dateCompleted", event.occurredAtMs);
        position.plan.workouts[*index] = finished;
        position.feed = WorkoutFeed(finished);
        outcome.finished = std::move(finished);
        const auto count = position.plan.workouts.size();
        for (std::size_t step = 1; step < count; ++step) {
            auto candidate = (*index + step) % count;
            if (!isDone(position.plan.workouts[candidate])) {
                position.select(candidate);
                outcome.next = candidate;
                break;
            }
        }
        break;
    }
    case LifecycleEvent::Kind::cancel:
        if (position.current == *index) {
            position.feed.setStatus("NOT_STARTED");
            position.feed.clearDateStarted();
        } else if (auto* workout = position.plan.workouts[*index].get<Dictionary>()) {
            workout->insert_or_assign("status", "NOT_STARTED");
            workout->erase("dateStarted");
        }
        break;
    }
    return outcome;
}

platform::Array offeredWorkouts(const TrainingPlan& plan, std::size_t current,
                                const WorkoutFeed& feed, const std::set<std::string>& withdrawn) {
    platform::Array offered;
    bool nextFound = false;
    for (std::size_t i = 0; i < plan.workouts.size(); ++i) {
        Value workout = i == current ? Value(feed.workout()) : plan.workouts[i];
        const auto* id = idOf(workout);
        if (id != nullptr && withdrawn.contains(*id)) {
            continue;
        }
        bool done = isDone(workout);
        bool first = !done && !nextFound;
        nextFound = nextFound || first;
        if (done || first || i == current) {
            offered.push_back(std::move(workout));
        }
    }
    return offered;
}

} // namespace phone
