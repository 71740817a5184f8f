// Starting, finishing and stopping timer runs, the events they send to the phone, and the
// phone's own timer state.
#include "model/conversions.hpp"
#include "model/status.hpp"
#include "platform/values/iso8601.hpp"
#include "platform/values/uuid.hpp"
#include "timer/rest_timer_manager.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace timer {

using platform::Date;
using platform::Dictionary;
using platform::Value;

namespace {

// How far apart two start times may be and still name the same run.
constexpr double sameStartToleranceMs = 10;
// Bounds for the phone's numbers: beyond them a start or a duration is not a real timer, and
// the arithmetic on them would lose all meaning.
constexpr double maxStartMillis = 8.64e15;
constexpr double maxTimerSeconds = 1e9;

Dictionary timerMessage(std::string_view type, Dictionary payload) {
    return Dictionary{{"type", Value(type)}, {"payload", Value(std::move(payload))}};
}

double secondsBetween(Date from, Date to) {
    return to.sinceReferenceDate - from.sinceReferenceDate;
}

// A revision of the phone's as an integer: absent or not finite is 0, out of range is clamped.
std::int64_t readRevision(const Value* value) {
    if (auto exact = model::asInteger(value)) {
        return *exact;
    }
    auto number = model::asNumber(value);
    if (!number || !std::isfinite(*number)) {
        return 0;
    }
    return *number > 0 ? std::numeric_limits<std::int64_t>::max()
                       : std::numeric_limits<std::int64_t>::min();
}

std::optional<double> readStartMillis(const Value* value) {
    auto number = model::asNumber(value);
    if (!number || !std::isfinite(*number) || std::abs(*number) > maxStartMillis) {
        return std::nullopt;
    }
    return number;
}

std::optional<double> readSeconds(const Value* value) {
    auto number = model::asNumber(value);
    if (!number || !std::isfinite(*number)) {
        return std::nullopt;
    }
    return std::clamp(*number, 0.0, maxTimerSeconds);
}

model::ExerciseRef findExercise(const std::vector<model::ExerciseRef>& exercises,
                                std::string_view id) {
    auto found =
        std::find_if(exercises.begin(), exercises.end(),
                     [&](const model::ExerciseRef& exercise) { return exercise->id == id; });
    return found != exercises.end() ? *found : nullptr;
}

std::vector<std::string> completedSetIds(const Dictionary& restTimerData) {
    if (auto ids = model::asStringList(model::lookup(restTimerData, "setCompletedIds"))) {
        return std::move(*ids);
    }
    if (const auto* id = model::asString(model::lookup(restTimerData, "setCompletedId"))) {
        return {*id};
    }
    return {};
}

} // namespace

bool RestTimerManager::startTimer(Date start, std::string newTimerId, const Dictionary& message,
                                  double seconds) {
    return beginRun(start, std::move(newTimerId), message, seconds, std::nullopt);
}

void RestTimerManager::startExerciseCountdown(const model::ExerciseSet& set,
                                              const model::Exercise& exercise) {
    const Date at = now();
    auto newTimerId = platform::makeUuid();
    const std::int64_t seconds = set.duration->value_or(0);
    auto message = timerMessage("update_set", Dictionary{
                                                  {"id", Value(set.id.get())},
                                                  {"status", Value(model::status::inProgress)},
                                                  {"isExerciseCountdown", Value(true)},
                                                  {"occurredAt", Value(at.unixMillis())},
                                                  {"timerSeconds", Value(seconds)},
                                                  {"timerId", Value(newTimerId)},
                                                  {"timerRevision", Value(std::int64_t{0})},
                                              });
    CountdownStart countdown{
        .setId = set.id.get(),
        .restSeconds = static_cast<double>(std::max<std::int64_t>(0, set.timerSeconds.value_or(0))),
        .title = exercise.name,
    };
    beginRun(at, std::move(newTimerId), message, static_cast<double>(seconds),
             std::move(countdown));
}

bool RestTimerManager::beginRun(Date start, std::string newTimerId, const Dictionary& message,
                                double seconds, std::optional<CountdownStart> countdown) {
    // An earlier event still waiting goes first: the phone hears them in order, and the slot it
    // occupies is not overwritten while it may still be delivered.
    flushPendingTimerEvent();
    auto event = makePersistedEvent(message);
    const bool hasPendingCopy = event.has_value();
    const double duration = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    const double elapsed = secondsBetween(start, now());
    const bool running = duration - elapsed > 0;
    const bool countdownRun = countdown.has_value();

    cancelAlerts();
    mutate([&] {
        timerIsRunning = false;
        resetTimerContext();
        startTime = start;
        timerSeconds = duration;
        timerId = std::move(newTimerId);
        timerRevision = 0;
        latestTimerStartTime = start;
        if (countdown) {
            isExerciseCountdown = true;
            durationSetId = std::move(countdown->setId);
            postCountdownRestSeconds = countdown->restSeconds;
            titleMessage = std::move(countdown->title);
        } else {
            titleMessage = std::string(defaultTitleMessage);
        }
        pendingTimerEvent = std::move(event);
        timerIsRunning = running;
    });
    queueTimerEvent(message, hasPendingCopy);
    if (running) {
        scheduleAlert(std::ceil(duration - elapsed), countdownRun);
    }
    return running;
}

