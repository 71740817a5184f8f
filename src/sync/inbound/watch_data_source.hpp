#pragma once

#include "model/exercise.hpp"
#include "model/finishing_workout_status.hpp"
#include "model/reference_exercise.hpp"
#include "model/status.hpp"
#include "model/workout.hpp"
#include "platform/exec/queue.hpp"
#include "platform/files/file_system.hpp"
#include "platform/link/session.hpp"
#include "platform/log/log.hpp"
#include "platform/observe/observable.hpp"
#include "platform/store/key_value_store.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace session {
class WorkoutManager;
}
namespace timer {
class RestTimerManager;
}

namespace watchsync {

class WatchSyncOutbox;

// The watch's hub of the phone link: the session's delegate, the owner of the current workout
// and the catalogues, and the one place where every dictionary from the phone is applied, on the
// main queue, once.
class WatchDataSource final : public platform::SessionDelegate {
public:
    using ReplyFunction = std::function<void(platform::Dictionary reply)>;

    static constexpr std::string_view lastPhoneCommandSequenceKey =
        "tessaron.watch-sync.last-phone-command-sequence.v1";
    // Ids of the phone commands already handled, oldest first.
    static constexpr std::string_view processedPhoneCommandsKey =
        "tessaron.watch-sync.processed-phone-commands.v1";
    static constexpr std::size_t maxProcessedPhoneCommands = 500;
    // Longer command ids are applied but not remembered.
    static constexpr std::size_t maxStoredCommandIdBytes = 256;

    struct Services {
        platform::Executor& executor;
        platform::KeyValueStore& defaults;
        // Reads transferred files, which exist only while their callback runs.
        platform::FileSystem& files;
        // Absent when the platform has no phone session: the hub then works without a phone.
        platform::Session* session;
        WatchSyncOutbox& outbox;
        platform::Log& log;
    };

    // The watch's other long-lived managers, which the phone's data drives. The program always
    // has them; tests of the phone data alone may leave them out.
    struct Managers {
        timer::RestTimerManager* restTimer = nullptr;
        session::WorkoutManager* workoutManager = nullptr;
        // Where the phone's mirrored health-session data goes.
        std::function<void(const platform::Data&)> remoteWorkoutData;
        // The phone asks the watch to start a workout session with this configuration.
        std::function<void(const platform::Dictionary&)> workoutConfiguration;
        // Withdraws every pending and delivered local notification, pending first.
        std::function<void()> removeAllNotifications;
    };

    explicit WatchDataSource(Services services);
    WatchDataSource(Services services, Managers managers);
    ~WatchDataSource() override;
    WatchDataSource(const WatchDataSource&) = delete;
    WatchDataSource& operator=(const WatchDataSource&) = delete;

    platform::Observable<std::vector<model::ExerciseRef>> exercises;
    platform::Observable<std::vector<model::Workout>> availableWorkouts;
    // The exercise catalogue the user adds exercises from.
    platform::Observable<std::vector<model::ReferenceExerciseRef>> referenceExercises;
    platform::Observable<std::string> name;
    platform::Observable<std::string> workoutStatus{std::string(model::status::notStartedDefault)};
    platform::Observable<std::string> workoutId;
    platform::Observable<bool> syncingFinishedWorkout{false};
    platform::Observable<model::FinishingWorkoutStatus> syncingFinishedWorkoutStatus{
        model::FinishingWorkoutStatus::notStarted};
    platform::Observable<std::string> syncWorkoutError;
    std::optional<std::string> finishingWorkoutSyncId;
    double lastPhoneCommandSequence = 0;
    std::optional<double> lastSnapshotRevision;
    std::optional<double> lastDeltaRevision;
    std::optional<double> lastAvailableWorkoutsRevision;
    std::optional<double> lastReferenceExercisesRevision;
    std::optional<double> lastWeightPlatesRevision;
    std::optional<double> persistedReferenceExercisesRevision;
    bool hasAppliedWorkoutSnapshot = false;

    // Handles one dictionary from the phone, whatever channel brought it. Callable from any
    // thread: off the main queue it hops there first. A reply function, when given, is called
    // exactly once.
    void dispatchInbound(platform::Dictionary message, std::optional<ReplyFunction> reply);

