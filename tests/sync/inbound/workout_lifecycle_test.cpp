// Starting, completing and cancelling the workout on the watch: the local state, the events the
// phone receives, the health session, and the finished-workout hand-off's acknowledgements.
#include "platform/health/simulated_health_store.hpp"
#include "session/workout_manager.hpp"
#include "sync/inbound/hub_managers_fixture.hpp"
#include "timer/rest_timer_manager.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace {

using namespace std::chrono_literals;
using model::FinishingWorkoutStatus;
using platform::Date;
using platform::Dictionary;
using platform::Value;
using watchsync::WatchDataSource;

class WorkoutLifecycle : public hubtest::HubWithManagers {
protected:
    void SetUp() override {
        startWithManagers();
        executor.runUntilIdle();
    }

    Date now() const { return platform::toDate(executor.now()); }

    static model::ExerciseRef exercise(std::string id, std::vector<std::optional<Date>> completed) {
        auto made = std::make_shared<model::Exercise>();
        made->id = std::move(id);
        for (std::size_t i = 0; i < completed.size(); ++i) {
            auto set = std::make_shared<model::ExerciseSet>();
            set->id = made->id + "-s" + std::to_string(i);
            set->dateCompleted = completed[i];
            made->exerciseSets.modify([&](auto& sets) { sets.push_back(set); });
        }
        return made;
    }

    static model::Workout workout(std::string id) {
        return model::Workout{id, "Day " + id, "Week 1", "NOT_STARTED", {exercise("e1", {{}})}};
    }

    // The queued messages of a type, "syncId" included.
    std::vector<Dictionary> queued(std::string_view type) {
        std::vector<Dictionary> found;
        for (const auto& pending : outbox->pendingMessages()) {
            auto message = platform::decodeBinaryPlist(pending.payload);
            if (*message->dictionary()->at("type").string() == type) {
                found.push_back(*message->dictionary());
            }
        }
        return found;
    }

    bool isPending(const std::string& syncId) {
        auto pending = outbox->pendingMessages();
        return std::ranges::find(pending, syncId, &watchsync::PendingWatchSyncMessage::id) !=
               pending.end();
    }

    static Dictionary payload(const std::string& id, Date at) {
        return {
            {"id", Value(id)}, {"workoutId", Value(id)}, {"occurredAt", Value(at.unixMillis())}};
    }

    // Starts w1, completes it and lets the hand-off task run; the completion's sync id.
    std::string completeStartedWorkout() {
        EXPECT_TRUE(data->startAvailableWorkout(workout("w1")));
        data->completeCurrentWorkout();
        executor.runUntilIdle();
        EXPECT_TRUE(data->finishingWorkoutSyncId);
        return data->finishingWorkoutSyncId.value_or("");
    }

    void acknowledge(const std::string& syncId, std::optional<std::string> status) {
        Dictionary ack{{"syncAck", Value(syncId)}};
        if (status) {
            ack.insert_or_assign("status", Value(*status));
        }
        dispatch(std::move(ack));
    }
};

TEST_F(WorkoutLifecycle, StartMakesTheWorkoutCurrentClaimsItAndSendsItsStart) {
    executor.advanceBy(250500us); // a start moment with a fraction of a millisecond
    auto chosen = workout("w1");
    const auto firstExercise = chosen.exercises.front();
    EXPECT_TRUE(data->startAvailableWorkout(chosen));

    EXPECT_EQ(data->name.get(), "Day w1");
    EXPECT_EQ(data->workoutId.get(), "w1");
    EXPECT_EQ(data->workoutStatus.get(), "IN_PROGRESS");
    ASSERT_EQ(data->exercises->size(), 1u);
    EXPECT_EQ(data->exercises->front(), firstExercise); // the same shared record
    EXPECT_TRUE(data->hasAppliedWorkoutSnapshot);
    EXPECT_EQ(restTimer->workoutId, "w1");
    EXPECT_EQ(workoutManager->workoutIdentifier(), "w1");
    EXPECT_EQ(workoutManager->workoutOwnershipStartedAt(), now());

    auto starts = queued("start_workout");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].at("payload"), Value(payload("w1", now())));
    EXPECT_EQ(starts[0].at("syncId").string()->size(), 36u);
    EXPECT_EQ(data->syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::notStarted);
}

TEST_F(WorkoutLifecycle, StartWithHealthSyncOffStillStartsButClaimsNothing) {
    workoutManager->setSyncWorkoutsToHealth(false);
    EXPECT_TRUE(data->startAvailableWorkout(workout("w1")));
    EXPECT_EQ(data->workoutStatus.get(), "IN_PROGRESS");
    EXPECT_EQ(workoutManager->workoutIdentifier(), std::nullopt);
    EXPECT_EQ(queued("start_workout").size(), 1u);
}

