#pragma once

#include "model/exercise.hpp"
#include "model/plate.hpp"
#include "platform/exec/queue.hpp"
#include "platform/log/log.hpp"
#include "platform/observe/observable.hpp"
#include "platform/store/key_value_store.hpp"
#include "platform/values/value.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/persisted_timer_session.hpp"
#include "timer/timer_alerts.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace timer {

// The watch's one rest timer: when it started, how long it runs, which run the phone knows it
// as, what the screen shows beside it, and the event that still has to reach the phone. Its
// state is stored after every change so that a timer survives the app being killed; what was
// stored is read back at launch but only applied once the sync hub knows the current workout.
//
// Everything here runs on the main queue. Fields are public so that the operations that start
// and stop runs can change them; they do so inside a TimerSessionChange (or mutate), which
// stores the result once.
class RestTimerManager {
public:
    static constexpr std::string_view timerSessionStorageKey = "tessaron.rest-timer-session.v1";
    static constexpr std::string_view availableWeightPlatesKey = "availableWeightPlates";
    static constexpr std::string_view defaultTitleMessage = "Rest";

    // Starts with the initial values, then loads the plate inventory and reads (without
    // applying) the stored timer session.
    RestTimerManager(platform::Executor& executor, platform::KeyValueStore& defaults,
                     watchsync::WatchSyncOutbox& outbox, platform::Log& log);
    RestTimerManager(const RestTimerManager&) = delete;
    RestTimerManager& operator=(const RestTimerManager&) = delete;

    // Groups several field changes into one stored record: while any change is open nothing is
    // saved, and closing the outermost one saves once. Nested changes are fine.
    class [[nodiscard]] TimerSessionChange {
    public:
        explicit TimerSessionChange(RestTimerManager& manager);
        ~TimerSessionChange();
        TimerSessionChange(const TimerSessionChange&) = delete;
        TimerSessionChange& operator=(const TimerSessionChange&) = delete;

    private:
        RestTimerManager& manager_;
    };

    TimerSessionChange beginChange() { return TimerSessionChange(*this); }

    template <class F> void mutate(F&& change) {
        TimerSessionChange group(*this);
        std::forward<F>(change)();
    }

    // Observed by the screens.
    platform::Observable<platform::Date> startTime;
    platform::Observable<double> timerSeconds{0.0};
    platform::Observable<bool> timerIsRunning{false};
    platform::Observable<std::string> nextSetExercise;
    platform::Observable<std::string> nextSetLoad;
    platform::Observable<std::vector<model::Plate>> nextSetPlates;
    platform::Observable<std::vector<model::Plate>> availableWeightPlates;
    platform::Observable<std::string> titleMessage{std::string(defaultTitleMessage)};
    platform::Observable<std::optional<std::vector<model::ExerciseSetRef>>> nextSet;
    platform::Observable<bool> isExerciseCountdown{false};

    // The duration set whose countdown is running.
    std::optional<std::string> durationSetId;
    // The current run as the phone knows it; the phone raises the revision when it corrects it.
    std::optional<std::string> timerId;
    std::int64_t timerRevision = 0;
    std::optional<platform::Date> latestTimerStartTime;
    // Rest that starts when a duration set's countdown ends.
    double postCountdownRestSeconds = 0;
    // Set only while the sync hub reports that workout as in progress.
    std::optional<std::string> workoutId;
    // Not yet accepted by the outbox.
    std::optional<PersistedWatchTimerEvent> pendingTimerEvent;
    // Read at launch; kept until the first applyRestoredSession applies or drops it.
    std::optional<PersistedRestTimerSession> restoredTimerSession;

    bool isMutatingTimerSession() const { return openChanges_ > 0; }

    // Reads the stored record into restoredTimerSession when it decodes; undecodable bytes are
    // left in place for the next save to overwrite.
    void loadPersistedSession();

    // Stores the live state, or removes the record when the timer is stopped and no event is
    // pending. Does nothing inside a grouped change or while a restored session waits.
    void persistTimerSession();

    // Called by the sync hub after each phone payload. True when the caller may go on to apply
    // the phone's timer data; false while a restored session is kept back because the phone has
    // not yet been told that its workout started.
    bool applyRestoredSession(const std::string& currentWorkoutId, std::string_view workoutStatus,
                              bool hasAppliedWorkoutSnapshot);

    // Forgets the timer run and its pending event.
    void clearTimerSession();

    // Empties the next-set preview and the per-run context.
    void resetTimerContext();

    // Hands the pending event to the outbox; it stays pending (and stored) when that fails.
    void flushPendingTimerEvent();

