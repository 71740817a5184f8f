#include "timer/rest_timer_manager.hpp"

#include "platform/exec/manual_executor.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "support/fake_session.hpp"
#include "support/forwarding_store.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using platform::Array;
using platform::Data;
using platform::Date;
using platform::Dictionary;
using platform::Value;
using timer::PersistedRestTimerSession;
using timer::PersistedWatchTimerEvent;
using timer::RestTimerManager;

namespace {

constexpr std::string_view sessionKey = RestTimerManager::timerSessionStorageKey;
constexpr std::string_view platesKey = RestTimerManager::availableWeightPlatesKey;

// Records what reaches the store under the timer key (nothing = a removal), and can lose those
// writes the way a process that dies before they land does.
class WatchingStore final : public testsupport::ForwardingStore {
public:
    using ForwardingStore::ForwardingStore;

    std::vector<std::optional<Data>> timerWrites;
    bool loseTimerWrites = false;

    void setData(std::string_view key, const Data& value) override {
        if (key == sessionKey) {
            timerWrites.emplace_back(value);
            if (loseTimerWrites) {
                return;
            }
        }
        inner_.setData(key, value);
    }
    void removeObject(std::string_view key) override {
        if (key == sessionKey) {
            timerWrites.emplace_back(std::nullopt);
            if (loseTimerWrites) {
                return;
            }
        }
        inner_.removeObject(key);
    }
};

// One run of the watch program: its outbox and its timer over the store that outlives it.
struct Watch {
    Watch(platform::ManualExecutor& exec, platform::KeyValueStore& store, platform::Log& log)
        : session(exec.main()), outbox(exec, session, store, log), timer(exec, store, outbox, log) {
    }

    testsupport::FakeSession session;
    watchsync::WatchSyncOutbox outbox;
    RestTimerManager timer;
};

Dictionary message(std::string type, Dictionary payload) {
    return {{"type", Value(std::move(type))}, {"payload", Value(std::move(payload))}};
}

const Dictionary completeSet = message("complete_set", {{"setId", "S-1"}, {"timerId", "T-1"}});

Data plist(const Value& value) {
    return platform::encodeBinaryPlist(value).value();
}

Dictionary decodedDictionary(const Data& bytes) {
    const auto value = platform::decodeBinaryPlist(bytes);
    return value && value->dictionary() ? *value->dictionary() : Dictionary{};
}

Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
}

PersistedRestTimerSession stoppedSession(Date start) {
    PersistedRestTimerSession session;
    session.startTime = start;
    session.titleMessage = "Rest";
    return session;
}

PersistedRestTimerSession runningSession(std::string workout) {
    return {.workoutId = std::move(workout),
            .startTime = Date{789000000},
            .timerSeconds = 90,
            .timerIsRunning = true,
            .timerId = "T-1",
            .timerRevision = 2,
            .latestTimerStartTime = Date{789000000},
            .isExerciseCountdown = true,
            .durationSetId = "S-1",
            .postCountdownRestSeconds = 30,
            .titleMessage = "Plank",
            .pendingEvent = PersistedWatchTimerEvent{"E-1", plist(Value(completeSet))}};
}

class RestTimerManagerTest : public ::testing::Test {
protected:
    std::unique_ptr<Watch> launch() { return std::make_unique<Watch>(exec, store, log); }

    // A new process on the same store: the old one is gone before the new one reads.
    void relaunch() {
        watch.reset();
        watch = launch();
        store.timerWrites.clear();
    }

    RestTimerManager& timer() { return watch->timer; }

    std::optional<PersistedRestTimerSession> storedSession() const {
        const auto bytes = backing.dataForKey(sessionKey);
        return bytes ? timer::decodeTimerSession(*bytes) : std::nullopt;
    }

    void storeSession(const PersistedRestTimerSession& session) {
        backing.setData(sessionKey, timer::encodeTimerSession(session).value());
    }

    std::vector<std::string> outboxIds() {
        std::vector<std::string> ids;
        for (const auto& pending : watch->outbox.pendingMessages()) {
            ids.push_back(pending.id);
        }
        return ids;
    }

    platform::ManualExecutor exec;
    platform::MemoryKeyValueStore backing;
    WatchingStore store{backing};
    platform::MemoryLog log;
    std::unique_ptr<Watch> watch = launch();
};

// --- launch and saving -------------------------------------------------------------------------

TEST_F(RestTimerManagerTest, LaunchReadsTheStoredSessionButLeavesTheLiveTimerAtItsStart) {
    storeSession(runningSession("W-1"));
    exec.advanceBy(std::chrono::minutes(5));
    relaunch();

    EXPECT_EQ(timer().restoredTimerSession, runningSession("W-1"));
    EXPECT_EQ(timer().sessionRecord(), stoppedSession(timer::dateFromTimePoint(exec.now())));
    EXPECT_TRUE(store.timerWrites.empty());
}

