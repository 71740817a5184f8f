// The root screen on the watch's core: what the workout's status routes to, starting and
// finishing a workout, the exercise picker, logging sets with the rest timer and its sheets.
#include "app/headless_control.hpp"
#include "support/watch_core_fixture.hpp"
#include "support/workout_builders.hpp"

#include <limits>

namespace {

using namespace std::chrono_literals;
using platform::Array;
using platform::Dictionary;
using testsupport::phoneExercise;
using testsupport::phoneSet;
using testsupport::phoneWorkout;
using Content = screens::MainScreen::Content;

Dictionary entry(std::string id, bool recent = false) {
    return {{"id", id}, {"name", "Entry " + id}, {"isRecent", recent}};
}

class MainScreenTest : public testsupport::WatchCoreTest {
protected:
    double revision = 0;

    void send(Dictionary message) {
        data().dispatchInbound(std::move(message), std::nullopt);
        executor.runUntilIdle();
    }
    void load(Array exercises, std::string status = "IN_PROGRESS", std::string id = "w1") {
        send({{"workout", testsupport::phoneHeader(id, status)},
              {"exercises", std::move(exercises)}});
    }
    void offer(Array workouts) {
        send({{"availableWorkoutsRevision", ++revision},
              {"availableWorkouts", std::move(workouts)}});
    }
    void catalogue(Array entries) {
        send({{"referenceExercisesRevision", ++revision},
              {"reference_exercises", std::move(entries)}});
    }
    std::size_t count(std::string_view type) {
        auto types = sentTypes();
        return static_cast<std::size_t>(std::count(types.begin(), types.end(), type));
    }
    Dictionary lastPayload(std::string_view type) {
        return testsupport::lastPayload(core->outbox(), type);
    }
    model::ExerciseRef find(std::string_view id) {
        for (const auto& e : data().exercises.get()) {
            if (e->id == id) {
                return e;
            }
        }
        return nullptr;
    }
    screens::MainScreen& screen() { return core->mainScreen(); }
    const std::string& preview() { return restTimer().nextSetExercise.get(); }
};

TEST_F(MainScreenTest, TheWorkoutsStatusDecidesWhatTheScreenShows) {
    EXPECT_EQ(screen().content(), Content::phonePrompt) << "before the first sync";
    EXPECT_EQ(screens::phonePromptText, "Open Tessaron on your iPhone to sync data.");
    EXPECT_EQ(screens::noWorkoutsText, "Start a workout on the iPhone");
    for (const auto* status : {"NOT_STARTED", "NOT_STARTED_AND_NULL", "COMPLETE"}) {
        load({}, status);
        EXPECT_EQ(screen().content(), Content::availableWorkouts) << status;
    }
    load({}, "PAUSED");
    EXPECT_EQ(screen().content(), Content::phonePrompt) << "unknown status";

    data().syncWorkoutError = std::string("phone says no");
    screen().refresh();
    EXPECT_EQ(data().syncWorkoutError.get(), "");
    EXPECT_EQ(sentTypes().back(), "refresh_data");
}

TEST_F(MainScreenTest, StartWorkoutStartsItAndItsHealthSessionUnlessOneExists) {
    load({}, "NOT_STARTED");
    offer({phoneWorkout("w7", "NOT_STARTED", {phoneExercise("a", 1, {phoneSet("a1")})}),
           phoneWorkout("w8", "COMPLETE")});
    EXPECT_FALSE(screen().startWorkout("w8")) << "complete";
    ASSERT_TRUE(screen().startWorkout("w7"));
    EXPECT_EQ(screen().content(), Content::exerciseList);
    executor.runUntilIdle();
    ASSERT_TRUE(workoutManager().workoutSession());
    EXPECT_EQ(workoutManager().workoutIdentifier(), "w7");
    // Traditional strength training, and no location: the platform's default stands.
    EXPECT_EQ(workoutManager().workoutSession()->configuration(), platform::WorkoutConfiguration{});
    EXPECT_EQ(workoutManager().workoutSession()->configuration().activityType, 50);

    // Any health session, even one the watch did not start for a workout, disables the start.
    launch();
    load({}, "NOT_STARTED");
    offer({phoneWorkout("w1", "NOT_STARTED")});
    workoutManager().startWorkout({}, std::string("elsewhere"), [](auto) {});
    executor.runUntilIdle();
    EXPECT_FALSE(screen().startWorkoutEnabled());
    EXPECT_FALSE(screen().startWorkout("w1"));
    EXPECT_EQ(count("start_workout"), 1u) << "only w7's";
}

TEST_F(MainScreenTest, NoSetDoneCancelsAtOnceAndEveryoneDoneCompletesWithoutAsking) {
    load({phoneExercise("a", 1, {phoneSet("a1"), phoneSet("a2")})});
    EXPECT_EQ(screen().finishButtonLabel(), "Cancel Workout");
    screen().finishButtonTapped();
    executor.runUntilIdle();
    EXPECT_EQ(count("cancel_workout"), 1u);
    EXPECT_FALSE(screen().showingWorkoutFinish.get());

    load({phoneExercise("a", 1, {phoneSet("a1", "COMPLETE")}),
          phoneExercise("b", 2, {phoneSet("b1", "COMPLETE")})},
         "IN_PROGRESS", "w2");
    EXPECT_EQ(screen().finishButtonLabel(), "Finish Workout");
    screen().finishButtonTapped();
    screen().finishButtonTapped(); // a second tap before the list has gone ends nothing more
    EXPECT_FALSE(screen().showingWorkoutFinish.get());
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 1u);
    EXPECT_EQ(count("cancel_workout"), 1u);
}

