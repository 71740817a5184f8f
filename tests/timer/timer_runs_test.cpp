// Timer runs on virtual time: the events they queue, the record they store, the alerts they
// schedule, and the phone's timer state.
#include "support/arbitrary_value.hpp"
#include "support/workout_builders.hpp"
#include "timer/timer_fixture.hpp"

#include <rapidcheck/gtest.h>

#include <cmath>

namespace {

using namespace std::chrono_literals;
using namespace timertest;
using testsupport::message;

class TimerRuns : public TimerTest {
protected:
    model::ExerciseSetRef hold = testsupport::makeSet("S-1");
    model::ExerciseRef plank = testsupport::makeExercise("Plank", {hold});
    std::vector<model::ExerciseRef> exercises{plank};
    const Date start = timer->now();

    TimerRuns() {
        plank->isDuration = true;
        hold->duration = std::int64_t{60};
        hold->timerSeconds = 90;
    }

    void applyPhone(Dictionary data, bool running, Dictionary carrier = {},
                    std::string_view status = "IN_PROGRESS") {
        data.insert_or_assign("timerIsRunning", running);
        timer->applyPhoneTimerState(data, carrier, running, {status, exercises});
    }

    // A rest run the phone knows as T-1 at revision 2, started now.
    void runRest() {
        applyPhone({{"timerId", "T-1"},
                    {"timerRevision", 2},
                    {"startTime", ms(timer->now())},
                    {"timerSeconds", 90}},
                   true);
        ASSERT_TRUE(timer->timerIsRunning.get());
    }
};

TEST_F(TimerRuns, ACountdownIsStoredWithItsEventBeforeTheEventIsQueued) {
    timer->startExerciseCountdown(*hold, *plank);
    const auto countdownId = timer->timerId.value();
    EXPECT_EQ(queued(),
              std::vector<Dictionary>{message("update_set", {{"id", "S-1"},
                                                             {"status", "IN_PROGRESS"},
                                                             {"isExerciseCountdown", true},
                                                             {"occurredAt", ms(start)},
                                                             {"timerSeconds", 60},
                                                             {"timerId", countdownId},
                                                             {"timerRevision", 0}})});
    EXPECT_EQ(timer->postCountdownRestSeconds, 90);
    EXPECT_EQ(timer->titleMessage.get(), "Plank");
    EXPECT_EQ(alerts.calls, (std::vector<std::string>{"cancel", "schedule 60 countdown"}));
    ASSERT_EQ(store.writes.size(), 2u);
    auto first = timer::decodeTimerSession(store.writes[0].value()).value();
    EXPECT_TRUE(first.timerIsRunning && first.isExerciseCountdown);
    EXPECT_EQ(first.pendingEvent.value().syncId, outbox->pendingMessages().at(0).id);
    EXPECT_FALSE(stored()->pendingEvent);
}

TEST_F(TimerRuns, ACountdownFinishedLateCompletesAtItsEndAndTheRestCountsFromThere) {
    timer->startExerciseCountdown(*hold, *plank);
    const auto countdownId = timer->timerId.value();
    executor.advanceBy(65s);
    auto completed = timer->finishTimer(timer->now());
    const Date end{start.sinceReferenceDate + 60};
    ASSERT_TRUE(completed);
    EXPECT_EQ(completed->setId, "S-1");
    EXPECT_EQ(completed->date, end);
    EXPECT_EQ(queued().at(1), message("complete_set", {{"id", "S-1"},
                                                       {"status", "COMPLETE"},
                                                       {"dateCompleted", "2026-01-05T09:01:00Z"},
                                                       {"occurredAt", ms(end)},
                                                       {"timerSeconds", 90.0},
                                                       {"timerId", timer->timerId.value()},
                                                       {"timerRevision", 0},
                                                       {"sourceTimerStartTime", ms(start)},
                                                       {"isExerciseCountdownCompletion", true},
                                                       {"sourceTimerId", countdownId},
                                                       {"sourceTimerRevision", 0}}));
    EXPECT_FALSE(timer->isExerciseCountdown.get());
    EXPECT_EQ(timer->titleMessage.get(), "Rest");
    EXPECT_EQ(timer->startTime.get(), end);
    EXPECT_EQ(alerts.last(), "schedule 85 rest");

    // Finished after its rest would have ended: the set still completes, no rest runs.
    timer->startExerciseCountdown(*hold, *plank);
    executor.advanceBy(200s);
    EXPECT_TRUE(timer->finishTimer(timer->now()));
    EXPECT_FALSE(timer->timerIsRunning.get());
    EXPECT_FALSE(timer->finishTimer(timer->now()));
}

TEST_F(TimerRuns, AFinishedRestSendsCancelTimerAtItsEndAndKeepsItsReference) {
    EXPECT_TRUE(timer->startTimer(start, "T-1", message("complete_set", {{"id", "S-9"}}), 90));
    EXPECT_EQ(alerts.last(), "schedule 90 rest");
    executor.advanceBy(100s);
    EXPECT_FALSE(timer->finishTimer(timer->now()));
    EXPECT_EQ(queued().at(1), message("cancel_timer", {{"startTime", ms(start)},
                                                       {"occurredAt", ms(start) + 90000},
                                                       {"timerSeconds", 90.0},
                                                       {"timerId", "T-1"},
                                                       {"timerRevision", 0}}));
    EXPECT_EQ(timer->timerId, "T-1");
    EXPECT_EQ(alerts.last(), "cancel");
    EXPECT_FALSE(stored());

    // A start in the past may be over already; an event that is no property list still runs.
    EXPECT_FALSE(timer->startTimer(start, "T-2", message("complete_set"), 20));
    EXPECT_TRUE(
        timer->startTimer(timer->now(), "T-3", message("complete_set", {{"x", Value()}}), 5));
    EXPECT_FALSE(timer->pendingTimerEvent);
    timer->resetTimer();
    EXPECT_EQ(timer->timerId, std::nullopt);
    EXPECT_EQ(queued().size(), 3u) << "a reset sends nothing";
}

TEST_F(TimerRuns, ThePhonesDataApplyOnlyWhenNotOlderThanTheRunKnown) {
    runRest();
    const double known = ms(timer->startTime.get());
    applyPhone({{"timerId", "T-1"}, {"timerRevision", 1}, {"timerSeconds", 30}}, true);
    EXPECT_EQ(timer->timerSeconds.get(), 90);
    applyPhone({{"timerId", "T-1"}, {"timerRevision", 5}, {"timerSeconds", 45}}, true);
    EXPECT_EQ(timer->timerSeconds.get(), 45);
    EXPECT_EQ(alerts.last(), "schedule 45 rest");
    applyPhone({{"timerId", "T-2"}, {"startTime", known - 11}, {"timerSeconds", 30}}, true);
    applyPhone({{"timerId", "T-2"}, {"timerSeconds", 30}}, true);
    EXPECT_EQ(timer->timerId, "T-1");
    applyPhone({{"timerId", "T-2"}, {"startTime", known - 10}, {"timerSeconds", 30}}, true);
    EXPECT_EQ(timer->timerId, "T-2");
    EXPECT_EQ(timer->latestTimerStartTime, Date::fromUnixMillis(known));
    // A stop without an id stops only the run that started within ten milliseconds.
    applyPhone({{"startTime", known - 2000}}, false);
    applyPhone({}, false);
    EXPECT_TRUE(timer->timerIsRunning.get());
    applyPhone({{"startTime", known}}, false);
    EXPECT_FALSE(timer->timerIsRunning.get());
    EXPECT_FALSE(stored());

    // A correction already matched skips the staleness rules.
    runRest();
    applyPhone({{"timerId", "T-3"}, {"startTime", known - 60000}, {"timerSeconds", 120}}, true,
               {{"timerCorrectionForId", "T-1"}});
    EXPECT_EQ(timer->timerId, "T-3");
    EXPECT_EQ(alerts.last(), "schedule 60 rest");
    applyPhone({{"timerId", "T-3"}, {"timerRevision", 9}}, true, {}, "COMPLETE");
    EXPECT_FALSE(timer->timerIsRunning.get()) << "for a workout no longer in progress";
}

TEST_F(TimerRuns, ThePhonesCountdownTakesItsSetsRest) {
    executor.advanceBy(20s);
    applyPhone({{"timerId", "T-5"},
                {"startTime", ms(start)},
                {"timerSeconds", 60},
                {"isExerciseCountdown", true},
                {"durationSetId", "S-1"},
                {"exerciseId", "Plank"}},
               true);
    EXPECT_EQ(timer->postCountdownRestSeconds, 90);
    EXPECT_EQ(timer->titleMessage.get(), "Plank");
    EXPECT_EQ(alerts.last(), "schedule 40 countdown");
    EXPECT_EQ(stored()->timerId, "T-5");
    hold->id = std::string("S-other"); // no longer in the workout: the same set keeps its rest
    applyPhone({{"timerId", "T-5"}, {"durationSetId", "S-1"}, {"isExerciseCountdown", true}}, true);
    EXPECT_EQ(timer->postCountdownRestSeconds, 90);
    applyPhone({{"timerId", "T-5"}, {"durationSetId", "S-2"}, {"isExerciseCountdown", true}}, true);
    EXPECT_EQ(timer->postCountdownRestSeconds, 0);
}

// Whatever the phone sends as timer data, nothing breaks and the state stays storable.
RC_GTEST_FIXTURE_PROP(TimerRuns, AnyPhoneTimerDataIsSafe, ()) {
    const std::vector<std::string> keys{"timerId",      "timerRevision",       "startTime",
                                        "timerSeconds", "isExerciseCountdown", "durationSetId",
                                        "exerciseId",   "setCompletedIds",     "setCompletedId"};
    const auto numbers = rc::gen::element<double>(std::nan(""), INFINITY, -INFINITY, 1e300, -1e300,
                                                  9.3e18, -9.3e18, 0.0, -5.0, 1e16);
    for (int round = 0; round < 3; ++round) {
        Dictionary data;
        for (const auto& key : keys) {
            const int shape = *rc::gen::inRange(0, 4);
            if (shape == 1) {
                data.insert_or_assign(key, *testsupport::arbitraryValue(1, true));
            } else if (shape == 2) {
                data.insert_or_assign(key, Value(*numbers));
            } else if (shape == 3) {
                data.insert_or_assign(key,
                                      Value(*rc::gen::element<std::string>("T-1", "S-1", "Plank")));
            }
        }
        Dictionary carrier;
        if (*rc::gen::arbitrary<bool>()) {
            carrier.insert_or_assign("timerCorrectionForStartTime", Value(*numbers));
        }
        const bool running = *rc::gen::arbitrary<bool>();
        timer->applyPhoneTimerState(data, carrier, running, {"IN_PROGRESS", exercises});
        executor.advanceBy(std::chrono::seconds(*rc::gen::inRange(0, 100)));
        timer->finishTimer(timer->now());
        RC_ASSERT(std::isfinite(timer->timerSeconds.get()));
        RC_ASSERT(timer->timerSeconds.get() >= 0);
        RC_ASSERT(std::isfinite(timer->startTime->sinceReferenceDate));
        if (timer->timerIsRunning.get()) {
            RC_ASSERT(stored().has_value());
        }
    }
}

} // namespace