TEST_F(RestTimerManagerTest, UndecodableStoredBytesAreIgnoredAndLeftInPlace) {
    backing.setData(sessionKey, bytesOf(R"({"startTime":1})"));
    relaunch();
    EXPECT_FALSE(timer().restoredTimerSession);
    EXPECT_TRUE(timer().applyRestoredSession("W-1", "IN_PROGRESS", true));
    EXPECT_EQ(backing.dataForKey(sessionKey), bytesOf(R"({"startTime":1})"));

    timer().mutate([&] { timer().timerIsRunning = true; });
    EXPECT_EQ(storedSession(), timer().sessionRecord());
}

TEST_F(RestTimerManagerTest, RecordExistsOnlyWhileTheTimerRunsOrAnEventIsPending) {
    timer().mutate([&] {
        timer().timerSeconds = 90;
        timer().timerIsRunning = true;
    });
    EXPECT_EQ(storedSession(), timer().sessionRecord());

    timer().mutate([&] { timer().timerIsRunning = false; });
    EXPECT_FALSE(backing.dataForKey(sessionKey));

    // An event the outbox cannot take (its bytes are no message) keeps the stopped timer stored.
    const PersistedWatchTimerEvent refused{"E-1", plist(Value(Array{Value("complete_set")}))};
    timer().mutate([&] { timer().pendingTimerEvent = refused; });
    timer().flushPendingTimerEvent();
    EXPECT_EQ(timer().pendingTimerEvent, refused);
    ASSERT_TRUE(storedSession());
    EXPECT_FALSE(storedSession()->timerIsRunning);
    EXPECT_EQ(storedSession()->pendingEvent, refused);
    EXPECT_TRUE(outboxIds().empty());

    relaunch();
    ASSERT_TRUE(timer().restoredTimerSession);
    EXPECT_EQ(timer().restoredTimerSession->pendingEvent, refused);
}

TEST_F(RestTimerManagerTest, GroupedChangesStoreOneRecordAndNeverAHalfChangedOne) {
    // Screens that save on every change, as the timer's own operations do.
    auto saveOnSeconds = timer().timerSeconds.observe([&](double) {
        EXPECT_TRUE(timer().isMutatingTimerSession());
        timer().persistTimerSession();
    });
    auto saveOnRunning =
        timer().timerIsRunning.observe([&](bool) { timer().persistTimerSession(); });

    timer().mutate([&] {
        timer().timerSeconds = 120;
        timer().timerId = "T-1";
        {
            const auto nested = timer().beginChange();
            timer().titleMessage = "Plank";
        }
        EXPECT_TRUE(store.timerWrites.empty());
        timer().timerIsRunning = true;
    });

    EXPECT_FALSE(timer().isMutatingTimerSession());
    ASSERT_EQ(store.timerWrites.size(), 1u);
    EXPECT_EQ(timer::decodeTimerSession(store.timerWrites[0].value()), timer().sessionRecord());
    EXPECT_EQ(storedSession()->titleMessage, "Plank");
}

TEST_F(RestTimerManagerTest, AnUnencodableStateLeavesThePreviousRecord) {
    timer().mutate([&] { timer().timerIsRunning = true; });
    const auto before = backing.dataForKey(sessionKey);
    timer().mutate([&] { timer().timerSeconds = std::nan(""); });
    EXPECT_EQ(backing.dataForKey(sessionKey), before);
}

// --- restoring ---------------------------------------------------------------------------------

TEST_F(RestTimerManagerTest, SessionOfTheCurrentWorkoutIsAppliedAndItsEventQueuedUnderItsId) {
    auto stored = runningSession("W-1");
    stored.startTime = Date{timer::dateFromTimePoint(exec.now()).sinceReferenceDate - 600};
    storeSession(stored);
    relaunch();

    EXPECT_TRUE(timer().applyRestoredSession("W-1", "IN_PROGRESS", true));

    EXPECT_FALSE(timer().restoredTimerSession);
    stored.pendingEvent.reset();
    EXPECT_EQ(timer().sessionRecord(), stored);
    // Ten minutes past its end and still applied as running: the hub finishes it next.
    EXPECT_TRUE(timer().isExpired(timer().now()));
    EXPECT_EQ(outboxIds(), std::vector<std::string>{"E-1"});
    EXPECT_EQ(storedSession(), stored);
}

