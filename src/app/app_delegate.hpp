#pragma once

#include "platform/exec/queue.hpp"
#include "platform/health/health_types.hpp"
#include "platform/log/log.hpp"
#include "platform/values/value.hpp"
#include "session/workout_manager.hpp"

#include <optional>

namespace app {

// The phone's request to start a workout session on the watch. The session starts without an
// identity: a snapshot or a phone command claims it later.
class AppDelegate {
public:
    AppDelegate(platform::Executor& executor, session::WorkoutManager& workoutManager,
                platform::Log& log);

    // The configuration as the link carries it ({"activityType", "locationType"}); a missing or
    // mistyped value keeps the default of traditional strength training indoors. Callable from
    // any thread; the start happens on the main queue.
    void handleWorkoutConfiguration(const platform::Dictionary& configuration);

    static platform::WorkoutConfiguration
    decodeConfiguration(const platform::Dictionary& configuration);

private:
    platform::Executor& executor_;
    session::WorkoutManager& workoutManager_;
    platform::Log& log_;
};

} // namespace app
