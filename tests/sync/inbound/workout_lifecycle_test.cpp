// The current workout on the watch's core: the phone's running workout claimed for the health
// session and handed to the rest timer, the watch's edits, starting, completing and cancelling
// with the finished-workout hand-off.
#include "model/reference_exercise.hpp"
#include "platform/health/statistics_archive.hpp"
#include "support/watch_core_fixture.hpp"
#include "support/workout_builders.hpp"

namespace {

using namespace std::chrono_literals;
using model::FinishingWorkoutStatus;
using platform::Array;
using platform::Date;
using platform::Dictionary;
using testsupport::makeExercise;
using testsupport::makeSet;
using testsupport::message;
using testsupport::phoneHeader;

constexpr double dateStartedMillis = 1767603600000; // 2026-01-05 09:00 UTC

Dictionary snapshot(double revision, std::string id, std::string status, Array exercises = {}) {
    auto header = phoneHeader(std::move(id), std::move(status));
    header.insert_or_assign("dateStarted", dateStartedMillis);
    return {{"syncRevision", revision}, {"workout", header}, {"exercises", std::move(exercises)}};
}

class WorkoutLifecycle : public testsupport::WatchCoreTest {
protected:
    static model::Workout workout(std::string id) {
        return {id, "Day " + id, "Week 1", "NOT_STARTED", {makeExercise("e1", {makeSet("s1")})}};
    }

    std::vector<testsupport::SentMessage> sent(std::string_view type) {
        auto all = testsupport::sentMessages(core->outbox());
        std::erase_if(all, [&](const auto& m) { return m.type != type; });
        return all;
    }

    Dictionary endPayload(const std::string& id) {
        return {{"id", id}, {"workoutId", id}, {"occurredAt", now().unixMillis()}};
    }

    // Starts w1, completes it and lets the hand-off begin; the completion's sync id.
    std::string completeStartedWorkout() {
        EXPECT_TRUE(data().startAvailableWorkout(workout("w1")));
        data().completeCurrentWorkout();
        executor.runUntilIdle();
        return data().finishingWorkoutSyncId.value_or("");
    }

