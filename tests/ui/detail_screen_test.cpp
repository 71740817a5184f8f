// The exercise detail, its keypad, its sheets and the rest that follows a set, pressed through
// the control channel as a finger would, against phone-sim.
#include "ui/screen_watch.hpp"

namespace {

using processtest::readFile;
using processtest::waitFor;
using uitest::ScreenPrograms;

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

class DetailScreens : public ScreenPrograms {
protected:
    void startWorkout() {
        startBoth();
        ASSERT_EQ(watch->act(R"({"action":"startWorkout","workoutId":"wk1-day-a"})"), "ok");
        ASSERT_TRUE(waitFor(phoneOut, "start_workout"));
        // The phone answers the start with its own state, before its ack: once the outbox is
        // empty, that state is in and cannot overwrite an edit made after it.
        for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
            auto state = watch->ask(R"({"action":"state"})");
            if (state && state->find("outbox") && state->find("outbox")->array() &&
                state->find("outbox")->array()->empty()) {
                return;
            }
        }
        FAIL() << "the watch's outbox never emptied";
    }
};

TEST_F(DetailScreens, AWeightTypedOnTheKeypadThenTheSetCompletedReachThePhoneOnceEach) {
    startWorkout();
    EXPECT_EQ(watch->act(R"({"action":"openExercise","exerciseId":"ex-0006"})"), "ok");
    auto page = watch->screen();
    EXPECT_EQ(page.screen, "ExerciseDetail");
    EXPECT_TRUE(page.shows("Set 1/5") && page.shows("95"));

    // Mid-entry: the first key replaces the old value, a second decimal point is refused and
    // delete takes the last character.
    EXPECT_EQ(watch->act(R"({"action":"keypad","exerciseId":"ex-0006","setIndex":0,)"
                         R"("field":"weight","keys":["1","0",".",".","5","delete","7"]})"),
              "ok");
    EXPECT_TRUE(watch->screen().shows("10.7"));
    EXPECT_EQ(watch->act(R"({"action":"actionButton","exerciseId":"ex-0006","setIndex":0})"), "ok");
    auto rest = watch->screenWhere([](const auto& s) { return s.sheet == "RestTimer"; });
    EXPECT_TRUE(rest.shows("Next") && rest.shows("3 x 135lb"));
    EXPECT_TRUE(rest.shows("45") && rest.shows("x1")) << "a 45 lb plate per side";
    ASSERT_TRUE(waitFor(phoneOut, "complete_set"));
    EXPECT_EQ(watch->act(R"({"action":"dismissTimer"})"), "ok");
    EXPECT_EQ(watch->screen().sheet, "");

    const auto phoneLog = readFile(phoneOut);
    EXPECT_EQ(count(phoneLog, "received update_set ("), 1u) << phoneLog;
    EXPECT_EQ(count(phoneLog, "received complete_set ("), 1u) << phoneLog;
    EXPECT_LT(phoneLog.find("received update_set ("), phoneLog.find("received complete_set ("));
}

TEST_F(DetailScreens, ATimedSetsCountdownEndsBehindTheFaceWithABannerThatOpensTheProgram) {
    startWorkout();
    EXPECT_EQ(watch->act(R"({"action":"setDuration","exerciseId":"ex-0032","setIndex":0,)"
                         R"("seconds":7})"),
              std::string(R"(setDuration needs "seconds", a whole number from 0 to 9995 in )"
                          R"(steps of 5, as the picker offers)"));
    EXPECT_EQ(watch->act(R"({"action":"setDuration","exerciseId":"ex-0032","setIndex":0,)"
                         R"("seconds":5})"),
              "ok");
    EXPECT_TRUE(watch->screen().shows("0:05"));
    ASSERT_TRUE(waitFor(phoneOut, "received update_set ("));
    EXPECT_EQ(watch->act(R"({"action":"actionButton","exerciseId":"ex-0032","setIndex":0})"), "ok");
    EXPECT_EQ(watch->screen().sheet, "RestTimer");

    // The lifter drops the wrist: the program goes, the face comes, nothing ticks.
    ASSERT_EQ(watch->quit(R"({"action":"quit"})"), 0);
    startWatch({"--watch-face"});
    auto banner = watch->screenWhere([](const auto& s) { return s.shows("Times up"); });
    EXPECT_EQ(banner.screen, "WatchFace");
    EXPECT_TRUE(banner.shows("Set countdown finished"));
    EXPECT_EQ(readFile(phoneOut).find("received complete_set ("), std::string::npos);

    // Its action opens the program; the next tick finishes the countdown into its rest.
    EXPECT_EQ(watch->act(R"({"action":"tapNotification"})"), "ok");
    auto rest = watch->screenWhere([](const auto& s) { return s.shows("Rest"); });
    EXPECT_EQ(rest.screen, "ContentView");
    EXPECT_EQ(rest.sheet, "RestTimer");
    ASSERT_TRUE(waitFor(watchOut, "Haptic played: success"));
    ASSERT_TRUE(waitFor(phoneOut, "received complete_set ("));
}

TEST_F(DetailScreens, SetsAreAddedRetypedAndDeletedAndThePlatesSayWhatCannotBeLoaded) {
    startWorkout();
    EXPECT_EQ(watch->act(R"({"action":"addSet","exerciseId":"ex-0006"})"), "ok");
    watch->screenWhere([](const auto& s) { return s.shows("Set 1/6"); });
    EXPECT_EQ(
        watch->act(
            R"({"action":"changeSetType","exerciseId":"ex-0006","setIndex":5,"type":"drop"})"),
        "ok");
    // The phone's answer to the new set may show its older copy for a moment; its own copy of
    // the change follows.
    watch->screenWhere([](const auto& s) { return s.shows("Set 6/6") && s.shows("D"); });
    EXPECT_EQ(watch->act(R"({"action":"deleteSet","exerciseId":"ex-0006","setIndex":5})"), "ok");
    watch->screenWhere([](const auto& s) { return s.shows("Set 5/5"); });
    ASSERT_TRUE(waitFor(phoneOut, "delete_set"));

    EXPECT_EQ(watch->act(R"({"action":"keypad","exerciseId":"ex-0006","setIndex":2,)"
                         R"("field":"weight","keys":["1","8","3"]})"),
              "ok");
    EXPECT_EQ(watch->act(R"({"action":"plateCalculator","exerciseId":"ex-0006","setIndex":2})"),
              "ok");
    auto plates = watch->screen();
    EXPECT_EQ(plates.sheet, "PlateCalculator");
    EXPECT_TRUE(plates.shows("183 lb") && plates.shows("Bar 45 lb"));
    EXPECT_TRUE(plates.shows("3 lb cannot be loaded"));
    EXPECT_EQ(watch->act(R"({"action":"swipe","direction":"down"})"), "ok");
    EXPECT_EQ(watch->screen().sheet, "");
}

} // namespace
