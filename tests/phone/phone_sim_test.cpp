// phone-sim's library: the embedded plan, the workout's deltas, and the app on the simulated link
// as the simulations and the demo run it, with a bare watch end recording what the phone sends.
// Only what the simulations and the process tests rely on the phone to do is checked here: a
// fault in it could hide a fault of the watch.
#include "model/decoding.hpp"
#include "model/keyed_list_delta.hpp"
#include "phone/command_runner.hpp"
#include "sim/sim_support.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <map>

namespace {

using namespace std::chrono_literals;
using phone::SessionAction;
using platform::Array;
using platform::Dictionary;
using platform::LinkRole;
using platform::SessionError;
using platform::Value;

// The simulations, the process tests and the demo play the embedded plan: what it leaves out,
// the watch is not tried on. Nothing in a workout may be dropped by the watch's decoder.
TEST(TrainingPlan, EmbeddedPlanIsAWeekThatTheWatchDecodesWholeWithEveryKindOfExercise) {
    auto plan = phone::parseTrainingPlan(phone::embeddedDemoPlanText());
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->workouts.size(), 4u);
    std::map<std::int64_t, int> supersetMembers;
    int timed = 0;
    int placeholders = 0;
    for (const auto& element : plan->workouts) {
        auto workout = model::decodeWorkout(*element.dictionary());
        ASSERT_TRUE(workout) << element;
        EXPECT_EQ(workout->exercises.size(), element.find("exercises")->array()->size());
        for (std::size_t i = 0; i < workout->exercises.size(); ++i) {
            const auto& exercise = *workout->exercises[i];
            const auto& sets = *element.find("exercises")->array()->at(i).find("exerciseSets");
            EXPECT_EQ(exercise.exerciseSets->size(), sets.array()->size());
            EXPECT_FALSE(exercise.exerciseSets->empty());
            supersetMembers[exercise.superset.value_or(-1)] += exercise.superset ? 1 : 0;
            timed += exercise.isDuration ? 1 : 0;
            // The watch lets its user pick the exercise for a placeholder.
            if (exercise.name.empty()) {
                ++placeholders;
                EXPECT_TRUE(exercise.category || exercise.primaryMuscle);
                EXPECT_TRUE(exercise.recommendation);
            }
        }
    }
    EXPECT_TRUE(std::ranges::any_of(supersetMembers, [](auto m) { return m.second >= 2; }));
    EXPECT_GE(timed, 1);
    EXPECT_EQ(placeholders, 1);
}

Dictionary exercise(std::string id, std::int64_t reps = 5) {
    return {{"id", id}, {"name", "Exercise " + id}, {"reps", reps}};
}

// The watch's side of a delta, on the dictionaries themselves.
struct Item {
    Value value;
};
std::string_view itemId(const Item& item) {
    return *item.value.find("id")->string();
}

// The watch reads the delta with its own reader.
Array applyDelta(const Array& state, const Dictionary& delta) {
    auto steps = model::readKeyedListDelta<Item>(
        delta, "exerciseUpdates", "removedExerciseIds", "exerciseOrder",
        [](const Dictionary& update, std::int64_t) { return std::optional(Item{update}); });
    std::vector<Item> items;
    for (const auto& element : state) {
        items.push_back(Item{element});
    }
    Array result;
    for (auto& item : model::applyKeyedListDelta(std::move(items), steps)) {
        result.push_back(std::move(item.value));
    }
    return result;
}

// Whichever state since the confirmed one the watch holds, the delta brings it to the current
// one: this is what makes lost, repeated and overtaken messages harmless.
RC_GTEST_PROP(WorkoutFeed, ADeltaTurnsEveryStateSinceTheConfirmedOneIntoTheCurrentOne, ()) {
    phone::WorkoutFeed feed(
        Dictionary{{"id", "w1"},
                   {"name", "Day 1"},
                   {"status", "IN_PROGRESS"},
                   {"exercises", Array{exercise("a"), exercise("b"), exercise("c")}}});
    double revision = 1;
    feed.snapshot(revision);
    feed.confirm(revision);
    std::vector<double> sent{revision};
    auto steps = *rc::gen::inRange(1, 40);
    int nextId = 0;
    for (int step = 0; step < steps; ++step) {
        const auto& current = feed.exercises();
        std::vector<std::string> ids;
        for (const auto& e : current) {
            ids.push_back(*e.find("id")->string());
        }
        switch (*rc::gen::inRange(0, 6)) {
        case 0:
            feed.addExercise(exercise("n" + std::to_string(nextId++)));
            break;
        case 1:
            if (!ids.empty()) {
                feed.removeExercise(*rc::gen::elementOf(ids));
            }
            break;
        case 2:
            if (!ids.empty()) {
                feed.updateExercise(*rc::gen::elementOf(ids), {{"reps", *rc::gen::inRange(0, 3)}});
            }
            break;
        case 3: {
            auto order = ids;
            std::reverse(order.begin(), order.end());
            feed.reorder(order);
            break;
        }
        case 4:
            feed.confirm(*rc::gen::elementOf(sent));
            break;
        default: {
            ++revision;
            auto delta = feed.delta(revision);
            if (!delta) {
                feed.snapshot(revision);
            }
            sent.push_back(revision);
        }
        }
    }
    auto confirmed = feed.confirmedRevision();
    ++revision;
    auto delta = feed.delta(revision);
    RC_ASSERT(delta.has_value());
    for (double r : sent) {
        if (r >= *confirmed) {
            RC_ASSERT(applyDelta(*feed.sentAt(r), *delta) == feed.exercises());
        }
    }
}

