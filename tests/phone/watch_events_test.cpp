#include "phone/watch_events.hpp"

#include <gtest/gtest.h>

namespace {

using phone::PhoneTimer;
using phone::WorkoutFeed;
using platform::Array;
using platform::Dictionary;
using platform::Value;

Dictionary event(std::string type, Dictionary payload) {
    return {{"type", std::move(type)}, {"syncId", "S"}, {"payload", std::move(payload)}};
}

class WatchEvents : public ::testing::Test {
protected:
    WorkoutFeed feed{Dictionary{
        {"id", "w1"},
        {"name", "Day"},
        {"status", "IN_PROGRESS"},
        {"exercises", Array{Dictionary{{"id", "e1"},
                                       {"name", "Squat"},
                                       {"exerciseSets", Array{Dictionary{{"id", "s1"},
                                                                         {"status", "NOT_STARTED"},
                                                                         {"reps", "5"},
                                                                         {"sequence", 0},
                                                                         {"setNumber", "1"}},
                                                              Dictionary{{"id", "s2"},
                                                                         {"status", "NOT_STARTED"},
                                                                         {"reps", "5"},
                                                                         {"sequence", 4},
                                                                         {"setNumber", "W"}}}}},
                            Dictionary{{"id", "e2"}, {"name", "Plank"}}}}}};
    PhoneTimer timer;

    const Dictionary& set(std::string_view id) { return *feed.findSet(id); }
};

TEST_F(WatchEvents, AnAddedSetIsAppendedWithTheLabelTheWatchGivesIt) {
    ASSERT_TRUE(applyWatchEvent(feed, timer,
                                event("add_set", {{"exerciseId", "e1"},
                                                  {"setId", "s3"},
                                                  {"status", "NOT_STARTED"},
                                                  {"reps", "5"},
                                                  {"weight", "135"},
                                                  {"type", "regular"},
                                                  {"sequence", 5}})));
    EXPECT_EQ(set("s3").at("setNumber"), Value("6"));
    EXPECT_EQ(set("s3").at("weight"), Value("135"));
    ASSERT_TRUE(
        applyWatchEvent(feed, timer, event("add_set", {{"exerciseId", "e2"}, {"setId", "p1"}})));
    EXPECT_EQ(set("p1").at("setNumber"), Value("1"));
    EXPECT_FALSE(
        applyWatchEvent(feed, timer, event("add_set", {{"exerciseId", "nope"}, {"setId", "x"}})));
    EXPECT_FALSE(
        applyWatchEvent(feed, timer, event("add_set", {{"exerciseId", "e1"}, {"setId", "s1"}})))
        << "an id the workout has already is not added twice";
}

TEST_F(WatchEvents, AnEditChangesTheSetsOwnFieldsButNotItsRestTime) {
    ASSERT_TRUE(applyWatchEvent(
        feed, timer, event("update_set", {{"id", "s1"}, {"reps", "8"}, {"timerSeconds", 60}})));
    EXPECT_EQ(set("s1").at("reps"), Value("8"));
    EXPECT_FALSE(set("s1").contains("timerSeconds"));
    EXPECT_FALSE(timer.known());
}

TEST_F(WatchEvents, ACountdownAndACompletionStartThePhonesTimer) {
    applyWatchEvent(feed, timer,
                    event("update_set", {{"id", "s1"},
                                         {"status", "IN_PROGRESS"},
                                         {"isExerciseCountdown", true},
                                         {"occurredAt", 1000.0},
                                         {"timerSeconds", 60},
                                         {"timerId", "T1"},
                                         {"timerRevision", 0}}));
    EXPECT_TRUE(timer.running);
    EXPECT_EQ(timer.durationSetId, "s1");
    EXPECT_EQ(timer.exerciseId, "e1");
    EXPECT_EQ(set("s1").at("status"), Value("IN_PROGRESS"));

    applyWatchEvent(feed, timer,
                    event("complete_set", {{"id", "s1"},
                                           {"dateCompleted", "2026-01-05T09:01:00Z"},
                                           {"occurredAt", 61000.0},
                                           {"timerSeconds", 90},
                                           {"timerId", "T2"},
                                           {"timerRevision", 0}}));
    EXPECT_EQ(set("s1").at("status"), Value("COMPLETE"));
    EXPECT_EQ(set("s1").at("dateCompleted"), Value("2026-01-05T09:01:00Z"));
    auto data = timer.restTimerData();
    EXPECT_EQ(data.at("timerId"), Value("T2"));
    EXPECT_EQ(data.at("isExerciseCountdown"), Value(false));
    EXPECT_EQ(data.at("startTime"), Value(61000.0));
    EXPECT_EQ(data.at("setCompletedIds"), Value(Array{"s1"}));
    EXPECT_FALSE(data.contains("durationSetId"));

    EXPECT_FALSE(applyWatchEvent(feed, timer, event("cancel_timer", {{"timerId", "T2"}})));
    EXPECT_FALSE(timer.running);
    EXPECT_EQ(timer.id, "T2");
}

TEST_F(WatchEvents, SetsAndExercisesComeAndGo) {
    EXPECT_TRUE(applyWatchEvent(feed, timer, event("delete_set", {{"id", "s2"}})));
    EXPECT_EQ(feed.findSet("s2"), nullptr);
    EXPECT_FALSE(applyWatchEvent(feed, timer, event("delete_set", {{"id", "s2"}})));
    EXPECT_TRUE(applyWatchEvent(feed, timer,
                                event("create_exercise", {{"id", "e3"},
                                                          {"name", "Curl"},
                                                          {"templateExerciseId", "t3"},
                                                          {"sequence", 2},
                                                          {"workoutId", "w1"}})));
    EXPECT_EQ(feed.findExercise("e3")->at("name"), Value("Curl"));
    EXPECT_TRUE(applyWatchEvent(feed, timer, event("delete_exercise", {{"id", "e3"}})));
    EXPECT_EQ(feed.findExercise("e3"), nullptr);
}

TEST_F(WatchEvents, MessagesOfAnyOtherShapeChangeNothing) {
    auto before = feed.workout();
    for (const auto& message :
         {Dictionary{}, Dictionary{{"type", "update_set"}},
          Dictionary{{"type", "update_set"}, {"payload", "text"}}, event("update_set", {{"id", 5}}),
          event("complete_set", {{"id", "unknown"}}), event("start_workout", {{"workoutId", "w1"}}),
          event("refresh_data", {})}) {
        EXPECT_FALSE(applyWatchEvent(feed, timer, message));
    }
    EXPECT_EQ(feed.workout(), before);
    EXPECT_FALSE(timer.running);
}

} // namespace

