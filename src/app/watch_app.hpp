#pragma once

#include "app/app_delegate.hpp"
#include "platform/exec/system_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/health/simulated_health_store.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/socket/link_address.hpp"
#include "platform/log/log.hpp"
#include "platform/store/sqlite_key_value_store.hpp"
#include "session/workout_manager.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/rest_timer_manager.hpp"

#include <filesystem>
#include <memory>

namespace app {

// The composition root: the production environment and the watch's long-lived objects, built
// once and torn down in reverse order (the executor last, so that no queue outlives it).
class WatchApp {
public:
    struct Settings {
        std::filesystem::path dataDirectory;
        platform::LinkAddress link;
        // What the simulated user answers when asked for health data.
        bool healthAllowed = true;
    };

    WatchApp(Settings settings, platform::Log& log);
    ~WatchApp();
    WatchApp(const WatchApp&) = delete;
    WatchApp& operator=(const WatchApp&) = delete;

    platform::SystemExecutor& executor() { return executor_; }
    watchsync::WatchDataSource& data() { return *data_; }
    watchsync::WatchSyncOutbox& outbox() { return *outbox_; }
    timer::RestTimerManager& restTimer() { return *restTimer_; }
    session::WorkoutManager& workoutManager() { return *workoutManager_; }

private:
    platform::SystemExecutor executor_;
    platform::Log& log_;
    platform::SqliteKeyValueStores defaults_;
    // The platform's own store (the session's queued transfers and contexts), apart from the
    // application's user defaults as on the real device.
    platform::SqliteKeyValueStores platformStores_;
    platform::LocalFileSystem files_;
    std::unique_ptr<platform::SessionEngine> session_;
    std::unique_ptr<watchsync::WatchSyncOutbox> outbox_;
    std::unique_ptr<platform::SimulatedHealthStore> health_;
    std::unique_ptr<session::WorkoutManager> workoutManager_;
    std::unique_ptr<timer::RestTimerManager> restTimer_;
    std::unique_ptr<AppDelegate> appDelegate_;
    std::unique_ptr<watchsync::WatchDataSource> data_;
};

} // namespace app