void RestTimerManager::queueTimerEvent(const Dictionary& message, bool hasPendingCopy) {
    if (hasPendingCopy) {
        flushPendingTimerEvent();
    } else {
        // The outbox refuses it too, and says so in the log; the run goes on regardless.
        outbox_.enqueue(message);
    }
}

std::optional<RestTimerManager::CompletedSet> RestTimerManager::finishTimer(Date referenceDate) {
    if (!timerIsRunning.get()) {
        return std::nullopt;
    }
    const Date end = std::min(timerEndTime(), referenceDate);
    if (isExerciseCountdown.get() && durationSetId) {
        std::string setId = *durationSetId;
        auto restTimerId = platform::makeUuid();
        Dictionary payload{
            {"id", Value(setId)},
            {"status", Value(model::status::complete)},
            {"dateCompleted", Value(platform::formatInternetDateTime(end))},
            {"occurredAt", Value(end.unixMillis())},
            {"timerSeconds", Value(postCountdownRestSeconds)},
            {"timerId", Value(restTimerId)},
            {"timerRevision", Value(std::int64_t{0})},
            {"sourceTimerStartTime", Value(startTime->unixMillis())},
            {"isExerciseCountdownCompletion", Value(true)},
        };
        if (timerId) {
            payload.insert_or_assign("sourceTimerId", Value(*timerId));
            payload.insert_or_assign("sourceTimerRevision", Value(timerRevision));
        }
        // The rest after the set counts from when the countdown ended, so it may be over already.
        startTimer(end, std::move(restTimerId), timerMessage("complete_set", std::move(payload)),
                   postCountdownRestSeconds);
        return CompletedSet{std::move(setId), end};
    }
    Dictionary payload{
        {"startTime", Value(startTime->unixMillis())},
        {"occurredAt", Value(end.unixMillis())},
        {"timerSeconds", Value(timerSeconds.get())},
    };
    if (timerId) {
        payload.insert_or_assign("timerId", Value(*timerId));
        payload.insert_or_assign("timerRevision", Value(timerRevision));
    }
    cancelAlerts();
    recordStopEvent(timerMessage("cancel_timer", std::move(payload)));
    return std::nullopt;
}

void RestTimerManager::recordStopEvent(const Dictionary& message) {
    flushPendingTimerEvent();
    auto event = makePersistedEvent(message);
    const bool hasPendingCopy = event.has_value();
    mutate([&] {
        timerIsRunning = false;
        isExerciseCountdown = false;
        durationSetId.reset();
        pendingTimerEvent = std::move(event);
    });
    queueTimerEvent(message, hasPendingCopy);
}

void RestTimerManager::resetTimer() {
    mutate([&] {
        timerIsRunning = false;
        clearTimerSession();
    });
    cancelAlerts();
}

void RestTimerManager::dismissRun() {
    if (!timerIsRunning.get()) {
        return;
    }
    timerIsRunning = false;
    persistTimerSession();
    // The user has put the run away: its end must not call them back later.
    cancelAlerts();
}

bool RestTimerManager::timerMatches(const std::optional<std::string>& sourceTimerId,
                                    std::optional<double> sourceTimerRevision,
                                    std::optional<double> sourceTimerStartTimeMs,
                                    double toleranceMs) const {
    // Before the stored session is applied, the run the phone may be correcting is that one.
    const bool useRestored = !timerIsRunning.get() && !timerId && !latestTimerStartTime &&
                             restoredTimerSession.has_value();
    const auto& currentId = useRestored ? restoredTimerSession->timerId : timerId;
    const std::int64_t currentRevision =
        useRestored ? restoredTimerSession->timerRevision : timerRevision;
    const Date currentStart = useRestored ? restoredTimerSession->startTime : startTime.get();

    if (!sourceTimerId) {
        if (!sourceTimerStartTimeMs) {
            return true;
        }
        return std::abs(*sourceTimerStartTimeMs - currentStart.unixMillis()) <= toleranceMs;
    }
    if (!currentId || *currentId != *sourceTimerId) {
        return false;
    }
    if (sourceTimerRevision) {
        return *sourceTimerRevision == static_cast<double>(currentRevision);
    }
    return true;
}

