// Timer runs on virtual time: the events they queue, the record they store, the alerts they
// schedule, and the phone's timer state.
#include "timer/rest_timer_manager.hpp"

#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "support/arbitrary_value.hpp"
#include "support/fake_session.hpp"
#include "support/forwarding_store.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::Data;
using platform::Date;
using platform::Dictionary;
using platform::Value;
using timer::RestTimerManager;

constexpr std::string_view sessionKey = RestTimerManager::timerSessionStorageKey;

// Keeps every record written under the timer key, so that a test sees intermediate states.
class RecordingStore final : public testsupport::ForwardingStore {
public:
    RecordingStore() : ForwardingStore(backing_) {}

    std::vector<Data> timerRecords;

    void setData(std::string_view key, const Data& value) override {
        if (key == sessionKey) {
            timerRecords.push_back(value);
        }
        inner_.setData(key, value);
    }

private:
    platform::MemoryKeyValueStore backing_;
};

class RecordingAlerts final : public timer::TimerAlerts {
public:
    std::vector<std::string> calls;
    void scheduleRestTimerNotification(double seconds, bool isExerciseCountdown) override {
        calls.push_back("schedule " + std::to_string(static_cast<long long>(seconds)) +
                        (isExerciseCountdown ? " countdown" : " rest"));
    }
    void cancelRestTimerNotifications() override { calls.push_back("cancel"); }
    std::string last() const { return calls.empty() ? "" : calls.back(); }
};

Dictionary message(std::string type, Dictionary payload) {
    return {{"type", Value(std::move(type))}, {"payload", Value(std::move(payload))}};
}

class TimerRuns : public ::testing::Test {
protected:
    platform::ManualExecutor executor;
    RecordingStore defaults;
    platform::MemoryLog log;
    testsupport::FakeSession session{executor.main()};
    watchsync::WatchSyncOutbox outbox{executor, session, defaults, log};
    RestTimerManager timer{executor, defaults, outbox, log};
    RecordingAlerts alerts;
    std::vector<model::ExerciseRef> exercises;
    model::ExerciseRef plank;
    model::ExerciseSetRef hold;
    const Date start = timer.now();

    void SetUp() override {
        timer.setAlerts(&alerts);
        plank = std::make_shared<model::Exercise>();
        plank->id = "E-1";
        plank->name = "Plank";
        plank->isDuration = true;
        hold = std::make_shared<model::ExerciseSet>();
        hold->id = std::string("S-1");
        hold->status = std::string("NOT_STARTED");
        hold->duration = std::int64_t{60};
        hold->timerSeconds = 90;
        plank->exerciseSets = std::vector<model::ExerciseSetRef>{hold};
        exercises = {plank};
    }

    double ms(Date date) const { return date.unixMillis(); }

    // Type and payload of every queued message, oldest first.
    std::vector<Dictionary> queued() {
        std::vector<Dictionary> result;
        for (const auto& pending : outbox.pendingMessages()) {
            auto value = platform::decodeBinaryPlist(pending.payload);
            auto dictionary = *value->dictionary();
            dictionary.erase("syncId");
            result.push_back(std::move(dictionary));
        }
        return result;
    }

    std::optional<timer::PersistedRestTimerSession> stored() {
        auto bytes = defaults.dataForKey(sessionKey);
        return bytes ? timer::decodeTimerSession(*bytes) : std::nullopt;
    }

    void applyPhone(Dictionary data, bool running, Dictionary carrier = {},
                    std::string_view status = "IN_PROGRESS") {
        data.insert_or_assign("timerIsRunning", Value(running));
        timer.applyPhoneTimerState(data, carrier, running, {status, exercises});
    }

    // A rest run the phone knows as T-1 at revision 2, started now.
    void runRest() {
        applyPhone({{"timerId", "T-1"},
                    {"timerRevision", 2},
                    {"startTime", ms(timer.now())},
                    {"timerSeconds", 90}},
                   true);
        ASSERT_TRUE(timer.timerIsRunning.get());
    }
};

