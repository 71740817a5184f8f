#pragma once

#include "app/gestures.hpp"
#include "platform/notifications/simulated_notification_center.hpp"
#include "screens/logic/main_screen.hpp"
#include "screens/logic/sync_health.hpp"
#include "session/workout_manager.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/rest_timer_manager.hpp"

#include <functional>
#include <string>
#include <string_view>

namespace app {

// The headless control channel: one JSON object per line in, exactly one line starting with
// {"reply": out. Each action does what the user's gesture does, through the same code. Runs on
// the main queue.
class HeadlessControl {
public:
    struct Wiring {
        platform::Executor& executor;
        watchsync::WatchDataSource& data;
        watchsync::WatchSyncOutbox& outbox;
        timer::RestTimerManager& restTimer;
        session::WorkoutManager& workoutManager;
        screens::MainScreen& mainScreen;
        platform::SimulatedNotificationCenter& notifications;
        // Writes one whole line to the program's output.
        std::function<void(std::string_view line)> writeLine;
        // Ends the program once the main queue has drained.
        std::function<void()> quit;
        // With screens: every action but "state" and "quit" presses the real controls.
        Gestures* gestures = nullptr;
        // Without it, the state has no "syncHealth" and its actions are unknown.
        screens::SyncHealth* syncHealth = nullptr;
    };

    explicit HeadlessControl(Wiring wiring);

    void handleLine(std::string_view line);

private:
    void reply(std::string_view kind, platform::Dictionary fields = {});
    void error(std::string message);
    platform::Dictionary state();
    platform::Array pendingNotifications();

    // The pager's, the list's and the sheets' actions; false when `action` is none of them.
    bool workoutAction(const std::string& action, const platform::Dictionary& arguments);
    // The actions of the exercise detail and its set editor. Each answers the line itself.
    void exerciseAction(const std::string& action, const platform::Dictionary& arguments);
    // The sync indicator and the sync screen's "Send Now"; false when `action` is neither.
    bool syncHealthAction(const std::string& action);

    Wiring wiring_;
};

} // namespace app
