#pragma once

namespace timer {

// How a timer run reaches the user when the watch app is not on screen: a local notification at
// the moment the run ends. The rest timer calls these; the notification bookkeeping implements
// them (and a test can record them).
class TimerAlerts {
public:
    virtual ~TimerAlerts() = default;
    // A run started, or was applied, with this many whole seconds left.
    virtual void scheduleRestTimerNotification(double seconds, bool isExerciseCountdown) = 0;
    // A run stopped or was replaced.
    virtual void cancelRestTimerNotifications() = 0;
};

} // namespace timer
