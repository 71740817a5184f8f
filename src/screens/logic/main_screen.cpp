#include "screens/logic/main_screen.hpp"

#include <algorithm>
#include <limits>

namespace screens {

namespace {

bool isDone(const model::ExerciseSet& set) {
    return set.status.get() == "COMPLETE";
}

// Index of the first set not done; none when every set is.
std::optional<int> firstOpenSet(const model::Exercise& exercise) {
    const auto& sets = exercise.exerciseSets.get();
    for (std::size_t i = 0; i < sets.size(); ++i) {
        if (!isDone(*sets[i])) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

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
    timerRunningChanged(services_.restTimer.timerIsRunning.get());
}

MainScreen::~MainScreen() {
    subscriptions_.clear();
}

model::ExerciseRef MainScreen::findExercise(std::string_view exerciseId) const {
    return firstOf(services_.data.exercises.get(),
                   [&](const model::ExerciseRef& e) { return e->id == exerciseId; });
}

bool MainScreen::openExercise(const std::string& exerciseId) {
    if (!findExercise(exerciseId)) {
        return false;
    }
    tagToShow = exerciseId;
    return true;
}

void MainScreen::showDetail(const std::optional<std::string>& exerciseId) {
    auto exercise = exerciseId ? findExercise(*exerciseId) : nullptr;
    if (detail_ && exercise && detail_->exercise() == exercise) {
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
    if (running && !restTimerScreen_) {
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
        restTimerScreen_->appear();
        restTimerSheetIsPresented = true;
    } else if (!running && restTimerScreen_) {
        // The screen may be inside its own tick: it is let go once that has returned.
        services_.executor.main().async(
            [screen = std::shared_ptr<timer::RestTimer>(std::move(restTimerScreen_))] {});
        restTimerSheetIsPresented = false;
    }
}

void MainScreen::dismissRestTimer() {
    if (!services_.restTimer.timerIsRunning.get()) {
        return;
    }
    services_.restTimer.timerIsRunning = false;
    services_.restTimer.persistTimerSession();
}

} // namespace screens