TEST_F(WorkoutLifecycle, StartIsRefusedWhileAHealthSessionExists) {
    workoutManager->startWorkout(platform::WorkoutConfiguration{}, std::string("w0"), [](auto) {});
    executor.runUntilIdle();
    ASSERT_TRUE(workoutManager->workoutSession());

    EXPECT_FALSE(data->startAvailableWorkout(workout("w1")));
    EXPECT_EQ(data->workoutId.get(), "");
    EXPECT_EQ(data->workoutStatus.get(), "NOT_STARTED_DEFAULT");
    EXPECT_FALSE(data->hasAppliedWorkoutSnapshot);
    EXPECT_EQ(restTimer->workoutId, std::nullopt);
    EXPECT_EQ(workoutManager->workoutIdentifier(), "w0");
    EXPECT_TRUE(queued("start_workout").empty());
}

TEST_F(WorkoutLifecycle, CompletionEndsTheSessionAtTheLastSetButReportsTheTap) {
    ASSERT_TRUE(data->startAvailableWorkout(workout("w1")));
    const Date started = now();
    data->exercises = std::vector<model::ExerciseRef>{
        exercise("a", {Date{started.sinceReferenceDate + 3600}, std::nullopt}),
        exercise("b", {Date{started.sinceReferenceDate + 1200}}),
    };
    executor.advanceBy(1h + 30min + 500us);
    data->completeCurrentWorkout();

    EXPECT_EQ(
        workoutManager->pendingWorkoutTermination(),
        (session::PendingWorkoutTermination{"w1", Date{started.sinceReferenceDate + 3600}, true}));
    auto completes = queued("complete_workout");
    ASSERT_EQ(completes.size(), 1u);
    EXPECT_EQ(completes[0].at("payload"), Value(payload("w1", now())));
    EXPECT_EQ(data->finishingWorkoutSyncId, *completes[0].at("syncId").string());
}

TEST_F(WorkoutLifecycle, CompletionWithoutCompletedSetsEndsTheSessionNowUnsavedWhenSyncIsOff) {
    ASSERT_TRUE(data->startAvailableWorkout(workout("w1")));
    workoutManager->setSyncWorkoutsToHealth(false);
    executor.advanceBy(10min);
    data->completeCurrentWorkout();
    EXPECT_EQ(workoutManager->pendingWorkoutTermination(),
              (session::PendingWorkoutTermination{"w1", now(), false}));
}

TEST_F(WorkoutLifecycle, NeitherEndingTouchesASessionTheManagerDoesNotOwnForThisWorkout) {
    workoutManager->claimWorkout("other", now());
    data->workoutId = std::string("w1");
    data->completeCurrentWorkout();
    data->cancelCurrentWorkout();
    executor.runUntilIdle();
    EXPECT_EQ(workoutManager->pendingWorkoutTermination(), std::nullopt);
    EXPECT_EQ(workoutManager->workoutIdentifier(), "other");

    // Nothing claimed at all: still both events are sent.
    workoutManager->setSyncWorkoutsToHealth(false);
    ASSERT_TRUE(data->startAvailableWorkout(workout("w2")));
    data->cancelCurrentWorkout();
    EXPECT_EQ(workoutManager->pendingWorkoutTermination(), std::nullopt);
    EXPECT_EQ(queued("complete_workout").size(), 1u);
    EXPECT_EQ(queued("cancel_workout").size(), 2u);
}

TEST_F(WorkoutLifecycle, CompletionResetsTheWorkoutInALaterTaskAndStartsTheHandOff) {
    data->availableWorkouts =
        std::vector<model::Workout>{workout("w0"), workout("w1"), workout("w1")};
    ASSERT_TRUE(data->startAvailableWorkout(workout("w1")));
    restTimer->timerIsRunning = true;
    restTimer->timerId = "T-1";
    data->completeCurrentWorkout();

    // Nothing local has changed yet: the reset is a separate task.
    EXPECT_EQ(data->workoutStatus.get(), "IN_PROGRESS");
    EXPECT_FALSE(data->syncingFinishedWorkout.get());
    EXPECT_EQ(data->syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::notStarted);

    executor.runUntilIdle();
    const auto& available = data->availableWorkouts.get();
    EXPECT_EQ(available[0].status, "NOT_STARTED");
    EXPECT_EQ(available[1].status, "COMPLETE");
    EXPECT_EQ(available[2].status, "NOT_STARTED"); // only the first entry with the id
    EXPECT_EQ(data->name.get(), "");
    EXPECT_EQ(data->workoutId.get(), "");
    EXPECT_EQ(data->workoutStatus.get(), "COMPLETE");
    EXPECT_TRUE(data->exercises->empty());
    EXPECT_FALSE(restTimer->timerIsRunning.get());
    EXPECT_EQ(restTimer->timerId, std::nullopt);
    EXPECT_EQ(restTimer->workoutId, std::nullopt);
    EXPECT_FALSE(defaults.dataForKey(timer::RestTimerManager::timerSessionStorageKey));
    EXPECT_TRUE(data->syncingFinishedWorkout.get());
    EXPECT_EQ(data->syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::syncing);
}

struct AckCase {
    std::optional<std::string> status;
    FinishingWorkoutStatus expected;
    bool idKept;
};

