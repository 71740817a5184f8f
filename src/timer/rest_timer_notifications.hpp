#pragma once

#include "platform/exec/queue.hpp"
#include "platform/log/log.hpp"
#include "platform/notifications/notification_center.hpp"
#include "timer/timer_alerts.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace timer {

class RestTimerManager;

// The local notification that marks the end of a timer run while the app is not on screen.
// Requests are numbered by a generation that lives on a private serial queue: every schedule or
// cancel takes a new one, and the callbacks of older requests find it changed and do nothing
// (or remove what they just added), so the last call always wins however the center's answers
// interleave. Calls return at once; nothing waits for the queue.
class RestTimerNotifications final : public TimerAlerts {
public:
    static constexpr std::string_view queueLabel = "com.tessaron.wristside.rest-timer-notification";
    // Every request whose identifier starts with this belongs to the rest timer.
    static constexpr std::string_view identifierPrefix = "tessaron.rest-timer";
    static constexpr std::string_view categoryIdentifier = "rest_timer";
    static constexpr std::string_view actionIdentifier = "rest timer";
    static constexpr std::string_view actionTitle = "Rest Timer";
    static constexpr std::string_view authorizationFailedPrefix =
        "Notification authorization failed: ";

    // A running run as the setup needs it.
    struct RunningTimer {
        double secondsRemaining = 0;
        bool isExerciseCountdown = false;
    };
    // Read on the main queue; none when no run is going or its time is used up.
    using RunningTimerSource = std::function<std::optional<RunningTimer>()>;

    RestTimerNotifications(platform::Executor& executor, platform::NotificationCenter& center,
                           platform::Log& log);
    // Callbacks still on their way find nothing to act on.
    ~RestTimerNotifications() override;
    RestTimerNotifications(const RestTimerNotifications&) = delete;
    RestTimerNotifications& operator=(const RestTimerNotifications&) = delete;

    void scheduleRestTimerNotification(double seconds, bool isExerciseCountdown) override;
    void cancelRestTimerNotifications() override;

    // Asks for permission when nobody has decided yet, registers the rest timer's category and
    // schedules the end of a run that is already going.
    void setUpNotifications(RunningTimerSource runningTimer);

    // The running run of the timer, for setUpNotifications.
    static RunningTimerSource runningTimerOf(const RestTimerManager& manager);

    static std::string requestIdentifier(std::uint64_t generation);
    static platform::NotificationContent content(bool isExerciseCountdown);
    static platform::NotificationCategory restTimerCategory();

private:
    struct Core;
    platform::Executor& executor_;
    std::shared_ptr<Core> core_;
};

} // namespace timer