TEST_F(MainScreenTest, SetsLeftAskFirstAndCompleteOnlyOnceTheSheetHasClosed) {
    auto someLeft = [] {
        return Array{phoneExercise("z", 0, {phoneSet("z1", "COMPLETE")}),
                     phoneExercise("a", 1, {phoneSet("a1", "COMPLETE"), phoneSet("a2")})};
    };
    load(someLeft());
    screen().finishButtonTapped();
    EXPECT_TRUE(screen().showingWorkoutFinish.get());
    screen().showingWorkoutFinish = false; // swiped away: nothing happens
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 0u);
    EXPECT_FALSE(screen().confirmFinish()) << "no sheet to confirm on";

    screen().finishButtonTapped();
    ASSERT_TRUE(screen().confirmFinish());
    EXPECT_FALSE(screen().showingWorkoutFinish.get());
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 1u);
    EXPECT_EQ(data().workoutStatus.get(), "COMPLETE");
    // A later, unrelated close of the sheet does not complete again.
    screen().showingWorkoutFinish = true;
    screen().showingWorkoutFinish = false;
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 1u);

    // Once the phone has ended the workout meanwhile, the sheet goes without completing.
    load(someLeft(), "IN_PROGRESS", "w2");
    screen().finishButtonTapped();
    ASSERT_TRUE(screen().showingWorkoutFinish.get());
    load({}, "NOT_STARTED");
    EXPECT_FALSE(screen().showingWorkoutFinish.get());
    EXPECT_FALSE(screen().confirmFinish());
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 1u);
}

TEST_F(MainScreenTest, APickedExerciseGoesLastOrFirstInAnEmptyWorkout) {
    load({});
    auto newest = [&] {
        auto sent = testsupport::sentMessages(core->outbox());
        return sent.empty() ? testsupport::SentMessage{} : sent.back();
    };
    const auto before = newest().syncId;
    screen().openExercisePicker();
    EXPECT_EQ(newest().type, "refresh_data") << "an empty catalogue asks the phone";
    EXPECT_NE(newest().syncId, before);
    screen().showingAddExerciseScreen = false;
    catalogue({entry("r1"), entry("r2", true), entry("r3"), entry("r4", true)});
    EXPECT_FALSE(screen().pickExercise("r1")) << "the picker is not up";
    screen().openExercisePicker();
    const auto sections = screen().pickerSections();
    ASSERT_EQ(sections.recent.size(), 2u);
    EXPECT_EQ(sections.recent[1]->id, "r4");
    EXPECT_EQ(sections.all.size(), 4u);
    EXPECT_FALSE(screen().pickExercise("missing"));
    ASSERT_TRUE(screen().pickExercise("r1"));
    EXPECT_EQ(data().exercises->front()->sequence, 0) << "first in an empty workout";

    // After the largest sequence, whatever its sign, and never past the largest there is.
    constexpr auto top = std::numeric_limits<std::int64_t>::max();
    const std::vector<std::pair<std::vector<std::int64_t>, std::int64_t>> cases = {
        {{4, 9, 2}, 10}, {{-7, -3}, -2}, {{top, 1}, top}};
    int workout = 2;
    for (const auto& [sequences, expected] : cases) {
        Array exercises;
        for (auto sequence : sequences) {
            exercises.push_back(phoneExercise("e" + std::to_string(sequence), sequence, {}));
        }
        load(std::move(exercises), "IN_PROGRESS", "w" + std::to_string(workout++));
        screen().openExercisePicker();
        ASSERT_TRUE(screen().pickExercise("r1"));
        EXPECT_EQ(data().exercises->back()->sequence, expected) << sequences.front();
    }
}