namespace {

using phone::PhoneTimer;
using phone::WorkoutFeed;
using platform::Array;
using platform::Dictionary;
using platform::Value;

Dictionary setEvent(std::string type, Dictionary payload) {
    return {{"type", std::move(type)}, {"syncId", "S"}, {"payload", std::move(payload)}};
}

Dictionary dayWithSet(std::string id, std::string setId) {
    return {{"id", id},
            {"name", "Day " + id},
            {"status", "NOT_STARTED"},
            {"exercises",
             Array{Dictionary{
                 {"id", "e-" + id},
                 {"name", "Plank"},
                 {"exerciseSets", Array{Dictionary{{"id", setId}, {"status", "NOT_STARTED"}}}}}}}};
}

const Value& firstSetStatus(const Value& workout) {
    return *workout.find("exercises")
                ->array()
                ->front()
                .find("exerciseSets")
                ->array()
                ->front()
                .find("status");
}

TEST(WatchEventsOfTheWholePlan, ReachTheWorkoutThatHasTheSetWhenTheCurrentOneDoesNot) {
    phone::TrainingPlan plan{"p", Array{dayWithSet("a", "sa"), dayWithSet("b", "sb")}, {}, {}};
    WorkoutFeed feed(dayWithSet("b", "sb"));
    PhoneTimer timer;
    // Day a is done on the phone, but the watch still logs it.
    EXPECT_FALSE(phone::applyWatchEventToPlan(
        plan, 1, feed, timer, setEvent("complete_set", {{"id", "sa"}, {"reps", "9"}})));
    EXPECT_EQ(firstSetStatus(plan.workouts[0]), Value("COMPLETE"));
    EXPECT_EQ(feed.workout(), dayWithSet("b", "sb"));

    EXPECT_TRUE(phone::applyWatchEventToPlan(plan, 1, feed, timer,
                                             setEvent("complete_set", {{"id", "sb"}})));
    EXPECT_EQ(feed.findSet("sb")->at("status"), Value("COMPLETE"));
    EXPECT_EQ(plan.workouts[1], Value(dayWithSet("b", "sb"))) << "the live copy is the feed's";

    EXPECT_FALSE(phone::applyWatchEventToPlan(plan, 1, feed, timer,
                                              setEvent("complete_set", {{"id", "nowhere"}})));
}

TEST(WatchEventsOfTheWholePlan, ACountdownStartedAfterAStaleStateLeavesADoneSetDone) {
    WorkoutFeed feed(dayWithSet("a", "sa"));
    PhoneTimer timer;
    auto countdown = setEvent("update_set", {{"id", "sa"},
                                             {"status", "IN_PROGRESS"},
                                             {"isExerciseCountdown", true},
                                             {"timerId", "T1"},
                                             {"timerSeconds", 60}});
    ASSERT_TRUE(phone::applyWatchEvent(feed, timer, countdown));
    EXPECT_EQ(feed.findSet("sa")->at("status"), Value("IN_PROGRESS"));
    ASSERT_TRUE(phone::applyWatchEvent(feed, timer, setEvent("complete_set", {{"id", "sa"}})));

    phone::applyWatchEvent(feed, timer, countdown);
    EXPECT_EQ(feed.findSet("sa")->at("status"), Value("COMPLETE"));
    EXPECT_TRUE(timer.running) << "the countdown itself runs on the watch";
    EXPECT_TRUE(timer.isExerciseCountdown);

    // An edit that is not a countdown still changes a done set.
    ASSERT_TRUE(phone::applyWatchEvent(
        feed, timer, setEvent("update_set", {{"id", "sa"}, {"status", "NOT_STARTED"}})));
    EXPECT_EQ(feed.findSet("sa")->at("status"), Value("NOT_STARTED"));
}

TEST(WatchEventsOfTheWholePlan, TheEndOfACountdownRunThatWasStartedAgainDoesNotCompleteTheSet) {
    WorkoutFeed feed(dayWithSet("a", "sa"));
    PhoneTimer timer;
    auto start = [&](std::string timerId, double at) {
        ASSERT_TRUE(phone::applyWatchEvent(feed, timer,
                                           setEvent("update_set", {{"id", "sa"},
                                                                   {"status", "IN_PROGRESS"},
                                                                   {"isExerciseCountdown", true},
                                                                   {"occurredAt", at},
                                                                   {"timerId", timerId},
                                                                   {"timerSeconds", 60}})));
    };
    auto end = [&](std::string sourceId, double sourceStart) {
        return setEvent("complete_set", {{"id", "sa"},
                                         {"isExerciseCountdownCompletion", true},
                                         {"sourceTimerId", sourceId},
                                         {"sourceTimerStartTime", sourceStart},
                                         {"timerId", "R-" + sourceId},
                                         {"timerSeconds", 45}});
    };
    start("C1", 1000);
    start("C2", 5000);
    // Rests of other sets came between.
    ASSERT_FALSE(phone::applyWatchEvent(
        feed, timer, setEvent("complete_set", {{"id", "other"}, {"timerId", "R9"}})));
    // C1's end arrives late: the set was started again since.
    EXPECT_FALSE(phone::applyWatchEvent(feed, timer, end("C1", 1000)));
    EXPECT_EQ(feed.findSet("sa")->at("status"), Value("IN_PROGRESS"));
    EXPECT_EQ(timer.id, "R9");

    EXPECT_TRUE(phone::applyWatchEvent(feed, timer, end("C2", 5000)));
    EXPECT_EQ(feed.findSet("sa")->at("status"), Value("COMPLETE"));
    EXPECT_EQ(timer.id, "R-C2");
    EXPECT_FALSE(timer.isExerciseCountdown);

    // The user tapping done on the older run, which the watch showed, completes the set.
    start("C3", 9000);
    auto tapped = end("C2", 5000);
    auto payload = *tapped.at("payload").dictionary();
    payload.erase("isExerciseCountdownCompletion");
    payload.insert_or_assign("isManualDurationCompletion", true);
    tapped.insert_or_assign("payload", payload);
    EXPECT_TRUE(phone::applyWatchEvent(feed, timer, tapped));
    EXPECT_EQ(feed.findSet("sa")->at("status"), Value("COMPLETE"));
}

} // namespace
