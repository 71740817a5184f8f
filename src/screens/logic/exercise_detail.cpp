#include "screens/logic/exercise_detail.hpp"

#include "model/sequence.hpp"
#include "model/status.hpp"

#include "timer/next_set.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <utility>

namespace screens {

namespace {

bool isComplete(const model::ExerciseSetRef& set) {
    return set->status.get() == model::status::complete;
}

const model::SetTypeInfo* findInfo(model::SetType type) {
    const auto& infos = model::setTypeInfos();
    auto found = std::find_if(infos.begin(), infos.end(),
                              [&](const model::SetTypeInfo& info) { return info.type == type; });
    return found != infos.end() ? &*found : nullptr;
}

} // namespace

ExerciseDetail::ExerciseDetail(model::ExerciseRef exercise, Services services,
                               Binding<int> selectedPage, ExerciseCallback goBack,
                               ExerciseCallback updateTimerMessage, ExerciseCallback deleteExercise)
    : exercise_(std::move(exercise)), services_(std::move(services)),
      selectedPage_(std::move(selectedPage)), goBack_(std::move(goBack)),
      updateTimerMessage_(std::move(updateTimerMessage)),
      deleteExercise_(std::move(deleteExercise)), lastSetCount_(setCount()) {
    setsSubscription_ = exercise_->exerciseSets.observe(
        [this](const std::vector<model::ExerciseSetRef>&) { setCountChanged(); });
}

void ExerciseDetail::follow(model::ExerciseRef newer) {
    if (newer == exercise_) {
        return;
    }
    exercise_ = std::move(newer);
    setsSubscription_ = exercise_->exerciseSets.observe(
        [this](const std::vector<model::ExerciseSetRef>&) { setCountChanged(); });
    setCountChanged();
}

model::ExerciseSetRef ExerciseDetail::currentSet() const {
    const auto page = selectedPage_.get();
    const auto& sets = exercise_->exerciseSets.get();
    if (page < 0 || static_cast<std::size_t>(page) >= sets.size()) {
        return nullptr;
    }
    return sets[static_cast<std::size_t>(page)];
}

std::string ExerciseDetail::title() const {
    return "Set " + std::to_string(static_cast<long long>(selectedPage_.get()) + 1) + "/" +
           std::to_string(setCount());
}

void ExerciseDetail::addSet() {
    exercise_->addSet(services_.editEvents);
}

void ExerciseDetail::deleteExercise() {
    if (deleteExercise_) {
        deleteExercise_(exercise_);
    }
}

SymbolLabel ExerciseDetail::badge() const {
    const auto set = currentSet();
    if (!set) {
        return {"questionmark.circle.fill", Tint::red};
    }
    std::string symbol = set->setNumber.get();
    std::transform(symbol.begin(), symbol.end(), symbol.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return {symbol + ".circle.fill", Tint::white};
}

SymbolLabel ExerciseDetail::actionButtonLabel() const {
    const auto set = currentSet();
    if (!set) {
        return {"questionmark", Tint::grey};
    }
    const auto& status = set->status.get();
    const bool startsCountdown = status == model::status::notStarted && exercise_->isDuration;
    return {startsCountdown ? "stopwatch" : "checkmark",
            status == model::status::complete ? Tint::blue : Tint::grey};
}

std::optional<std::string> ExerciseDetail::nextButtonSymbol() const {
    if (!currentSet()) {
        return std::nullopt;
    }
    const bool last = static_cast<std::size_t>(selectedPage_.get()) + 1 == setCount();
    return last ? "square" : "chevron.down";
}

void ExerciseDetail::next() {
    const auto page = selectedPage_.get();
    if (page >= 0 && static_cast<std::size_t>(page) + 1 < setCount()) {
        selectedPage_.set(page + 1);
    }
}

void ExerciseDetail::tapActionButton() {
    const auto set = currentSet();
    if (!set) {
        return;
    }
    const std::string setId = set->id.get();
    const auto& status = set->status.get();
    if (status == model::status::notStarted && exercise_->isDuration) {
        // The countdown completes the set when it runs out; until then it is only in progress.
        services_.restTimer.startExerciseCountdown(*set, *exercise_);
        exercise_->markSetInProgress(setId);
        return;
    }
    if (status != model::status::complete) {
        if (services_.restTimer.completeSetAndStartRest(*exercise_, *set) && updateTimerMessage_) {
            updateTimerMessage_(exercise_);
        }
        return;
    }
    // A second tap on a completed set moves on, after the completion has been seen.
    services_.mainQueue.asyncAfter(moveOnDelay, [this, alive = std::weak_ptr<int>(lifetime_)] {
        if (alive.lock()) {
            moveOn();
        }
    });
}

void ExerciseDetail::moveOn() {
    if (exercise_->superset) {
        if (goBack_) {
            goBack_(exercise_);
        }
        return;
    }
    const auto& sets = exercise_->exerciseSets.get();
    const auto open = std::find_if_not(sets.begin(), sets.end(), isComplete);
    if (open == sets.end()) {
        if (services_.leaveScreen) {
            services_.leaveScreen();
        }
        return;
    }
    selectedPage_.set(static_cast<int>(open - sets.begin()));
}

void ExerciseDetail::setCountChanged() {
    const auto count = setCount();
    if (count == lastSetCount_) {
        return;
    }
    lastSetCount_ = count;
    // Never below the first page: a page of -1 would stay outside the sets once one is added.
    if (selectedPage_.get() >= static_cast<int>(count)) {
        selectedPage_.set(std::max(0, static_cast<int>(count) - 1));
    }
}

std::vector<MoreMenuEntry> ExerciseDetail::moreMenuEntries() {
    return {
        {"Add Set", Tint::accent, MoreMenuAction::addSet},
        {"Delete Set", Tint::red, MoreMenuAction::deleteSet},
        {"Plate Calculator", Tint::grey, MoreMenuAction::plateCalculator},
    };
}

void ExerciseDetail::chooseMoreMenuEntry(MoreMenuAction action) {
    switch (action) {
    case MoreMenuAction::addSet:
        addSet();
        closeSheet();
        return;
    case MoreMenuAction::deleteSet:
        deleteCurrentSet();
        closeSheet();
        return;
    case MoreMenuAction::plateCalculator:
        openPlateCalculator();
        return;
    }
}

void ExerciseDetail::deleteCurrentSet() {
    const auto set = currentSet();
    if (!set) {
        return;
    }
    const std::string setId = set->id.get();
    exercise_->deleteSet(setId, services_.editEvents);
    const auto page = selectedPage_.get();
    if (page > 0 && static_cast<std::size_t>(page) == setCount()) {
        selectedPage_.set(page - 1);
    }
}

void ExerciseDetail::openPlateCalculator() {
    const auto set = currentSet();
    if (set) {
        services_.restTimer.titleMessage = set->weight.get() + " " + exercise_->weightUnits;
    }
    services_.restTimer.updateNextSetPlates(*exercise_, set.get());
    activeSheet_ = ExerciseDetailSheet::plateCalculator;
}

std::vector<SetTypeRow> ExerciseDetail::setTypeRows() {
    std::vector<SetTypeRow> rows;
    for (const auto& info : model::setTypeInfos()) {
        rows.push_back({info.type, info.name});
    }
    return rows;
}

std::optional<std::string> ExerciseDetail::setTypeLabel(model::SetType type) const {
    const auto set = currentSet();
    const auto* info = findInfo(type);
    if (!set || info == nullptr) {
        return std::nullopt;
    }
    if (type == model::SetType::regular) {
        return std::to_string(model::sequenceAfter(set->sequence));
    }
    return std::string(info->setNumber);
}

void ExerciseDetail::chooseSetType(model::SetType type) {
    if (auto label = setTypeLabel(type)) {
        const std::string setId = currentSet()->id.get();
        exercise_->changeSetType(setId, type, std::move(*label), services_.editEvents,
                                 services_.log);
    }
    closeSheet();
}

std::vector<timer::PlateRow> ExerciseDetail::plateCalculatorRows() const {
    return timer::plateRows(services_.restTimer.nextSetPlates.get());
}

namespace {

std::string weightText(double weight, const std::string& units) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", weight);
    return units.empty() ? std::string(text) : std::string(text) + " " + units;
}

} // namespace

std::vector<std::string> ExerciseDetail::plateCalculatorNotes() const {
    if (!timer::takesPlates(exercise_->equipment)) {
        return {std::string(noPlatesText)};
    }
    const auto& units = exercise_->weightUnits;
    const double bar = exercise_->barbell.weight;
    std::vector<std::string> notes{"Bar " + weightText(bar, units)};
    auto set = currentSet();
    const double target = set ? timer::weightValue(set->weight.get()) : 0;
    if (target < bar) {
        notes.push_back("Less than the bar");
        return notes;
    }
    double loaded = bar;
    for (const auto& plate : services_.restTimer.nextSetPlates.get()) {
        loaded += plate.plateWeight * static_cast<double>(plate.quantity);
    }
    // Weights are typed to a tenth at most; anything below a hundredth is rounding.
    if (target - loaded >= 0.01) {
        notes.push_back(weightText(std::round((target - loaded) * 100) / 100, units) +
                        " cannot be loaded");
    }
    return notes;
}

} // namespace screens