TEST_F(TimerRuns, ACountdownStartSendsItsUpdateAndStoresTheEventBeforeQueueingIt) {
    timer.startExerciseCountdown(*hold, *plank);

    const auto countdownId = timer.timerId.value();
    EXPECT_EQ(queued(),
              std::vector<Dictionary>{message("update_set", {{"id", "S-1"},
                                                             {"status", "IN_PROGRESS"},
                                                             {"isExerciseCountdown", true},
                                                             {"occurredAt", ms(start)},
                                                             {"timerSeconds", 60},
                                                             {"timerId", countdownId},
                                                             {"timerRevision", 0}})});
    EXPECT_TRUE(timer.timerIsRunning.get());
    EXPECT_TRUE(timer.isExerciseCountdown.get());
    EXPECT_EQ(timer.durationSetId, "S-1");
    EXPECT_EQ(timer.postCountdownRestSeconds, 90);
    EXPECT_EQ(timer.titleMessage.get(), "Plank");
    EXPECT_EQ(alerts.calls, (std::vector<std::string>{"cancel", "schedule 60 countdown"}));

    // One whole record with the event under the sync id the outbox then used, then one without.
    ASSERT_EQ(defaults.timerRecords.size(), 2u);
    auto first = timer::decodeTimerSession(defaults.timerRecords[0]).value();
    EXPECT_TRUE(first.timerIsRunning);
    EXPECT_TRUE(first.isExerciseCountdown);
    EXPECT_EQ(first.titleMessage, "Plank");
    ASSERT_TRUE(first.pendingEvent);
    EXPECT_EQ(first.pendingEvent->syncId, outbox.pendingMessages().at(0).id);
    EXPECT_FALSE(stored().value().pendingEvent);
    EXPECT_FALSE(timer.pendingTimerEvent);
}

TEST_F(TimerRuns, ACountdownFinishedLateCompletesAtItsEndAndTheRestCountsFromThere) {
    timer.startExerciseCountdown(*hold, *plank);
    const auto countdownId = timer.timerId.value();
    executor.advanceBy(65s);

    auto completed = timer.finishTimer(timer.now());
    ASSERT_TRUE(completed);
    const Date end{start.sinceReferenceDate + 60};
    EXPECT_EQ(completed->setId, "S-1");
    EXPECT_EQ(completed->date, end);
    EXPECT_EQ(queued().at(1), message("complete_set", {{"id", "S-1"},
                                                       {"status", "COMPLETE"},
                                                       {"dateCompleted", "2026-01-05T09:01:00Z"},
                                                       {"occurredAt", ms(end)},
                                                       {"timerSeconds", 90.0},
                                                       {"timerId", timer.timerId.value()},
                                                       {"timerRevision", 0},
                                                       {"sourceTimerStartTime", ms(start)},
                                                       {"isExerciseCountdownCompletion", true},
                                                       {"sourceTimerId", countdownId},
                                                       {"sourceTimerRevision", 0}}));
    EXPECT_NE(timer.timerId, countdownId);
    EXPECT_TRUE(timer.timerIsRunning.get());
    EXPECT_FALSE(timer.isExerciseCountdown.get());
    EXPECT_EQ(timer.titleMessage.get(), "Rest");
    EXPECT_EQ(timer.startTime.get(), end);
    EXPECT_EQ(alerts.last(), "schedule 85 rest");
}

TEST_F(TimerRuns, ACountdownFinishedAfterItsRestWouldHaveEndedStillCompletesItsSet) {
    timer.startExerciseCountdown(*hold, *plank);
    executor.advanceBy(200s);
    auto completed = timer.finishTimer(timer.now());
    ASSERT_TRUE(completed);
    EXPECT_EQ(completed->setId, "S-1");
    EXPECT_EQ(queued().size(), 2u);
    EXPECT_EQ(*queued()[1].at("type").string(), "complete_set");
    EXPECT_FALSE(timer.timerIsRunning.get());
    EXPECT_EQ(alerts.last(), "cancel");
    // Nothing left to finish, and nothing is sent for it.
    EXPECT_FALSE(timer.finishTimer(timer.now()));
    EXPECT_EQ(queued().size(), 2u);
}

