// The root screen and its sheets, pressed through the control channel as a finger would, against
// phone-sim: what each step shows is what `screen` reads off the window.
#include "ui/screen_watch.hpp"

namespace {

using processtest::waitFor;
using uitest::ScreenPrograms;

TEST_F(ScreenPrograms, ThePromptUntilThePhoneAnswersThenThePagerThenTheListUntilCancelled) {
    // A smaller watch than the default: everything still fits and reads.
    startWatch({"--screen", "324x394"});
    auto prompt = watch->screenWhere(
        [](const auto& s) { return s.shows("Open Tessaron on your iPhone to sync data."); });
    EXPECT_EQ(prompt.screen, "ContentView");
    EXPECT_TRUE(prompt.shows("Refresh"));
    EXPECT_EQ(watch->act(R"({"action":"startWorkout","workoutId":"wk1-day-a"})"),
              "no available workout with id \"wk1-day-a\"");

    startPhone();
    EXPECT_EQ(watch->act(R"({"action":"refresh"})"), "ok");
    auto pager = watch->screenWhere([](const auto& s) { return s.shows("Start Workout"); });
    EXPECT_TRUE(pager.shows("Week 1 - Day A: Squat & Bench"));
    EXPECT_TRUE(pager.shows("Back Squat"));
    EXPECT_EQ(watch->act(R"({"action":"refresh"})"),
              "refresh: the control \"refresh\" is not on screen");

    EXPECT_EQ(watch->act(R"({"action":"startWorkout","workoutId":"wk1-day-a"})"), "ok");
    auto list = watch->screenWhere([](const auto& s) { return s.shows("Back Squat"); });
    EXPECT_TRUE(list.shows("0/5 sets complete"));
    EXPECT_EQ(list.texts.front(), "0") << "the metrics header leads: heart rate, then energy";

    // Nothing done: the button cancels at once, and the pager is back.
    EXPECT_EQ(watch->act(R"({"action":"finishWorkout"})"), "ok");
    auto back = watch->screenWhere([](const auto& s) { return s.shows("Start Workout"); });
    EXPECT_EQ(back.sheet, "");
    ASSERT_TRUE(waitFor(phoneOut, "cancel_workout"));
}

TEST_F(ScreenPrograms, FinishingWithOpenSetsAsksFirstThenHandsTheWorkoutOver) {
    startBoth();
    ASSERT_EQ(watch->act(R"({"action":"startWorkout","workoutId":"wk1-day-a"})"), "ok");
    ASSERT_TRUE(waitFor(phoneOut, "start_workout"));
    // The phone logs the squat's one set; the rest of the workout is open.
    phone->write(R"(exercise-change ex-0006 {"exerciseSets": [{"id": "set-0001", )"
                 R"("status": "COMPLETE", "reps": "5", "weight": "95", "sequence": 0}]})");
    auto list = watch->screenWhere([](const auto& s) { return s.shows("1/1 sets complete"); });
    EXPECT_TRUE(list.shows("0/4 sets complete"));

    EXPECT_EQ(watch->act(R"({"action":"finishWorkout"})"), "ok");
    auto asked = watch->screen();
    EXPECT_EQ(asked.sheet, "WorkoutFinishSheet");
    EXPECT_TRUE(asked.shows("You have uncompleted sets. Do you still want to finish the workout?"));
    EXPECT_EQ(watch->act(R"({"action":"finishWorkout"})"),
              "finishWorkout: the control \"finishWorkout\" is not on screen")
        << "the sheet covers the list";

    EXPECT_EQ(watch->act(R"({"action":"confirmFinish"})"), "ok");
    auto handOff = watch->screenWhere([](const auto& s) {
        return s.sheet == "SyncStatusSheet" &&
               s.shows("Workout Completed! View workout stats on your iPhone.");
    });
    ASSERT_TRUE(waitFor(phoneOut, "complete_workout"));
    EXPECT_EQ(watch->act(R"({"action":"dismissTimer"})"),
              "dismissTimer: the RestTimer sheet is not open");
    EXPECT_EQ(watch->act(R"({"action":"dismissSyncStatus"})"), "ok");
    auto after = watch->screen();
    EXPECT_EQ(after.sheet, "");
    EXPECT_TRUE(after.shows("Workout Complete"));
    // The phone offers the next workout on the next page.
    EXPECT_EQ(watch->act(R"({"action":"swipe","direction":"left"})"), "ok");
    auto next = watch->screenWhere([](const auto& s) { return s.shows("Start Workout"); });
    EXPECT_FALSE(next.shows("Workout Complete"));
    EXPECT_EQ(watch->act(R"({"action":"swipe","direction":"right"})"), "ok");
    EXPECT_TRUE(watch->screen().shows("Workout Complete"));
}

TEST_F(ScreenPrograms, APlaceholderIsSwappedThroughThePickerAndSheetsGoBySwipe) {
    startBoth();
    ASSERT_EQ(watch->act(R"({"action":"startWorkout","workoutId":"wk1-day-a"})"), "ok");
    ASSERT_TRUE(waitFor(phoneOut, "start_workout"));
    phone->write(
        R"(exercise-add {"id": "ph-1", "name": "", "status": "NOT_STARTED", "category": "Legs", )"
        R"("recommendation": "8-12", "sequence": 1, "exerciseSets": []})");
    auto list = watch->screenWhere([](const auto& s) { return s.shows("Legs Exercise"); });
    EXPECT_TRUE(list.shows("8-12 reps"));
    EXPECT_EQ(watch->act(R"({"action":"openExercisePicker","placeholderExerciseId":"ex-0006"})"),
              "no placeholder exercise with id \"ex-0006\"");

    // Opened and swiped away: nothing changes.
    EXPECT_EQ(watch->act(R"({"action":"openExercisePicker","placeholderExerciseId":"ph-1"})"),
              "ok");
    auto picker = watch->screen();
    EXPECT_EQ(picker.sheet, "ExercisePicker");
    EXPECT_TRUE(picker.shows("Recent"));
    EXPECT_EQ(watch->act(R"({"action":"swipe","direction":"down"})"), "ok");
    EXPECT_EQ(watch->screen().sheet, "");

    EXPECT_EQ(watch->act(R"({"action":"openExercisePicker","placeholderExerciseId":"ph-1"})"),
              "ok");
    EXPECT_EQ(watch->act(R"({"action":"pickExercise","referenceExerciseId":"ref-deadlift"})"),
              "ok");
    auto swapped = watch->screenWhere([](const auto& s) {
        return s.sheet.empty() && s.shows("Deadlift") && !s.shows("Legs Exercise");
    });
    ASSERT_TRUE(waitFor(phoneOut, "create_exercise"));

    // The trash button behind a swiped row.
    EXPECT_EQ(watch->act(R"({"action":"deleteExercise","exerciseId":"ex-0006"})"), "ok");
    watch->screenWhere([](const auto& s) { return !s.shows("Back Squat"); });

    // A detail whose exercise the phone removes closes.
    EXPECT_EQ(watch->act(R"({"action":"openExercise","exerciseId":"ex-0012"})"), "ok");
    auto detail = watch->screen();
    EXPECT_EQ(detail.screen, "ExerciseDetail");
    EXPECT_TRUE(detail.shows("Bench Press"));
    phone->write("exercise-remove ex-0012");
    watch->screenWhere([](const auto& s) { return s.screen == "ContentView"; });
}

TEST_F(ScreenPrograms, TheWatchFacesComplicationOpensTheWindow) {
    startWatch({"--watch-face"});
    auto face = watch->screen();
    EXPECT_EQ(face.screen, "WatchFace");
    EXPECT_TRUE(face.shows("Tessaron")) << "the one descriptor's name, and no data";
    EXPECT_EQ(face.texts.size(), 2u) << "the time and the complication";
    EXPECT_EQ(watch->act(R"({"action":"refresh"})"),
              "refresh: the watch face is shown; tap the complication to open the program");

    EXPECT_EQ(watch->act(R"({"action":"tapComplication"})"), "ok");
    auto opened = watch->screen();
    EXPECT_EQ(opened.screen, "ContentView");
    EXPECT_TRUE(opened.shows("Open Tessaron on your iPhone to sync data."));
}

} // namespace