TEST_F(MainScreenTest, ASetAddedAfterTheLargestSequenceStaysAtIt) {
    constexpr auto top = std::numeric_limits<std::int64_t>::max();
    auto last = phoneSet("a2");
    last.insert_or_assign("sequence", top);
    load({phoneExercise("a", 1, {phoneSet("a1"), last})});
    ASSERT_TRUE(screen().openExercise("a"));
    auto* detail = screen().detail();
    detail->addSet();
    const auto& sets = find("a")->exerciseSets.get();
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets.back()->sequence, top);
    EXPECT_EQ(sets.back()->setNumber.get(), std::to_string(top));
    EXPECT_EQ(lastPayload("add_set").at("sequence"), platform::Value(top));
    // The set-kind picker labels a regular set by its sequence too.
    screen().selectedPage = 2;
    EXPECT_EQ(detail->setTypeLabel(model::SetType::regular), std::to_string(top));
}

TEST_F(MainScreenTest, AfterTheLastSetTheNextExerciseIsShownAndASupersetAlternates) {
    load({phoneExercise("b", 2, {phoneSet("b1", "COMPLETE"), phoneSet("b2")}),
          phoneExercise("a", 1, {phoneSet("a1", "COMPLETE")}),
          phoneExercise("c", 3, {phoneSet("c1")})});
    ASSERT_TRUE(screen().openExercise("b"));
    EXPECT_EQ(screen().selectedPage.get(), 1) << "at its first set not done";
    screen().tagToShow = std::nullopt;
    screen().updateTimerMessage(find("b"));
    EXPECT_EQ(preview(), "Exercise b") << "an exercise with a set left stays";
    EXPECT_EQ(screen().tagToShow.get(), std::nullopt);
    screen().updateTimerMessage(find("a"));
    EXPECT_EQ(screen().tagToShow.get(), "b");
    ASSERT_NE(screen().detail(), nullptr);
    EXPECT_EQ(screen().detail()->exercise()->id, "b");

    load({phoneExercise("x", 1, {phoneSet("x1", "COMPLETE"), phoneSet("x2")}, 7),
          phoneExercise("y", 2, {phoneSet("y1"), phoneSet("y2")}, 7),
          phoneExercise("z", 5, {phoneSet("z1")})});
    screen().updateTimerMessage(find("y"));
    EXPECT_EQ(preview(), "Exercise x") << "from the last member back to the first with a set left";
    screen().goBack(find("y"));
    EXPECT_EQ(screen().tagToShow.get(), "x");
    EXPECT_EQ(screen().scrollTarget.get(), "x") << "the list scrolls to it too";
    EXPECT_EQ(screen().selectedPage.get(), 1);
    screen().tagToShow = std::nullopt;
    screen().goBack(find("z"));
    EXPECT_EQ(screen().tagToShow.get(), std::nullopt) << "no superset: nothing happens";

    load({phoneExercise("a", 1, {phoneSet("a1", "COMPLETE")})});
    screen().updateTimerMessage(find("a"));
    EXPECT_EQ(preview(), "") << "nothing left: the preview is cleared";
}

