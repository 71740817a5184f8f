#include "screens/logic/set_editor.hpp"

#include "model/set_type.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "timer/next_set.hpp"

#include <utility>

namespace screens {

namespace {

std::string kindName(const model::ExerciseSet& set) {
    return std::string(model::toText(set.type.get()));
}

} // namespace

SetEditReports SetEditReports::to(watchsync::WatchDataSource& data) {
    return {[&data](const std::string& setId, const std::string& field, const std::string& text) {
                data.sendSetFieldEdit(setId, field, text);
            },
            [&data](const std::string& setId, std::int64_t seconds) {
                data.sendSetDurationEdit(setId, seconds);
            }};
}

SetEditor::SetEditor(model::ExerciseRef exercise, model::ExerciseSetRef set, SetEditReports reports,
                     NumberLocale locale)
    : exercise_(std::move(exercise)), set_(std::move(set)), reports_(std::move(reports)),
      locale_(std::move(locale)), durationSelection_(set_->duration->value_or(0)) {
    addFields();
}

bool SetEditor::follow(model::ExerciseRef exercise, model::ExerciseSetRef set) {
    if (!exercise || !set || set->id.get() != set_->id.get()) {
        return false;
    }
    auto older = std::move(fields_);
    fields_.clear();
    subscriptions_.clear();
    exercise_ = std::move(exercise);
    set_ = std::move(set);
    addFields();
    for (auto& [kind, entry] : fields_) {
        if (auto found = older.find(kind); found != older.end()) {
            entry.field.takeOver(found->second.field);
        }
    }
    return true;
}

void SetEditor::addFields() {
    if (exercise_->isReps) {
        addKeypadField(SetFieldKind::reps, "reps", &model::ExerciseSet::reps);
    }
    if (exercise_->isDistance) {
        addKeypadField(SetFieldKind::distance, "distance", &model::ExerciseSet::distance);
    }
    if (exercise_->isRepsInReserve) {
        addKeypadField(SetFieldKind::repsInReserve, "repsInReserve",
                       &model::ExerciseSet::repsInReserve);
    }
    if (exercise_->isRatePerceivedExertion) {
        addKeypadField(SetFieldKind::ratePerceivedExertion, "ratePerceivedExertion",
                       &model::ExerciseSet::ratePerceivedExertion);
    }
    if (exercise_->isWeight) {
        addKeypadField(SetFieldKind::weight, "weight", &model::ExerciseSet::weight);
    }
    // A kind changed here or on the phone changes what the reps field shows.
    subscriptions_.push_back(set_->type.observe([this](model::SetType) {
        for (auto& [kind, entry] : fields_) {
            refreshField(entry);
        }
    }));
}

void SetEditor::addKeypadField(SetFieldKind kind, std::string_view fieldName, TextMember member) {
    auto report = [this](const std::string& setId, const std::string& field,
                         const std::string& text) {
        if (reports_.fieldEdit) {
            reports_.fieldEdit(setId, field, text);
        }
    };
    // Every block's keypad starts closed.
    fields_.emplace(
        kind, KeypadEntry{member, KeypadField(((*set_).*member).get(),
                                              Binding<std::string>::field(set_, member), false,
                                              TextViewAlignment::center, KeyboardStyle::decimal,
                                              locale_, set_->id.get(), std::string(fieldName),
                                              kindName(*set_), std::move(report))});
    // The field's placeholder is the set's current value, as its creator passes it.
    subscriptions_.push_back(((*set_).*member).observe([this, kind](const std::string&) {
        refreshField(fields_.at(kind));
    }));
}

void SetEditor::refreshField(KeypadEntry& entry) {
    entry.field.refresh(((*set_).*entry.member).get(), kindName(*set_));
}

bool SetEditor::showsNoteButton() const {
    return exercise_->note.has_value() && !exercise_->note->empty();
}

std::vector<SetFieldBlock> SetEditor::blocks() const {
    std::vector<SetFieldBlock> blocks;
    const auto add = [&](bool shown, SetFieldKind kind, std::string label) {
        if (shown) {
            blocks.push_back({kind, std::move(label)});
        }
    };
    add(exercise_->isReps, SetFieldKind::reps, "Reps");
    add(exercise_->isDuration, SetFieldKind::time, "Time");
    add(exercise_->isDistance, SetFieldKind::distance, "distance");
    add(exercise_->isRepsInReserve, SetFieldKind::repsInReserve, "RIR");
    add(exercise_->isRatePerceivedExertion, SetFieldKind::ratePerceivedExertion, "RPE");
    add(exercise_->isWeight, SetFieldKind::weight, exercise_->weightUnits);
    add(exercise_->isBand, SetFieldKind::band, "Band");
    return blocks;
}

KeypadField* SetEditor::keypadField(SetFieldKind kind) {
    auto found = fields_.find(kind);
    return found != fields_.end() ? &found->second.field : nullptr;
}

std::string SetEditor::timeText() const {
    return timer::positionalDuration(set_->duration->value_or(0));
}

RgbaColor SetEditor::bandColor() const {
    return parseBandColor(set_->bandColor.get());
}

void SetEditor::openNote() {
    if (showsNoteButton()) {
        activeSheet_ = SetEditorSheet::note;
    }
}

void SetEditor::openDurationPicker() {
    if (exercise_->isDuration) {
        activeSheet_ = SetEditorSheet::duration;
    }
}

std::string SetEditor::noteText() const {
    return exercise_->note.value_or(std::string());
}

std::vector<std::int64_t> SetEditor::durationChoices() {
    std::vector<std::int64_t> choices;
    choices.reserve(durationLimit / durationStep);
    for (std::int64_t seconds = 0; seconds < durationLimit; seconds += durationStep) {
        choices.push_back(seconds);
    }
    return choices;
}

std::string SetEditor::durationChoiceText(std::int64_t seconds) {
    return timer::positionalDuration(seconds);
}

void SetEditor::durationDone() {
    set_->duration = std::optional<std::int64_t>(durationSelection_);
    if (reports_.durationEdit) {
        reports_.durationEdit(set_->id.get(), durationSelection_);
    }
    closeSheet();
}

} // namespace screens