TEST_F(TimerRuns, AFinishedRestSendsCancelTimerEndingAtItsEndAndLeavesNothingStored) {
    EXPECT_TRUE(timer.startTimer(start, "T-1", message("complete_set", {{"id", "S-9"}}), 90));
    EXPECT_EQ(alerts.last(), "schedule 90 rest");
    executor.advanceBy(100s);
    EXPECT_FALSE(timer.finishTimer(timer.now()));
    EXPECT_EQ(queued().at(1), message("cancel_timer", {{"startTime", ms(start)},
                                                       {"occurredAt", ms(start) + 90000},
                                                       {"timerSeconds", 90.0},
                                                       {"timerId", "T-1"},
                                                       {"timerRevision", 0}}));
    EXPECT_FALSE(timer.timerIsRunning.get());
    // The run's reference stays for the phone's answer.
    EXPECT_EQ(timer.timerId, "T-1");
    EXPECT_EQ(alerts.last(), "cancel");
    EXPECT_FALSE(defaults.dataForKey(sessionKey));
}

TEST_F(TimerRuns, AStartInThePastMayAlreadyBeOverAndAnUnserialisableEventStillRuns) {
    executor.advanceBy(30s);
    EXPECT_FALSE(timer.startTimer(start, "T-1", message("complete_set", {}), 20));
    EXPECT_EQ(alerts.calls, std::vector<std::string>{"cancel"});

    // Null is no property-list value: no stored copy, the outbox refuses it, the timer runs.
    EXPECT_TRUE(timer.startTimer(timer.now(), "T-2", message("complete_set", {{"x", Value()}}), 5));
    EXPECT_TRUE(log.contains("Unable to serialize Watch sync message"));
    EXPECT_FALSE(timer.pendingTimerEvent);
    EXPECT_EQ(timer.timerId, "T-2");
}

TEST_F(TimerRuns, CompletingACountingDownSetByHandNamesTheCountdownItEnds) {
    timer.startExerciseCountdown(*hold, *plank);
    plank->markSetInProgress("S-1");
    const auto countdownId = timer.timerId.value();
    executor.advanceBy(10s);

    EXPECT_TRUE(timer.completeSetAndStartRest(*plank, *hold));
    const Date now = timer.now();
    auto payload = *queued().at(1).at("payload").dictionary();
    EXPECT_EQ(payload.at("timerId"), Value(timer.timerId.value()));
    payload.erase("timerId");
    EXPECT_EQ(payload, (Dictionary{{"id", "S-1"},
                                   {"status", "COMPLETE"},
                                   {"dateCompleted", "2026-01-05T09:00:10Z"},
                                   {"occurredAt", ms(now)},
                                   {"timerSeconds", 90},
                                   {"timerRevision", 0},
                                   {"isManualDurationCompletion", true},
                                   {"sourceTimerStartTime", ms(start)},
                                   {"sourceTimerId", countdownId}}));
    EXPECT_EQ(hold->status.get(), "COMPLETE");
    EXPECT_EQ(hold->dateCompleted.get(), now);
    EXPECT_EQ(timer.timerSeconds.get(), 90);
}

TEST_F(TimerRuns, AnOrdinarySetWithoutRestSendsNoSourceAndNoTimerRuns) {
    plank->isDuration = false;
    hold->timerSeconds.reset();
    EXPECT_FALSE(timer.completeSetAndStartRest(*plank, *hold));
    const auto payload = *queued().at(0).at("payload").dictionary();
    EXPECT_EQ(payload.at("isManualDurationCompletion"), Value(false));
    EXPECT_EQ(payload.at("timerSeconds"), Value(0));
    EXPECT_FALSE(payload.contains("sourceTimerStartTime"));
    EXPECT_FALSE(payload.contains("sourceTimerId"));
    EXPECT_EQ(hold->status.get(), "COMPLETE");
}

TEST_F(TimerRuns, ResetStopsWithoutAnEventAndForgetsTheRun) {
    timer.startTimer(start, "T-1", message("complete_set", {}), 90);
    const auto sent = queued().size();
    timer.resetTimer();
    EXPECT_FALSE(timer.timerIsRunning.get());
    EXPECT_EQ(timer.timerId, std::nullopt);
    EXPECT_EQ(timer.latestTimerStartTime, std::nullopt);
    EXPECT_EQ(queued().size(), sent);
    EXPECT_FALSE(defaults.dataForKey(sessionKey));
    EXPECT_EQ(alerts.last(), "cancel");
}

