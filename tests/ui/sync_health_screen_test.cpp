// The sync indicator and the sync screen with the window offscreen, against phone-sim going away
// and coming back.
#include "ui/screen_watch.hpp"

namespace {

using processtest::waitFor;
using uitest::ScreenPrograms;

TEST_F(ScreenPrograms, TheIndicatorCountsWhatWaitsWhileThePhoneIsAwayAndClearsWhenItIsBack) {
    startBoth();
    ASSERT_EQ(watch->act(R"({"action":"startWorkout","workoutId":"wk1-day-a"})"), "ok");
    ASSERT_TRUE(waitFor(phoneOut, "start_workout"));
    auto waiting = [&] {
        auto state = watch->ask(R"({"action":"state"})");
        const auto* health = state ? state->find("syncHealth") : nullptr;
        const auto* count = health != nullptr ? health->find("waiting") : nullptr;
        return count != nullptr && count->integer() != nullptr ? *count->integer() : -1;
    };
    watch->screenWhere([](const auto& s) { return s.shows("Back Squat"); });
    for (int i = 0; i < 300 && waiting() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(watch->act(R"({"action":"openSyncStatus"})"),
              "openSyncStatus: the control \"syncIndicator\" is not on screen")
        << "all delivered: the indicator is quiet";

    // The phone goes away; the lifter completes two sets: both wait.
    ASSERT_EQ(phone->quit("quit"), 0);
    phone.reset();
    for (const auto* set : {"0", "1"}) {
        ASSERT_EQ(watch->act(std::string(R"({"action":"actionButton","exerciseId":"ex-0006",)") +
                             R"("setIndex":)" + set + "}"),
                  "ok");
        ASSERT_EQ(watch->act(R"({"action":"dismissTimer"})"), "ok");
    }
    for (int i = 0; i < 300 && waiting() != 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(waiting(), 2);
    ASSERT_EQ(watch->act(R"({"action":"openSyncStatus"})"), "ok");
    auto screen = watch->screen();
    EXPECT_EQ(screen.sheet, "SyncHealthSheet");
    for (const auto* text : {"2 changes waiting", "The iPhone is out of reach",
                             "Set 1 of Back Squat completed", "Set 2 of Back Squat completed"}) {
        EXPECT_TRUE(screen.shows(text)) << text;
    }
    EXPECT_EQ(watch->act(R"({"action":"sendNow"})"), "ok");
    EXPECT_EQ(watch->act(R"({"action":"swipe","direction":"down"})"), "ok");

    // Back in reach: both are confirmed and the indicator goes.
    startPhone();
    for (int i = 0; i < 500 && waiting() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(waiting(), 0);
    EXPECT_EQ(watch->act(R"({"action":"openSyncStatus"})"),
              "openSyncStatus: the control \"syncIndicator\" is not on screen");
    auto cleared = watch->screen();
    EXPECT_TRUE(cleared.shows("2/5 sets complete"));
    EXPECT_FALSE(cleared.shows("2") || cleared.shows("1"));
}

} // namespace
