#pragma once

#include "platform/exec/queue.hpp"
#include "platform/haptics/haptics.hpp"
#include "platform/log/log.hpp"
#include "platform/observe/observable.hpp"
#include "screens/logic/exercise_detail.hpp"
#include "session/workout_manager.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "timer/rest_timer_manager.hpp"
#include "timer/rest_timer_screen.hpp"

#include <memory>
#include <optional>
#include <string>

namespace screens {

// The root screen's part in logging sets: which exercise's detail is pushed and on which set
// page, what the rest timer previews after a completed set (and where that moves the user), the
// alternation between the exercises of a superset, and the rest timer sheet, which is up while
// the timer runs. The workout pager, the finish flow, the exercise picker and the hand-off sheet
// join it with the workout lifecycle.
class MainScreen {
public:
    struct Services {
        platform::Executor& executor;
        watchsync::WatchDataSource& data;
        timer::RestTimerManager& restTimer;
        session::WorkoutManager& workoutManager;
        platform::Haptics& haptics;
        platform::Log& log;
    };

    explicit MainScreen(Services services);
    ~MainScreen();
    MainScreen(const MainScreen&) = delete;
    MainScreen& operator=(const MainScreen&) = delete;

    // The set page the exercise detail shows; two-way, as the detail also moves it.
    platform::Observable<int> selectedPage{0};
    // The exercise whose detail is pushed; setting it navigates.
    platform::Observable<std::optional<std::string>> tagToShow;
    platform::Observable<bool> restTimerSheetIsPresented{false};

    // Tapping the exercise's row. False when the workout has no such exercise.
    bool openExercise(const std::string& exerciseId);
    // The pushed detail, while one is.
    ExerciseDetail* detail() { return detail_.get(); }
    // The rest timer sheet's screen, while the sheet is up.
    timer::RestTimer* restTimerScreen() { return restTimerScreen_.get(); }
    // Closing the rest timer sheet by hand stops the timer, as its two-way binding does.
    void dismissRestTimer();

    // The callbacks the exercise detail is given.
    void updateTimerMessage(const model::ExerciseRef& exercise);
    void goBack(const model::ExerciseRef& exercise);
    void deleteExercise(const model::ExerciseRef& exercise);
    // The rest timer screen's callback when a timed set's countdown ran out.
    void durationSetCompleted(const std::string& setId, platform::Date date);

private:
    void showDetail(const std::optional<std::string>& exerciseId);
    void timerRunningChanged(bool running);
    // Pushes the exercise's detail on the page of its first set not done.
    void navigateTo(const model::ExerciseRef& exercise);
    model::ExerciseRef findExercise(std::string_view exerciseId) const;

    Services services_;
    std::unique_ptr<ExerciseDetail> detail_;
    std::unique_ptr<timer::RestTimer> restTimerScreen_;
    std::vector<platform::Subscription> subscriptions_;
};

} // namespace screens
