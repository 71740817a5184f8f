// A rest timer stored by an earlier run of the watch, and what the program makes of it when it
// starts again and hears from the phone: applied when the phone reports its workout running,
// kept back while the phone has not yet heard that the workout started, dropped otherwise.
#include "app/process_support.hpp"
#include "platform/log/log.hpp"
#include "platform/store/sqlite_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "sync/outbound/pending_watch_sync_message.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/persisted_timer_session.hpp"
#include "timer/rest_timer_manager.hpp"

#include <gtest/gtest.h>

namespace {

using processtest::Value;

// The first workout of phone-sim's demo plan.
constexpr const char* planWorkout = "wk1-day-a";
constexpr auto timerKey = timer::RestTimerManager::timerSessionStorageKey;

class TimerRestoreProcess : public processtest::Programs {
protected:
    // What an earlier run left in the watch's user defaults.
    void storeEarlierRun(const std::string& timerWorkout, bool startStillPending) {
        platform::MemoryLog log;
        platform::SqliteKeyValueStores stores(watchData, log);
        timer::PersistedRestTimerSession stored;
        stored.workoutId = timerWorkout;
        stored.startTime = timer::dateFromTimePoint(std::chrono::system_clock::now());
        stored.timerSeconds = 600;
        stored.timerIsRunning = true;
        stored.timerId = "TIMER-1";
        stored.titleMessage = "Rest";
        stores.standard().setData(timerKey, *timer::encodeTimerSession(stored));
        if (startStillPending) {
            const Value start(platform::Dictionary{
                {"type", "start_workout"},
                {"syncId", "START-1"},
                {"payload", platform::Dictionary{{"workoutId", timerWorkout}}}});
            stores.standard().setData(
                watchsync::WatchSyncOutbox::storageKey,
                *watchsync::encodePendingList(
                    {{"START-1", *platform::encodeBinaryPlist(start), false}}));
        }
    }
    bool storedTimerRemains() {
        platform::MemoryLog log;
        platform::SqliteKeyValueStores stores(watchData, log);
        return stores.standard().dataForKey(timerKey).has_value();
    }

    // The phone's commands run before the watch comes up.
    void startBoth(std::vector<std::string> commands) {
        commands.push_back("status");
        startPhone(commands);
        waitForPhone("status:");
        startWatch();
        waitForPhone("watch connected");
    }

    // The timer in the state after the one where the watch has applied the phone's revision.
    platform::Dictionary timerAtRevision(double revision) {
        auto applied = watch->stateWhere([revision](const Value& s) {
            const auto* revisions = s.find("revisions");
            const auto* last = revisions ? revisions->find("lastSnapshotRevision") : nullptr;
            return last != nullptr && last->real() != nullptr && *last->real() >= revision;
        });
        auto state = applied ? watch->state() : std::nullopt;
        return state ? *state->find("timer")->dictionary() : platform::Dictionary{};
    }
};

TEST_F(TimerRestoreProcess, AppliedWhenThePhoneReportsItsWorkoutRunning) {
    storeEarlierRun(planWorkout, false);
    // The first thing the watch hears says that the workout runs.
    startBoth({"workout-status IN_PROGRESS"});
    auto timer = timerAtRevision(1);
    EXPECT_EQ(timer["timerIsRunning"], Value(true)) << processtest::readFile(watchOut);
    EXPECT_EQ(timer["timerId"], Value("TIMER-1"));
    EXPECT_EQ(timer["workoutId"], Value(planWorkout));
    quitBoth();
    EXPECT_TRUE(storedTimerRemains());
}

TEST_F(TimerRestoreProcess, KeptBackWhileTheStartIsUndeliveredThenAppliedWhenTheWorkoutRuns) {
    storeEarlierRun(planWorkout, true);
    startBoth({"ack none"});
    // The phone still reports the workout as not started: its data say nothing of the timer.
    // (The watch's refresh request waits behind the start in its strictly ordered outbox, so
    // the phone sends on its own.)
    phone->write("snapshot");
    auto timer = timerAtRevision(1);
    EXPECT_EQ(timer["timerIsRunning"], Value(false));
    waitForPhone("received start_workout");

    // The phone marks the workout started: the timer comes back.
    phone->write("workout-status IN_PROGRESS");
    waitForPhone("sent snapshot revision 2");
    EXPECT_TRUE(watch->stateWhere(
        [](const Value& s) { return *s.find("timer")->find("timerIsRunning") == Value(true); }));
}

TEST_F(TimerRestoreProcess, DroppedWhenItsWorkoutIsNotThePhones) {
    storeEarlierRun("some-other-workout", false);
    startBoth({"workout-status IN_PROGRESS"});
    auto timer = timerAtRevision(1);
    EXPECT_EQ(timer["timerIsRunning"], Value(false));
    quitBoth();
    EXPECT_FALSE(storedTimerRemains());
}

} // namespace
