// The root screen's part in logging sets, on the whole watch core: what the rest timer previews
// after a set, where that moves the user, the alternation within a superset, the countdown's
// completion, and the rest timer sheet.
#include "app/watch_core.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "support/fake_session.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using platform::Array;
using platform::Dictionary;

Dictionary set(std::string id, std::string status = "NOT_STARTED") {
    return {{"id", std::move(id)},
            {"status", std::move(status)},
            {"reps", "5"},
            {"weight", "95"},
            {"timerSeconds", 90}};
}

Dictionary exercise(std::string id, std::int64_t sequence, Array sets,
                    std::optional<std::int64_t> superset = std::nullopt) {
    Dictionary e{{"id", id},
                 {"name", "Exercise " + id},
                 {"status", "NOT_STARTED"},
                 {"sequence", sequence},
                 {"isWeight", true},
                 {"exerciseSets", std::move(sets)}};
    if (superset) {
        e.insert_or_assign("superset", *superset);
    }
    return e;
}

class MainScreenTest : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    platform::MemoryKeyValueStore defaults;
    platform::MemoryFileSystem files;
    platform::MemoryLog log;
    testsupport::FakeSession session{executor.main()};
    std::optional<app::WatchCore> core;

    void SetUp() override {
        core.emplace(app::WatchEnvironment{executor,
                                           defaults,
                                           files,
                                           session,
                                           log,
                                           {},
                                           true,
                                           platform::SimulatedNotificationAnswer::allow});
        executor.runUntilIdle();
    }

    void load(Array exercises) {
        core->data().dispatchInbound(
            Dictionary{
                {"workout", Dictionary{{"id", "w1"}, {"name", "A"}, {"status", "IN_PROGRESS"}}},
                {"exercises", std::move(exercises)}},
            std::nullopt);
        executor.runUntilIdle();
    }

    model::ExerciseRef find(std::string_view id) {
        for (const auto& e : core->data().exercises.get()) {
            if (e->id == id) {
                return e;
            }
        }
        return nullptr;
    }

    screens::MainScreen& screen() { return core->mainScreen(); }
    const std::string& preview() { return core->restTimer().nextSetExercise.get(); }
};

TEST_F(MainScreenTest, AfterTheLastSetTheNextExerciseBySequenceIsPreviewedAndShown) {
    load({exercise("b", 2, {set("b1", "COMPLETE"), set("b2")}),
          exercise("a", 1, {set("a1", "COMPLETE")}), exercise("c", 3, {set("c1")})});
    screen().updateTimerMessage(find("b"));
    EXPECT_EQ(preview(), "Exercise b") << "an exercise with a set left stays";
    EXPECT_EQ(screen().tagToShow.get(), std::nullopt);

    screen().updateTimerMessage(find("a"));
    EXPECT_EQ(preview(), "Exercise b");
    EXPECT_EQ(screen().tagToShow.get(), "b");
    EXPECT_EQ(screen().selectedPage.get(), 1);
    ASSERT_NE(screen().detail(), nullptr);
    EXPECT_EQ(screen().detail()->exercise()->id, "b");

    load({exercise("a", 1, {set("a1", "COMPLETE")})});
    screen().updateTimerMessage(find("a"));
    EXPECT_EQ(preview(), "") << "nothing left: the preview is cleared";
}

TEST_F(MainScreenTest, ASupersetAlternatesUntilItsSetsAreDoneThenMovesPastIt) {
    load({exercise("x", 1, {set("x1", "COMPLETE"), set("x2")}, 7),
          exercise("y", 2, {set("y1"), set("y2")}, 7), exercise("z", 5, {set("z1")})});
    screen().updateTimerMessage(find("x"));
    EXPECT_EQ(preview(), "Exercise y");
    screen().goBack(find("x"));
    EXPECT_EQ(screen().tagToShow.get(), "y");
    EXPECT_EQ(screen().selectedPage.get(), 0);
    // From the last member back to the first with a set left.
    screen().updateTimerMessage(find("y"));
    EXPECT_EQ(preview(), "Exercise x");
    screen().goBack(find("y"));
    EXPECT_EQ(screen().tagToShow.get(), "x");
    EXPECT_EQ(screen().selectedPage.get(), 1);

    load({exercise("x", 1, {set("x1", "COMPLETE")}, 7),
          exercise("y", 2, {set("y1", "COMPLETE")}, 7), exercise("z", 5, {set("z1")})});
    screen().tagToShow = std::nullopt;
    screen().updateTimerMessage(find("x"));
    EXPECT_EQ(preview(), "Exercise z");
    EXPECT_EQ(screen().tagToShow.get(), std::nullopt) << "past a superset without navigating";
    screen().goBack(find("z"));
    EXPECT_EQ(screen().tagToShow.get(), std::nullopt) << "no superset: nothing happens";
}

TEST_F(MainScreenTest, ACountdownThatRanOutCompletesItsSetAndPreviewsTheNext) {
    load({exercise("p", 1, {set("p1"), set("p2")})});
    auto date = platform::Date{800000000};
    screen().durationSetCompleted("p1", date);
    auto plank = find("p");
    EXPECT_EQ(plank->exerciseSets->front()->status.get(), "COMPLETE");
    EXPECT_EQ(plank->exerciseSets->front()->dateCompleted.get(), date);
    EXPECT_EQ(preview(), "Exercise p");
    screen().durationSetCompleted("nothing", date);
}

TEST_F(MainScreenTest, TheRestTimerSheetIsUpWhileTheTimerRunsAndClosingItStopsTheTimer) {
    load({exercise("a", 1, {set("a1"), set("a2")})});
    ASSERT_TRUE(screen().openExercise("a"));
    EXPECT_FALSE(screen().openExercise("missing"));
    screen().selectedPage = 0;
    screen().detail()->tapActionButton();
    executor.runUntilIdle();
    auto& timer = core->restTimer();
    ASSERT_TRUE(timer.timerIsRunning.get());
    EXPECT_TRUE(screen().restTimerSheetIsPresented.get());
    ASSERT_NE(screen().restTimerScreen(), nullptr);
    executor.advanceBy(1s);
    EXPECT_TRUE(screen().restTimerScreen()->message.get().has_value());

    screen().dismissRestTimer();
    executor.runUntilIdle();
    EXPECT_FALSE(timer.timerIsRunning.get());
    EXPECT_FALSE(screen().restTimerSheetIsPresented.get());
    EXPECT_EQ(screen().restTimerScreen(), nullptr);
    // The stored session goes with it: a restart does not bring the closed timer back.
    EXPECT_FALSE(defaults.dataForKey(timer::RestTimerManager::timerSessionStorageKey));
}

} // namespace
