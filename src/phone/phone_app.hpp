#pragma once

#include "phone/command_sender.hpp"
#include "phone/logbook.hpp"
#include "phone/plan_progress.hpp"
#include "phone/reference_catalogue.hpp"
#include "phone/training_plan.hpp"
#include "phone/watch_events.hpp"
#include "phone/workout_feed.hpp"
#include "platform/exec/queue.hpp"
#include "platform/link/session.hpp"
#include "platform/log/log.hpp"
#include "platform/values/value.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace phone {

// What the phone end of the link can be told beyond the platform session's own interface: the
// phone application's reachability, and a simulated fault of the phone's platform.
class PhoneLinkControls {
public:
    virtual ~PhoneLinkControls() = default;
    // Whether the phone application takes live messages now; the watch is told.
    virtual void setReachable(bool reachable) = 0;
    // While an error is set, the phone's platform answers each user-info transfer from the watch
    // with `received` and that error instead of delivering it. False when the link cannot.
    virtual bool setTransferFailure(std::optional<std::string> error) = 0;
};

struct PhoneAppServices {
    platform::Executor& executor;
    // The phone end of the link; it must outlive the app.
    platform::Session& session;
    platform::Log& log;
    // Holds the logbook; created when missing.
    std::filesystem::path dataDirectory;
    // Nothing when the link offers no such controls: the commands that need them then fail.
    PhoneLinkControls* controls = nullptr;
};

// The phone application's side of the watch link, as phone-sim plays it: it keeps the training
// plan and the logbook, acknowledges every outbox message of the watch, answers refresh
// requests with a snapshot of the current workout, and does what its commands say. Every call
// and query belongs to the executor's main queue; the session's callbacks hop there.
class PhoneApp {
public:
    static constexpr std::string_view logbookFileName = "logbook.sqlite";
    static constexpr std::string_view transferFailureText = "phone-sim refused the transfer";
    // The logbook's counter of the exercise catalogue's revisions.
    static constexpr std::string_view catalogueCounter = "referenceExercisesRevision";
    static constexpr platform::Duration confirmationTimeout = std::chrono::seconds(5);
    // Larger snapshots cannot travel as messages.
    static constexpr std::size_t largestMessage = 65'536;

    // Opens the logbook in the data directory: nothing (with the reason in *error) when it
    // cannot.
    static std::unique_ptr<PhoneApp> open(PhoneAppServices services, TrainingPlan plan,
                                          std::string* error = nullptr);
    // The logbook must be there; the data directory is not used.
    PhoneApp(PhoneAppServices services, TrainingPlan plan, std::unique_ptr<Logbook> logbook);
    // Leaves the session without a delegate. A callback already under way on the session's
    // queue may still reach the delegate: an owner whose session runs on other threads keeps
    // sessionDelegate() until the session is gone. Once the app is gone the delegate does
    // nothing.
    ~PhoneApp();
    PhoneApp(const PhoneApp&) = delete;
    PhoneApp& operator=(const PhoneApp&) = delete;

    // Becomes the session's delegate and activates it.
    void start();
    std::shared_ptr<platform::SessionDelegate> sessionDelegate() const;