void RestTimerManager::applyPhoneTimerState(const Dictionary& restTimerData,
                                            const Dictionary& message, bool running,
                                            const CurrentWorkout& workout) {
    if (workout.status != model::status::inProgress) {
        if (timerIsRunning.get()) {
            resetTimer();
        }
        cancelAlerts();
        return;
    }

    std::optional<std::string> incomingId;
    if (const auto* id = model::asString(model::lookup(restTimerData, "timerId"))) {
        incomingId = *id;
    }
    const std::int64_t incomingRevision =
        readRevision(model::lookup(restTimerData, "timerRevision"));
    const auto incomingStart = readStartMillis(model::lookup(restTimerData, "startTime"));
    const bool stale = incomingStart && latestTimerStartTime &&
                       *incomingStart < latestTimerStartTime->unixMillis() - sameStartToleranceMs;

    // A payload with a correction reference has already been matched to this run.
    const bool carriesCorrection =
        model::asString(model::lookup(message, "timerCorrectionForId")) != nullptr ||
        model::asNumber(model::lookup(message, "timerCorrectionForStartTime")).has_value();
    if (!carriesCorrection) {
        if (incomingId && timerId && *incomingId == *timerId) {
            if (incomingRevision < timerRevision) {
                return;
            }
        } else if (incomingId || timerId) {
            // Another run replaces this one only when it is known to be newer.
            if (!incomingStart || stale) {
                return;
            }
        } else if (stale) {
            return;
        }
    }
    // A stop without an id may only stop the run it names by its start.
    if (!running && !incomingId && timerIsRunning.get()) {
        if (!incomingStart ||
            std::abs(*incomingStart - startTime->unixMillis()) > sameStartToleranceMs) {
            return;
        }
    }

    mutate([&] {
        if (incomingStart) {
            const Date start = Date::fromUnixMillis(*incomingStart);
            startTime = start;
            if (!latestTimerStartTime || *latestTimerStartTime < start) {
                latestTimerStartTime = start;
            }
        }
        timerRevision = incomingId ? incomingRevision : 0;
        timerId = std::move(incomingId);
        if (!running) {
            timerIsRunning = false;
            resetTimerContext();
            return;
        }

        const auto previousSetId = durationSetId;
        const double previousRest = postCountdownRestSeconds;
        resetTimerContext();
        if (auto countdown =
                model::asBoolean(model::lookup(restTimerData, "isExerciseCountdown"))) {
            isExerciseCountdown = *countdown;
        }
        if (const auto* setId = model::asString(model::lookup(restTimerData, "durationSetId"))) {
            durationSetId = *setId;
            auto found = model::findSetInWorkout(workout.exercises, *setId);
            if (found.set && found.set->timerSeconds) {
                postCountdownRestSeconds = static_cast<double>(*found.set->timerSeconds);
            } else {
                postCountdownRestSeconds = previousSetId == *setId ? previousRest : 0.0;
            }
        }
        if (auto seconds = readSeconds(model::lookup(restTimerData, "timerSeconds"))) {
            timerSeconds = *seconds;
        }
        const auto* exerciseId = model::asString(model::lookup(restTimerData, "exerciseId"));
        if (auto exercise = exerciseId ? findExercise(workout.exercises, *exerciseId) : nullptr) {
            if (isExerciseCountdown.get()) {
                titleMessage = exercise->name;
            } else {
                chooseNextSet(exercise, completedSetIds(restTimerData), workout.exercises);
            }
        }
        timerIsRunning = true;
    });

    if (!running) {
        cancelAlerts();
        return;
    }
    const double remaining = timerSeconds.get() - secondsBetween(startTime.get(), now());
    if (remaining > 0) {
        scheduleAlert(std::ceil(remaining), isExerciseCountdown.get());
    }
}

Dictionary RestTimerManager::completeSetMessage(const model::ExerciseSet& set,
                                                const model::Exercise& exercise, Date at,
                                                const std::string& newTimerId) const {
    // Completing a timed set by hand while its countdown runs ends that countdown.
    const bool manualDurationCompletion =
        exercise.isDuration && set.status.get() == model::status::inProgress;
    Dictionary payload{
        {"id", Value(set.id.get())},
        {"status", Value(model::status::complete)},
        {"dateCompleted", Value(platform::formatInternetDateTime(at))},
        {"occurredAt", Value(at.unixMillis())},
        {"timerSeconds", Value(set.timerSeconds.value_or(0))},
        {"timerId", Value(newTimerId)},
        {"timerRevision", Value(std::int64_t{0})},
        {"isManualDurationCompletion", Value(manualDurationCompletion)},
    };
    if (manualDurationCompletion) {
        payload.insert_or_assign("sourceTimerStartTime", Value(startTime->unixMillis()));
        if (timerId) {
            payload.insert_or_assign("sourceTimerId", Value(*timerId));
        }
    }
    return timerMessage("complete_set", std::move(payload));
}

bool RestTimerManager::completeSetAndStartRest(model::Exercise& exercise,
                                               const model::ExerciseSet& set) {
    const Date at = now();
    auto newTimerId = platform::makeUuid();
    auto message = completeSetMessage(set, exercise, at, newTimerId);
    const std::string setId = set.id.get();
    const bool running = startTimer(at, std::move(newTimerId), message,
                                    static_cast<double>(set.timerSeconds.value_or(0)));
    exercise.completeSet(setId, at);
    return running;
}

void RestTimerManager::scheduleAlert(double seconds, bool countdown) {
    if (alerts_ != nullptr) {
        alerts_->scheduleRestTimerNotification(std::min(seconds, maxTimerSeconds), countdown);
    }
}

void RestTimerManager::cancelAlerts() {
    if (alerts_ != nullptr) {
        alerts_->cancelRestTimerNotifications();
    }
}

} // namespace timer