// The watch's end of the link: it records the messages that arrive and answers those that ask.
class WatchEnd final : public platform::SessionDelegate {
public:
    std::vector<Dictionary> messages;

    void activationDidComplete(platform::ActivationState, std::optional<SessionError>) override {}
    void reachabilityDidChange(bool) override {}
    void didReceiveMessage(const Dictionary& message,
                           std::optional<platform::ReplyHandler> reply) override {
        messages.push_back(message);
        if (reply) {
            (*reply)({{"status", "Success"}});
        }
    }
    void didReceiveUserInfo(const Dictionary&) override {}
    void didReceiveApplicationContext(const Dictionary&) override {}
    void didFinishUserInfoTransfer(const platform::UserInfoTransfer&,
                                   std::optional<SessionError>) override {}
    void didReceiveFile(const platform::ReceivedFile&) override {}
};

class PhoneOnLink : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryLog log;
    platform::testing::TempDirectory dir;
    platform::SimulatedLink link{executor, platform::LinkFaults{}, 7};
    platform::MemoryKeyValueStore watchStore;
    platform::MemoryFileSystem watchFiles;
    WatchEnd watchEnd;
    platform::SessionEngine watch{
        LinkRole::watch, link.attach(LinkRole::watch), {executor, watchStore, watchFiles, log}};
    simsupport::PhoneSide phone{executor, link, log, dir.path()};
    phone::PhoneApp& app = *phone.app;

    void SetUp() override {
        watch.setDelegate(&watchEnd);
        watch.activate();
        executor.advanceBy(1s);
        ASSERT_TRUE(watch.isReachable());
    }

    // An outbox message of the watch, and a second for it to arrive and be answered.
    void send(std::string type, std::string syncId, Dictionary payload = {}, bool live = true) {
        Dictionary message{{"type", std::move(type)},
                           {"syncId", std::move(syncId)},
                           {"payload", std::move(payload)}};
        if (live) {
            watch.sendMessage(message, std::nullopt, [](SessionError) {});
        } else {
            watch.transferUserInfo(message);
        }
        executor.advanceBy(1s);
    }
    static Dictionary ack(std::string syncId, std::string status = "Success") {
        return {{"syncAck", std::move(syncId)}, {"status", std::move(status)}};
    }
};

TEST_F(PhoneOnLink, AcknowledgesEveryCopyWithTheChosenStatusAndRecordsItsFirstArrival) {
    struct Arrival {
        std::optional<std::string> status;
        std::string syncId;
        bool live;
    };
    for (const auto& [status, syncId, live] : std::vector<Arrival>{
             {"Success", "S1", true},
             {"Success", "S1", false},
             {"Retry", "S2", true},
             {"Failed: no such set", "S2", false},
             {std::nullopt, "S3", true},
             {"Success", "S3", false},
         }) {
        app.setAckStatus(status);
        send("complete_set", syncId, {}, live);
    }
    EXPECT_EQ(watchEnd.messages,
              (std::vector<Dictionary>{ack("S1"), ack("S1"), ack("S2", "Retry"),
                                       ack("S2", "Failed: no such set"), ack("S3")}));
    const auto recorded = app.logbookEntries();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[1].syncId, "S2");
    EXPECT_EQ(recorded[2].syncId, "S3");
}

