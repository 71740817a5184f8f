// The root screen's workout flow on the whole watch core: what the status routes to, starting a
// workout with its health session, the finish decision and its confirmation, the exercise picker
// with its placeholder swap, and the hand-off sheet with its order against the rest timer's.
#include "screens/logic/hand_off_status.hpp"
#include "screens/logic/main_screen_fixture.hpp"

#include <limits>
#include <set>

namespace {

using namespace mainscreentest;
using Content = screens::MainScreen::Content;

Dictionary workout(std::string id, std::string status, Array exercises = {}) {
    return {{"id", id},
            {"name", "Day " + id},
            {"week", "1"},
            {"status", std::move(status)},
            {"exercises", std::move(exercises)}};
}

Dictionary entry(std::string id, bool recent = false) {
    return {{"id", id}, {"name", "Entry " + id}, {"isRecent", recent}};
}

class MainScreenFlowTest : public MainScreenTest {
protected:
    double revision = 0;

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
};

TEST_F(MainScreenFlowTest, TheWorkoutsStatusDecidesWhatTheScreenShows) {
    EXPECT_EQ(screen().content(), Content::phonePrompt) << "before the first sync";
    EXPECT_EQ(screens::phonePromptText, "Open Tessaron on your iPhone to sync data.");
    EXPECT_EQ(screens::noWorkoutsText, "Start a workout on the iPhone");
    for (const auto* status : {"NOT_STARTED", "NOT_STARTED_AND_NULL", "COMPLETE"}) {
        load({}, status);
        EXPECT_EQ(screen().content(), Content::availableWorkouts) << status;
    }
    load({}, "IN_PROGRESS");
    EXPECT_EQ(screen().content(), Content::exerciseList);
    load({}, "");
    EXPECT_EQ(screen().content(), Content::phonePrompt) << "empty status";
    load({}, "PAUSED");
    EXPECT_EQ(screen().content(), Content::phonePrompt) << "unknown status";

    core->data().syncWorkoutError = std::string("phone says no");
    screen().refresh();
    EXPECT_EQ(core->data().syncWorkoutError.get(), "");
    EXPECT_EQ(sentTypes().back(), "refresh_data");
}

TEST_F(MainScreenFlowTest, StartWorkoutStartsItAndItsHealthSessionUnderItsId) {
    load({}, "NOT_STARTED");
    offer(
        {workout("w7", "NOT_STARTED", {exercise("a", 1, {set("a1")})}), workout("w8", "COMPLETE")});
    auto cards = screen().workoutCards();
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(cards[0].title, "Week 1 - Day w7");
    EXPECT_EQ(cards[0].exerciseNames, std::vector<std::string>{"Exercise a"});
    EXPECT_FALSE(cards[0].complete);
    EXPECT_TRUE(cards[1].complete) << "a finished workout shows \"Workout Complete\"";
    EXPECT_FALSE(screen().startWorkout("w8"));
    EXPECT_FALSE(screen().startWorkout("nope"));

    ASSERT_TRUE(screen().startWorkout("w7"));
    EXPECT_EQ(core->data().workoutStatus.get(), "IN_PROGRESS");
    EXPECT_EQ(screen().content(), Content::exerciseList);
    EXPECT_EQ(sentTypes().back(), "start_workout");
    executor.runUntilIdle();
    auto& manager = core->workoutManager();
    ASSERT_TRUE(manager.workoutSession());
    EXPECT_EQ(manager.workoutIdentifier(), "w7");
    // Traditional strength training, and no location: the platform's default stands.
    EXPECT_EQ(manager.workoutSession()->configuration(), platform::WorkoutConfiguration{});
    EXPECT_EQ(manager.workoutSession()->configuration().activityType, 50);
    EXPECT_FALSE(screen().startWorkoutEnabled());
}

TEST_F(MainScreenFlowTest, StartWorkoutIsDisabledWhileAnyHealthSessionExists) {
    load({}, "NOT_STARTED");
    offer({workout("w1", "NOT_STARTED"), workout("w2", "NOT_STARTED")});
    bool started = false;
    core->workoutManager().startWorkout({}, std::string("elsewhere"),
                                        [&](auto error) { started = !error; });
    executor.runUntilIdle();
    ASSERT_TRUE(started);
    EXPECT_FALSE(screen().startWorkoutEnabled());
    EXPECT_FALSE(screen().startWorkout("w2"));
    EXPECT_EQ(core->data().workoutStatus.get(), "NOT_STARTED");
    EXPECT_EQ(count("start_workout"), 0u);
}

TEST_F(MainScreenFlowTest, AFailedHealthStartIsLoggedAndTheWorkoutStaysStarted) {
    load({}, "NOT_STARTED");
    offer({workout("w1", "NOT_STARTED")});
    platform::SimulatedHealthFailures failures;
    failures.sessionCreation = true;
    core->health().setFailures(failures);
    ASSERT_TRUE(screen().startWorkout("w1"));
    executor.runUntilIdle();
    EXPECT_EQ(core->data().workoutStatus.get(), "IN_PROGRESS");
    EXPECT_FALSE(core->workoutManager().workoutSession());
    EXPECT_TRUE(log.contains("Failed to start workout "));
}

TEST_F(MainScreenFlowTest, WithoutTheHealthPreferenceNoSessionStarts) {
    load({}, "NOT_STARTED");
    offer({workout("w1", "NOT_STARTED")});
    core->workoutManager().setSyncWorkoutsToHealth(false);
    ASSERT_TRUE(screen().startWorkout("w1"));
    executor.runUntilIdle();
    EXPECT_FALSE(core->workoutManager().workoutSession());
    EXPECT_EQ(sentTypes().back(), "start_workout");
}

TEST_F(MainScreenFlowTest, NoSetDoneCancelsAtOnce) {
    load({});
    EXPECT_EQ(screen().finishButtonLabel(), "Cancel Workout");
    screen().finishButtonTapped();
    executor.runUntilIdle();
    EXPECT_EQ(count("cancel_workout"), 1u);
    EXPECT_FALSE(screen().showingWorkoutFinish.get());

    load({exercise("a", 1, {set("a1"), set("a2")})}, "IN_PROGRESS", "w2");
    screen().finishButtonTapped();
    executor.runUntilIdle();
    EXPECT_EQ(count("cancel_workout"), 2u);
    EXPECT_EQ(count("complete_workout"), 0u);
}

TEST_F(MainScreenFlowTest, EveryoneDoneCompletesWithoutAsking) {
    load({exercise("a", 1, {set("a1", "COMPLETE")}), exercise("b", 2, {set("b1", "COMPLETE")})});
    EXPECT_EQ(screen().finishButtonLabel(), "Finish Workout");
    screen().finishButtonTapped();
    EXPECT_FALSE(screen().showingWorkoutFinish.get());
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 1u);
}

