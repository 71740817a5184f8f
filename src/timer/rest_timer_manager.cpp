#include "timer/rest_timer_manager.hpp"

#include "platform/values/bplist.hpp"
#include "platform/values/uuid.hpp"
#include "timer/plate_inventory.hpp"

namespace timer {

namespace {

constexpr std::string_view inProgress = "IN_PROGRESS";

} // namespace

RestTimerManager::TimerSessionChange::TimerSessionChange(RestTimerManager& manager)
    : manager_(manager) {
    ++manager_.openChanges_;
}

RestTimerManager::TimerSessionChange::~TimerSessionChange() {
    --manager_.openChanges_;
    // Does nothing until the outermost change closes.
    manager_.persistTimerSession();
}

RestTimerManager::RestTimerManager(platform::Executor& executor, platform::KeyValueStore& defaults,
                                   watchsync::WatchSyncOutbox& outbox, platform::Log& log)
    : startTime(dateFromTimePoint(executor.clock().now())), executor_(executor),
      defaults_(defaults), outbox_(outbox), log_(log) {
    loadAvailableWeightPlates();
    loadPersistedSession();
}

void RestTimerManager::loadPersistedSession() {
    const auto stored = defaults_.dataForKey(timerSessionStorageKey);
    if (!stored) {
        return;
    }
    if (auto session = decodeTimerSession(*stored)) {
        restoredTimerSession = std::move(*session);
    }
}

PersistedRestTimerSession RestTimerManager::sessionRecord() const {
    return PersistedRestTimerSession{
        .workoutId = workoutId,
        .startTime = startTime.get(),
        .timerSeconds = timerSeconds.get(),
        .timerIsRunning = timerIsRunning.get(),
        .timerId = timerId,
        .timerRevision = timerRevision,
        .latestTimerStartTime = latestTimerStartTime,
        .isExerciseCountdown = isExerciseCountdown.get(),
        .durationSetId = durationSetId,
        .postCountdownRestSeconds = postCountdownRestSeconds,
        .titleMessage = titleMessage.get(),
        .pendingEvent = pendingTimerEvent,
    };
}

void RestTimerManager::persistTimerSession() {
    if (isMutatingTimerSession()) {
        return;
    }
    // The stored copy must stay exactly what was read until it is applied or dropped.
    if (restoredTimerSession) {
        return;
    }
    if (!timerIsRunning.get() && !pendingTimerEvent) {
        defaults_.removeObject(timerSessionStorageKey);
        return;
    }
    if (auto bytes = encodeTimerSession(sessionRecord())) {
        defaults_.setData(timerSessionStorageKey, *bytes);
    }
}

void RestTimerManager::applySession(PersistedRestTimerSession session) {
    mutate([&] {
        startTime = session.startTime;
        timerSeconds = session.timerSeconds;
        timerId = std::move(session.timerId);
        timerRevision = session.timerRevision;
        latestTimerStartTime = session.latestTimerStartTime;
        isExerciseCountdown = session.isExerciseCountdown;
        durationSetId = std::move(session.durationSetId);
        postCountdownRestSeconds = session.postCountdownRestSeconds;
        titleMessage = std::move(session.titleMessage);
        pendingTimerEvent = std::move(session.pendingEvent);
        // Last, so that a screen reacting to the running flag sees the rest of the run in place.
        timerIsRunning = session.timerIsRunning;
        restoredTimerSession.reset();
    });
}

bool RestTimerManager::applyRestoredSession(const std::string& currentWorkoutId,
                                            std::string_view workoutStatus,
                                            bool hasAppliedWorkoutSnapshot) {
    const bool workoutInProgress = workoutStatus == inProgress;
    workoutId = workoutInProgress ? std::optional(currentWorkoutId) : std::nullopt;
    if (!restoredTimerSession) {
        return true;
    }
    const auto& sessionWorkout = restoredTimerSession->workoutId;
    if (hasAppliedWorkoutSnapshot && workoutInProgress && sessionWorkout == currentWorkoutId) {
        // An end time already past is applied as running; the sync hub finishes it next.
        applySession(std::move(*restoredTimerSession));
        flushPendingTimerEvent();
        return true;
    }
    // The phone has not heard yet that this workout started, so its data say nothing about the
    // timer: wait for it.
    if (sessionWorkout && outbox_.hasPendingStartWorkout(*sessionWorkout)) {
        return false;
    }
    restoredTimerSession.reset();
    defaults_.removeObject(timerSessionStorageKey);
    // Whatever the live timer did while the stored session waited was never saved; save it now
    // rather than leave nothing stored for a running timer or a pending event.
    persistTimerSession();
    return true;
}

void RestTimerManager::clearTimerSession() {
    mutate([&] {
        pendingTimerEvent.reset();
        restoredTimerSession.reset();
        timerId.reset();
        latestTimerStartTime.reset();
        timerRevision = 0;
        resetTimerContext();
    });
}

void RestTimerManager::resetTimerContext() {
    nextSetExercise = std::string();
    nextSetLoad = std::string();
    nextSetPlates = std::vector<model::Plate>();
    isExerciseCountdown = false;
    durationSetId.reset();
    postCountdownRestSeconds = 0;
    titleMessage = std::string(defaultTitleMessage);
}

void RestTimerManager::flushPendingTimerEvent() {
    if (!pendingTimerEvent) {
        return;
    }
    auto value = platform::decodeBinaryPlist(pendingTimerEvent->data);
    if (!value || value->dictionary() == nullptr) {
        return;
    }
    if (!outbox_.enqueue(*value->dictionary(), pendingTimerEvent->syncId)) {
        return;
    }
    pendingTimerEvent.reset();
    persistTimerSession();
}

std::optional<PersistedWatchTimerEvent>
RestTimerManager::makePersistedEvent(const platform::Dictionary& message) {
    auto bytes = platform::encodeBinaryPlist(platform::Value(message));
    if (!bytes) {
        return std::nullopt;
    }
    return PersistedWatchTimerEvent{platform::makeUuid(), std::move(*bytes)};
}

void RestTimerManager::loadAvailableWeightPlates() {
    const auto stored = defaults_.dataForKey(availableWeightPlatesKey);
    if (!stored) {
        return;
    }
    auto plates = decodePlateInventory(*stored);
    if (!plates) {
        return;
    }
    availableWeightPlates = std::move(*plates);
    saveAvailableWeightPlates();
}

void RestTimerManager::saveAvailableWeightPlates() {
    if (auto bytes = encodePlateInventory(availableWeightPlates.get())) {
        defaults_.setData(availableWeightPlatesKey, *bytes);
    }
}

platform::Date RestTimerManager::timerEndTime() const {
    return platform::Date{startTime->sinceReferenceDate + timerSeconds.get()};
}

bool RestTimerManager::isExpired(platform::Date at) const {
    return timerIsRunning.get() && at >= timerEndTime();
}

platform::Date RestTimerManager::now() const {
    return dateFromTimePoint(executor_.clock().now());
}

} // namespace timer
