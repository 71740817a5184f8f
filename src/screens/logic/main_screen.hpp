#pragma once

#include "platform/exec/queue.hpp"
#include "platform/haptics/haptics.hpp"
#include "platform/log/log.hpp"
#include "platform/observe/observable.hpp"
#include "screens/logic/exercise_detail.hpp"
#include "screens/logic/exercise_picker.hpp"
#include "screens/logic/numeric_keypad.hpp"
#include "screens/logic/workout_pager.hpp"
#include "session/workout_manager.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/rest_timer_manager.hpp"
#include "timer/rest_timer_screen.hpp"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace screens {

// The watch's root screen: what the workout's status routes to (the pager of the phone's
// workouts, the running workout's exercise list, or the prompt to open the phone), starting and
// finishing a workout, the exercise picker, which exercise's detail is pushed and on which set
// page, what the rest timer previews after a completed set (and where that moves the user), and
// the sheets: finish confirmation, picker, hand-off status and rest timer.
class MainScreen {
public:
    struct Services {
        platform::Executor& executor;
        watchsync::WatchDataSource& data;
        watchsync::WatchSyncOutbox& outbox;
        timer::RestTimerManager& restTimer;
        session::WorkoutManager& workoutManager;
        platform::Haptics& haptics;
        platform::Log& log;
        // The user's locale, for the keypads of the screens shown from here.
        NumberLocale numberLocale{};
    };

    enum class Content { availableWorkouts, exerciseList, phonePrompt };

    static constexpr platform::Duration syncTipDelay = std::chrono::seconds(3);

    explicit MainScreen(Services services);
    ~MainScreen();
    MainScreen(const MainScreen&) = delete;
    MainScreen& operator=(const MainScreen&) = delete;

    // The set page the exercise detail shows; two-way, as the detail also moves it.
    platform::Observable<int> selectedPage{0};
    // The exercise whose detail is pushed; setting it navigates.
    platform::Observable<std::optional<std::string>> tagToShow;
    platform::Observable<bool> restTimerSheetIsPresented{false};
    // The exercise the list scrolls to; written when a superset moves the user on.
    platform::Observable<std::optional<std::string>> scrollTarget;
    platform::Observable<int> availableWorkoutsPage{0};
    // The sheets. Writing false closes one, as the user's swipe does.
    platform::Observable<bool> showingWorkoutFinish{false};
    platform::Observable<bool> showingAddExerciseScreen{false};
    platform::Observable<bool> showingSyncStatus{false};
    // The hand-off sheet's tip to open the phone, a moment after the sheet is built.
    platform::Observable<bool> showSyncTip{false};

    Content content() const;

    // The pager of available workouts.
    std::vector<WorkoutCard> workoutCards() const;
    // "Start Workout" is disabled while any health session or builder exists.
    bool startWorkoutEnabled() const;
    // "Start Workout" on that workout's card. False when no card offers it or it is disabled,
    // or the lifecycle refused. The health session starts afterwards, when the user allows it.
    bool startWorkout(const std::string& workoutId);

    // The phone prompt's "Refresh".
    void refresh();

    // The running workout's list: its rows, then "Add Exercise" and the finish button.
    std::vector<model::ExerciseRef> listedExercises() const;
    std::string finishButtonLabel() const;
    // The "Finish Workout" / "Cancel Workout" button: cancels, completes or asks first.
    void finishButtonTapped();
    // The confirmation sheet's "Finish Workout"; the workout completes once the sheet has
    // closed. False when the sheet is not up.
    bool confirmFinish();

    // "Add Exercise" (no placeholder) or a placeholder's row.
    void openExercisePicker(model::ExerciseRef placeholder = nullptr);
    PickerSections pickerSections() const;
    // A row of the picker. False when the picker is not up or the catalogue has no such entry.
    bool pickExercise(const std::string& referenceExerciseId);
    model::ExerciseRef exerciseGettingSwappedOut() const { return exerciseGettingSwappedOut_; }

    // The hand-off status sheet's lines.
    std::vector<std::string> handOffStatusLines() const;

    // The current workout's exercise with that id; null when it has none.
    model::ExerciseRef findExercise(std::string_view exerciseId) const;

    // Tapping the exercise's row: a named one pushes its detail at its first set not done, a
    // placeholder opens the picker to replace it. False when the workout has no such exercise.
    bool openExercise(const std::string& exerciseId);
    // The pushed detail, while one is.
    ExerciseDetail* detail() { return detail_.get(); }
    // The rest timer sheet's screen, while the sheet is up.
    timer::RestTimer* restTimerScreen() { return restTimerScreen_.get(); }
    // Closing the rest timer sheet by hand stops the timer, as its two-way binding does, and
    // withdraws its end-of-run alert.
    void dismissRestTimer();
    // The program going to the background (the watch face is up) or coming back. A sheet that
    // is not on display does not tick, so only the run's notification marks its end then; back
    // in front, the next tick finishes an expired run.
    void setInForeground(bool inForeground);
    const NumberLocale& numberLocale() const { return services_.numberLocale; }

    // The callbacks the exercise detail is given.
    void updateTimerMessage(const model::ExerciseRef& exercise);
    void goBack(const model::ExerciseRef& exercise);
    void deleteExercise(const model::ExerciseRef& exercise);
    // The rest timer screen's callback when a timed set's countdown ran out.
    void durationSetCompleted(const std::string& setId, platform::Date date);

private:
    void showDetail(const std::optional<std::string>& exerciseId);
    void timerRunningChanged(bool running);
    void closeRestSheetIfStopped();
    void startHealthSession(const model::Workout& workout);
    // True from the tap that completes or cancels the workout until the list has gone, and
    // while no workout runs.
    bool workoutIsEnding() const;
    // Each sheet's closing, told by its flag going from true to false.
    void finishSheetChanged(bool showing);
    void pickerSheetChanged(bool showing);
    void syncStatusSheetChanged(bool showing);
    void handOffChanged(bool syncing);
    // Pushes the exercise's detail on the page of its first set not done.
    void navigateTo(const model::ExerciseRef& exercise);

    Services services_;
    bool completeWorkoutAfterSheetDismisses_ = false;
    bool endingWorkout_ = false;
    bool inForeground_ = true;
    bool showSyncStatusAfterTimerDismisses_ = false;
    model::ExerciseRef exerciseGettingSwappedOut_;
    // The last value seen of each flag whose change, not its writes, matters.
    bool finishSheetWasShowing_ = false;
    bool pickerWasShowing_ = false;
    bool syncStatusWasShowing_ = false;
    bool wasSyncingFinishedWorkout_ = false;
    platform::TaskHandle syncTipTask_;
    // Health callbacks arrive after the screen may be gone; they hold this weakly.
    std::shared_ptr<MainScreen*> self_ = std::make_shared<MainScreen*>(this);
    std::unique_ptr<ExerciseDetail> detail_;
    std::unique_ptr<timer::RestTimer> restTimerScreen_;
    std::vector<platform::Subscription> subscriptions_;
};

} // namespace screens
