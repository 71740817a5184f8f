#include "phone/plan_progress.hpp"

#include <gtest/gtest.h>

namespace {

using phone::LifecycleEvent;
using phone::PlanPosition;
using platform::Array;
using platform::Dictionary;
using platform::Value;

Dictionary workout(std::string id, std::string status = "NOT_STARTED") {
    return {{"id", id},
            {"name", "Day " + id},
            {"status", std::move(status)},
            {"week", "1"},
            {"exercises",
             Array{Dictionary{{"id", "e-" + id},
                              {"name", "Squat"},
                              {"status", "NOT_STARTED"},
                              {"exerciseSets",
                               Array{Dictionary{{"id", "s-" + id}, {"status", "NOT_STARTED"}}}}}}}};
}

Dictionary event(std::string type, Dictionary payload) {
    return {{"type", std::move(type)}, {"syncId", "S"}, {"payload", std::move(payload)}};
}

TEST(LifecycleEvents, ReadTheWorkoutFromEitherKeyAndTheMomentOfTheAction) {
    auto start = phone::readLifecycleEvent(
        event("start_workout", {{"id", "w1"}, {"workoutId", "w1"}, {"occurredAt", 1500.5}}));
    ASSERT_TRUE(start);
    EXPECT_EQ(start->kind, LifecycleEvent::Kind::start);
    EXPECT_EQ(start->workoutId, "w1");
    EXPECT_EQ(start->occurredAtMs, 1500.5);

    auto complete = phone::readLifecycleEvent(event("complete_workout", {{"id", "w2"}}));
    ASSERT_TRUE(complete);
    EXPECT_EQ(complete->kind, LifecycleEvent::Kind::complete);
    EXPECT_EQ(complete->workoutId, "w2");
    EXPECT_EQ(complete->occurredAtMs, 0);

    auto cancel = phone::readLifecycleEvent(
        event("cancel_workout", {{"workoutId", "w3"}, {"occurredAt", 7}}));
    ASSERT_TRUE(cancel);
    EXPECT_EQ(cancel->kind, LifecycleEvent::Kind::cancel);
    EXPECT_EQ(cancel->occurredAtMs, 7);

    EXPECT_FALSE(phone::readLifecycleEvent(event("complete_set", {{"id", "w1"}})));
    auto unnamed = phone::readLifecycleEvent(event("start_workout", {{"occurredAt", 1}}));
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->workoutId, "");
    // An empty "workoutId" leaves the "id".
    auto fallback =
        phone::readLifecycleEvent(event("cancel_workout", {{"id", "w4"}, {"workoutId", ""}}));
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->workoutId, "w4");
    EXPECT_FALSE(phone::readLifecycleEvent({{"type", "start_workout"}}));
}

class PlanProgress : public ::testing::Test {
protected:
    phone::TrainingPlan plan{"p", Array{workout("a"), workout("b"), workout("c")}, {}, {}};
    std::size_t current = 0;
    phone::WorkoutFeed feed{workout("a")};

    PlanPosition position() { return {plan, current, feed}; }
    std::optional<phone::LifecycleOutcome> apply(LifecycleEvent::Kind kind, std::string id,
                                                 double at = 1000) {
        return phone::applyLifecycleEvent(position(), {kind, std::move(id), at});
    }
    std::vector<std::string> offeredIds(std::set<std::string> withdrawn = {}) const {
        std::vector<std::string> ids;
        for (const auto& w : phone::offeredWorkouts(plan, current, feed, withdrawn)) {
            ids.push_back(*w.find("id")->string());
        }
        return ids;
    }
    std::string statusOf(std::size_t index) {
        return *position().workout(index).at("status").string();
    }
};

TEST_F(PlanProgress, AStartedWorkoutBecomesTheCurrentOneInProgressSinceTheEvent) {
    ASSERT_TRUE(feed.updateSet("s-a", {{"reps", "7"}}));
    auto outcome = apply(LifecycleEvent::Kind::start, "b", 2000);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->workout, 1u);
    EXPECT_EQ(current, 1u);
    EXPECT_EQ(feed.workout().at("status"), Value("IN_PROGRESS"));
    EXPECT_EQ(feed.workout().at("dateStarted"), Value(2000.0));
    // The workout left behind keeps what was done to it.
    EXPECT_EQ(*plan.workouts[0]
                   .find("exercises")
                   ->array()
                   ->front()
                   .find("exerciseSets")
                   ->array()
                   ->front()
                   .find("reps"),
              Value("7"));
}

TEST_F(PlanProgress, StartingTheCurrentWorkoutKeepsWhatTheWatchConfirmedOfIt) {
    feed.snapshot(4);
    feed.confirm(4);
    ASSERT_TRUE(apply(LifecycleEvent::Kind::start, "a"));
    EXPECT_EQ(feed.confirmedRevision(), 4.0) << "the next change can still go as a delta";
    EXPECT_EQ(feed.workout().at("status"), Value("IN_PROGRESS"));
}