TEST_F(RestTimerManagerTest, SessionIsKeptBackWhileItsWorkoutStartHasNotReachedThePhone) {
    storeSession(runningSession("W-1"));
    relaunch();
    const auto startId = watch->outbox.enqueue(message("start_workout", {{"workoutId", "W-1"}}));
    ASSERT_TRUE(startId);
    const auto storedBytes = backing.dataForKey(sessionKey);

    EXPECT_FALSE(timer().applyRestoredSession("W-2", "IN_PROGRESS", true));
    EXPECT_FALSE(timer().applyRestoredSession("W-1", "IN_PROGRESS", false));
    timer().mutate([&] { timer().timerSeconds = 5; });
    EXPECT_TRUE(timer().restoredTimerSession);
    EXPECT_FALSE(timer().timerIsRunning);
    EXPECT_EQ(backing.dataForKey(sessionKey), storedBytes);

    watch->outbox.handleAck(*startId, std::nullopt);
    exec.runUntilIdle();
    EXPECT_TRUE(timer().applyRestoredSession("W-1", "IN_PROGRESS", true));
    EXPECT_TRUE(timer().timerIsRunning);
}

TEST_F(RestTimerManagerTest, SessionTheHubCannotMatchIsDroppedWithItsRecord) {
    struct Case {
        std::string workout, status;
        bool snapshot;
    };
    for (const auto& [workout, status, snapshot] :
         {Case{"W-2", "IN_PROGRESS", true}, Case{"W-1", "COMPLETE", true},
          Case{"W-1", "IN_PROGRESS", false}}) {
        storeSession(runningSession("W-1"));
        relaunch();
        EXPECT_TRUE(timer().applyRestoredSession(workout, status, snapshot)) << workout << status;
        EXPECT_FALSE(timer().restoredTimerSession);
        EXPECT_FALSE(backing.dataForKey(sessionKey));
        EXPECT_FALSE(timer().timerIsRunning);
        EXPECT_TRUE(outboxIds().empty());
    }
    // A session without a workout has nothing to wait for.
    auto orphan = runningSession("");
    orphan.workoutId.reset();
    storeSession(orphan);
    relaunch();
    EXPECT_TRUE(timer().applyRestoredSession("W-1", "IN_PROGRESS", true));
    EXPECT_FALSE(backing.dataForKey(sessionKey));
}

TEST_F(RestTimerManagerTest, DroppingTheRestoredSessionStoresATimerStartedMeanwhile) {
    storeSession(runningSession("W-9"));
    relaunch();
    timer().mutate([&] {
        timer().timerSeconds = 45;
        timer().timerIsRunning = true;
    });
    EXPECT_TRUE(timer().applyRestoredSession("W-1", "IN_PROGRESS", true));
    EXPECT_EQ(storedSession(), timer().sessionRecord());
}

TEST_F(RestTimerManagerTest, WorkoutIdFollowsTheHubsWorkoutWhileItIsInProgress) {
    EXPECT_TRUE(timer().applyRestoredSession("W-1", "IN_PROGRESS", false));
    EXPECT_EQ(timer().workoutId, "W-1");
    EXPECT_TRUE(timer().applyRestoredSession("W-1", "COMPLETE", true));
    EXPECT_FALSE(timer().workoutId);
}

// --- the pending event across launches ----------------------------------------------------------

TEST_F(RestTimerManagerTest, EventStoredBeforeTheAppDiedIsQueuedUnderTheSameIdAfterRelaunch) {
    const auto event = timer().makePersistedEvent(completeSet);
    ASSERT_TRUE(event);
    timer().mutate([&] {
        timer().workoutId = "W-1";
        timer().timerIsRunning = false;
        timer().pendingTimerEvent = event;
    });
    ASSERT_EQ(storedSession()->pendingEvent, event);

    relaunch();
    EXPECT_TRUE(timer().applyRestoredSession("W-1", "IN_PROGRESS", true));

    const auto pending = watch->outbox.pendingMessages();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].id, event->syncId);
    auto expected = completeSet;
    expected.emplace("syncId", event->syncId);
    EXPECT_EQ(decodedDictionary(pending[0].payload), expected);
    EXPECT_FALSE(timer().pendingTimerEvent);
    EXPECT_FALSE(backing.dataForKey(sessionKey));
}

TEST_F(RestTimerManagerTest, EventQueuedJustBeforeTheAppDiedIsNotQueuedTwice) {
    const auto event = timer().makePersistedEvent(completeSet);
    timer().mutate([&] {
        timer().workoutId = "W-1";
        timer().pendingTimerEvent = event;
    });
    // The outbox stores the event; the record's rewrite without it is lost with the process.
    store.loseTimerWrites = true;
    timer().flushPendingTimerEvent();
    ASSERT_EQ(outboxIds(), std::vector<std::string>{event->syncId});

    store.loseTimerWrites = false;
    relaunch();
    EXPECT_TRUE(timer().applyRestoredSession("W-1", "IN_PROGRESS", true));
    EXPECT_EQ(outboxIds(), std::vector<std::string>{event->syncId});
    EXPECT_FALSE(backing.dataForKey(sessionKey));
}

