// Starting, completing and cancelling the current workout on the watch, and the hand-off of a
// finished workout to the phone.
#include "model/status.hpp"
#include "session/workout_manager.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/persisted_timer_session.hpp"
#include "timer/rest_timer_manager.hpp"

#include <algorithm>
#include <cctype>

namespace watchsync {

using platform::Date;
using platform::Dictionary;
using platform::Value;

namespace {

// The workout id travels twice: the phone reads either key.
Dictionary lifecycleEvent(std::string_view type, const std::string& id, Date occurredAt) {
    return Dictionary{
        {"type", Value(type)},
        {"payload", Value(Dictionary{{"id", Value(id)},
                                     {"workoutId", Value(id)},
                                     {"occurredAt", Value(occurredAt.unixMillis())}})}};
}

bool equalsIgnoringCase(std::string_view text, std::string_view expected) {
    return std::ranges::equal(text, expected, [](unsigned char a, unsigned char b) {
        return std::tolower(a) == std::tolower(b);
    });
}

// The last set completion; the workout ends there rather than when the user gets round to
// tapping finish.
std::optional<Date> latestCompletion(const std::vector<model::ExerciseRef>& exercises) {
    std::optional<Date> latest;
    for (const auto& exercise : exercises) {
        for (const auto& set : exercise->exerciseSets.get()) {
            if (const auto& completed = set->dateCompleted.get();
                completed && (!latest || *completed > *latest)) {
                latest = completed;
            }
        }
    }
    return latest;
}

} // namespace

bool WatchDataSource::startAvailableWorkout(model::Workout workout) {
    if (workoutManager_ != nullptr &&
        (workoutManager_->workoutSession() || workoutManager_->workoutBuilder())) {
        return false;
    }
    const Date start = timer::dateFromTimePoint(executor_.clock().now());
    claimWorkout(workout.id, start);

    name = workout.name;
    workoutId = workout.id;
    workoutStatus = std::string(model::status::inProgress);
    exercises = std::move(workout.exercises);
    hasAppliedWorkoutSnapshot = true;
    giveRestTimerWorkoutId(workout.id);

    outbox_.enqueue(lifecycleEvent("start_workout", workout.id, start));
    return true;
}

void WatchDataSource::completeCurrentWorkout() {
    const std::string id = workoutId.get();
    const Date now = timer::dateFromTimePoint(executor_.clock().now());
    const Date end = latestCompletion(exercises.get()).value_or(now);

    if (workoutManager_ != nullptr && workoutManager_->workoutIdentifier() == id) {
        workoutManager_->terminateWorkout(id, end, workoutManager_->syncWorkoutsToHealth.get());
    }

    finishingWorkoutSyncId = outbox_.enqueue(lifecycleEvent("complete_workout", id, now));

    onMain([this, id, handedOff = finishingWorkoutSyncId] {
        availableWorkouts.modify([&](std::vector<model::Workout>& workouts) {
            auto entry = std::ranges::find(workouts, id, &model::Workout::id);
            if (entry != workouts.end()) {
                entry->status = std::string(model::status::complete);
            }
        });
        resetLocalWorkout(std::string(model::status::complete));
        syncingFinishedWorkout = true;
        if (!handedOff) {
            syncingFinishedWorkoutStatus = model::FinishingWorkoutStatus::failed;
        } else if (finishingWorkoutSyncId == handedOff) {
            syncingFinishedWorkoutStatus = model::FinishingWorkoutStatus::syncing;
        }
        // Otherwise the acknowledgement came first: its verdict stands.
    });
}

void WatchDataSource::cancelCurrentWorkout() {
    const std::string id = workoutId.get();
    const Date now = timer::dateFromTimePoint(executor_.clock().now());

    if (workoutManager_ != nullptr && workoutManager_->workoutIdentifier() == id) {
        workoutManager_->terminateWorkout(id, now, false);
    }
    onMain([this] { resetLocalWorkout(std::string(model::status::notStarted)); });
    outbox_.enqueue(lifecycleEvent("cancel_workout", id, now));
}

void WatchDataSource::resetLocalWorkout(const std::string& status) {
    if (removeAllNotifications_) {
        removeAllNotifications_();
    }
    name = std::string();
    workoutId = std::string();
    workoutStatus = status;
    exercises = std::vector<model::ExerciseRef>();
    if (restTimer_ != nullptr) {
        restTimer_->timerIsRunning = false;
        restTimer_->persistTimerSession();
        restTimer_->workoutId.reset();
        // Also withdraws the rest timer's notifications.
        restTimer_->resetTimer();
    }
}

void WatchDataSource::updateFinishedWorkoutHandOff(const std::optional<std::string>& status) {
    if (status && equalsIgnoringCase(*status, "Retry")) {
        // The outbox sends the same message again; its acknowledgement settles the hand-off.
        syncingFinishedWorkoutStatus = model::FinishingWorkoutStatus::syncing;
        return;
    }
    syncingFinishedWorkout = true;
    syncingFinishedWorkoutStatus = !status || equalsIgnoringCase(*status, "Success")
                                       ? model::FinishingWorkoutStatus::success
                                       : model::FinishingWorkoutStatus::failed;
    finishingWorkoutSyncId.reset();
}

} // namespace watchsync
