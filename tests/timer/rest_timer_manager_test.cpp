// The rest timer's stored session across launches: saved after each change, read at launch,
// and applied, kept back or dropped once the hub knows the current workout.
#include "platform/values/bplist.hpp"
#include "timer/plate_inventory.hpp"
#include "timer/timer_fixture.hpp"

#include <cmath>

namespace {

using namespace timertest;
using timer::PersistedRestTimerSession;
using timer::PersistedWatchTimerEvent;

const Dictionary completeSet =
    testsupport::message("complete_set", {{"setId", "S-1"}, {"timerId", "T-1"}});

Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
}

PersistedRestTimerSession runningSession(std::optional<std::string> workout) {
    return {.workoutId = std::move(workout),
            .startTime = Date{789000000},
            .timerSeconds = 90,
            .timerIsRunning = true,
            .timerId = "T-1",
            .timerRevision = 2,
            .latestTimerStartTime = std::nullopt,
            .isExerciseCountdown = false,
            .durationSetId = std::nullopt,
            .postCountdownRestSeconds = 0,
            .titleMessage = "Plank",
            .pendingEvent =
                PersistedWatchTimerEvent{"E-1", *platform::encodeBinaryPlist(Value(completeSet))}};
}

using RestTimerManagerTest = TimerTest;

TEST_F(RestTimerManagerTest, ARecordIsStoredOncePerChangeWhileRunningOrWithAnEventPending) {
    store.backing.setData(sessionKey, bytesOf(R"({"startTime":1})"));
    relaunch();
    EXPECT_FALSE(timer->restoredTimerSession) << "undecodable: ignored and left in place";
    EXPECT_TRUE(timer->applyRestoredSession("W-1", "IN_PROGRESS", true));
    EXPECT_EQ(store.backing.dataForKey(sessionKey), bytesOf(R"({"startTime":1})"));

    // Screens that save on every change, as the timer's own operations do.
    auto save = timer->timerSeconds.observe([&](double) { timer->persistTimerSession(); });
    timer->mutate([&] {
        timer->timerSeconds = 120;
        {
            const auto nested = timer->beginChange();
            timer->titleMessage = "Plank";
        }
        EXPECT_TRUE(store.writes.empty());
        timer->timerIsRunning = true;
    });
    ASSERT_EQ(store.writes.size(), 1u);
    EXPECT_EQ(stored(), timer->sessionRecord());
    timer->mutate([&] { timer->timerSeconds = std::nan(""); });
    EXPECT_EQ(stored()->timerSeconds, 120) << "an unencodable state leaves the record";

    timer->mutate([&] {
        timer->timerSeconds = 120;
        timer->timerIsRunning = false;
    });
    EXPECT_FALSE(stored());
    // An event the outbox cannot take keeps the stopped timer stored, across a launch.
    const PersistedWatchTimerEvent refused{
        "E-1", *platform::encodeBinaryPlist(Value(platform::Array{Value("complete_set")}))};
    timer->mutate([&] { timer->pendingTimerEvent = refused; });
    timer->flushPendingTimerEvent();
    EXPECT_EQ(stored()->pendingEvent, refused);
    relaunch();
    EXPECT_EQ(timer->restoredTimerSession->pendingEvent, refused);
}

TEST_F(RestTimerManagerTest, TheSessionOfTheCurrentWorkoutIsAppliedAndItsEventQueuedUnderItsId) {
    auto record = runningSession("W-1");
    storeSession(record);
    executor.advanceBy(std::chrono::minutes(5));
    relaunch();
    EXPECT_EQ(timer->restoredTimerSession, record);
    EXPECT_FALSE(timer->timerIsRunning.get()) << "read at launch, not applied";
    EXPECT_TRUE(store.writes.empty());

    EXPECT_TRUE(timer->applyRestoredSession("W-1", "IN_PROGRESS", true));
    EXPECT_FALSE(timer->restoredTimerSession);
    record.pendingEvent.reset();
    EXPECT_EQ(timer->sessionRecord(), record);
    EXPECT_EQ(stored(), record);
    const auto sent = testsupport::sentMessages(*outbox);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].syncId, "E-1");
    EXPECT_EQ(testsupport::message(sent[0].type, sent[0].payload), completeSet);
}