TEST_F(RestTimerManagerTest, PersistedEventCarriesTheMessageUnderAFreshUppercaseUuid) {
    const auto first = timer().makePersistedEvent(completeSet);
    const auto second = timer().makePersistedEvent(completeSet);
    ASSERT_TRUE(first && second);
    EXPECT_THAT(first->syncId, testing::MatchesRegex(
                                   "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
    EXPECT_NE(first->syncId, second->syncId);
    EXPECT_EQ(decodedDictionary(first->data), completeSet);
    EXPECT_FALSE(timer().makePersistedEvent({{"type", Value(platform::Null{})}}));
}

// --- clearing ----------------------------------------------------------------------------------

TEST_F(RestTimerManagerTest, ClearingForgetsTheRunAndStoresTheResultOnce) {
    const PersistedWatchTimerEvent unsendable{"E-1", bytesOf("not a plist")};
    auto fill = [&] {
        timer().mutate([&] {
            timer().timerIsRunning = true;
            timer().timerId = "T-1";
            timer().timerRevision = 4;
            timer().latestTimerStartTime = Date{5};
            timer().pendingTimerEvent = unsendable;
            timer().nextSetExercise = "Squat";
            timer().nextSetLoad = "5 x 225lb";
            timer().nextSetPlates = {model::Plate{"p45", "lb", 45, 4}};
            timer().isExerciseCountdown = true;
            timer().durationSetId = "S-1";
            timer().postCountdownRestSeconds = 60;
            timer().titleMessage = "Plank";
        });
        store.timerWrites.clear();
    };

    fill();
    timer().clearTimerSession();
    EXPECT_EQ(store.timerWrites.size(), 1u);
    // Still running, so stored, but without the forgotten run.
    auto cleared = stoppedSession(timer().startTime);
    cleared.timerIsRunning = true;
    EXPECT_EQ(storedSession(), cleared);
    EXPECT_EQ(timer().nextSetExercise.get(), "");
    EXPECT_EQ(timer().nextSetLoad.get(), "");
    EXPECT_TRUE(timer().nextSetPlates->empty());

    fill();
    timer().mutate([&] {
        timer().timerIsRunning = false;
        timer().clearTimerSession();
    });
    EXPECT_FALSE(backing.dataForKey(sessionKey));
}

// --- plate inventory ---------------------------------------------------------------------------

TEST_F(RestTimerManagerTest, PlateInventoryIsLoadedAndWrittenBackInItsOwnForm) {
    backing.setData(platesKey,
                    bytesOf(R"([{"quantity":4.0,"plateWeight":45,"units":"lb","id":"p45","x":1},)"
                            R"({"id":"p2","units":"kg","plateWeight":2.5,"quantity":0}])"));
    relaunch();
    const std::vector<model::Plate> expected{{"p45", "lb", 45, 4}, {"p2", "kg", 2.5, 0}};
    EXPECT_EQ(timer().availableWeightPlates.get(), expected);
    EXPECT_EQ(backing.dataForKey(platesKey),
              bytesOf(R"([{"id":"p45","units":"lb","plateWeight":45.0,"quantity":4},)"
                      R"({"id":"p2","units":"kg","plateWeight":2.5,"quantity":0}])"));

    timer().availableWeightPlates = {model::Plate{"p25", "lb", 25, 2}};
    timer().saveAvailableWeightPlates();
    relaunch();
    EXPECT_EQ(timer().availableWeightPlates.get(),
              (std::vector<model::Plate>{{"p25", "lb", 25, 2}}));
}

TEST_F(RestTimerManagerTest, UnreadablePlateInventoryGivesNoPlatesAndIsNotOverwritten) {
    for (std::string_view bad :
         {R"(not json)", R"({"id":"p45"})", R"([{"id":"p45","units":"lb","plateWeight":45}])",
          R"([{"id":"p45","units":"lb","plateWeight":"45","quantity":1}])",
          R"([{"id":"p45","units":"lb","plateWeight":45,"quantity":1.5}])"}) {
        backing.setData(platesKey, bytesOf(bad));
        relaunch();
        EXPECT_TRUE(timer().availableWeightPlates->empty()) << bad;
        EXPECT_EQ(backing.dataForKey(platesKey), bytesOf(bad));
    }
}

} // namespace
