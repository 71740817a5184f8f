#pragma once

#include "model/exercise.hpp"
#include "model/set_type.hpp"
#include "platform/exec/queue.hpp"
#include "platform/log/log.hpp"
#include "platform/observe/observable.hpp"
#include "screens/logic/binding.hpp"
#include "timer/plates.hpp"
#include "timer/rest_timer_manager.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace screens {

// The colours the detail's controls use; `accent` is the platform's accent colour.
enum class Tint { white, red, blue, grey, accent };

enum class ExerciseDetailSheet { moreMenu, setTypeOptions, plateCalculator };

// A system image and the colour it is drawn in (or, for the action button, its background).
struct SymbolLabel {
    std::string symbol;
    Tint tint = Tint::white;

    bool operator==(const SymbolLabel&) const = default;
};

enum class MoreMenuAction { addSet, deleteSet, plateCalculator };

struct MoreMenuEntry {
    std::string_view title;
    Tint background;
    MoreMenuAction action;

    bool operator==(const MoreMenuEntry&) const = default;
};

struct SetTypeRow {
    model::SetType type;
    // Drawn in bold.
    std::string_view name;

    bool operator==(const SetTypeRow&) const = default;
};

// The screen of one exercise of the running workout: a page per set, the set's actions (start
// a timed set, complete a set and start the rest, move on), adding and deleting sets, the
// set's kind, deleting the exercise and the plate calculator. The page index belongs to the
// main screen, which also moves between exercises for it.
class ExerciseDetail {
public:
    using ExerciseCallback = std::function<void(const model::ExerciseRef&)>;

    static constexpr std::chrono::milliseconds moveOnDelay{400};
    static constexpr std::string_view addSetTitle = "Add Set";
    static constexpr std::string_view noPlatesText = "No plates for this equipment";
    static constexpr std::string_view deleteExerciseTitle = "Delete Exercise";
    static constexpr std::string_view setTypeOptionsTitle = "Change Set Type";
    static constexpr std::string_view moreMenuSymbol = "ellipsis";
    static constexpr double actionButtonWidth = 44;
    static constexpr double actionButtonHeight = 30;

    struct Services {
        timer::RestTimerManager& restTimer;
        // Where the move-on after a tap on a completed set runs.
        platform::Queue& mainQueue;
        platform::Log& log;
        // Where the set edits' events go (the sync hub's outbox).
        model::EditEventSink editEvents;
        // Leaves this screen, back to the exercise list.
        std::function<void()> leaveScreen;
    };

    // goBack, updateTimerMessage and deleteExercise are the main screen's, each called with
    // this exercise.
    ExerciseDetail(model::ExerciseRef exercise, Services services, Binding<int> selectedPage,
                   ExerciseCallback goBack, ExerciseCallback updateTimerMessage,
                   ExerciseCallback deleteExercise);
    ExerciseDetail(const ExerciseDetail&) = delete;
    ExerciseDetail& operator=(const ExerciseDetail&) = delete;

    const model::ExerciseRef& exercise() const { return exercise_; }
    // The phone's newer copy of the same exercise: the screen goes on showing it, with its page
    // and open sheet.
    void follow(model::ExerciseRef newer);
    int selectedPage() const { return selectedPage_.get(); }
    std::size_t setCount() const { return exercise_->exerciseSets->size(); }
    // The set of the page shown; null when the page is outside the sets.
    model::ExerciseSetRef currentSet() const;

    // "Set 2/4".
    std::string title() const;
    // Without sets the screen offers only addSet and deleteExercise.
    bool hasSets() const { return setCount() > 0; }
    void addSet();
    void deleteExercise();

    // Toolbar: the set's badge (opens the kind picker), the more menu, the action button and
    // the next button (none outside the sets).
    SymbolLabel badge() const;
    SymbolLabel actionButtonLabel() const;
    std::optional<std::string> nextButtonSymbol() const;
    void openSetTypeOptions() { activeSheet_ = ExerciseDetailSheet::setTypeOptions; }
    void openMoreMenu() { activeSheet_ = ExerciseDetailSheet::moreMenu; }
    void tapActionButton();
    void next();

    std::optional<ExerciseDetailSheet> activeSheet() const { return activeSheet_; }
    void closeSheet() { activeSheet_.reset(); }

    static std::vector<MoreMenuEntry> moreMenuEntries();
    void chooseMoreMenuEntry(MoreMenuAction action);

    static std::vector<SetTypeRow> setTypeRows();
    // The label a kind gives the current set: its position for a regular set, else the
    // kind's letter.
    std::optional<std::string> setTypeLabel(model::SetType type) const;
    void chooseSetType(model::SetType type);

    // The plate calculator sheet's rows, from the rest timer's plates.
    std::vector<timer::PlateRow> plateCalculatorRows() const;
    // Beneath the rows, in plain words: the bar ("Bar 45 lb"), then what the inventory leaves
    // unloaded ("2.5 lb cannot be loaded") or why nothing is loaded.
    std::vector<std::string> plateCalculatorNotes() const;

private:
    void setCountChanged();
    void moveOn();
    void deleteCurrentSet();
    void openPlateCalculator();

    model::ExerciseRef exercise_;
    Services services_;
    Binding<int> selectedPage_;
    ExerciseCallback goBack_;
    ExerciseCallback updateTimerMessage_;
    ExerciseCallback deleteExercise_;
    std::optional<ExerciseDetailSheet> activeSheet_;
    std::size_t lastSetCount_ = 0;
    platform::Subscription setsSubscription_;
    // The delayed move-on holds it weakly: the screen may be gone when it runs.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

} // namespace screens