TEST_F(TimerRuns, ATimerReferenceMatchesByIdAndRevisionOrByStartWithinTheTolerance) {
    runRest();
    const double startMs = ms(timer.startTime.get());
    EXPECT_TRUE(timer.timerMatches("T-1", std::nullopt, std::nullopt, 10));
    EXPECT_TRUE(timer.timerMatches("T-1", 2, startMs + 5000, 10));
    EXPECT_FALSE(timer.timerMatches("T-1", 3, std::nullopt, 10));
    EXPECT_FALSE(timer.timerMatches("T-2", std::nullopt, startMs, 10));
    EXPECT_TRUE(timer.timerMatches(std::nullopt, std::nullopt, startMs - 10, 10));
    EXPECT_FALSE(timer.timerMatches(std::nullopt, std::nullopt, startMs + 10.5, 10));
    EXPECT_TRUE(timer.timerMatches(std::nullopt, std::nullopt, std::nullopt, 10));
}

TEST_F(TimerRuns, BeforeAnyLiveRunTheReferenceIsTheStoredSessions) {
    timer::PersistedRestTimerSession record;
    record.workoutId = "w1";
    record.startTime = start;
    record.timerSeconds = 90;
    record.timerIsRunning = true;
    record.timerId = "T-7";
    record.timerRevision = 4;
    record.titleMessage = "Rest";
    defaults.setData(sessionKey, *timer::encodeTimerSession(record));
    RestTimerManager relaunched(executor, defaults, outbox, log);
    EXPECT_TRUE(relaunched.timerMatches("T-7", 4, std::nullopt, 10));
    EXPECT_FALSE(relaunched.timerMatches("T-7", 3, std::nullopt, 10));
    EXPECT_FALSE(timer.timerMatches("T-7", std::nullopt, std::nullopt, 10));
}

TEST_F(TimerRuns, ThePhonesRepeatOfTheRunAppliesOnlyAtTheSameOrAHigherRevision) {
    runRest();
    applyPhone({{"timerId", "T-1"}, {"timerRevision", 1}, {"timerSeconds", 30}}, true);
    EXPECT_EQ(timer.timerSeconds.get(), 90);
    EXPECT_EQ(timer.timerRevision, 2);

    applyPhone({{"timerId", "T-1"}, {"timerRevision", 2}, {"timerSeconds", 60}}, true);
    EXPECT_EQ(timer.timerSeconds.get(), 60);
    applyPhone({{"timerId", "T-1"}, {"timerRevision", 5}, {"timerSeconds", 45}}, true);
    EXPECT_EQ(timer.timerRevision, 5);
    EXPECT_EQ(timer.timerSeconds.get(), 45);
    EXPECT_EQ(alerts.last(), "schedule 45 rest");
}

TEST_F(TimerRuns, AnotherRunReplacesThisOneOnlyWhenItIsNotOlder) {
    runRest();
    const double known = ms(timer.startTime.get());
    applyPhone({{"timerId", "T-2"}, {"startTime", known - 11}, {"timerSeconds", 30}}, true);
    EXPECT_EQ(timer.timerId, "T-1");
    // Without a start nothing says it is newer.
    applyPhone({{"timerId", "T-2"}, {"timerSeconds", 30}}, true);
    EXPECT_EQ(timer.timerId, "T-1");

    applyPhone({{"timerId", "T-2"}, {"startTime", known - 10}, {"timerSeconds", 30}}, true);
    EXPECT_EQ(timer.timerId, "T-2");
    EXPECT_EQ(timer.timerRevision, 0);
    // The newest start known stays the newest.
    EXPECT_EQ(timer.latestTimerStartTime, Date::fromUnixMillis(known));
}

TEST_F(TimerRuns, ACorrectionAlreadyMatchedSkipsTheStalenessRules) {
    runRest();
    const double old = ms(timer.startTime.get()) - 60000;
    applyPhone({{"timerId", "T-3"}, {"startTime", old}, {"timerSeconds", 120}}, true,
               {{"timerCorrectionForId", "T-1"}});
    EXPECT_EQ(timer.timerId, "T-3");
    EXPECT_EQ(timer.startTime.get(), Date::fromUnixMillis(old));
    EXPECT_EQ(alerts.last(), "schedule 60 rest");
}