    void acknowledge(const std::string& syncId, std::optional<std::string> status) {
        Dictionary ack{{"syncAck", syncId}};
        if (status) {
            ack.insert_or_assign("status", *status);
        }
        dispatch(std::move(ack));
    }
};

TEST_F(WorkoutLifecycle, ThePhonesRunningWorkoutIsClaimedFromItsStartAndGivenToTheTimer) {
    dispatch(snapshot(1, "NOT_STARTED_AND_NULL", "IN_PROGRESS"));
    dispatch(snapshot(2, "w0", "NOT_STARTED"));
    EXPECT_EQ(workoutManager().workoutIdentifier(), std::nullopt);
    dispatch(snapshot(3, "w1", "IN_PROGRESS"));
    EXPECT_EQ(workoutManager().workoutIdentifier(), "w1");
    EXPECT_EQ(workoutManager().workoutOwnershipStartedAt(),
              Date::fromUnixMillis(dateStartedMillis));
    EXPECT_EQ(restTimer().workoutId, "w1");

    // A timer event the phone has not had guards the running workout.
    restTimer().timerId = "T-9";
    auto event = core->outbox().enqueue(message("rest_timer_started", {{"timerId", "T-9"}}));
    EXPECT_EQ(dispatch(snapshot(4, "w2", "IN_PROGRESS")), (Dictionary{{"status", "Retry"}}));
    EXPECT_EQ(data().workoutId.get(), "w1");
    acknowledge(*event, std::nullopt);
    dispatch(snapshot(5, "w1", "COMPLETE"));
    EXPECT_EQ(restTimer().workoutId, std::nullopt);
}

TEST_F(WorkoutLifecycle, ThePhonesStartRequestAndMirroredDataReachTheHealthSession) {
    session.delegate->didReceiveStartWorkout({{"activityType", 50}});
    executor.runUntilIdle();
    session.delegate->didReceiveWorkoutData(*platform::encodeStatisticsArchive(
        {{platform::HealthType::heartRate, Date{0}, Date{5},
          platform::Quantity{118, platform::HealthUnit::countPerMinute}, std::nullopt}}));
    executor.runUntilIdle();
    ASSERT_TRUE(workoutManager().workoutSession());
    EXPECT_DOUBLE_EQ(workoutManager().lastHeartRate.get(), 118);
}

TEST_F(WorkoutLifecycle, AnExerciseFromTheCatalogueIsAnnouncedBeforeItsFirstSet) {
    model::ReferenceExercise landmine;
    landmine.equipment = "Landmine";
    landmine.restTimer.assistance = 75;
    auto created = data().createExercise(landmine, std::nullopt);
    EXPECT_EQ(created->plateMultiplier, 1) << "a landmine is loaded on one side";
    EXPECT_EQ(created->timerSeconds, 75);
    EXPECT_NE(created->id, created->templateExerciseId);
    EXPECT_EQ(sentTypes(), (std::vector<std::string>{"create_exercise", "add_set"}));
}

TEST_F(WorkoutLifecycle, CompletionEndsTheSessionAtTheLastSetAndResetsInALaterTask) {
    data().availableWorkouts = std::vector<model::Workout>{workout("w1"), workout("w1")};
    ASSERT_TRUE(data().startAvailableWorkout(workout("w1")));
    const Date started = now();
    auto done = makeSet("a1", "COMPLETE");
    done->dateCompleted = Date{started.sinceReferenceDate + 3600};
    data().exercises = std::vector<model::ExerciseRef>{makeExercise("a", {done, makeSet("a2")})};
    restTimer().timerIsRunning = true;
    executor.advanceBy(1h + 30min);
    data().completeCurrentWorkout();
    EXPECT_EQ(workoutManager().pendingWorkoutTermination(),
              (session::PendingWorkoutTermination{"w1", *done->dateCompleted.get(), true}));
    ASSERT_EQ(sent("complete_workout").size(), 1u);
    EXPECT_EQ(sent("complete_workout")[0].payload, endPayload("w1"));
    EXPECT_EQ(data().finishingWorkoutSyncId, sent("complete_workout")[0].syncId);
    EXPECT_EQ(data().workoutStatus.get(), "IN_PROGRESS");

    executor.runUntilIdle();
    EXPECT_EQ(data().availableWorkouts->at(0).status, "COMPLETE");
    EXPECT_EQ(data().availableWorkouts->at(1).status, "NOT_STARTED");
    EXPECT_EQ(data().workoutStatus.get(), "COMPLETE");
    EXPECT_TRUE(data().exercises->empty());
    EXPECT_FALSE(restTimer().timerIsRunning.get());
    EXPECT_EQ(restTimer().workoutId, std::nullopt);
    EXPECT_TRUE(data().syncingFinishedWorkout.get());
    EXPECT_EQ(data().syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::syncing);
}

TEST_F(WorkoutLifecycle, TheCompletionsAcknowledgementSettlesTheHandOff) {
    struct Case {
        std::optional<std::string> status;
        FinishingWorkoutStatus expected;
        bool retried;
    };
    for (const auto& c : {Case{"RETRY", FinishingWorkoutStatus::syncing, true},
                          Case{std::nullopt, FinishingWorkoutStatus::success, false},
                          Case{"", FinishingWorkoutStatus::failed, false}}) {
        SCOPED_TRACE(c.status.value_or("(none)"));
        const auto syncId = completeStartedWorkout();
        const auto startId = sent("start_workout").at(0).syncId;
        acknowledge(startId, "Failed"); // another message's verdict is not the hand-off's
        EXPECT_EQ(data().syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::syncing);
        data().syncingFinishedWorkout = false; // the screen dismissed its sheet
        acknowledge(syncId, c.status);
        EXPECT_EQ(data().syncingFinishedWorkoutStatus.get(), c.expected);
        EXPECT_EQ(data().finishingWorkoutSyncId.has_value(), c.retried);
        EXPECT_EQ(data().syncingFinishedWorkout.get(), !c.retried);
        EXPECT_EQ(sent("complete_workout").size(), c.retried ? 1u : 0u);
        if (c.retried) {
            acknowledge(syncId, "Success");
            EXPECT_EQ(data().syncingFinishedWorkoutStatus.get(), FinishingWorkoutStatus::success);
        }
        acknowledge(syncId, "Failed"); // a late repeat changes nothing
        EXPECT_EQ(data().syncingFinishedWorkoutStatus.get(),
                  c.retried ? FinishingWorkoutStatus::success : c.expected);
    }
}

TEST_F(WorkoutLifecycle, CancelEndsTheSessionUnsavedAndLeavesTheHandOff) {
    ASSERT_TRUE(data().startAvailableWorkout(workout("w1")));
    executor.advanceBy(5min);
    data().cancelCurrentWorkout();
    EXPECT_EQ(workoutManager().pendingWorkoutTermination(),
              (session::PendingWorkoutTermination{"w1", now(), false}));
    EXPECT_EQ(sent("cancel_workout").at(0).payload, endPayload("w1"));
    executor.runUntilIdle();
    EXPECT_EQ(data().workoutStatus.get(), "NOT_STARTED");
    EXPECT_FALSE(data().syncingFinishedWorkout.get());
    EXPECT_EQ(data().finishingWorkoutSyncId, std::nullopt);

    // A session this watch does not own for the workout is left alone; the event still goes.
    launch();
    workoutManager().claimWorkout("other", now());
    data().workoutId = std::string("w2");
    data().cancelCurrentWorkout();
    executor.runUntilIdle();
    EXPECT_EQ(workoutManager().pendingWorkoutTermination(), std::nullopt);
    EXPECT_EQ(sent("cancel_workout").size(), 2u);
}

} // namespace
