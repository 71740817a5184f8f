#pragma once

#include "app/options.hpp"
#include "app/watch_core.hpp"
#include "platform/exec/queue.hpp"
#include "platform/files/file_system.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/socket/link_address.hpp"
#include "platform/log/log.hpp"
#include "platform/store/sqlite_key_value_store.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace app {

// The composition root: the production environment (SQLite stores, files under the data
// directory, the phone link over a socket) on the program's executor, and the watch core built
// on it, torn down in reverse order. The executor (headless: a run loop; with screens: Qt's
// event loop) must outlive it, so that no queue does.
class WatchApp {
public:
    struct Settings {
        std::filesystem::path dataDirectory;
        platform::LinkAddress link;
        // What the simulated user answers when asked for health data.
        bool healthAllowed = true;
        // What the simulated user answers when asked to allow notifications.
        platform::SimulatedNotificationAnswer notifications =
            platform::SimulatedNotificationAnswer::allow;
        screens::NumberLocale numberLocale{};
    };

    WatchApp(platform::Executor& executor, Settings settings, platform::Log& log);
    ~WatchApp();
    WatchApp(const WatchApp&) = delete;
    WatchApp& operator=(const WatchApp&) = delete;

    // The settings the command line asks for; nothing when it names an unusable link address
    // (error says why).
    static std::optional<Settings> settingsFrom(const Options& options, std::string& error);

    WatchCore& core() { return *core_; }

private:
    platform::SqliteKeyValueStores defaults_;
    // The platform's own store (the session's queued transfers and contexts), apart from the
    // application's user defaults as on the real device.
    platform::SqliteKeyValueStores platformStores_;
    platform::LocalFileSystem files_;
    std::unique_ptr<platform::SessionEngine> session_;
    std::unique_ptr<WatchCore> core_;
};

} // namespace app
