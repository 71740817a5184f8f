// The rest timer's steps at the end of applying a phone payload: the stored session, the
// phone's timer state, the running countdown's rest, and a run that ran out meanwhile.
#include "model/conversions.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "timer/rest_timer_manager.hpp"

namespace watchsync {

using platform::Dictionary;

// The stored timer session waits for the first phone payload that says which workout is
// current; the phone's own timer state applies only once that is settled.
void WatchDataSource::applyRestTimerState(const Dictionary& message) {
    if (restTimer_ == nullptr) {
        return;
    }
    if (!restTimer_->applyRestoredSession(workoutId.get(), workoutStatus.get(),
                                          hasAppliedWorkoutSnapshot)) {
        return;
    }
    const auto* value = model::lookup(message, "restTimerData");
    const auto* restTimerData = value != nullptr ? value->dictionary() : nullptr;
    if (restTimerData == nullptr) {
        return;
    }
    auto running = model::asBoolean(model::lookup(*restTimerData, "timerIsRunning"));
    if (!running) {
        return;
    }
    restTimer_->applyPhoneTimerState(*restTimerData, message, *running,
                                     {workoutStatus.get(), exercises.get()});
}

// The phone may have changed the rest that follows the set being counted down.
void WatchDataSource::refreshExerciseCountdown() {
    if (restTimer_ == nullptr || !restTimer_->timerIsRunning.get() ||
        !restTimer_->isExerciseCountdown.get() || !restTimer_->durationSetId) {
        return;
    }
    auto found = model::findSetInWorkout(exercises.get(), *restTimer_->durationSetId);
    if (found.set && found.set->timerSeconds) {
        restTimer_->postCountdownRestSeconds = static_cast<double>(*found.set->timerSeconds);
        restTimer_->persistTimerSession();
    }
}

// The screen's tick finishes runs only while it is shown; a run that ended while the app was
// away is finished here.
void WatchDataSource::finishExpiredTimer() {
    if (restTimer_ == nullptr || !restTimer_->timerIsRunning.get()) {
        return;
    }
    const auto now = restTimer_->now();
    const double elapsed = now.sinceReferenceDate - restTimer_->startTime->sinceReferenceDate;
    if (restTimer_->timerSeconds.get() > elapsed) {
        return;
    }
    auto completed = restTimer_->finishTimer(now);
    if (!completed) {
        return;
    }
    auto found = model::findSetInWorkout(exercises.get(), completed->setId);
    if (found.exercise) {
        found.exercise->completeSet(completed->setId, completed->date);
    }
}

} // namespace watchsync