TEST_F(WorkoutLifecycle, TheCompletionsAcknowledgementSettlesTheHandOff) {
    const std::vector<AckCase> cases{
        {"retry", FinishingWorkoutStatus::syncing, true},
        {"RETRY", FinishingWorkoutStatus::syncing, true},
        {"SUCCESS", FinishingWorkoutStatus::success, false},
        {"Success", FinishingWorkoutStatus::success, false},
        {std::nullopt, FinishingWorkoutStatus::success, false},
        {"Failed", FinishingWorkoutStatus::failed, false},
        {"", FinishingWorkoutStatus::failed, false},
    };
    for (const auto& ack : cases) {
        SCOPED_TRACE(ack.status.value_or("(no status)"));
        const auto syncId = completeStartedWorkout();
        data->syncingFinishedWorkout = false; // the screen dismissed its sheet
        acknowledge(syncId, ack.status);
        EXPECT_EQ(data->syncingFinishedWorkoutStatus.get(), ack.expected);
        EXPECT_EQ(data->finishingWorkoutSyncId.has_value(), ack.idKept);
        // A retry leaves the sheet as the screen left it; a verdict shows it again.
        EXPECT_EQ(data->syncingFinishedWorkout.get(), !ack.idKept);
        EXPECT_EQ(isPending(syncId), ack.idKept); // the outbox sends a retried one again
    }
}

TEST_F(WorkoutLifecycle, ARetriedCompletionSucceedsOnItsLaterAcknowledgement) {
    const auto syncId = completeStartedWorkout();
    acknowledge(syncId, "Retry");
    acknowledge(syncId, "Success");
    EXPECT_EQ(data->syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::success);
    EXPECT_EQ(data->finishingWorkoutSyncId, std::nullopt);

    // Once settled, a late repeat of the acknowledgement changes nothing.
    acknowledge(syncId, "Failed");
    EXPECT_EQ(data->syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::success);
}

TEST_F(WorkoutLifecycle, AnAcknowledgementOfAnotherMessageLeavesTheHandOffAlone) {
    const auto syncId = completeStartedWorkout();
    const auto startId = *queued("start_workout").at(0).at("syncId").string();
    for (const auto& status :
         {std::optional<std::string>("Success"), std::optional<std::string>("Failed"),
          std::optional<std::string>()}) {
        acknowledge(startId, status);
        acknowledge("unrelated", status);
    }
    EXPECT_EQ(data->syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::syncing);
    EXPECT_EQ(data->finishingWorkoutSyncId, syncId);
    EXPECT_TRUE(data->syncingFinishedWorkout.get());
}

TEST_F(WorkoutLifecycle, AnAcknowledgementBeforeTheHandOffTaskKeepsItsVerdict) {
    ASSERT_TRUE(data->startAvailableWorkout(workout("w1")));
    data->completeCurrentWorkout();
    const auto syncId = *data->finishingWorkoutSyncId;
    data->dispatchInbound({{"syncAck", Value(syncId)}}, std::nullopt); // on main, at once
    executor.runUntilIdle();
    EXPECT_EQ(data->syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::success);
    EXPECT_TRUE(data->syncingFinishedWorkout.get());
    EXPECT_EQ(data->workoutStatus.get(), "COMPLETE");
}

TEST_F(WorkoutLifecycle, CancelEndsTheSessionUnsavedResetsLaterAndLeavesTheHandOff) {
    ASSERT_TRUE(data->startAvailableWorkout(workout("w1")));
    executor.advanceBy(5min + 700us);
    data->cancelCurrentWorkout();

    EXPECT_EQ(workoutManager->pendingWorkoutTermination(),
              (session::PendingWorkoutTermination{"w1", now(), false}));
    auto cancels = queued("cancel_workout");
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].at("payload"), Value(payload("w1", now())));
    EXPECT_EQ(data->workoutStatus.get(), "IN_PROGRESS");

    executor.runUntilIdle();
    EXPECT_EQ(data->workoutStatus.get(), "NOT_STARTED");
    EXPECT_EQ(data->workoutId.get(), "");
    EXPECT_TRUE(data->exercises->empty());
    EXPECT_EQ(restTimer->workoutId, std::nullopt);
    EXPECT_FALSE(data->syncingFinishedWorkout.get());
    EXPECT_EQ(data->syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::notStarted);
    EXPECT_EQ(data->finishingWorkoutSyncId, std::nullopt);
}

TEST_F(WorkoutLifecycle, ARunningSessionIsSavedOnCompletionAndDiscardedOnCancel) {
    for (const bool complete : {true, false}) {
        SCOPED_TRACE(complete ? "complete" : "cancel");
        SetUp();
        workoutManager->claimWorkout("w1", now());
        workoutManager->startWorkout(platform::WorkoutConfiguration{}, std::string("w1"),
                                     [](auto) {});
        executor.runUntilIdle();
        ASSERT_EQ(workoutManager->sessionState.get(), platform::WorkoutSessionState::running);
        data->workoutId = std::string("w1");
        complete ? data->completeCurrentWorkout() : data->cancelCurrentWorkout();
        EXPECT_EQ(workoutManager->terminalSaveToHealth(), complete);
    }
}

} // namespace