TEST_F(MainScreenTest, ClosingTheRestTimerSheetStopsTheTimerAndWithdrawsItsAlert) {
    load({phoneExercise("a", 1, {phoneSet("a1"), phoneSet("a2")})});
    ASSERT_TRUE(screen().openExercise("a"));
    EXPECT_FALSE(screen().openExercise("missing"));
    screen().detail()->tapActionButton();
    executor.runUntilIdle();
    auto& timer = restTimer();
    ASSERT_TRUE(timer.timerIsRunning.get());
    EXPECT_TRUE(screen().restTimerSheetIsPresented.get());
    ASSERT_EQ(core->notificationCenter().pendingNow().size(), 1u);
    EXPECT_TRUE(defaults.dataForKey("tessaron.rest-timer-session.v1"));

    screen().dismissRestTimer();
    executor.runUntilIdle();
    EXPECT_FALSE(timer.timerIsRunning.get());
    EXPECT_FALSE(screen().restTimerSheetIsPresented.get());
    EXPECT_EQ(screen().restTimerScreen(), nullptr);
    // The stored session goes with it: a restart does not bring the closed timer back.
    EXPECT_FALSE(defaults.dataForKey("tessaron.rest-timer-session.v1"));
    // Nor does the alert call the user back once the rest would have ended.
    EXPECT_TRUE(core->notificationCenter().pendingNow().empty());
    executor.advanceBy(120s);
    EXPECT_TRUE(core->notificationCenter().deliveredNow().empty());
}

TEST_F(MainScreenTest, InTheBackgroundOnlyTheNotificationEndsTheRestThenTheNextTickFinishesIt) {
    load({phoneExercise("a", 1, {phoneSet("a1"), phoneSet("a2")})});
    std::vector<std::string> delivered;
    core->notificationCenter().onDeliver(
        [&](const auto& d) { delivered.push_back(d.request.content.title); });
    screen().setInForeground(false);
    ASSERT_TRUE(screen().openExercise("a"));
    screen().detail()->tapActionButton();
    executor.runUntilIdle();
    ASSERT_NE(screen().restTimerScreen(), nullptr);
    EXPECT_FALSE(screen().restTimerScreen()->isTicking());

    executor.advanceBy(std::chrono::seconds(static_cast<int>(restTimer().timerSeconds.get())) + 2s);
    EXPECT_EQ(delivered, std::vector<std::string>{"Rest Time Over"});
    EXPECT_TRUE(restTimer().timerIsRunning.get()) << "nothing ticked";
    EXPECT_TRUE(core->haptics().played().empty());

    screen().setInForeground(true);
    executor.advanceBy(1s);
    EXPECT_FALSE(restTimer().timerIsRunning.get());
    EXPECT_EQ(core->haptics().played().size(), 1u);
}

TEST_F(MainScreenTest, TheRestSheetStaysThroughAReplacedRunAndGivesWayToTheHandOff) {
    load({phoneExercise("a", 1, {phoneSet("a1"), phoneSet("a2"), phoneSet("a3")})});
    ASSERT_TRUE(screen().openExercise("a"));
    screen().detail()->tapActionButton();
    executor.runUntilIdle();
    std::vector<std::string> order;
    auto timerSheet = screen().restTimerSheetIsPresented.observe(
        [&](const bool& up) { order.push_back(up ? "timer up" : "timer closed"); });
    auto statusSheet = screen().showingSyncStatus.observe(
        [&](const bool& up) { order.push_back(up ? "status up" : "status closed"); });

    // The next set done during the rest: its rest replaces the running one.
    screen().detail()->tapActionButton();
    executor.runUntilIdle();
    EXPECT_TRUE(restTimer().timerIsRunning.get());
    EXPECT_TRUE(order.empty()) << "the sheet never closed";
    ASSERT_NE(screen().restTimerScreen(), nullptr);
    EXPECT_TRUE(screen().restTimerScreen()->isTicking());

    // The hand-off stops the rest; its sheet opens once the timer's has closed.
    data().syncingFinishedWorkout = true;
    executor.runUntilIdle();
    EXPECT_EQ(order, (std::vector<std::string>{"timer closed", "status up"}));
}