TEST_F(TimerRuns, AStopWithoutAnIdStopsOnlyTheRunThatStartedWithinTenMilliseconds) {
    runRest();
    const double known = ms(timer.startTime.get());
    applyPhone({{"startTime", known - 2000}}, false);
    EXPECT_TRUE(timer.timerIsRunning.get());
    applyPhone({}, false);
    EXPECT_TRUE(timer.timerIsRunning.get());

    applyPhone({{"startTime", known + 10}}, false);
    EXPECT_FALSE(timer.timerIsRunning.get());
    EXPECT_EQ(timer.timerId, std::nullopt);
    EXPECT_EQ(alerts.last(), "cancel");
    EXPECT_FALSE(defaults.dataForKey(sessionKey));
}

TEST_F(TimerRuns, PhoneDataForAWorkoutNotInProgressStopTheTimer) {
    runRest();
    applyPhone({{"timerId", "T-1"}, {"timerRevision", 9}}, true, {}, "COMPLETE");
    EXPECT_FALSE(timer.timerIsRunning.get());
    EXPECT_EQ(timer.timerId, std::nullopt);
    EXPECT_EQ(alerts.last(), "cancel");
}

TEST_F(TimerRuns, ThePhonesCountdownTakesItsSetsRestAndItsExercisesName) {
    executor.advanceBy(20s);
    applyPhone({{"timerId", "T-5"},
                {"startTime", ms(start)},
                {"timerSeconds", 60},
                {"isExerciseCountdown", true},
                {"durationSetId", "S-1"},
                {"exerciseId", "E-1"}},
               true);
    EXPECT_TRUE(timer.isExerciseCountdown.get());
    EXPECT_EQ(timer.durationSetId, "S-1");
    EXPECT_EQ(timer.postCountdownRestSeconds, 90);
    EXPECT_EQ(timer.titleMessage.get(), "Plank");
    EXPECT_EQ(alerts.last(), "schedule 40 countdown");
    auto record = stored().value();
    EXPECT_TRUE(record.timerIsRunning);
    EXPECT_EQ(record.timerId, "T-5");

    // A set the workout does not hold keeps the rest it had when it is the same set.
    hold->id = std::string("S-other");
    applyPhone({{"timerId", "T-5"}, {"durationSetId", "S-1"}, {"isExerciseCountdown", true}}, true);
    EXPECT_EQ(timer.postCountdownRestSeconds, 90);
    applyPhone({{"timerId", "T-5"}, {"durationSetId", "S-2"}, {"isExerciseCountdown", true}}, true);
    EXPECT_EQ(timer.postCountdownRestSeconds, 0);
}

TEST_F(TimerRuns, ThePhonesRestPreviewsTheNextSetAfterTheCompletedOnes) {
    auto next = std::make_shared<model::ExerciseSet>();
    next->id = std::string("S-2");
    next->status = std::string("NOT_STARTED");
    next->reps = std::string("12");
    plank->isDuration = false;
    plank->isWeight = false;
    plank->exerciseSets.modify([&](auto& sets) { sets.push_back(next); });
    applyPhone({{"timerId", "T-6"},
                {"startTime", ms(start)},
                {"timerSeconds", 90},
                {"exerciseId", "E-1"},
                {"setCompletedId", "S-1"}},
               true);
    EXPECT_EQ(timer.nextSetExercise.get(), "Plank");
    EXPECT_EQ(timer.nextSetLoad.get(), "12 reps");
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
                                      Value(*rc::gen::element<std::string>("T-1", "S-1", "E-1")));
            }
        }
        Dictionary carrier;
        if (*rc::gen::arbitrary<bool>()) {
            carrier.insert_or_assign("timerCorrectionForStartTime", Value(*numbers));
        }
        const bool running = *rc::gen::arbitrary<bool>();
        timer.applyPhoneTimerState(data, carrier, running, {"IN_PROGRESS", exercises});
        executor.advanceBy(std::chrono::seconds(*rc::gen::inRange(0, 100)));
        timer.finishTimer(timer.now());
        RC_ASSERT(std::isfinite(timer.timerSeconds.get()));
        RC_ASSERT(timer.timerSeconds.get() >= 0);
        RC_ASSERT(std::isfinite(timer.startTime->sinceReferenceDate));
        if (timer.timerIsRunning.get()) {
            RC_ASSERT(stored().has_value());
        }
    }
}

} // namespace