    // The commands. Each logs one line saying what it did or why it could not.
    void sendMessage(const platform::Dictionary& message);
    // The reply, or the failure, is logged when it comes.
    void sendRequest(const platform::Dictionary& message);
    void transferUserInfo(const platform::Dictionary& userInfo);
    void updateApplicationContext(const platform::Dictionary& context);
    void transferFile(const platform::Data& contents, const platform::Dictionary& metadata);
    void startWorkout(const platform::Dictionary& configuration);
    // The status that the following outbox messages are acknowledged with; nothing leaves them
    // unanswered.
    void setAckStatus(std::optional<std::string> status);
    // False when the link has no such control.
    bool setFailTransfers(bool on);
    bool setReachable(bool reachable);
    // False when the plan has no such workout.
    bool selectWorkout(std::size_t index);
    // False when the revision cannot be stored (nothing is sent then). A snapshot too large
    // for a message goes as a file. The answer to a refresh request also carries the plates and
    // the available workouts.
    bool sendSnapshot(bool withCatalogues = false);
    bool sendSnapshotFile();
    // Edits of the current workout; each sends the watch a delta (a snapshot when the watch has
    // confirmed nothing yet). False, sending nothing, when the edit does not fit the workout.
    bool updateExercise(const std::string& id, const platform::Dictionary& fields);
    bool addExercise(const platform::Dictionary& exercise);
    bool removeExercise(const std::string& id);
    bool reorderExercises(const std::vector<std::string>& order);
    bool setWorkoutStatus(const std::string& status);
    // Corrections of the running rest timer, as the phone's own timer screen makes them; they go
    // as commands. False when the phone knows no running timer.
    bool correctTimer(double seconds);
    bool stopTimer();
    // Commands to the watch's health session, for the named workout or else the current one,
    // stamped with the time now. False when no command could be made.
    bool sendSessionCommand(SessionAction action,
                            const std::optional<std::string>& workoutId = std::nullopt,
                            bool saveToHealth = true);
    // Whether the watch saves its workouts to the health store.
    bool sendHealthPreference(bool saveToHealth);
    // The link's tricks with commands, for tests (see CommandSender).
    void holdCommands(bool on);
    bool releaseCommands(const std::vector<std::size_t>& positions = {});
    bool resendCommand(const std::optional<std::string>& id = std::nullopt);
    void ageNextSequence(double sequence);
    void ageNextRevision(double revision);
    // The exercise catalogue: whole (by message or in the application context), as a file, or
    // one change as a delta; each with a new catalogue revision, unless aged.
    bool sendReferenceCatalogue(bool inContext = false);
    bool sendReferenceCatalogueFile();
    bool updateReferenceExercise(const platform::Dictionary& entry);
    bool removeReferenceExercise(const std::string& id);
    bool reorderReferenceExercises(const std::vector<std::string>& order);
    // The plate inventory and the available workouts: whole, or one change as a delta.
    bool sendCatalogues();
    bool updatePlate(const platform::Dictionary& plate);
    bool removePlate(const std::string& id);
    // The plan's workout with that id is done: it leaves the available workouts, as a delta.
    bool retireWorkout(const std::string& id);
    void printLogbook();
    void printStatus();

    // The messages recorded so far, oldest first.
    std::vector<LogbookEntry> logbookEntries() const;
    // The newest revision sent, in this run or an earlier one; 0 before the first.
    std::int64_t revision() const;
    std::size_t currentWorkout() const { return currentWorkout_; }
    const TrainingPlan& plan() const { return plan_; }
    const WorkoutFeed& feed() const { return feed_; }
    const PhoneTimer& timer() const { return timer_; }
    const CommandSender& commands() const { return commands_; }
    const ReferenceCatalogue& referenceCatalogue() const { return catalogue_; }
    // The newest catalogue revision sent, in this run or an earlier one; 0 before the first.
    std::int64_t catalogueRevision() const;
    // The workouts the watch completed, oldest first.
    std::vector<FinishedWorkout> finishedWorkouts() const;
    const std::optional<std::string>& ackStatus() const { return ackStatus_; }
    bool reachable() const { return reachable_; }
    const std::filesystem::path& logbookFile() const;
    // The watch's health session as its mirrored data last told; 0 before any.
    double lastHeartRate() const { return lastHeartRate_; }
    double totalEnergyBurned() const { return totalEnergyBurned_; }
    // Messages of this type received in this run: repeats of a sync id do not count.
    std::size_t arrivals(std::string_view type) const;
    // Called after each counted arrival with its type.
    void setArrivalListener(std::function<void(const std::string& type)> listener);
    // Called on main after anything that may have changed the current workout, its sets or the
    // plan's progress (more often than needed: a listener compares what it cares about).
    void setWorkoutListener(std::function<void()> listener);
    // A line that `status` prints after its own, from a part of the program beside the app.
    void setStatusLine(std::function<std::string()> line);

    // The phone's user completes a set now, outside the watch (the lock screen's "Complete
    // Set"): the set is done at now, the rest for its rest seconds starts, and both go to the
    // watch as a delta carrying the timer. The completion is recorded in the logbook under
    // `syncId` before it takes effect, so that one sync id completes one set once, across
    // restarts too; replaying the logbook applies it again like a watch event.
    struct PhoneCompletion {
        enum class Outcome {
            completed,
            // The sync id is in the logbook already: nothing done.
            alreadyTaken,
            // No such set in the current workout, or it is done: the sync id is recorded as
            // taken, nothing completed.
            nothingToComplete,
            // The logbook could not record it: nothing done, the same id may be tried again.
            notRecorded,
        };
        Outcome outcome = Outcome::nothingToComplete;
        std::string exerciseName;
        // The set's position in its exercise, counted from 1.
        std::size_t setPosition = 0;
    };
    PhoneCompletion completeSetNow(const std::string& syncId, const std::string& setId);
    // Whether the logbook holds this sync id.
    bool recorded(std::string_view syncId) const;
    // What reached the app of one outbox message in this run: every copy the link handed over,
    // repeats included, and how they were answered. A message is delivered once a copy of it was
    // answered "Success"; any other answer, or none, asks the watch to keep it.
    struct Answered {
        std::size_t copies = 0;
        std::size_t refused = 0;
        bool delivered = false;
    };
    const std::map<std::string, Answered, std::less<>>& answered() const { return answered_; }

private:
    class Delegate;