    // The pending-event record for an outbound message under a fresh sync id; nothing when the
    // message cannot be carried as a property list.
    std::optional<PersistedWatchTimerEvent> makePersistedEvent(const platform::Dictionary& message);

    // Replaces the inventory from the store (and writes it back in its current form); a missing
    // or unreadable record leaves it empty and writes nothing.
    void loadAvailableWeightPlates();
    void saveAvailableWeightPlates();

    // The next-set preview. A null set means the exercise's first open set; a complete set, or
    // none open, clears the preview.
    void updateNextSet(const model::Exercise& exercise, const model::ExerciseSet* set);
    // Plates only for plate-loaded equipment; other equipment keeps the plates shown.
    void updateNextSetPlates(const model::Exercise& exercise, const model::ExerciseSet* set);
    // After the phone's timer data name an exercise: the next open set not among
    // completedSetIds (through its superset), else the following exercise; else clears.
    void chooseNextSet(const model::ExerciseRef& exercise,
                       const std::vector<std::string>& completedSetIds,
                       const std::vector<model::ExerciseRef>& exercises);

    // The live state as it would be stored.
    PersistedRestTimerSession sessionRecord() const;

    platform::Date timerEndTime() const;
    // Whether a running timer's end time has come.
    bool isExpired(platform::Date at) const;
    platform::Date now() const;

    // Timer runs and the events they send to the phone.

    // The sync hub's current workout, which the phone's timer data are applied against.
    struct CurrentWorkout {
        std::string_view status;
        const std::vector<model::ExerciseRef>& exercises;
    };

    // The set a countdown completed and when it ended.
    struct CompletedSet {
        std::string setId;
        platform::Date date;
    };

    // Where the end of a run is announced; null (the default) means nowhere.
    void setAlerts(TimerAlerts* alerts) { alerts_ = alerts; }

    // Starts a rest run and queues its event; true when time is left at now.
    bool startTimer(platform::Date start, std::string newTimerId,
                    const platform::Dictionary& message, double seconds);
    // Starts the countdown of a timed set and queues its "update_set".
    void startExerciseCountdown(const model::ExerciseSet& set, const model::Exercise& exercise);
    // Ends the running run: a countdown completes its set and turns into the rest after it; a
    // rest stops with "cancel_timer". Nothing for a stopped timer.
    std::optional<CompletedSet> finishTimer(platform::Date referenceDate);
    // Stops the timer and queues the stop event; the run's reference stays.
    void recordStopEvent(const platform::Dictionary& message);
    // Stops the timer and forgets the run, without any event.
    void resetTimer();
    // The rest timer sheet closed by hand: the run stops showing, keeps its reference for the
    // phone's corrections, and its end-of-run alert is withdrawn.
    void dismissRun();
    // Whether a timer reference names the current run.
    bool timerMatches(const std::optional<std::string>& sourceTimerId,
                      std::optional<double> sourceTimerRevision,
                      std::optional<double> sourceTimerStartTimeMs, double toleranceMs) const;
    // The phone's "restTimerData" (with the message that carried it); stale data are ignored.
    void applyPhoneTimerState(const platform::Dictionary& restTimerData,
                              const platform::Dictionary& message, bool running,
                              const CurrentWorkout& workout);

    // The "complete_set" for a set the user completes, reading the countdown it may end.
    platform::Dictionary completeSetMessage(const model::ExerciseSet& set,
                                            const model::Exercise& exercise, platform::Date at,
                                            const std::string& newTimerId) const;
    // What the exercise screen does when the user completes a set: the rest starts with the
    // event, then the set is completed locally. True when the rest runs.
    bool completeSetAndStartRest(model::Exercise& exercise, const model::ExerciseSet& set);

private:
    struct CountdownStart {
        std::string setId;
        double restSeconds = 0;
        std::string title;
    };
    bool beginRun(platform::Date start, std::string newTimerId, const platform::Dictionary& message,
                  double seconds, std::optional<CountdownStart> countdown);
    void queueTimerEvent(const platform::Dictionary& message, bool hasPendingCopy);
    void scheduleAlert(double seconds, bool countdown);
    void cancelAlerts();

    void applySession(PersistedRestTimerSession session);

    platform::Executor& executor_;
    platform::KeyValueStore& defaults_;
    watchsync::WatchSyncOutbox& outbox_;
    // Not written to yet: saving and restoring fail silently by design; the operations that
    // start and stop runs report their failures here.
    [[maybe_unused]] platform::Log& log_;
    int openChanges_ = 0;
    TimerAlerts* alerts_ = nullptr;
};

} // namespace timer