TEST_F(MainScreenTest, TheDetailFollowsThePhonesCopyOfItsExerciseAndClosesWhenItGoes) {
    load({phoneExercise("a", 1, {phoneSet("a1"), phoneSet("a2")}),
          phoneExercise("b", 2, {phoneSet("b1")})});
    ASSERT_TRUE(screen().openExercise("a"));
    screen().detail()->openSetTypeOptions();
    load({phoneExercise("a", 1, {phoneSet("a1"), phoneSet("a2"), phoneSet("a3")}),
          phoneExercise("b", 2, {phoneSet("b1")})});
    ASSERT_NE(screen().detail(), nullptr);
    EXPECT_EQ(screen().detail()->exercise(), find("a")) << "the phone's newer copy";
    EXPECT_EQ(screen().detail()->activeSheet(), screens::ExerciseDetailSheet::setTypeOptions)
        << "with its sheet still open";
    EXPECT_EQ(screen().detail()->exercise()->exerciseSets->size(), 3u);

    load({phoneExercise("b", 2, {phoneSet("b1")})});
    EXPECT_EQ(screen().tagToShow.get(), std::nullopt);
    EXPECT_EQ(screen().detail(), nullptr);
}

TEST_F(MainScreenTest, TheEndOfRestAlertOutlivesTheProgramAndSetupRunsOnEveryActivation) {
    load({phoneExercise("a", 1, {phoneSet("a1"), phoneSet("a2")})});
    auto rest = [&](int page) {
        ASSERT_TRUE(screen().openExercise("a"));
        screen().selectedPage = page;
        screen().detail()->tapActionButton();
        executor.runUntilIdle();
    };
    rest(0);
    ASSERT_EQ(core->notificationCenter().pendingNow().size(), 1u);

    // Killed 30 s into the 90 s rest and started again: the alert still comes at the rest's end.
    executor.advanceBy(30s);
    launch();
    auto pending = core->notificationCenter().pendingNow();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].fireDate - executor.clock().now(), 60s);
    executor.advanceBy(60s);
    auto delivered = core->notificationCenter().deliveredNow();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].request.content.title, "Rest Time Over");

    // Down through the whole of the next rest: found delivered at start, dated at its end.
    load({phoneExercise("a", 1, {phoneSet("a1", "COMPLETE"), phoneSet("a2")})});
    rest(1);
    const auto restEnds = executor.clock().now() + 90s;
    executor.advanceBy(10s);
    core.reset();
    executor.advanceBy(300s);
    launch();
    EXPECT_TRUE(core->notificationCenter().pendingNow().empty());
    delivered = core->notificationCenter().deliveredNow();
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered.back().date, restEnds);

    // Undecided, the user is asked again each time the program becomes active.
    launch(platform::SimulatedNotificationAnswer::undecided);
    EXPECT_EQ(core->notificationCenter().authorizationRequestCount(), 1u);
    core->becameActive();
    executor.runUntilIdle();
    EXPECT_EQ(core->notificationCenter().authorizationRequestCount(), 2u);
}

TEST_F(MainScreenTest, TheKeypadTypesAndSendsTheSeparatorOfTheUsersLocale) {
    launch(platform::SimulatedNotificationAnswer::allow, screens::NumberLocale{","});
    load({phoneExercise("a", 1, {phoneSet("a1")})});
    std::vector<std::string> answers;
    auto& c = *core;
    app::HeadlessControl control({executor, c.data(), c.outbox(), c.restTimer(), c.workoutManager(),
                                  c.mainScreen(), c.notificationCenter(),
                                  [&](std::string_view line) { answers.emplace_back(line); },
                                  [] {}});
    control.handleLine(R"({"action":"openExercise","exerciseId":"a"})");
    control.handleLine(R"({"action":"keypad","exerciseId":"a","setIndex":0,"field":"weight",)"
                       R"("keys":["6","2",".","5"]})");
    executor.runUntilIdle();
    EXPECT_EQ(answers, (std::vector<std::string>(2, R"({"reply":"ok"})")));
    EXPECT_EQ(find("a")->exerciseSets->front()->weight.get(), "62,5");
    EXPECT_EQ(lastPayload("update_set").at("weight"), platform::Value("62,5"));
}

} // namespace