    void handleIncoming(const platform::Dictionary& message, std::string_view channel);
    void showWorkoutData(const platform::Data& data);
    void acknowledge(const std::string& syncId, const std::optional<std::string>& status);
    // Sends a state of the workout and follows its answer: a confirmation makes it the base of
    // later deltas; silence for `confirmationTimeout` sends the whole state again as a transfer,
    // which cannot be lost.
    void deliverWorkoutState(const platform::Dictionary& message, double revision,
                             std::string what);
    // With `withTimer`, the delta (or snapshot) also carries the phone's rest timer.
    bool sendDelta(std::string_view edit, bool withTimer = false);
    void workoutMayHaveChanged();
    std::optional<double> nextRevision(std::string_view purpose);
    // What a full state sends beside the workout: the timer when the phone knows one, and, when
    // asked, the plate inventory and the available workouts at `revision`.
    platform::Dictionary withPhoneState(platform::Dictionary snapshot, double revision,
                                        bool catalogues) const;
    platform::Array availableWorkouts() const;
    void sendTimerCorrection(const PhoneTimer& before, std::string what);
    // Takes on a lifecycle event the phone accepts: the plan moves, the watch hears the result.
    // Nothing when that worked; the answer to give instead of the ack status otherwise.
    std::optional<std::string> answerLifecycle(const LifecycleEvent& event,
                                               const std::string& syncId);
    // The event's effect on the plan and, when the workout ends, on the rest timer.
    std::optional<LifecycleOutcome> applyLifecycle(const LifecycleEvent& event);
    void deliverCommand(const PhoneCommand& command);
    std::optional<double> nextCatalogueRevision();
    void deliverCatalogue(platform::Dictionary message, const std::string& what);
    double nowMs() const;
    std::optional<std::int64_t> takeCommandNumber();
    // Rebuilds the workout and the timer from the events already in the logbook.
    void replayLogbook();
    // Live message when both ends can take one, user-info transfer otherwise; says which.
    std::string_view deliver(const platform::Dictionary& message, std::string what);
    void say(std::string_view text);
    // For the session's handlers, which may run on any thread and after the app is gone: posts
    // a task to main that runs only while the app is still there.
    std::function<void(std::function<void(PhoneApp&)>)> onMain();
    // For a live message: when it fails, the same message goes again as a transfer, which
    // cannot be lost.
    platform::ErrorHandler transferOnFailure(platform::Dictionary message, std::string what);

    platform::Executor& executor_;
    platform::Session& session_;
    platform::Log& log_;
    PhoneLinkControls* controls_;
    TrainingPlan plan_;
    std::unique_ptr<Logbook> logbook_;
    std::shared_ptr<Delegate> delegate_;
    std::size_t currentWorkout_ = 0;
    WorkoutFeed feed_;
    PhoneTimer timer_;
    // Workouts taken out of the offer by hand (workout-done).
    std::set<std::string> withdrawn_;
    CommandSender commands_;
    ReferenceCatalogue catalogue_;
    std::optional<std::string> ackStatus_ = "Success";
    bool reachable_ = true;
    bool failTransfers_ = false;
    double lastHeartRate_ = 0;
    double totalEnergyBurned_ = 0;
    std::uint64_t nextRequest_ = 1;
    std::map<std::string, std::size_t, std::less<>> arrivals_;
    std::map<std::string, Answered, std::less<>> answered_;
    std::function<void(const std::string&)> arrivalListener_;
    std::function<void()> workoutListener_;
    std::function<std::string()> statusLine_;
    // Tasks posted to main hold it weakly, so that they do nothing once the app is gone.
    std::shared_ptr<PhoneApp*> self_;
};

} // namespace phone
