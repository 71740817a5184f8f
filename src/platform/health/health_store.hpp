#pragma once

#include "platform/health/health_types.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <variant>
#include <vector>

// The health framework as the watch program uses it. Every completion and delegate callback
// arrives later on the store's own serial queue, never inside the call that caused it.
namespace platform {

class WorkoutSession;
class LiveWorkoutBuilder;

// Nothing on success, the reason otherwise.
using HealthCompletion = std::function<void(std::optional<HealthError> error)>;
// Success flag plus, on failure, an error when the platform gives one.
using HealthResultCompletion = std::function<void(bool success, std::optional<HealthError> error)>;
using FinishWorkoutCompletion = std::function<void(std::variant<SavedWorkout, HealthError>)>;

class WorkoutSessionDelegate {
public:
    virtual ~WorkoutSessionDelegate() = default;

    virtual void didChangeToState(WorkoutSession& session, WorkoutSessionState to,
                                  WorkoutSessionState from, Date date) = 0;
    virtual void didFail(WorkoutSession& session, const HealthError& error) = 0;
    virtual void didDisconnectFromRemoteDevice(WorkoutSession& session,
                                               std::optional<HealthError> error) = 0;
    virtual void didReceiveDataFromRemoteWorkoutSession(WorkoutSession& session,
                                                        const std::vector<Data>& data) = 0;
};

class LiveWorkoutBuilderDelegate {
public:
    virtual ~LiveWorkoutBuilderDelegate() = default;

    virtual void didCollectDataOfTypes(LiveWorkoutBuilder& builder,
                                       const std::set<HealthType>& types) = 0;
    virtual void didCollectEvent(LiveWorkoutBuilder& /*builder*/) {}
};

// Feeds a builder with samples while its session runs.
class LiveWorkoutDataSource {
public:
    virtual ~LiveWorkoutDataSource() = default;

    virtual void enableCollectionForType(HealthType type) = 0;
    virtual void disableCollectionForType(HealthType type) = 0;
    virtual std::set<HealthType> typesToCollect() const = 0;
};

// Compared by identity, like sessions.
class LiveWorkoutBuilder : public std::enable_shared_from_this<LiveWorkoutBuilder> {
public:
    virtual ~LiveWorkoutBuilder() = default;

    // The delegate must stay valid until it is replaced; replacing it waits for a callback
    // under way.
    virtual void setDelegate(LiveWorkoutBuilderDelegate* delegate) = 0;
    virtual void setDataSource(std::shared_ptr<LiveWorkoutDataSource> dataSource) = 0;

    virtual void beginCollection(Date start, HealthResultCompletion completion) = 0;
    virtual void endCollection(Date end, HealthResultCompletion completion) = 0;
    // Saves the workout; collection must have ended.
    virtual void finishWorkout(FinishWorkoutCompletion completion) = 0;
    // Drops what was collected; nothing will be saved.
    virtual void discardWorkout() = 0;

    virtual void addMetadata(Dictionary metadata, HealthResultCompletion completion) = 0;
    virtual Dictionary metadata() const = 0;
    virtual std::optional<Statistics> statisticsForType(HealthType type) const = 0;
};

// Compared by identity: a session is one object for its whole life.
class WorkoutSession : public std::enable_shared_from_this<WorkoutSession> {
public:
    virtual ~WorkoutSession() = default;

    // As last reported to the delegate.
    virtual WorkoutSessionState state() const = 0;
    virtual WorkoutConfiguration configuration() const = 0;
    virtual std::shared_ptr<LiveWorkoutBuilder> associatedWorkoutBuilder() = 0;

    // The delegate must stay valid until it is replaced; replacing it waits for a callback
    // under way.
    virtual void setDelegate(WorkoutSessionDelegate* delegate) = 0;

    // Moves not allowed from the current state are ignored, as the platform does.
    virtual void prepare() = 0;
    virtual void startActivity(Date date) = 0;
    virtual void stopActivity(Date date) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void end() = 0;

    virtual void startMirroringToCompanionDevice(HealthResultCompletion completion) = 0;
    virtual void sendToRemoteWorkoutSession(Data data, HealthResultCompletion completion) = 0;
};

enum class AuthorizationStatus { notDetermined, sharingDenied, sharingAuthorized };

class HealthStore {
public:
    virtual ~HealthStore() = default;

    // False on devices that keep no health data at all.
    virtual bool isHealthDataAvailable() const { return true; }

    // Succeeds once the user has answered, whatever the answer; authorizationStatus tells it.
    virtual void requestAuthorization(std::set<HealthType> typesToShare,
                                      std::set<HealthType> typesToRead,
                                      HealthResultCompletion completion) = 0;
    virtual AuthorizationStatus authorizationStatus(HealthType type) const = 0;

    virtual std::variant<std::shared_ptr<WorkoutSession>, HealthError>
    makeWorkoutSession(const WorkoutConfiguration& configuration) = 0;
    virtual std::shared_ptr<LiveWorkoutDataSource>
    makeLiveDataSource(const WorkoutConfiguration& configuration) = 0;

    // Oldest first.
    virtual std::vector<SavedWorkout> savedWorkouts() const = 0;
};

} // namespace platform