    // Session delegate: these arrive on the session's own queue.
    void activationDidComplete(platform::ActivationState state,
                               std::optional<platform::SessionError> error) override;
    void reachabilityDidChange(bool reachable) override;
    void didReceiveMessage(const platform::Dictionary& message,
                           std::optional<platform::ReplyHandler> reply) override;
    void didReceiveUserInfo(const platform::Dictionary& userInfo) override;
    void didReceiveApplicationContext(const platform::Dictionary& context) override;
    void didFinishUserInfoTransfer(const platform::UserInfoTransfer& transfer,
                                   std::optional<platform::SessionError> error) override;
    void didReceiveFile(const platform::ReceivedFile& file) override;
    void didReceiveWorkoutData(const platform::Data& data) override;
    void didReceiveStartWorkout(const platform::Dictionary& configuration) override;

    // Edits made on the watch. The records change first and stay changed; the event then waits
    // in the outbox for the phone.
    // Where the exercises' own edit operations send their events.
    model::EditEventSink editEvents();
    // Appends an exercise made from a catalogue entry (sequence: the exercise count when none),
    // sends "create_exercise", then adds its first set.
    model::ExerciseRef createExercise(const model::ReferenceExercise& reference,
                                      std::optional<std::int64_t> sequence);
    // Removes the exercise and sends "delete_exercise" in a later task on the main queue.
    void deleteExercise(std::string exerciseId);
    // A value typed on the keypad for one field of a set, as the text entered.
    void sendSetFieldEdit(const std::string& setId, const std::string& field,
                          const std::string& text);
    void sendSetDurationEdit(const std::string& setId, std::int64_t seconds);

    // The current workout's life on the watch. Each changes the local state first, then queues
    // its event. False, with nothing changed, while a health session or builder already exists.
    bool startAvailableWorkout(model::Workout workout);
    // Ends the health session it owns (saved as the preference says) and tracks the event's
    // acknowledgement in the finished-workout hand-off.
    void completeCurrentWorkout();
    // Ends the health session it owns without saving it.
    void cancelCurrentWorkout();
    // Empties the current workout, gives it the status and stops and forgets the rest timer.
    void resetLocalWorkout(const std::string& status);

private:
    void dispatchOnMain(const platform::Dictionary& message,
                        const std::optional<ReplyFunction>& reply);
    void applyPhoneState(const platform::Dictionary& message);

    // The steps of applying a phone payload, in the order they run.
    bool shouldRejectWorkoutPayload(const platform::Dictionary& message) const;
    void handlePhoneCommand(const platform::Dictionary& message, const std::string& commandId);
    bool isProcessedCommand(const std::string& commandId) const;
    void markCommandProcessed(const std::string& commandId);
    bool acceptRevision(const platform::Dictionary& message, double revision);
    bool timerCorrectionApplies(const platform::Dictionary& message) const;
    void updateFinishedWorkoutHandOff(const std::optional<std::string>& status);
    void applyHealthPreference(const platform::Dictionary& message);
    void applyWorkoutSessionCommands(const platform::Dictionary& message);
    void terminateSession(const std::string& commandWorkoutId, platform::Date date,
                          bool saveToHealth);
    void applyWorkoutHeader(const platform::Dictionary& message);
    void applyAvailableWorkouts(const platform::Dictionary& message);
    void applyExercises(const platform::Dictionary& message);
    void applyReferenceExercises(const platform::Dictionary& message);
    void applyWeightPlates(const platform::Dictionary& message);
    void applyRestTimerState(const platform::Dictionary& message);
    void refreshExerciseCountdown();
    void finishExpiredTimer();
    void applyFullSnapshotFile(const platform::ReceivedFile& file);
    void claimWorkout(const std::string& workoutId, std::optional<platform::Date> startDate);
    void giveRestTimerWorkoutId(std::optional<std::string> workoutId);
    std::optional<std::string> currentTimerId() const;
    void applyReferenceExercisesFile(const platform::ReceivedFile& file);
    void loadPersistedReferenceExercises();
    // Writes the catalogue file; the persisted revision moves only when the write succeeds.
    void persistReferenceExercises(std::span<const std::uint8_t> bytes, double revision);

    void requestFreshData();
    // Runs work on the main queue only while this object still exists.
    void onMain(std::function<void()> work);

    platform::Executor& executor_;
    platform::KeyValueStore& defaults_;
    platform::FileSystem& files_;
    platform::Session* session_;
    WatchSyncOutbox& outbox_;
    platform::Log& log_;
    timer::RestTimerManager* restTimer_;
    session::WorkoutManager* workoutManager_;
    std::function<void(const platform::Data&)> remoteWorkoutData_;
    std::function<void(const platform::Dictionary&)> workoutConfiguration_;
    std::function<void()> removeAllNotifications_;
    // Tasks posted to the main queue hold a weak reference: the hub may be gone when they run.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

} // namespace watchsync
