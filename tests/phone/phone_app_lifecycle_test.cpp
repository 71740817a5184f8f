// The watch starts, completes and cancels workouts: phone-sim answers as the phone would.
#include "phone/app_fixture.hpp"
#include "platform/values/json.hpp"

#include <gtest/gtest.h>

namespace {

using phone::testing::AppFixture;
using platform::Array;
using platform::Dictionary;
using platform::Value;

class PhoneAppLifecycle : public AppFixture {
protected:
    static Dictionary lifecycle(std::string type, std::string syncId, std::string workoutId,
                                double at) {
        return outboxMessage(std::move(type), std::move(syncId),
                             {{"id", workoutId}, {"workoutId", workoutId}, {"occurredAt", at}});
    }

    std::string workoutId(std::size_t index) const {
        return *plan.workouts.at(index).find("id")->string();
    }

    std::vector<std::string> offeredIds() {
        session.liveMessages.clear();
        EXPECT_TRUE(app->sendCatalogues());
        std::vector<std::string> ids;
        for (const auto& w : *session.liveMessages.back().body.at("availableWorkouts").array()) {
            ids.push_back(*w.find("id")->string() + ":" + *w.find("status")->string());
        }
        return ids;
    }

    // The set of the workout's first exercise, by position.
    static const Value& setOf(const Dictionary& workout, std::size_t index) {
        return workout.at("exercises").array()->front().find("exerciseSets")->array()->at(index);
    }
};

TEST_F(PhoneAppLifecycle, AStartedWorkoutBecomesCurrentAndGoesToTheWatchInProgress) {
    session.receiveMessage(lifecycle("start_workout", "L1", "wk1-day-b", 1000));
    executor.runUntilIdle();

    EXPECT_EQ(app->currentWorkout(), 1u);
    ASSERT_EQ(session.liveMessages.size(), 2u);
    const auto& state = session.liveMessages[0].body;
    EXPECT_EQ(state.at("syncRevision"), Value(1.0));
    EXPECT_EQ(state.at("workout"), Value(Dictionary{{"id", "wk1-day-b"},
                                                    {"name", "Day B: Deadlift & Press"},
                                                    {"status", "IN_PROGRESS"},
                                                    {"dateStarted", 1000.0}}));
    EXPECT_EQ(state.at("exercises"), *plan.workouts[1].find("exercises"));
    // The acknowledgement ends the exchange, as with a refresh.
    EXPECT_EQ(session.liveMessages[1].body, ack("L1"));
    EXPECT_TRUE(log.contains("the watch started workout wk1-day-b"));
}

TEST_F(PhoneAppLifecycle, ACompletedWorkoutIsRecordedAsReportedDoneAndTheNextOneOffered) {
    session.receiveMessage(lifecycle("start_workout", "L1", "wk1-day-a", 1000));
    session.receiveMessage(outboxMessage("complete_set", "C1",
                                         {{"id", "set-0003"}, {"reps", "6"}, {"weight", "190"}}));
    executor.runUntilIdle();
    session.liveMessages.clear();
    session.receiveMessage(lifecycle("complete_workout", "L2", "wk1-day-a", 5000));
    executor.runUntilIdle();

    auto finished = app->finishedWorkouts();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].syncId, "L2");
    EXPECT_EQ(finished[0].workoutId, "wk1-day-a");
    EXPECT_EQ(finished[0].completedAtMs, 5000);
    auto record = platform::parseJson(finished[0].workoutJson);
    ASSERT_TRUE(record && record->dictionary());
    const auto& workout = *record->dictionary();
    EXPECT_EQ(workout.at("status"), Value("COMPLETE"));
    const auto& started = workout.at("dateStarted");
    EXPECT_EQ(started.real() != nullptr ? *started.real() : -1, 1000) << started;
    EXPECT_EQ(*setOf(workout, 2).find("status"), Value("COMPLETE"));
    EXPECT_EQ(*setOf(workout, 2).find("reps"), Value("6"));
    EXPECT_EQ(*setOf(workout, 2).find("weight"), Value("190"));
    EXPECT_EQ(*setOf(workout, 3).find("status"), Value("NOT_STARTED"));

    // The watch hears the done workout and the next one, then the acknowledgement.
    ASSERT_EQ(session.liveMessages.size(), 2u);
    const auto& update = session.liveMessages[0].body;
    EXPECT_EQ(update.size(), 2u);
    const auto& updates = *update.at("availableWorkoutUpdates").array();
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(*updates[0].find("id"), Value("wk1-day-a"));
    EXPECT_EQ(*updates[0].find("status"), Value("COMPLETE"));
    EXPECT_EQ(updates[1], plan.workouts[1]);
    EXPECT_EQ(update.at("availableWorkoutsRevision"), Value(static_cast<double>(app->revision())));
    EXPECT_EQ(session.liveMessages[1].body, ack("L2"));

    EXPECT_EQ(app->currentWorkout(), 1u);
    app->printLogbook();
    EXPECT_TRUE(log.contains("finished workout wk1-day-a (syncId L2) {"));
    EXPECT_EQ(offeredIds(),
              (std::vector<std::string>{"wk1-day-a:COMPLETE", "wk1-day-b:NOT_STARTED"}));
}

