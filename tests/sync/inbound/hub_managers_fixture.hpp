#pragma once

#include "platform/health/simulated_health_store.hpp"
#include "session/workout_manager.hpp"
#include "sync/inbound/hub_fixture.hpp"
#include "timer/rest_timer_manager.hpp"

#include <optional>

namespace hubtest {

// The sync hub with the real rest timer and health session manager behind it.
class HubWithManagers : public Hub {
protected:
    platform::SimulatedHealthStore health{executor};
    std::optional<session::WorkoutManager> workoutManager;
    std::optional<timer::RestTimerManager> restTimer;

    // Builds the program's objects as the program does, over whatever the stores hold now;
    // `managers` supplies the callbacks, the managers themselves are filled in here.
    void startWithManagers(WatchDataSource::Managers managers = {}) {
        data.reset();
        restTimer.reset();
        workoutManager.reset();
        outbox.emplace(executor, session, defaults, log);
        workoutManager.emplace(executor, defaults, health, log);
        restTimer.emplace(executor, defaults, *outbox, log);
        managers.restTimer = &*restTimer;
        managers.workoutManager = &*workoutManager;
        data.emplace(WatchDataSource::Services{executor, defaults, files, &session, *outbox, log},
                     std::move(managers));
    }
};

} // namespace hubtest
