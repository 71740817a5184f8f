#pragma once

#include "platform/exec/queue.hpp"
#include "platform/health/health_store.hpp"
#include "platform/link/session.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace platform {

// Calls the simulated platform refuses, for tests of how the app copes.
struct SimulatedHealthFailures {
    bool sessionCreation = false;
    bool beginCollection = false;
    bool endCollection = false;
    bool finishWorkout = false;
    bool addMetadata = false;
    bool mirroring = false;
    bool sendRemoteData = false;
};

struct SimulatedHealthOptions {
    // Saved workouts go to <dataDirectory>/health.sqlite; empty keeps them in memory.
    std::filesystem::path dataDirectory;
    // How the simulated user answers an authorisation request.
    bool userAllowsAuthorization = true;
    // Session n (counting from 0) draws its samples from seed + n.
    std::uint64_t seed = 1;
    Duration sampleInterval = std::chrono::seconds(5);
    // Where mirrored data goes; none means there is no phone to mirror to. Must outlive the
    // store and its sessions.
    Session* companion = nullptr;
    // A device without health data: nothing may be asked of the store.
    bool healthDataAvailable = true;
};

namespace health_detail {
struct Core;
}

// The health framework on the executor's clock: sessions with the platform's state machine,
// live builders fed by a seeded strength-training signal, mirroring over the phone link and
// saved workouts in SQLite. Everything it reports arrives on its own serial queue.
class SimulatedHealthStore final : public HealthStore {
public:
    static constexpr const char* databaseFileName = "health.sqlite";

    explicit SimulatedHealthStore(Executor& executor, SimulatedHealthOptions options = {});
    ~SimulatedHealthStore() override;
    SimulatedHealthStore(const SimulatedHealthStore&) = delete;
    SimulatedHealthStore& operator=(const SimulatedHealthStore&) = delete;

    void requestAuthorization(std::set<HealthType> typesToShare, std::set<HealthType> typesToRead,
                              HealthResultCompletion completion) override;
    AuthorizationStatus authorizationStatus(HealthType type) const override;
    bool isHealthDataAvailable() const override;
    std::variant<std::shared_ptr<WorkoutSession>, HealthError>
    makeWorkoutSession(const WorkoutConfiguration& configuration) override;
    std::shared_ptr<LiveWorkoutDataSource>
    makeLiveDataSource(const WorkoutConfiguration& configuration) override;
    std::vector<SavedWorkout> savedWorkouts() const override;

    void setFailures(const SimulatedHealthFailures& failures);
    void setUserAllowsAuthorization(bool allows);

    // The newest session that has not ended yet, if any.
    std::shared_ptr<WorkoutSession> currentSession() const;

    // The phone's mirrored data arrived over the link: the current session's delegate gets it
    // as remote data.
    void receiveRemoteWorkoutData(const Data& data);
    // Platform trouble with the current session, reported to its delegate.
    void reportSessionFailure(const HealthError& error);
    void reportRemoteDisconnect(std::optional<HealthError> error);

    Queue& queue();

private:
    std::shared_ptr<health_detail::Core> core_;
};

} // namespace platform
