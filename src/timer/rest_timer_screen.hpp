#pragma once

#include "platform/exec/queue.hpp"
#include "platform/haptics/haptics.hpp"
#include "platform/observe/observable.hpp"
#include "platform/values/value.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace session {
class WorkoutManager;
}

namespace timer {

class RestTimerManager;

// The rest timer screen's model: the time left as text, and the one-second tick that notices the
// time is up while the screen is shown. (When it is hidden the notification marks the end and
// the sync hub finishes the run later.) Main queue only.
class RestTimer {
public:
    // Ends the running run at the given time; for a countdown, the set it completed and when.
    using FinishTimer =
        std::function<std::optional<std::pair<std::string, platform::Date>>(platform::Date)>;
    using DurationSetCompleted = std::function<void(const std::string& setId, platform::Date date)>;

    struct Services {
        platform::Executor& executor;
        RestTimerManager& restTimerManager;
        session::WorkoutManager& workoutManager;
        platform::Haptics& haptics;
        FinishTimer finishTimer;
    };

    explicit RestTimer(Services services, DurationSetCompleted onDurationSetCompleted = {});
    // Stops the tick.
    ~RestTimer();
    RestTimer(const RestTimer&) = delete;
    RestTimer& operator=(const RestTimer&) = delete;

    // The tick runs from appear() until disappear(); the first one comes a second after
    // appear().
    void appear();
    void disappear();
    bool isTicking() const { return tick_.has_value(); }

    // The time left as of the last tick; none until the first tick and after a run was replaced
    // or a countdown completed its set.
    platform::Observable<std::optional<std::string>> message;

    // What the screen shows, top to bottom.
    const std::string& title() const;
    // `message`, or the run's whole length while there is none.
    std::string timeLeftText() const;

    RestTimerManager& restTimerManager() { return manager_; }
    session::WorkoutManager& workoutManager() { return workoutManager_; }

    // Positional hours, minutes and seconds the way the platform's date-components formatter
    // writes them: leading zero units dropped but minutes always shown, so 90 s is "1:30", 5 s
    // "0:05" and 3725 s "1:02:05". Part seconds round up, so the text reads "0:00" only once the
    // time is up.
    static std::string formatTimeLeft(double seconds);

private:
    void scheduleTick();
    void tick();
    void timeUp();
    // The time-left text of the previous run does not belong to a replaced or corrected one.
    void forgetMessageIfRunChanged();

    platform::Executor& executor_;
    RestTimerManager& manager_;
    session::WorkoutManager& workoutManager_;
    platform::Haptics& haptics_;
    FinishTimer finishTimer_;
    DurationSetCompleted onDurationSetCompleted_;
    std::optional<platform::TaskHandle> tick_;
    std::optional<std::string> seenTimerId_;
    std::int64_t seenTimerRevision_ = 0;
    std::vector<platform::Subscription> subscriptions_;
};

} // namespace timer
