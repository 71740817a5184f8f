#pragma once

#include "app/app_delegate.hpp"
#include "app/complication_controller.hpp"
#include "platform/exec/queue.hpp"
#include "platform/files/file_system.hpp"
#include "platform/haptics/haptics.hpp"
#include "platform/health/simulated_health_store.hpp"
#include "platform/link/session.hpp"
#include "platform/log/log.hpp"
#include "platform/notifications/simulated_notification_center.hpp"
#include "platform/store/key_value_store.hpp"
#include "screens/logic/main_screen.hpp"
#include "screens/logic/sync_health.hpp"
#include "session/workout_manager.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/rest_timer_manager.hpp"
#include "timer/rest_timer_notifications.hpp"

#include <filesystem>
#include <memory>

namespace app {

// What the watch program runs on: the program builds it from the machine, tests from the
// manual executor and the simulated link.
struct WatchEnvironment {
    platform::Executor& executor;
    // The application's user defaults.
    platform::KeyValueStore& defaults;
    platform::FileSystem& files;
    // The watch end of the phone link; it must outlive the core.
    platform::Session& session;
    platform::Log& log;
    // Where saved health workouts go; empty keeps them in memory.
    std::filesystem::path healthDirectory;
    // What the simulated user answers when asked for health data and for notifications.
    bool healthAllowed = true;
    platform::SimulatedNotificationAnswer notifications =
        platform::SimulatedNotificationAnswer::allow;
    // The platform's own store, where pending notifications outlive the program; null keeps
    // them in memory.
    platform::KeyValueStore* platformStore = nullptr;
    screens::NumberLocale numberLocale{};
};

// The watch's long-lived objects, each built once from the environment and torn down in reverse
// order: the outbox with its bookkeeping, the health store and session manager, the rest timer with
// its alerts, the sync hub, the root screen and the sync health it shows.
class WatchCore {
public:
    explicit WatchCore(WatchEnvironment environment);
    ~WatchCore();
    WatchCore(const WatchCore&) = delete;
    WatchCore& operator=(const WatchCore&) = delete;

    // The program became active (the window was activated; headless, once at start): asks for
    // notification permission when nobody has decided yet, and reschedules a running timer's
    // alert.
    void becameActive();

    watchsync::WatchSyncOutbox& outbox() { return *outbox_; }
    screens::SyncHealth& syncHealth() { return *syncHealth_; }
    platform::SimulatedHealthStore& health() { return *health_; }
    session::WorkoutManager& workoutManager() { return *workoutManager_; }
    timer::RestTimerManager& restTimer() { return *restTimer_; }
    platform::SimulatedNotificationCenter& notificationCenter() { return *notificationCenter_; }
    platform::HapticRecorder& haptics() { return *haptics_; }
    watchsync::WatchDataSource& data() { return *data_; }
    screens::MainScreen& mainScreen() { return *mainScreen_; }
    // What the platform asks about the watch-face complication.
    platform::ComplicationDataSource& complication() { return complication_; }

private:
    // Before the outbox, which reports to it until its last moment.
    std::unique_ptr<watchsync::OutboxBookkeeping> bookkeeping_;
    std::unique_ptr<watchsync::WatchSyncOutbox> outbox_;
    std::unique_ptr<platform::SimulatedHealthStore> health_;
    std::unique_ptr<session::WorkoutManager> workoutManager_;
    std::unique_ptr<timer::RestTimerManager> restTimer_;
    std::unique_ptr<AppDelegate> appDelegate_;
    std::unique_ptr<platform::SimulatedNotificationCenter> notificationCenter_;
    std::unique_ptr<timer::RestTimerNotifications> restTimerNotifications_;
    std::unique_ptr<platform::HapticRecorder> haptics_;
    std::unique_ptr<watchsync::WatchDataSource> data_;
    std::unique_ptr<screens::MainScreen> mainScreen_;
    std::unique_ptr<screens::SyncHealth> syncHealth_;
    ComplicationController complication_;
};

} // namespace app
