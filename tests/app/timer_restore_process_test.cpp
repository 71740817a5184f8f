// A rest timer stored by an earlier run of the watch, and what the program makes of it when it
// starts again and hears from the phone: applied when the phone reports its workout running,
// kept back while the phone has not yet heard that the workout started, dropped otherwise.
#include "app/process_support.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/log/log.hpp"
#include "platform/store/sqlite_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "sync/outbound/pending_watch_sync_message.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/persisted_timer_session.hpp"
#include "timer/rest_timer_manager.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using platform::Value;
using processtest::Child;
using processtest::readFile;
using processtest::waitFor;

// The first workout of phone-sim's demo plan.
constexpr const char* planWorkout = "wk1-day-a";

class TimerRestoreProcess : public ::testing::Test {
protected:
    platform::testing::TempDirectory dir;
    std::string link = "unix:" + (dir.path() / "link.sock").string();
    std::filesystem::path watchData = dir.path() / "watch";
    std::filesystem::path phoneOut = dir.path() / "phone.log";
    std::filesystem::path watchOut = dir.path() / "watch.log";
    std::optional<Child> phone;
    std::optional<Child> watch;

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
        stores.standard().setData(timer::RestTimerManager::timerSessionStorageKey,
                                  *timer::encodeTimerSession(stored));
        if (startStillPending) {
            platform::Dictionary start{
                {"type", "start_workout"},
                {"syncId", "START-1"},
                {"payload", platform::Dictionary{{"workoutId", timerWorkout}}}};
            std::vector<watchsync::PendingWatchSyncMessage> pending{
                {"START-1", *platform::encodeBinaryPlist(Value(start)), false}};
            stores.standard().setData(watchsync::WatchSyncOutbox::storageKey,
                                      *watchsync::encodePendingList(pending));
        }
    }

    bool storedTimerRemains() {
        platform::MemoryLog log;
        platform::SqliteKeyValueStores stores(watchData, log);
        return stores.standard()
            .dataForKey(timer::RestTimerManager::timerSessionStorageKey)
            .has_value();
    }

    // The phone's commands run before the watch comes up.
    void startBoth(const std::vector<std::string>& phoneCommands) {
        phone.emplace(std::vector<std::string>{PHONE_SIM, "--link", link, "--data-dir",
                                               (dir.path() / "phone").string()},
                      phoneOut);
        for (const auto& command : phoneCommands) {
            phone->write(command);
        }
        phone->write("status");
        ASSERT_TRUE(waitFor(phoneOut, "status:")) << readFile(phoneOut);
        watch.emplace(std::vector<std::string>{WRISTSIDE, "--headless", "--link", link,
                                               "--data-dir", watchData.string()},
                      watchOut);
        ASSERT_TRUE(waitFor(phoneOut, "watch connected")) << readFile(phoneOut);
    }

    // The timer part of a state answer taken after everything before it has been handled.
    Value timerState(int answer) {
        watch->write(R"({"action":"state"})");
        EXPECT_TRUE(waitFor(watchOut, R"({"reply":"state")", static_cast<std::size_t>(answer)))
            << readFile(watchOut);
        auto state = processtest::lastState(watchOut);
        return state && state->find("timer") ? *state->find("timer") : Value();
    }

    // Polls until the watch has applied the phone's revision.
    bool watchAtRevision(double revision, int& answers) {
        for (int i = 0; i < 200; ++i) {
            watch->write(R"({"action":"state"})");
            ++answers;
            if (!waitFor(watchOut, R"({"reply":"state")", static_cast<std::size_t>(answers))) {
                return false;
            }
            auto state = processtest::lastState(watchOut);
            const auto* revisions = state ? state->find("revisions") : nullptr;
            const auto* last = revisions ? revisions->find("lastSnapshotRevision") : nullptr;
            if (last != nullptr && last->real() != nullptr && *last->real() >= revision) {
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    void quitBoth() {
        watch->write(R"({"action":"quit"})");
        EXPECT_EQ(watch->finish(), 0) << readFile(watchOut);
        phone->write("quit");
        EXPECT_EQ(phone->finish(), 0) << readFile(phoneOut);
    }
};

TEST_F(TimerRestoreProcess, AppliedWhenThePhoneReportsItsWorkoutRunning) {
    storeEarlierRun(planWorkout, false);
    // The first thing the watch hears says that the workout runs.
    startBoth({"workout-status IN_PROGRESS"});
    int answers = 0;
    ASSERT_TRUE(watchAtRevision(1, answers)) << readFile(watchOut);
    auto timer = timerState(++answers);
    EXPECT_EQ(*timer.find("timerIsRunning"), Value(true)) << readFile(watchOut);
    EXPECT_EQ(*timer.find("timerId"), Value("TIMER-1"));
    EXPECT_EQ(*timer.find("workoutId"), Value(planWorkout));
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
    int answers = 0;
    ASSERT_TRUE(watchAtRevision(1, answers)) << readFile(watchOut);
    EXPECT_EQ(*timerState(++answers).find("timerIsRunning"), Value(false));
    ASSERT_TRUE(waitFor(phoneOut, "received start_workout")) << readFile(phoneOut);

    // The phone marks the workout started: the timer comes back.
    phone->write("workout-status IN_PROGRESS");
    ASSERT_TRUE(waitFor(phoneOut, "sent snapshot revision 2")) << readFile(phoneOut);
    bool running = false;
    for (int i = 0; i < 200 && !running; ++i) {
        running = *timerState(++answers).find("timerIsRunning") == Value(true);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(running) << readFile(watchOut);
    quitBoth();
}

TEST_F(TimerRestoreProcess, DroppedWhenItsWorkoutIsNotThePhones) {
    storeEarlierRun("some-other-workout", false);
    startBoth({"workout-status IN_PROGRESS"});
    int answers = 0;
    ASSERT_TRUE(watchAtRevision(1, answers)) << readFile(watchOut);
    EXPECT_EQ(*timerState(++answers).find("timerIsRunning"), Value(false));
    quitBoth();
    EXPECT_FALSE(storedTimerRemains());
}

} // namespace