TEST_F(RestTimerManagerTest, TheSessionIsKeptBackWhileItsWorkoutsStartHasNotReachedThePhone) {
    storeSession(runningSession("W-1"));
    relaunch();
    const auto start =
        outbox->enqueue(testsupport::message("start_workout", {{"workoutId", "W-1"}}));
    const auto storedBytes = store.backing.dataForKey(sessionKey);
    EXPECT_FALSE(timer->applyRestoredSession("W-2", "IN_PROGRESS", true));
    EXPECT_FALSE(timer->applyRestoredSession("W-1", "IN_PROGRESS", false));
    timer->mutate([&] { timer->timerSeconds = 5; });
    EXPECT_FALSE(timer->timerIsRunning.get());
    EXPECT_EQ(store.backing.dataForKey(sessionKey), storedBytes) << "the stored copy waits";

    outbox->handleAck(*start, std::nullopt);
    executor.runUntilIdle();
    EXPECT_TRUE(timer->applyRestoredSession("W-1", "IN_PROGRESS", true));
    EXPECT_TRUE(timer->timerIsRunning.get());
}

TEST_F(RestTimerManagerTest, ASessionTheHubCannotMatchIsDroppedWithItsRecord) {
    struct Case {
        std::optional<std::string> stored;
        std::string workout, status;
        bool snapshot;
    };
    for (const auto& c :
         {Case{"W-1", "W-2", "IN_PROGRESS", true}, Case{"W-1", "W-1", "COMPLETE", true},
          Case{"W-1", "W-1", "IN_PROGRESS", false},
          Case{std::nullopt, "W-1", "IN_PROGRESS", true}}) {
        storeSession(runningSession(c.stored));
        relaunch();
        EXPECT_TRUE(timer->applyRestoredSession(c.workout, c.status, c.snapshot)) << c.workout;
        EXPECT_FALSE(timer->restoredTimerSession);
        EXPECT_FALSE(stored());
        EXPECT_FALSE(timer->timerIsRunning.get());
        EXPECT_TRUE(outbox->pendingMessages().empty());
        EXPECT_EQ(timer->workoutId,
                  c.status == "IN_PROGRESS" ? std::optional(c.workout) : std::nullopt);
    }
    // A timer started meanwhile is what is stored then.
    storeSession(runningSession("W-9"));
    relaunch();
    timer->mutate([&] { timer->timerIsRunning = true; });
    EXPECT_TRUE(timer->applyRestoredSession("W-1", "IN_PROGRESS", true));
    EXPECT_EQ(stored(), timer->sessionRecord());
}

TEST_F(RestTimerManagerTest, AnEventStoredBeforeTheAppDiedIsQueuedOnceUnderItsId) {
    const auto event = timer->makePersistedEvent(completeSet);
    EXPECT_NE(timer->makePersistedEvent(completeSet)->syncId, event->syncId);
    EXPECT_FALSE(timer->makePersistedEvent({{"type", Value()}}));
    timer->mutate([&] {
        timer->workoutId = "W-1";
        timer->pendingTimerEvent = event;
    });
    // The outbox stores the event; the record's rewrite without it is lost with the process.
    store.loseWrites = true;
    timer->flushPendingTimerEvent();
    store.loseWrites = false;
    relaunch();
    EXPECT_EQ(timer->restoredTimerSession->pendingEvent, event);
    EXPECT_TRUE(timer->applyRestoredSession("W-1", "IN_PROGRESS", true));
    const auto pending = outbox->pendingMessages();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].id, event->syncId);
    EXPECT_FALSE(stored());
}

TEST_F(RestTimerManagerTest, ThePlateInventoryIsReadWhole) {
    store.setData("availableWeightPlates",
                  bytesOf(R"([{"quantity":4.0,"plateWeight":45,"units":"lb","id":"p45","x":1}])"));
    relaunch();
    EXPECT_EQ(timer->availableWeightPlates.get(),
              (std::vector<model::Plate>{{"p45", "lb", 45, 4}}));
    for (std::string_view bad :
         {R"({"id":"p45"})", R"([{"id":"a","units":"lb","plateWeight":5,"quantity":1},)"
                             R"({"id":"p45","units":"lb","plateWeight":45,"quantity":1.5}])"}) {
        store.setData("availableWeightPlates", bytesOf(bad));
        relaunch();
        EXPECT_TRUE(timer->availableWeightPlates->empty()) << bad;
        EXPECT_EQ(store.dataForKey("availableWeightPlates"), bytesOf(bad)) << "not overwritten";
    }
}

} // namespace
