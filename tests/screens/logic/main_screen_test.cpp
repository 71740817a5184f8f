// The root screen's part in logging sets, on the whole watch core: what the rest timer previews
// after a set, where that moves the user, the alternation within a superset, the countdown's
// completion, and the rest timer sheet.
#include "app/headless_control.hpp"
#include "screens/logic/main_screen_fixture.hpp"

namespace {

using namespace mainscreentest;

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

TEST_F(MainScreenTest, ClosingTheRestTimerSheetStopsTheTimerAndWithdrawsItsAlert) {
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

TEST_F(MainScreenTest, TheEndOfRestAlertOutlivesTheProgramAndSetupRunsOnEveryActivation) {
    load({exercise("a", 1, {set("a1"), set("a2")})});
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
    load({exercise("a", 1, {set("a1", "COMPLETE"), set("a2")})});
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
    // Removals persist too.
    core->notificationCenter().removeAllDeliveredNotifications();
    executor.runUntilIdle();
    launch();
    EXPECT_TRUE(core->notificationCenter().deliveredNow().empty());

    // Undecided, the user is asked again each time the program becomes active.
    launch(platform::SimulatedNotificationAnswer::undecided);
    EXPECT_EQ(core->notificationCenter().authorizationRequestCount(), 1u);
    core->becameActive();
    executor.runUntilIdle();
    EXPECT_EQ(core->notificationCenter().authorizationRequestCount(), 2u);
}

TEST_F(MainScreenTest, TheKeypadTypesAndSendsTheSeparatorOfTheUsersLocale) {
    launch(platform::SimulatedNotificationAnswer::allow, screens::NumberLocale{","});
    load({exercise("a", 1, {set("a1")})});
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
