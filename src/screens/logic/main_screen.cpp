#include "screens/logic/main_screen.hpp"

#include "model/sequence.hpp"
#include "model/status.hpp"
#include "screens/logic/hand_off_status.hpp"
#include "screens/logic/list_rows.hpp"

#include <algorithm>
#include <limits>

namespace screens {

namespace {

bool hasOpenSet(const model::ExerciseRef& exercise) {
    return firstOpenSet(*exercise).has_value();
}

// Of the exercises that pass `accept`, the one of smallest sequence (the first among equals).
template <class Accept>
model::ExerciseRef smallestSequence(const std::vector<model::ExerciseRef>& exercises,
                                    Accept accept) {
    model::ExerciseRef best;
    for (const auto& exercise : exercises) {
        if (accept(exercise) && (!best || exercise->sequence < best->sequence)) {
            best = exercise;
        }
    }
    return best;
}

template <class Accept>
model::ExerciseRef firstOf(const std::vector<model::ExerciseRef>& exercises, Accept accept) {
    auto found = std::find_if(exercises.begin(), exercises.end(), accept);
    return found != exercises.end() ? *found : nullptr;
}

} // namespace

MainScreen::MainScreen(Services services) : services_(services) {
    subscriptions_.push_back(
        tagToShow.observe([this](const std::optional<std::string>& id) { showDetail(id); }));
    subscriptions_.push_back(services_.restTimer.timerIsRunning.observe(
        [this](const bool& running) { timerRunningChanged(running); }));
    subscriptions_.push_back(
        showingWorkoutFinish.observe([this](const bool& showing) { finishSheetChanged(showing); }));
    subscriptions_.push_back(showingAddExerciseScreen.observe(
        [this](const bool& showing) { pickerSheetChanged(showing); }));
    subscriptions_.push_back(showingSyncStatus.observe(
        [this](const bool& showing) { syncStatusSheetChanged(showing); }));
    // The confirmation belongs to the running workout: once that has ended, or the phone has
    // replaced it, the sheet goes without completing anything.
    subscriptions_.push_back(services_.data.workoutStatus.observe([this](const std::string&) {
        endingWorkout_ = false;
        if (showingWorkoutFinish.get() && content() != Content::exerciseList) {
            completeWorkoutAfterSheetDismisses_ = false;
            showingWorkoutFinish = false;
        }
    }));
    subscriptions_.push_back(services_.data.syncingFinishedWorkout.observe(
        [this](const bool& syncing) { handOffChanged(syncing); }));
    // The phone may remove the shown exercise, or replace it with a newer copy: the detail
    // closes, or follows the copy, and never shows what the workout no longer holds.
    subscriptions_.push_back(services_.data.exercises.observe([this](const auto&) {
        if (const auto& shown = tagToShow.get(); shown && !findExercise(*shown)) {
            tagToShow = std::nullopt;
        } else if (shown) {
            showDetail(shown);
        }
    }));
    timerRunningChanged(services_.restTimer.timerIsRunning.get());
    handOffChanged(services_.data.syncingFinishedWorkout.get());
}

MainScreen::~MainScreen() {
    subscriptions_.clear();
    syncTipTask_.cancel();
}

MainScreen::Content MainScreen::content() const {
    const auto& status = services_.data.workoutStatus.get();
    if (status == model::status::notStarted || status == model::status::noWorkoutId ||
        status == model::status::complete) {
        return Content::availableWorkouts;
    }
    if (status == model::status::inProgress) {
        return Content::exerciseList;
    }
    return Content::phonePrompt;
}

std::vector<WorkoutCard> MainScreen::workoutCards() const {
    std::vector<WorkoutCard> cards;
    for (const auto& workout : services_.data.availableWorkouts.get()) {
        cards.push_back(workoutCard(workout));
    }
    return cards;
}

bool MainScreen::startWorkoutEnabled() const {
    return !services_.workoutManager.workoutSession() && !services_.workoutManager.workoutBuilder();
}

bool MainScreen::startWorkout(const std::string& workoutId) {
    const auto& workouts = services_.data.availableWorkouts.get();
    auto workout = std::find_if(workouts.begin(), workouts.end(),
                                [&](const model::Workout& w) { return w.id == workoutId; });
    if (content() != Content::availableWorkouts || workout == workouts.end() ||
        workout->status == model::status::complete || !startWorkoutEnabled()) {
        return false;
    }
    // A copy: starting replaces the list the card came from.
    model::Workout started = *workout;
    if (!services_.data.startAvailableWorkout(started)) {
        return false;
    }
    if (services_.workoutManager.syncWorkoutsToHealth.get() &&
        services_.workoutManager.healthStore().isHealthDataAvailable()) {
        startHealthSession(started);
    }
    return true;
}

void MainScreen::startHealthSession(const model::Workout& workout) {
    std::weak_ptr<MainScreen*> weak = self_;
    // Each step hops back to main: the health store answers on its own queue, and the screen
    // may be gone by then.
    auto onMain = [weak, &main = services_.executor.main()](std::function<void(MainScreen&)> f) {
        main.async([weak, f = std::move(f)] {
            if (auto self = weak.lock()) {
                f(**self);
            }
        });
    };
    onMain([onMain, id = workout.id](MainScreen& screen) {
        auto& manager = screen.services_.workoutManager;
        manager.healthStore().requestAuthorization(
            manager.typesToShare(), manager.typesToRead(),
            [onMain, id](bool, std::optional<platform::HealthError> error) {
                onMain([error, id](MainScreen& self) {
                    if (error) {
                        self.services_.log.line("Failed to start workout " + error->description);
                        return;
                    }
                    self.services_.workoutManager.startWorkout(
                        platform::WorkoutConfiguration{
                            .activityType = platform::activityTypeTraditionalStrengthTraining},
                        id, [&log = self.services_.log](std::optional<platform::HealthError> e) {
                            if (e) {
                                log.line("Failed to start workout " + e->description);
                            }
                        });
                });
            });
    });
}

void MainScreen::refresh() {
    services_.data.syncWorkoutError = std::string();
    services_.outbox.enqueue(platform::Dictionary{{"type", platform::Value("refresh_data")}});
}

std::vector<model::ExerciseRef> MainScreen::listedExercises() const {
    return exerciseListOrder(services_.data.exercises.get());
}

std::string MainScreen::finishButtonLabel() const {
    return screens::finishButtonLabel(services_.data.exercises.get());
}

bool MainScreen::workoutIsEnding() const {
    return endingWorkout_ || content() != Content::exerciseList;
}

void MainScreen::finishButtonTapped() {
    // A second tap before the list has gone would end the workout twice.
    if (workoutIsEnding()) {
        return;
    }
    const auto& exercises = services_.data.exercises.get();
    if (exercises.empty() || !anySetDone(exercises)) {
        endingWorkout_ = true;
        services_.data.cancelCurrentWorkout();
        return;
    }
    const bool allDone = std::none_of(exercises.begin(), exercises.end(), hasOpenSet);
    if (allDone) {
        endingWorkout_ = true;
        services_.data.completeCurrentWorkout();
    } else {
        showingWorkoutFinish = true;
    }
}

bool MainScreen::confirmFinish() {
    if (!showingWorkoutFinish.get()) {
        return false;
    }
    completeWorkoutAfterSheetDismisses_ = true;
    showingWorkoutFinish = false;
    return true;
}

void MainScreen::finishSheetChanged(bool showing) {
    const bool closed = finishSheetWasShowing_ && !showing;
    finishSheetWasShowing_ = showing;
    if (closed && completeWorkoutAfterSheetDismisses_) {
        completeWorkoutAfterSheetDismisses_ = false;
        if (!workoutIsEnding()) {
            endingWorkout_ = true;
            services_.data.completeCurrentWorkout();
        }
    }
}

void MainScreen::openExercisePicker(model::ExerciseRef placeholder) {
    exerciseGettingSwappedOut_ = std::move(placeholder);
    showingAddExerciseScreen = true;
}

void MainScreen::pickerSheetChanged(bool showing) {
    const bool opened = !pickerWasShowing_ && showing;
    const bool closed = pickerWasShowing_ && !showing;
    pickerWasShowing_ = showing;
    if (opened && services_.data.referenceExercises->empty()) {
        services_.outbox.enqueue(platform::Dictionary{{"type", platform::Value("refresh_data")}});
    }
    if (closed) {
        // A placeholder chosen for replacement and then left alone must not be swapped out by a
        // later "Add Exercise".
        exerciseGettingSwappedOut_ = nullptr;
    }
}

PickerSections MainScreen::pickerSections() const {
    return screens::pickerSections(services_.data.referenceExercises.get());
}

bool MainScreen::pickExercise(const std::string& referenceExerciseId) {
    if (!showingAddExerciseScreen.get()) {
        return false;
    }
    const auto& catalogue = services_.data.referenceExercises.get();
    auto entry =
        std::find_if(catalogue.begin(), catalogue.end(), [&](const model::ReferenceExerciseRef& e) {
            return e->id == referenceExerciseId;
        });
    if (entry == catalogue.end()) {
        return false;
    }
    auto placeholder = exerciseGettingSwappedOut_;
    std::int64_t sequence = 0;
    if (placeholder) {
        sequence = placeholder->sequence;
    } else if (const auto& exercises = services_.data.exercises.get(); !exercises.empty()) {
        // After the largest, even when every sequence is negative.
        const auto largest =
            std::max_element(exercises.begin(), exercises.end(), [](const auto& a, const auto& b) {
                return a->sequence < b->sequence;
            });
        sequence = model::sequenceAfter((*largest)->sequence);
    }
    // Already on the main queue: created now, its events go out ahead of whatever the user
    // does next (finishing the workout, say).
    services_.data.createExercise(**entry, sequence);
    if (placeholder) {
        deleteExercise(placeholder);
    }
    showingAddExerciseScreen = false;
    return true;
}

std::vector<std::string> MainScreen::handOffStatusLines() const {
    return screens::handOffStatusLines(services_.data.syncingFinishedWorkoutStatus.get(),
                                       showSyncTip.get());
}

void MainScreen::syncStatusSheetChanged(bool showing) {
    const bool opened = !syncStatusWasShowing_ && showing;
    const bool closed = syncStatusWasShowing_ && !showing;
    syncStatusWasShowing_ = showing;
    if (opened) {
        syncTipTask_.cancel();
        syncTipTask_ =
            services_.executor.main().asyncAfter(syncTipDelay, [this] { showSyncTip = true; });
    }
    if (closed) {
        services_.data.syncingFinishedWorkout = false;
    }
}

void MainScreen::handOffChanged(bool syncing) {
    if (syncing == wasSyncingFinishedWorkout_) {
        return;
    }
    wasSyncingFinishedWorkout_ = syncing;
    if (!syncing) {
        showingSyncStatus = false;
    } else if (restTimerSheetIsPresented.get()) {
        // The status opens once the timer's sheet is gone; stopping the timer closes it.
        showSyncStatusAfterTimerDismisses_ = true;
        services_.restTimer.resetTimer();
    } else {
        showingSyncStatus = true;
    }
}

model::ExerciseRef MainScreen::findExercise(std::string_view exerciseId) const {
    return firstOf(services_.data.exercises.get(),
                   [&](const model::ExerciseRef& e) { return e->id == exerciseId; });
}

bool MainScreen::openExercise(const std::string& exerciseId) {
    auto exercise = findExercise(exerciseId);
    if (!exercise) {
        return false;
    }
    if (exercise->name.empty()) {
        openExercisePicker(exercise);
        return true;
    }
    if (auto open = firstOpenSet(*exercise)) {
        selectedPage = *open;
    }
    tagToShow = exerciseId;
    return true;
}

void MainScreen::showDetail(const std::optional<std::string>& exerciseId) {
    auto exercise = exerciseId ? findExercise(*exerciseId) : nullptr;
    if (detail_ && exercise && detail_->exercise()->id == exercise->id) {
        detail_->follow(exercise);
        return;
    }
    detail_.reset();
    if (!exercise) {
        return;
    }
    ExerciseDetail::Services detailServices{services_.restTimer, services_.executor.main(),
                                            services_.log, services_.data.editEvents(),
                                            [this] { tagToShow = std::nullopt; }};
    detail_ = std::make_unique<ExerciseDetail>(
        exercise, detailServices, Binding<int>::to(selectedPage),
        [this](const model::ExerciseRef& e) { goBack(e); },
        [this](const model::ExerciseRef& e) { updateTimerMessage(e); },
        [this](const model::ExerciseRef& e) { deleteExercise(e); });
}

void MainScreen::navigateTo(const model::ExerciseRef& exercise) {
    tagToShow = exercise->id;
    selectedPage = firstOpenSet(*exercise).value_or(0);
}

void MainScreen::updateTimerMessage(const model::ExerciseRef& exercise) {
    const auto& exercises = services_.data.exercises.get();
    auto& timer = services_.restTimer;
    if (!exercise->superset) {
        if (hasOpenSet(exercise)) {
            timer.updateNextSet(*exercise, nullptr);
            return;
        }
        auto next = smallestSequence(exercises, [&](const model::ExerciseRef& e) {
            return e->sequence > exercise->sequence && hasOpenSet(e);
        });
        if (!next) {
            timer.resetTimerContext();
            return;
        }
        timer.updateNextSet(*next, nullptr);
        navigateTo(next);
        return;
    }
    auto inSuperset = [&](const model::ExerciseRef& e) {
        return e->superset == exercise->superset;
    };
    auto later = firstOf(exercises, [&](const model::ExerciseRef& e) {
        return inSuperset(e) && e->sequence > exercise->sequence && hasOpenSet(e);
    });
    if (!later) {
        later = firstOf(
            exercises, [&](const model::ExerciseRef& e) { return inSuperset(e) && hasOpenSet(e); });
    }
    if (later) {
        timer.updateNextSet(*later, nullptr);
        return;
    }
    auto largest = exercise->sequence;
    for (const auto& e : exercises) {
        if (inSuperset(e)) {
            largest = std::max(largest, e->sequence);
        }
    }
    auto next = smallestSequence(exercises, [&](const model::ExerciseRef& e) {
        return e->sequence > largest && hasOpenSet(e);
    });
    if (next) {
        timer.updateNextSet(*next, nullptr);
    } else {
        timer.resetTimerContext();
    }
}

void MainScreen::goBack(const model::ExerciseRef& exercise) {
    if (!exercise->superset) {
        return;
    }
    const auto& exercises = services_.data.exercises.get();
    auto inSuperset = [&](const model::ExerciseRef& e) {
        return e->superset == exercise->superset;
    };
    auto next = firstOf(exercises, [&](const model::ExerciseRef& e) {
        return inSuperset(e) && e->sequence > exercise->sequence && hasOpenSet(e);
    });
    if (!next) {
        next = firstOf(exercises,
                       [&](const model::ExerciseRef& e) { return inSuperset(e) && hasOpenSet(e); });
    }
    if (next) {
        scrollTarget = next->id;
        navigateTo(next);
    }
}

void MainScreen::deleteExercise(const model::ExerciseRef& exercise) {
    if (tagToShow.get() == exercise->id) {
        tagToShow = std::nullopt;
    }
    services_.data.deleteExercise(exercise->id);
}

void MainScreen::durationSetCompleted(const std::string& setId, platform::Date date) {
    for (const auto& exercise : services_.data.exercises.get()) {
        if (exercise->findSet(setId)) {
            exercise->completeSet(setId, date);
            updateTimerMessage(exercise);
            return;
        }
    }
}

void MainScreen::timerRunningChanged(bool running) {
    if (running && restTimerScreen_) {
        // A run that replaced the one before within the same turn: the sheet never closed.
        if (!restTimerScreen_->isTicking() && inForeground_) {
            restTimerScreen_->appear();
        }
    } else if (running) {
        restTimerScreen_ = std::make_unique<timer::RestTimer>(
            timer::RestTimer::Services{
                services_.executor, services_.restTimer, services_.workoutManager,
                services_.haptics,
                [this](
                    platform::Date now) -> std::optional<std::pair<std::string, platform::Date>> {
                    auto completed = services_.restTimer.finishTimer(now);
                    if (!completed) {
                        return std::nullopt;
                    }
                    return std::pair{completed->setId, completed->date};
                }},
            [this](const std::string& setId, platform::Date date) {
                durationSetCompleted(setId, date);
            });
        if (inForeground_) {
            restTimerScreen_->appear();
        }
        restTimerSheetIsPresented = true;
    } else if (restTimerScreen_) {
        // It stops ticking at once. The timer replaces a run by writing false, then true, in one
        // turn of the main queue, so the sheet closes only if it is still stopped after that.
        restTimerScreen_->disappear();
        services_.executor.main().async([self = std::weak_ptr(self_)] {
            if (auto screen = self.lock()) {
                (*screen)->closeRestSheetIfStopped();
            }
        });
    }
}

void MainScreen::setInForeground(bool inForeground) {
    inForeground_ = inForeground;
    if (!restTimerScreen_) {
        return;
    }
    if (!inForeground) {
        restTimerScreen_->disappear();
    } else if (services_.restTimer.timerIsRunning.get() && !restTimerScreen_->isTicking()) {
        restTimerScreen_->appear();
    }
}

void MainScreen::closeRestSheetIfStopped() {
    if (services_.restTimer.timerIsRunning.get() || !restTimerScreen_) {
        return;
    }
    restTimerScreen_.reset();
    restTimerSheetIsPresented = false;
    if (showSyncStatusAfterTimerDismisses_) {
        showSyncStatusAfterTimerDismisses_ = false;
        showingSyncStatus = true;
    }
}

void MainScreen::dismissRestTimer() {
    services_.restTimer.dismissRun();
}

} // namespace screens
