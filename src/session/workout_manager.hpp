#pragma once

#include "platform/exec/queue.hpp"
#include "platform/health/health_store.hpp"
#include "platform/log/log.hpp"
#include "platform/observe/observable.hpp"
#include "platform/store/key_value_store.hpp"
#include "session/latest_value_mailbox.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace session {

inline constexpr std::string_view syncWorkoutsToHealthKey = "tessaron.sync-workouts-to-health";
// The phone's marker for "no real workout".
inline constexpr std::string_view placeholderWorkoutIdentifier = "NOT_STARTED_AND_NULL";
// How much earlier than our claim a request may be dated and still count: the phone's and the
// watch's clocks and queues disagree by a little.
inline constexpr double ownershipAllowanceSeconds = 5.0;

struct PendingWorkoutTermination {
    std::string workoutIdentifier;
    platform::Date date;
    bool saveToHealth = false;

    bool operator==(const PendingWorkoutTermination&) const = default;
};

struct SessionSateChange {
    // Identity of the reporting session; a weak reference cannot be mistaken for a later
    // session that happens to reuse the address.
    std::weak_ptr<platform::WorkoutSession> sessionIdentifier;
    platform::WorkoutSessionState newState = platform::WorkoutSessionState::notStarted;
    platform::Date date;
};

