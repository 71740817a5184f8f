// phone-sim's library: the embedded plan, and the app on the simulated link as the simulations
// run it, against a bare watch end. Only what the simulations and the process tests rely on the
// phone to do is checked here: a fault in it could hide a fault of the watch.
#include "model/decoding.hpp"
#include "platform/link/link_harness.hpp"
#include "sim/sim_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::LinkRole;
using platform::SessionError;

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

class PhoneOnLink : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryLog log;
    platform::testing::TempDirectory dir;
    platform::SimulatedLink link{executor, platform::LinkFaults{}, 7};
    platform::MemoryKeyValueStore watchStore;
    platform::MemoryFileSystem watchFiles;
    linktest::RecordingDelegate watchEnd{executor.main()}; // the watch, hearing the answers
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
    void send(std::string type, std::string syncId, Dictionary payload) {
        watch.sendMessage({{"type", std::move(type)},
                           {"syncId", std::move(syncId)},
                           {"payload", std::move(payload)}},
                          std::nullopt, [](SessionError) {});
        executor.advanceBy(1s);
    }
};

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
    EXPECT_EQ(watchEnd.messages.size(), 7u) << "each one arrived and was answered";
}

} // namespace
