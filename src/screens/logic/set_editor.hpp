#pragma once

#include "model/exercise.hpp"
#include "platform/observe/observable.hpp"
#include "screens/logic/band_color.hpp"
#include "screens/logic/numeric_keypad.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace watchsync {
class WatchDataSource;
}

namespace screens {

// Where the editor's value edits go to the phone (the sync hub's "update_set" senders).
struct SetEditReports {
    KeypadField::ReportEdit fieldEdit;
    std::function<void(const std::string& setId, std::int64_t seconds)> durationEdit;

    // The sync hub's senders; the hub outlives every editor.
    static SetEditReports to(watchsync::WatchDataSource& data);
};

// The value blocks of the editor, in the order they are shown.
enum class SetFieldKind {
    reps,
    time,
    distance,
    repsInReserve,
    ratePerceivedExertion,
    weight,
    band
};

struct SetFieldBlock {
    SetFieldKind kind;
    std::string label;

    bool operator==(const SetFieldBlock&) const = default;
};

enum class SetEditorSheet { note, duration };

// The editor page of one set: the blocks its exercise records, the keypad fields on the set's
// values, the duration picker, the note and the band. It reads the shared set each time, so
// edits from the phone show at once.
class SetEditor {
public:
    static constexpr std::string_view noteSymbol = "note.text";
    static constexpr std::string_view noteTitle = "Note";
    static constexpr std::string_view durationPickerLabel = "Time";
    static constexpr std::string_view durationDoneTitle = "Done";
    static constexpr std::string_view bandValueText = ".";
    static constexpr std::string_view bandAlertTitle = "Change band on phone app";
    // The picker offers 0 up to, not including, this many seconds, in steps of durationStep.
    static constexpr std::int64_t durationLimit = 10000;
    static constexpr std::int64_t durationStep = 5;

    SetEditor(model::ExerciseRef exercise, model::ExerciseSetRef set, SetEditReports reports,
              NumberLocale locale = {});
    SetEditor(const SetEditor&) = delete;
    SetEditor& operator=(const SetEditor&) = delete;

    const model::ExerciseSetRef& set() const { return set_; }
    // The phone's newer copy of the same set (and its exercise) arrived: edit that from now on,
    // keeping the open keypad, sheet and picker choice. False, changing nothing, for another set.
    bool follow(model::ExerciseRef exercise, model::ExerciseSetRef set);

    // Header.
    const std::string& exerciseName() const { return exercise_->name; }
    bool showsNoteButton() const;

    std::vector<SetFieldBlock> blocks() const;
    // The keypad field of a block that edits with the keypad, while the exercise records it.
    KeypadField* keypadField(SetFieldKind kind);
    // The Time block's value: the set's duration (0 when it has none), as 1:30 for 90 seconds.
    std::string timeText() const;
    // The band block draws bandValueText in this colour inside an outline of it.
    RgbaColor bandColor() const;

    std::optional<SetEditorSheet> activeSheet() const { return activeSheet_; }
    void openNote();
    // The Time block's button.
    void openDurationPicker();
    void closeSheet() { activeSheet_.reset(); }

    std::string noteText() const;

    // Every value the picker offers, smallest first.
    static std::vector<std::int64_t> durationChoices();
    static bool offersDuration(std::int64_t seconds) {
        return seconds >= 0 && seconds < durationLimit && seconds % durationStep == 0;
    }
    // What the control channel says of a time the picker does not offer.
    static constexpr std::string_view durationArgumentError =
        "setDuration needs \"seconds\", a whole number from 0 to 9995 in steps of 5, as the "
        "picker offers";
    static std::string durationChoiceText(std::int64_t seconds);
    std::int64_t durationSelection() const { return durationSelection_; }
    void selectDuration(std::int64_t seconds) { durationSelection_ = seconds; }
    // Writes the chosen duration to the set, reports it and closes the picker.
    void durationDone();

    // The watch has no band editor: tapping the band only says so.
    void tapBand() { bandAlert_ = true; }
    bool bandAlert() const { return bandAlert_; }
    void dismissBandAlert() { bandAlert_ = false; }

private:
    using TextMember = platform::Observable<std::string> model::ExerciseSet::*;
    struct KeypadEntry {
        TextMember member;
        KeypadField field;
    };
    void addFields();
    void addKeypadField(SetFieldKind kind, std::string_view fieldName, TextMember member);
    void refreshField(KeypadEntry& entry);

    model::ExerciseRef exercise_;
    model::ExerciseSetRef set_;
    SetEditReports reports_;
    NumberLocale locale_;
    std::map<SetFieldKind, KeypadEntry> fields_;
    std::vector<platform::Subscription> subscriptions_;
    std::optional<SetEditorSheet> activeSheet_;
    std::int64_t durationSelection_ = 0;
    bool bandAlert_ = false;
};

} // namespace screens