TEST_F(MainScreenFlowTest, SetsLeftAskFirstAndCompleteOnlyOnceTheSheetHasClosed) {
    load({exercise("a", 1, {set("a1", "COMPLETE"), set("a2")})});
    EXPECT_EQ(screen().finishButtonLabel(), "Finish Workout");
    screen().finishButtonTapped();
    EXPECT_TRUE(screen().showingWorkoutFinish.get());
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 0u);

    // Swiped away: nothing happens.
    screen().showingWorkoutFinish = false;
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 0u);
    EXPECT_FALSE(screen().confirmFinish()) << "no sheet to confirm on";

    screen().finishButtonTapped();
    ASSERT_TRUE(screen().confirmFinish());
    EXPECT_FALSE(screen().showingWorkoutFinish.get());
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 1u);
    EXPECT_EQ(core->data().workoutStatus.get(), "COMPLETE");

    // A later, unrelated close of the sheet does not complete again.
    screen().showingWorkoutFinish = true;
    screen().showingWorkoutFinish = false;
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 1u);
}

TEST_F(MainScreenFlowTest, ASecondTapBeforeTheListHasGoneEndsNothingMore) {
    load({exercise("a", 1, {set("a1", "COMPLETE")})});
    screen().finishButtonTapped();
    screen().finishButtonTapped();
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 1u);

    load({exercise("a", 1, {set("a1")})}, "IN_PROGRESS", "w2");
    screen().finishButtonTapped();
    screen().finishButtonTapped();
    executor.runUntilIdle();
    EXPECT_EQ(count("cancel_workout"), 1u);

    load({exercise("a", 1, {set("a1", "COMPLETE")})}, "IN_PROGRESS", "w3");
    screen().finishButtonTapped();
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 2u) << "a workout running again can be finished again";
}

TEST_F(MainScreenFlowTest, TheConfirmationGoesWithoutCompletingOnceTheWorkoutHasEnded) {
    load({exercise("a", 1, {set("a1", "COMPLETE"), set("a2")})});
    screen().finishButtonTapped();
    ASSERT_TRUE(screen().showingWorkoutFinish.get());
    load({}, "NOT_STARTED"); // the phone ended it meanwhile
    EXPECT_FALSE(screen().showingWorkoutFinish.get());
    EXPECT_FALSE(screen().confirmFinish());
    executor.runUntilIdle();
    EXPECT_EQ(count("complete_workout"), 0u);
}