TEST_F(PhoneAppLifecycle, EachEventTakesEffectOnceAlsoAcrossARestart) {
    session.receiveMessage(lifecycle("start_workout", "L1", "wk1-day-b", 1000));
    session.receiveMessage(outboxMessage("complete_set", "C1", {{"id", "set-0038"}}));
    session.receiveMessage(lifecycle("complete_workout", "L2", "wk1-day-b", 5000));
    executor.runUntilIdle();
    ASSERT_EQ(app->finishedWorkouts().size(), 1u);
    ASSERT_EQ(app->currentWorkout(), 2u);
    auto revision = app->revision();

    session.liveMessages.clear();
    session.receiveUserInfo(lifecycle("complete_workout", "L2", "wk1-day-b", 5000));
    session.receiveMessage(lifecycle("start_workout", "L1", "wk1-day-b", 1000));
    executor.runUntilIdle();
    EXPECT_EQ(session.liveBodies(), (std::vector<Dictionary>{ack("L2"), ack("L1")}));
    EXPECT_EQ(app->revision(), revision);

    app.reset();
    startApp();
    EXPECT_EQ(app->currentWorkout(), 2u) << "the plan had moved on to day C";
    EXPECT_EQ(app->finishedWorkouts().size(), 1u);
    EXPECT_EQ(offeredIds(), (std::vector<std::string>{"wk1-day-a:NOT_STARTED", "wk1-day-b:COMPLETE",
                                                      "wk1-day-c:NOT_STARTED"}));
    session.liveMessages.clear();
    session.receiveMessage(lifecycle("complete_workout", "L2", "wk1-day-b", 5000));
    executor.runUntilIdle();
    EXPECT_EQ(session.liveBodies(), std::vector<Dictionary>{ack("L2")});
    EXPECT_EQ(app->finishedWorkouts().size(), 1u);
}

TEST_F(PhoneAppLifecycle, SetEventsAfterAStartAreReplayedIntoTheWorkoutItStarted) {
    session.receiveMessage(lifecycle("start_workout", "L1", "wk1-day-c", 1000));
    session.receiveMessage(
        outboxMessage("complete_set", "C1", {{"id", "set-0057"}, {"reps", "7"}}));
    executor.runUntilIdle();

    app.reset();
    startApp();
    ASSERT_EQ(app->currentWorkout(), 2u);
    EXPECT_EQ(app->feed().workout().at("status"), Value("IN_PROGRESS"));
    const auto* set = app->feed().findSet("set-0057");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->at("status"), Value("COMPLETE"));
    EXPECT_EQ(set->at("reps"), Value("7"));
}