// Runs the health workout session that records the workout on the watch: starts it with its
// live builder, mirrors it to the phone and forwards the collected statistics, and ends it by
// discarding the recording or saving it tagged with the phone's workout identifier. Requests
// from the phone and the watch name a workout identifier and a date and are refused when this
// watch claimed that workout later (see ownsWorkout).
//
// Used on the main queue only; the health platform's callbacks may arrive on any thread and hop
// to it. The services must outlive the manager.
class WorkoutManager final : public platform::WorkoutSessionDelegate,
                             public platform::LiveWorkoutBuilderDelegate {
public:
    using StartCompletion = std::function<void(std::optional<platform::HealthError> error)>;

    WorkoutManager(platform::Executor& executor, platform::KeyValueStore& defaults,
                   platform::HealthStore& healthStore, platform::Log& log);
    ~WorkoutManager() override;
    WorkoutManager(const WorkoutManager&) = delete;
    WorkoutManager& operator=(const WorkoutManager&) = delete;

    // Last state reported for the current session.
    platform::Observable<platform::WorkoutSessionState> sessionState{
        platform::WorkoutSessionState::notStarted};
    // Kilocalories of the session so far.
    platform::Observable<double> totalEnergyBurned{0};
    // Beats per minute.
    platform::Observable<double> lastHeartRate{0};
    // The saved workout, from the save until the next reset.
    platform::Observable<std::optional<platform::SavedWorkout>> workout;
    // Whether a finished session is saved when no termination request decided it.
    platform::Observable<bool> syncWorkoutsToHealth{true};

    platform::HealthStore& healthStore() { return healthStore_; }
    const std::set<platform::HealthType>& typesToShare() const { return typesToShare_; }
    const std::set<platform::HealthType>& typesToRead() const { return typesToRead_; }
    const std::shared_ptr<platform::WorkoutSession>& workoutSession() const {
        return workoutSession_;
    }
    const std::shared_ptr<platform::LiveWorkoutBuilder>& workoutBuilder() const {
        return workoutBuilder_;
    }
    const std::optional<std::string>& workoutIdentifier() const { return workoutIdentifier_; }
    const std::optional<platform::Date>& workoutOwnershipStartedAt() const {
        return workoutOwnershipStartedAt_;
    }
    const std::optional<bool>& terminalSaveToHealth() const { return terminalSaveToHealth_; }
    const std::optional<PendingWorkoutTermination>& pendingWorkoutTermination() const {
        return pendingWorkoutTermination_;
    }

    // Sets the preference and stores it for the next launch.
    void setSyncWorkoutsToHealth(bool sync);

    // Completes once collection has begun, or at once when a session already exists; fails
    // with the platform's error.
    void startWorkout(const platform::WorkoutConfiguration& configuration,
                      std::optional<std::string> identifier, StartCompletion completion);
    void associateWorkoutIdentifier(const std::string& identifier,
                                    std::optional<platform::Date> date);
    // Callable from any thread; the claim itself happens on the main queue.
    void claimWorkout(const std::string& identifier, std::optional<platform::Date> date);

    // True when this watch holds the identifier and the request is not dated more than
    // ownershipAllowanceSeconds before the claim.
    bool ownsWorkout(const std::string& identifier, platform::Date date) const;
    // True when taken (applied, deferred or already moot), false when refused.
    bool terminateWorkout(const std::string& identifier, platform::Date date, bool saveToHealth);
    void pauseSession(const std::string& identifier, platform::Date date);
    void resumeSession(const std::string& identifier, platform::Date date);

    void updateForStatistics(const platform::Statistics& statistics);

    // WorkoutSessionDelegate, LiveWorkoutBuilderDelegate: called by the platform on any thread.
    void didChangeToState(platform::WorkoutSession& session, platform::WorkoutSessionState to,
                          platform::WorkoutSessionState from, platform::Date date) override;
    void didFail(platform::WorkoutSession& session, const platform::HealthError& error) override;
    void didDisconnectFromRemoteDevice(platform::WorkoutSession& session,
                                       std::optional<platform::HealthError> error) override;
    void didReceiveDataFromRemoteWorkoutSession(platform::WorkoutSession& session,
                                                const std::vector<platform::Data>& data) override;
    void didCollectDataOfTypes(platform::LiveWorkoutBuilder& builder,
                               const std::set<platform::HealthType>& types) override;

private:
    using Done = std::function<void()>;

    // `session` null: whatever is current.
    void resetWorkout(bool clearIdentity, const std::shared_ptr<platform::WorkoutSession>& session);
    void setWorkoutBuilder(std::shared_ptr<platform::LiveWorkoutBuilder> builder);
    void sendDataToRemote(platform::Data bytes);

    void wakeConsumer();
    void takeNextChange();
    void handleSessionStateChange(const SessionSateChange& change, Done done);
    void saveOrDiscard(const std::shared_ptr<platform::WorkoutSession>& session,
                       platform::Date date, Done done);
    void finishSaving(const std::shared_ptr<platform::WorkoutSession>& session,
                      const std::shared_ptr<platform::LiveWorkoutBuilder>& builder,
                      platform::Date date, Done done);
    void failSaving(const std::shared_ptr<platform::WorkoutSession>& session,
                    const std::optional<platform::HealthError>& error, const Done& done);

    // Wraps `function` so that it runs on the main queue, and not at all once this is gone.
    template <class F> auto onMain(F function);

    platform::Executor& executor_;
    platform::KeyValueStore& defaults_;
    platform::HealthStore& healthStore_;
    platform::Log& log_;

    std::shared_ptr<platform::WorkoutSession> workoutSession_;
    const std::set<platform::HealthType> typesToShare_{platform::HealthType::workout};
    const std::set<platform::HealthType> typesToRead_{
        platform::HealthType::heartRate, platform::HealthType::activeEnergyBurned,
        platform::HealthType::workout, platform::HealthType::activitySummary};
    std::shared_ptr<platform::LiveWorkoutBuilder> workoutBuilder_;
    std::optional<std::string> workoutIdentifier_;
    std::optional<platform::Date> workoutOwnershipStartedAt_;
    std::optional<bool> terminalSaveToHealth_;
    std::optional<PendingWorkoutTermination> pendingWorkoutTermination_;
    LatestValueMailbox<SessionSateChange> stateChanges_;
    bool consumerBusy_ = false;

    // Everything this manager became the delegate of, to let go of them when it goes.
    std::vector<std::weak_ptr<platform::WorkoutSession>> delegatedSessions_;
    std::vector<std::weak_ptr<platform::LiveWorkoutBuilder>> delegatedBuilders_;
    // Tasks queued to main hold a weak reference and do nothing once it has expired.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace session