TEST_F(PhoneOnLink, ALifecycleEventTakesEffectOnlyWhenThePhoneAnswersSuccess) {
    Dictionary completion{{"workoutId", "wk1-day-a"}, {"occurredAt", 5000.0}};
    for (const auto& status :
         {std::optional<std::string>("Retry"), std::optional<std::string>("Failed: plan locked"),
          std::optional<std::string>()}) {
        app.setAckStatus(status);
        send("complete_workout", "L1", completion);
    }
    EXPECT_TRUE(app.finishedWorkouts().empty());
    EXPECT_EQ(app.currentWorkout(), 0u);

    // The copy the phone accepts is the one that counts, first arrival or not.
    app.setAckStatus("Success");
    send("complete_workout", "L1", completion, false);
    EXPECT_EQ(app.finishedWorkouts().size(), 1u);
    EXPECT_EQ(app.currentWorkout(), 1u);
    EXPECT_EQ(watchEnd.messages.back(), ack("L1"));
}

// Which commands carry a sequence decides what the watch may refuse for its place in the order;
// the script's tricks are how the tests make commands arrive late, twice or out of order.
TEST_F(PhoneOnLink, CommandsCarryTheirSequenceThroughTheScriptsTricks) {
    EXPECT_FALSE(phone::isOrderedCommand(phone::sessionCommand(SessionAction::stop, "w", 1)));
    EXPECT_TRUE(phone::isOrderedCommand(phone::sessionCommand(SessionAction::pause, "w", 1)));
    EXPECT_TRUE(phone::isOrderedCommand({{"syncWorkoutsToHealth", true}}));
    EXPECT_FALSE(phone::isOrderedCommand({{"timerCorrectionForId", "T1"}}));

    phone::CommandRunner runner(app, executor.main(), log, [] {});
    for (const char* line :
         {"health-sync off", "hold on", "session-pause", "session-resume", "session-stop",
          "release 3 1", "hold off", "resend phone-cmd-1", "age sequence 1", "health-sync on",
          "age revision 1", "session-pause", "release", "resend"}) {
        runner.submit(line);
    }
    executor.runUntilIdle();
    EXPECT_EQ(runner.failures(), 0u);
    const auto& sent = app.commands().sent();
    std::vector<std::string> ids;
    for (const auto& command : sent) {
        ids.push_back(command.id);
    }
    ASSERT_EQ(ids, (std::vector<std::string>{"phone-cmd-1", "phone-cmd-4", "phone-cmd-2",
                                             "phone-cmd-1", "phone-cmd-5", "phone-cmd-6",
                                             "phone-cmd-3", "phone-cmd-3"}));
    // Held commands keep the sequence they were given: the pause goes after the stop.
    EXPECT_TRUE(sent[1].message.contains("stop_workout_session"));
    EXPECT_FALSE(sent[1].message.contains("commandSequence"));
    EXPECT_EQ(sent[2].message.at("commandSequence"), Value(2.0));
    EXPECT_EQ(sent[3], sent[0]) << "a repeat is the same command";
    EXPECT_EQ(sent[4].message.at("commandSequence"), Value(1.0)) << "aged";
    EXPECT_EQ(sent[4].message.at("syncWorkoutsToHealth"), Value(true));
    EXPECT_EQ(sent[5].message.at("syncRevision"), Value(1.0)) << "a stale revision";
    EXPECT_EQ(sent[5].message.at("commandSequence"), Value(6.0));
    EXPECT_TRUE(sent[6].message.contains("resume_workout_session_v2"));
    EXPECT_EQ(sent[7], sent[6]);
}

// The simulations compare the phone's record with the watch's: a phone that made sense of a
// malformed event would hide the watch's fault.
TEST_F(PhoneOnLink, EventsTheWatchGotWrongChangeNothing) {
    const auto before = app.feed().workout();
    int event = 0;
    for (const auto& [type, payload] : std::vector<std::pair<std::string, Dictionary>>{
             {"complete_set", {{"setId", "set-0001"}, {"timerId", "T1"}, {"timerSeconds", 60}}},
             {"complete_set", {{"id", "no-such-set"}}},
             {"update_set", {{"id", 1}, {"reps", "9"}}},
             {"complete", {{"id", "set-0001"}}},
             {"add_set", {{"exerciseId", "no-such-exercise"}, {"setId", "x"}}},
             {"add_set", {{"exerciseId", "ex-0006"}, {"setId", "set-0001"}}},
             {"complete_workout", {{"workoutId", "wk9-day-z"}}},
         }) {
        send(type, "E" + std::to_string(++event), payload);
    }
    EXPECT_EQ(app.feed().workout(), before);
    EXPECT_FALSE(app.timer().known());
    EXPECT_TRUE(app.finishedWorkouts().empty());
    EXPECT_EQ(app.currentWorkout(), 0u);
}

} // namespace