TEST_F(PhoneAppLifecycle, AWorkoutThatEndsTakesItsRestTimerWithIt) {
    session.receiveMessage(lifecycle("start_workout", "L1", "wk1-day-a", 1000));
    session.receiveMessage(outboxMessage("complete_set", "C1",
                                         {{"id", "set-0001"},
                                          {"occurredAt", 2000.0},
                                          {"timerSeconds", 60},
                                          {"timerId", "T1"},
                                          {"timerRevision", 0}}));
    executor.runUntilIdle();
    ASSERT_TRUE(app->timer().running);
    session.receiveMessage(lifecycle("complete_workout", "L2", "wk1-day-a", 3000));
    executor.runUntilIdle();
    EXPECT_FALSE(app->timer().running);

    // A refresh must not start the finished workout's rest again on the watch.
    session.liveMessages.clear();
    session.receiveMessage(outboxMessage("refresh_data", "R1"));
    executor.runUntilIdle();
    const auto& timer = *session.liveMessages.front().body.at("restTimerData").dictionary();
    EXPECT_EQ(timer.at("timerIsRunning"), Value(false));

    app.reset();
    startApp();
    EXPECT_FALSE(app->timer().running);
    EXPECT_EQ(app->timer().id, "T1");
}

TEST_F(PhoneAppLifecycle, AnEventTakesEffectOnlyWhenThePhoneAnswersSuccess) {
    app->setAckStatus("Retry");
    session.receiveMessage(lifecycle("complete_workout", "L1", "wk1-day-a", 5000));
    executor.runUntilIdle();
    app->setAckStatus("Failed: plan locked");
    session.receiveMessage(lifecycle("complete_workout", "L1", "wk1-day-a", 5000));
    executor.runUntilIdle();
    app->setAckStatus(std::nullopt);
    session.receiveMessage(lifecycle("complete_workout", "L1", "wk1-day-a", 5000));
    executor.runUntilIdle();
    EXPECT_TRUE(app->finishedWorkouts().empty());
    EXPECT_EQ(app->currentWorkout(), 0u);
    EXPECT_EQ(session.liveBodies(),
              (std::vector<Dictionary>{ack("L1", "Retry"), ack("L1", "Failed: plan locked")}));

    // The copy the phone accepts is the one that counts, first arrival or not.
    app->setAckStatus("Success");
    session.receiveUserInfo(lifecycle("complete_workout", "L1", "wk1-day-a", 5000));
    executor.runUntilIdle();
    EXPECT_EQ(app->finishedWorkouts().size(), 1u);
    EXPECT_EQ(app->currentWorkout(), 1u);
    ASSERT_EQ(session.liveMessages.size(), 4u);
    EXPECT_TRUE(session.liveMessages[2].body.contains("availableWorkoutUpdates"));
    EXPECT_EQ(session.liveMessages[3].body, ack("L1"));
}

TEST_F(PhoneAppLifecycle, ACancelledWorkoutIsNotStartedAgainAndNotRecorded) {
    session.receiveMessage(lifecycle("start_workout", "L1", "wk1-day-a", 1000));
    executor.runUntilIdle();
    session.liveMessages.clear();
    session.receiveMessage(lifecycle("cancel_workout", "L2", "wk1-day-a", 2000));
    executor.runUntilIdle();

    EXPECT_EQ(session.liveBodies(), std::vector<Dictionary>{ack("L2")});
    EXPECT_EQ(app->feed().workout().at("status"), Value("NOT_STARTED"));
    EXPECT_FALSE(app->feed().workout().contains("dateStarted"));
    EXPECT_TRUE(app->finishedWorkouts().empty());
    EXPECT_EQ(app->currentWorkout(), 0u);

    app.reset();
    startApp();
    EXPECT_EQ(app->feed().workout().at("status"), Value("NOT_STARTED"));
}

TEST_F(PhoneAppLifecycle, AnEventForAWorkoutThePlanDoesNotHaveIsOnlyAcknowledged) {
    session.receiveMessage(lifecycle("complete_workout", "L1", "wk9-day-z", 5000));
    executor.runUntilIdle();
    EXPECT_EQ(session.liveBodies(), std::vector<Dictionary>{ack("L1")});
    EXPECT_TRUE(app->finishedWorkouts().empty());
    EXPECT_TRUE(
        log.contains("the watch completed workout wk9-day-z, which the plan does not have"));
}

} // namespace