TEST_F(MainScreenFlowTest, TheListIsOrderedBySequenceKeepingTheReceivedOrderOfEquals) {
    load({exercise("c", 2, {}), exercise("a", 1, {}), exercise("b", 1, {})});
    std::vector<std::string> ids;
    for (const auto& e : screen().listedExercises()) {
        ids.push_back(e->id);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(MainScreenFlowTest, TappingARowOpensItAtItsFirstSetNotDone) {
    load({exercise("a", 1, {set("a1", "COMPLETE"), set("a2"), set("a3")}),
          exercise("b", 2, {set("b1", "COMPLETE")})});
    ASSERT_TRUE(screen().openExercise("a"));
    EXPECT_EQ(screen().selectedPage.get(), 1);
    EXPECT_EQ(screen().tagToShow.get(), "a");
    ASSERT_TRUE(screen().openExercise("b"));
    EXPECT_EQ(screen().selectedPage.get(), 1) << "all done: the page stays";
    EXPECT_EQ(screen().tagToShow.get(), "b");
}

TEST_F(MainScreenFlowTest, AnEmptyCatalogueAsksThePhoneOncePerOpening) {
    // The outbox keeps one refresh request, the newest: each request is a new sync id.
    std::set<std::string> requests;
    auto noteRequests = [&] {
        for (const auto& pending : core->outbox().pendingMessages()) {
            auto message = platform::decodeBinaryPlist(pending.payload);
            if (message && message->find("type") &&
                *message->find("type") == platform::Value("refresh_data")) {
                requests.insert(pending.id);
            }
        }
        return requests.size();
    };
    load({});
    auto before = noteRequests();
    screen().openExercisePicker();
    EXPECT_EQ(noteRequests(), before + 1);
    screen().showingAddExerciseScreen = true; // redrawn while open: not another opening
    EXPECT_EQ(noteRequests(), before + 1);
    screen().showingAddExerciseScreen = false;
    screen().openExercisePicker();
    EXPECT_EQ(noteRequests(), before + 2);
    screen().showingAddExerciseScreen = false;

    catalogue({entry("r1", true), entry("r2"), entry("r3", true)});
    noteRequests();
    before = requests.size();
    screen().openExercisePicker();
    EXPECT_EQ(noteRequests(), before);
    auto sections = screen().pickerSections();
    ASSERT_EQ(sections.recent.size(), 2u);
    EXPECT_EQ(sections.recent[1]->id, "r3");
    EXPECT_EQ(sections.all.size(), 3u);
}

TEST_F(MainScreenFlowTest, APickedExerciseGoesLastOrFirstInAnEmptyWorkout) {
    load({});
    catalogue({entry("r1")});
    EXPECT_FALSE(screen().pickExercise("r1")) << "the picker is not up";
    screen().openExercisePicker();
    EXPECT_FALSE(screen().pickExercise("missing"));
    ASSERT_TRUE(screen().pickExercise("r1"));
    EXPECT_FALSE(screen().showingAddExerciseScreen.get());
    // Created at once, so that a finish tapped next counts it and follows its event.
    ASSERT_EQ(core->data().exercises->size(), 1u);
    EXPECT_EQ(core->data().exercises->front()->sequence, 0);
    screen().finishButtonTapped();
    EXPECT_EQ(sentTypes().front(), "create_exercise");
    executor.runUntilIdle();

    EXPECT_EQ(count("cancel_workout"), 1u) << "the new exercise had no set done";

    // After the largest sequence, whatever its sign, and never past the largest there is.
    constexpr auto top = std::numeric_limits<std::int64_t>::max();
    const std::vector<std::pair<std::vector<std::int64_t>, std::int64_t>> cases = {
        {{4, 9, 2}, 10}, {{-7, -3}, -2}, {{top, 1}, top}};
    int workout = 2;
    for (const auto& [sequences, expected] : cases) {
        Array exercises;
        for (auto sequence : sequences) {
            exercises.push_back(exercise("e" + std::to_string(sequence), sequence, {}));
        }
        load(std::move(exercises), "IN_PROGRESS", "w" + std::to_string(workout++));
        screen().openExercisePicker();
        ASSERT_TRUE(screen().pickExercise("r1"));
        EXPECT_EQ(core->data().exercises->back()->sequence, expected) << sequences.front();
    }
}

TEST_F(MainScreenFlowTest, ASetAddedAfterTheLargestSequenceStaysAtIt) {
    constexpr auto top = std::numeric_limits<std::int64_t>::max();
    auto last = set("a2");
    last.insert_or_assign("sequence", top);
    load({exercise("a", 1, {set("a1"), last})});
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

TEST_F(MainScreenFlowTest, APlaceholderIsSwappedForThePickedEntryInItsPlace) {
    auto placeholder = exercise("p", 3, {});
    placeholder.insert_or_assign("name", "");
    placeholder.insert_or_assign("category", "Chest");
    load({exercise("a", 1, {}), placeholder, exercise("z", 8, {})});
    catalogue({entry("r1")});

    ASSERT_TRUE(screen().openExercise("p")) << "a placeholder row opens the picker";
    EXPECT_TRUE(screen().showingAddExerciseScreen.get());
    EXPECT_EQ(screen().exerciseGettingSwappedOut(), find("p"));
    EXPECT_EQ(screen().tagToShow.get(), std::nullopt);
    ASSERT_TRUE(screen().pickExercise("r1"));
    executor.runUntilIdle();

    EXPECT_EQ(find("p"), nullptr);
    ASSERT_EQ(core->data().exercises->size(), 3u);
    auto added = core->data().exercises->back();
    EXPECT_EQ(added->name, "Entry r1");
    EXPECT_EQ(added->sequence, 3);
    auto types = sentTypes();
    auto created = std::find(types.begin(), types.end(), "create_exercise");
    auto deleted = std::find(types.begin(), types.end(), "delete_exercise");
    ASSERT_NE(created, types.end());
    ASSERT_NE(deleted, types.end());
    EXPECT_LT(created, deleted);
    EXPECT_EQ(lastPayload("delete_exercise").at("id"), platform::Value("p"));
}

TEST_F(MainScreenFlowTest, APlaceholderLeftAloneIsNotSwappedOutByALaterAdd) {
    auto placeholder = exercise("p", 3, {});
    placeholder.insert_or_assign("name", "");
    load({placeholder});
    catalogue({entry("r1")});
    ASSERT_TRUE(screen().openExercise("p"));
    screen().showingAddExerciseScreen = false;
    EXPECT_EQ(screen().exerciseGettingSwappedOut(), nullptr);

    screen().openExercisePicker();
    ASSERT_TRUE(screen().pickExercise("r1"));
    executor.runUntilIdle();
    EXPECT_NE(find("p"), nullptr);
    EXPECT_EQ(count("delete_exercise"), 0u);
    EXPECT_EQ(core->data().exercises->back()->sequence, 4);
}

TEST_F(MainScreenFlowTest, TheHandOffSheetFollowsTheHandOffAndShowsItsTipLater) {
    auto& data = core->data();
    data.syncingFinishedWorkoutStatus = model::FinishingWorkoutStatus::syncing;
    data.syncingFinishedWorkout = true;
    EXPECT_TRUE(screen().showingSyncStatus.get());
    EXPECT_EQ(screen().handOffStatusLines(), std::vector<std::string>{"Syncing with iPhone"});
    executor.advanceBy(2900ms);
    EXPECT_FALSE(screen().showSyncTip.get());
    executor.advanceBy(100ms);
    EXPECT_TRUE(screen().showSyncTip.get());
    EXPECT_EQ(screen().handOffStatusLines().back(), "Open Tessaron app on iPhone to sync faster");

    data.syncingFinishedWorkout = false;
    EXPECT_FALSE(screen().showingSyncStatus.get()) << "the hand-off ended: the sheet closes";

    data.syncingFinishedWorkout = true;
    ASSERT_TRUE(screen().showingSyncStatus.get());
    screen().showingSyncStatus = false;
    EXPECT_FALSE(data.syncingFinishedWorkout.get()) << "closed by hand: the hand-off is over";
}

TEST_F(MainScreenFlowTest, AHandOffDuringRestStopsTheTimerAndOpensOnceItsSheetHasClosed) {
    load({exercise("a", 1, {set("a1"), set("a2")})});
    ASSERT_TRUE(screen().openExercise("a"));
    screen().detail()->tapActionButton();
    executor.runUntilIdle();
    ASSERT_TRUE(screen().restTimerSheetIsPresented.get());

    std::vector<std::string> order;
    auto timerSheet = screen().restTimerSheetIsPresented.observe(
        [&](const bool& up) { order.push_back(up ? "timer up" : "timer closed"); });
    auto statusSheet = screen().showingSyncStatus.observe(
        [&](const bool& up) { order.push_back(up ? "status up" : "status closed"); });
    core->data().syncingFinishedWorkout = true;
    EXPECT_FALSE(core->restTimer().timerIsRunning.get());
    EXPECT_EQ(order, (std::vector<std::string>{"timer closed", "status up"}));
}

TEST(HandOffStatusLines, EachStatusHasItsText) {
    using model::FinishingWorkoutStatus;
    EXPECT_EQ(screens::handOffStatusLines(FinishingWorkoutStatus::failed, true),
              (std::vector<std::string>{"Error finishing workout.",
                                        "Please complete the workout on your iPhone."}));
    EXPECT_EQ(screens::handOffStatusLines(FinishingWorkoutStatus::success, true),
              std::vector<std::string>{"Workout Completed! View workout stats on your iPhone."});
    EXPECT_TRUE(screens::handOffStatusLines(FinishingWorkoutStatus::notStarted, true).empty());
}

} // namespace