TEST_F(PlanProgress, ACompletedWorkoutIsDoneWithItsSetsAndThePlanMovesOnWrappingRound) {
    ASSERT_TRUE(apply(LifecycleEvent::Kind::start, "b"));
    ASSERT_TRUE(feed.updateSet("s-b", {{"status", "COMPLETE"}, {"reps", "5"}}));
    auto outcome = apply(LifecycleEvent::Kind::complete, "b", 9000);
    ASSERT_TRUE(outcome);
    ASSERT_TRUE(outcome->finished);
    EXPECT_EQ(outcome->finished->at("status"), Value("COMPLETE"));
    EXPECT_EQ(outcome->finished->at("dateCompleted"), Value(9000.0));
    const auto& set = *outcome->finished->at("exercises")
                           .array()
                           ->front()
                           .find("exerciseSets")
                           ->array()
                           ->front()
                           .dictionary();
    EXPECT_EQ(set.at("reps"), Value("5"));
    EXPECT_EQ(set.at("status"), Value("COMPLETE"));
    EXPECT_EQ(outcome->next, 2u);
    EXPECT_EQ(current, 2u);
    EXPECT_EQ(statusOf(1), "COMPLETE");

    // After the last workout of the plan, the first one not done is next.
    ASSERT_TRUE(apply(LifecycleEvent::Kind::complete, "c"));
    EXPECT_EQ(current, 0u);
    auto last = apply(LifecycleEvent::Kind::complete, "a");
    ASSERT_TRUE(last);
    EXPECT_FALSE(last->next) << "every workout is done";
    EXPECT_EQ(statusOf(0), "COMPLETE");
}

TEST_F(PlanProgress, CompletingAWorkoutThatIsNotCurrentTakesItFromThePlan) {
    auto outcome = apply(LifecycleEvent::Kind::complete, "c");
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->workout, 2u);
    EXPECT_EQ(*outcome->finished->at("id").string(), "c");
    EXPECT_EQ(outcome->next, 0u);
    EXPECT_EQ(statusOf(2), "COMPLETE");
}

TEST_F(PlanProgress, ACancelledWorkoutIsBackToNotStartedWithoutItsStart) {
    ASSERT_TRUE(apply(LifecycleEvent::Kind::start, "a"));
    auto outcome = apply(LifecycleEvent::Kind::cancel, "a");
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->finished);
    EXPECT_EQ(current, 0u);
    EXPECT_EQ(statusOf(0), "NOT_STARTED");
    EXPECT_FALSE(feed.workout().contains("dateStarted"));

    // One that is not current is put back in the plan.
    ASSERT_TRUE(apply(LifecycleEvent::Kind::start, "b"));
    ASSERT_TRUE(apply(LifecycleEvent::Kind::start, "c"));
    ASSERT_TRUE(apply(LifecycleEvent::Kind::cancel, "b"));
    EXPECT_EQ(current, 2u);
    EXPECT_EQ(statusOf(1), "NOT_STARTED");
    EXPECT_FALSE(plan.workouts[1].dictionary()->contains("dateStarted"));
}

TEST_F(PlanProgress, AnEventForAWorkoutThePlanDoesNotHaveChangesNothing) {
    auto before = plan.workouts;
    for (auto kind : {LifecycleEvent::Kind::start, LifecycleEvent::Kind::complete,
                      LifecycleEvent::Kind::cancel}) {
        EXPECT_FALSE(apply(kind, "zz"));
        EXPECT_FALSE(apply(kind, ""));
    }
    EXPECT_EQ(plan.workouts, before);
    EXPECT_EQ(current, 0u);
    EXPECT_EQ(feed.workout(), workout("a"));
}

TEST_F(PlanProgress, OffersTheDoneWorkoutsTheNextOneAndTheCurrentOne) {
    EXPECT_EQ(offeredIds(), (std::vector<std::string>{"a"}));
    ASSERT_TRUE(position().select(2));
    EXPECT_EQ(offeredIds(), (std::vector<std::string>{"a", "c"}));
    ASSERT_TRUE(apply(LifecycleEvent::Kind::complete, "a"));
    // Completing a moved the plan on to b; c waits its turn.
    EXPECT_EQ(offeredIds(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(offeredIds({"a"}), (std::vector<std::string>{"b"}));
    ASSERT_TRUE(apply(LifecycleEvent::Kind::complete, "b"));
    ASSERT_TRUE(apply(LifecycleEvent::Kind::complete, "c"));
    EXPECT_EQ(offeredIds(), (std::vector<std::string>{"a", "b", "c"}));
    for (const auto& w : phone::offeredWorkouts(plan, current, feed, {})) {
        EXPECT_EQ(*w.find("status"), Value("COMPLETE"));
    }
}

TEST_F(PlanProgress, SelectingKeepsTheCurrentWorkoutsChangesAndRefusesAnUnknownIndex) {
    ASSERT_TRUE(feed.setStatus("IN_PROGRESS"));
    EXPECT_FALSE(position().select(3));
    EXPECT_EQ(current, 0u);
    ASSERT_TRUE(position().select(1));
    EXPECT_EQ(*plan.workouts[0].find("status"), Value("IN_PROGRESS"));
    EXPECT_EQ(feed.workout(), workout("b"));
    EXPECT_EQ(position().find("c"), 2u);
    EXPECT_FALSE(position().find("zz"));
}

} // namespace
