#include "app/screen_gestures.hpp"

#include "model/conversions.hpp"
#include "model/set_type.hpp"
#include "screens/logic/set_editor.hpp"

#include <QCoreApplication>

#include <array>

namespace app {

using platform::Dictionary;
using platform::Value;

namespace {

Gestures::Answer ok() {
    return {"ok", {}};
}

Gestures::Answer error(std::string message) {
    return {"error", Dictionary{{"message", Value(std::move(message))}}};
}

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// The exercise detail's actions, each on the detail of its exercise.
constexpr std::array<std::string_view, 7> detailActions{"actionButton",   "addSet", "deleteSet",
                                                        "changeSetType",  "keypad", "setDuration",
                                                        "plateCalculator"};

bool isKeypadKey(const std::string& key) {
    return key == "." || key == "delete" || (key.size() == 1 && key[0] >= '0' && key[0] <= '9');
}

} // namespace

std::optional<Gestures::Answer> ScreenGestures::perform(const std::string& action,
                                                        const Dictionary& arguments) {
    auto string = [&](std::string_view key) {
        return model::asString(model::lookup(arguments, key));
    };
    auto needs = [&](std::string_view key) {
        return error(action + " needs \"" + std::string(key) + "\" (a string)");
    };
    if (face_ && !window_.isVisible()) {
        return onFace(action, arguments);
    }
    if (action == "screen") {
        return screen();
    }
    if (action == "screenshot") {
        const auto* path = string("path");
        if (path == nullptr) {
            return needs("path");
        }
        return driver_.screenshot(qt(*path)) ? ok() : error("cannot write a PNG to " + *path);
    }
    if (action == "crown") {
        const auto* detents = model::lookup(arguments, "detents");
        if (detents == nullptr || detents->integer() == nullptr) {
            return error("crown needs \"detents\" (an integer)");
        }
        driver_.turnCrown(
            static_cast<int>(std::clamp<std::int64_t>(*detents->integer(), -100, 100)));
        return ok();
    }
    if (action == "tapNotification") {
        return press(action, "notificationBanner");
    }
    if (action == "swipe") {
        const auto* direction = string("direction");
        return direction != nullptr ? swipe(*direction) : needs("direction");
    }
    if (action == "refresh") {
        return press(action, "refresh");
    }
    if (action == "startWorkout") {
        const auto* workoutId = string("workoutId");
        if (workoutId == nullptr) {
            return needs("workoutId");
        }
        const int page = viewModel_.workouts()->indexOf(qt(*workoutId));
        if (page < 0) {
            return error("no available workout with id \"" + *workoutId + "\"");
        }
        if (viewModel_.content() == "availableWorkouts") {
            viewModel_.setWorkoutPage(page);
        }
        return press(action, "startWorkout:" + qt(*workoutId));
    }
    if (action == "finishWorkout") {
        scrollList({});
        return press(action, "finishWorkout");
    }
    if (action == "confirmFinish") {
        return press(action, "confirmFinish");
    }
    if (action == "openExercisePicker") {
        const auto* value = model::lookup(arguments, "placeholderExerciseId");
        if (value == nullptr) {
            scrollList({});
            return press(action, "addExercise");
        }
        if (value->string() == nullptr) {
            return error(
                "openExercisePicker takes \"placeholderExerciseId\" (a string) or nothing");
        }
        const auto id = qt(*value->string());
        const int row = viewModel_.exercises()->indexOf(id);
        if (!viewModel_.exercises()->value(row, "placeholder").toBool()) {
            return error("no placeholder exercise with id \"" + *value->string() + "\"");
        }
        scrollList(id);
        return press(action, "exerciseRow:" + id);
    }
    if (action == "pickExercise") {
        const auto* referenceId = string("referenceExerciseId");
        if (referenceId == nullptr) {
            return needs("referenceExerciseId");
        }
        const int row = viewModel_.pickerRowOf(qt(*referenceId));
        if (auto* list = driver_.find("pickerList"); list != nullptr && row >= 0) {
            QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, row),
                                      Q_ARG(int, 4 /* ListView.Contain */));
        }
        return press(action, "pickExercise:" + qt(*referenceId));
    }
    if (action == "openExercise") {
        const auto* exerciseId = string("exerciseId");
        if (exerciseId == nullptr) {
            return needs("exerciseId");
        }
        scrollList(qt(*exerciseId));
        return press(action, "exerciseRow:" + qt(*exerciseId));
    }
    if (action == "deleteExercise") {
        const auto* exerciseId = string("exerciseId");
        if (exerciseId == nullptr) {
            return needs("exerciseId");
        }
        const auto id = qt(*exerciseId);
        scrollList(id);
        // Swiping the row from its trailing edge reveals the trash button.
        if (auto* row = driver_.reachable("exerciseRow:" + id)) {
            const auto top = row->mapToScene(QPointF(0, row->height() / 2));
            driver_.drag(top + QPointF(row->width() * 0.9, 0),
                         top + QPointF(row->width() * 0.3, 0));
        }
        return press(action, "deleteExercise:" + id);
    }
    if (action == "openSyncStatus") {
        // The indicator is on the root screen: back to it first, as a list action goes.
        if (!viewModel_.detailExerciseId().isEmpty()) {
            if (auto answer = press(action, "back"); answer.kind != "ok") {
                return answer;
            }
            settle();
        }
        return press(action, "syncIndicator");
    }
    if (action == "sendNow") {
        if (auto* list = driver_.find("syncEntries")) {
            QMetaObject::invokeMethod(list, "positionViewAtEnd");
        }
        return press(action, "sendNow");
    }
    if (action == "dismissSyncStatus" || action == "dismissTimer") {
        const auto sheet = action == "dismissTimer" ? "RestTimer" : "SyncStatusSheet";
        if (viewModel_.sheet() != sheet) {
            return error(action + ": the " + sheet + " sheet is not open");
        }
        return press(action, "closeSheet");
    }
    if (std::find(detailActions.begin(), detailActions.end(), action) != detailActions.end()) {
        return detailAction(action, arguments);
    }
    return std::nullopt;
}

std::optional<Gestures::Answer> ScreenGestures::openDetail(const std::string& action,
                                                           const QString& exerciseId) {
    if (viewModel_.detailExerciseId() != exerciseId) {
        if (!viewModel_.detailExerciseId().isEmpty()) {
            if (auto answer = press(action, "back"); answer.kind != "ok") {
                return answer;
            }
            settle();
        }
        scrollList(exerciseId);
        if (auto answer = press(action, "exerciseRow:" + exerciseId); answer.kind != "ok") {
            return answer;
        }
        settle();
    }
    if (viewModel_.detailExerciseId() != exerciseId) {
        return error(action + ": exercise \"" + exerciseId.toStdString() +
                     "\" has no detail (a placeholder opens the picker)");
    }
    return std::nullopt;
}

Gestures::Answer ScreenGestures::detailAction(const std::string& action,
                                              const Dictionary& arguments) {
    const auto* exerciseId = model::asString(model::lookup(arguments, "exerciseId"));
    if (exerciseId == nullptr) {
        return error(action + " needs \"exerciseId\" (a string)");
    }
    if (viewModel_.exercises()->indexOf(qt(*exerciseId)) < 0) {
        return error("no exercise with id \"" + *exerciseId + "\" in the current workout");
    }
    if (auto failed = openDetail(action, qt(*exerciseId))) {
        return *failed;
    }
    if (action == "addSet") {
        if (!detailViewModel_.hasSets()) {
            return press(action, "addSet");
        }
        return pressAll(action, {"moreMenu", "more:Add Set"});
    }
    const auto* index = model::lookup(arguments, "setIndex");
    if (index == nullptr || index->integer() == nullptr || *index->integer() < 0 ||
        *index->integer() >= detailViewModel_.pageCount()) {
        return error(action + " needs \"setIndex\", the page of one of the exercise's " +
                     std::to_string(detailViewModel_.pageCount()) + " sets (0 = the first)");
    }
    // The crown pages the detail to the set.
    if (const int page = static_cast<int>(*index->integer()); page != detailViewModel_.page()) {
        driver_.turnCrown(detailViewModel_.page() - page);
        settle();
        if (detailViewModel_.page() != page) {
            return error(action + ": the crown did not page the detail to set " +
                         std::to_string(page));
        }
    }
    if (action == "actionButton") {
        return press(action, "actionButton");
    }
    if (action == "deleteSet") {
        return pressAll(action, {"moreMenu", "more:Delete Set"});
    }
    if (action == "plateCalculator") {
        return pressAll(action, {"moreMenu", "more:Plate Calculator"});
    }
    if (action == "changeSetType") {
        const auto* typeText = model::asString(model::lookup(arguments, "type"));
        auto type = typeText != nullptr ? model::setTypeFromText(*typeText) : std::nullopt;
        const auto& infos = model::setTypeInfos();
        const auto info = std::find_if(infos.begin(), infos.end(),
                                       [&](const auto& i) { return type && i.type == *type; });
        if (info == infos.end()) {
            return error("changeSetType needs \"type\", one of warmup, regular, drop, pr, joker, "
                         "restPause, failed");
        }
        return pressAll(action, {"setBadge", "setType:" + qt(std::string(info->name))});
    }
    if (action == "keypad") {
        const auto* field = model::asString(model::lookup(arguments, "field"));
        const auto* keys = model::lookup(arguments, "keys");
        // A keypad left open by the line before goes on where it is.
        std::vector<QString> presses;
        if (!detailViewModel_.keypadOpen()) {
            presses.push_back(field != nullptr ? "field:" + qt(*field) : QString());
        }
        bool good = field != nullptr && keys != nullptr && keys->array() != nullptr;
        for (const auto& key : good ? *keys->array() : platform::Array{}) {
            good = good && key.string() != nullptr && isKeypadKey(*key.string());
            if (good) {
                presses.push_back("keypadKey:" + qt(*key.string()));
            }
        }
        if (!good) {
            return error("keypad needs \"field\" (reps, weight, distance, repsInReserve or "
                         "ratePerceivedExertion) and \"keys\" (a list of digits, \".\" and "
                         "\"delete\")");
        }
        // Screens only: "leaveOpen" stops before closing, to show the keypad mid-entry.
        const auto* leaveOpen = model::lookup(arguments, "leaveOpen");
        if (leaveOpen == nullptr || leaveOpen->boolean() == nullptr || !*leaveOpen->boolean()) {
            presses.push_back("keypadDone");
        }
        return pressAll(action, presses);
    }
    // setDuration: the Time field opens the picker, the crown moves it to the time, "Done".
    const auto* seconds = model::lookup(arguments, "seconds");
    if (seconds == nullptr || seconds->integer() == nullptr ||
        !screens::SetEditor::offersDuration(*seconds->integer())) {
        return error(std::string(screens::SetEditor::durationArgumentError));
    }
    if (auto answer = pressAll(action, {"field:time"}); answer.kind != "ok") {
        return answer;
    }
    const auto target = static_cast<int>(*seconds->integer() / screens::SetEditor::durationStep);
    driver_.turnCrown(detailViewModel_.durationIndex() - target);
    settle();
    if (detailViewModel_.durationIndex() != target) {
        return error("setDuration: the crown did not move the picker to the time");
    }
    return pressAll(action, {"durationDone"});
}

Gestures::Answer ScreenGestures::pressAll(const std::string& action,
                                          const std::vector<QString>& objectNames) {
    for (const auto& name : objectNames) {
        if (auto answer = press(action, name); answer.kind != "ok") {
            return answer;
        }
        settle();
    }
    return ok();
}

void ScreenGestures::settle() {
    // What the press changed reaches the screens now, as it would before the next frame.
    QCoreApplication::sendPostedEvents(&viewModel_, QEvent::MetaCall);
    QCoreApplication::sendPostedEvents(&detailViewModel_, QEvent::MetaCall);
    driver_.settle();
}

Gestures::Answer ScreenGestures::onFace(const std::string& action, const Dictionary& arguments) {
    if (action == "screen") {
        platform::Array texts;
        for (const auto& text : face_->visibleTexts()) {
            texts.push_back(Value(text.toStdString()));
        }
        return {"screen", Dictionary{{"screen", Value("WatchFace")},
                                     {"sheet", Value()},
                                     {"texts", Value(std::move(texts))}}};
    }
    if (action == "screenshot") {
        const auto* path = model::asString(model::lookup(arguments, "path"));
        if (path == nullptr) {
            return error("screenshot needs \"path\" (a string)");
        }
        return face_->screenshot(qt(*path)) ? ok() : error("cannot write a PNG to " + *path);
    }
    if (action == "tapComplication") {
        auto* complication = face_->reachable("complication");
        if (complication == nullptr) {
            return error("tapComplication: the face shows no complication of this program");
        }
        face_->tap(*complication);
        return ok();
    }
    if (action == "tapNotification") {
        auto* banner = face_->reachable("notificationBanner");
        if (banner == nullptr) {
            return error("tapNotification: no notification banner is shown");
        }
        face_->tap(*banner);
        return ok();
    }
    return error(action + ": the watch face is shown; tap the complication to open the program");
}

Gestures::Answer ScreenGestures::press(const std::string& action, const QString& objectName) {
    auto* control = driver_.reachable(objectName);
    if (control == nullptr) {
        return error(action + ": the control \"" + objectName.toStdString() +
                     "\" is not on screen");
    }
    driver_.tap(*control);
    return ok();
}

void ScreenGestures::scrollList(const QString& exerciseId) {
    // The list is under a pushed detail: back to it first, as a person would.
    if (!viewModel_.detailExerciseId().isEmpty()) {
        if (auto* back = driver_.reachable("back")) {
            driver_.tap(*back);
            settle();
        }
    }
    auto* list = driver_.find("exerciseList");
    if (list == nullptr) {
        return;
    }
    if (exerciseId.isEmpty()) {
        QMetaObject::invokeMethod(list, "positionViewAtEnd");
    } else if (const int row = viewModel_.exercises()->indexOf(exerciseId); row >= 0) {
        QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, row),
                                  Q_ARG(int, 4 /* ListView.Contain */));
    }
}

Gestures::Answer ScreenGestures::screen() {
    platform::Array texts;
    for (const auto& text : driver_.visibleTexts()) {
        texts.push_back(Value(text.toStdString()));
    }
    auto sheet = viewModel_.sheet();
    if (sheet.isEmpty() && detailViewModel_.shown()) {
        const auto detailSheet = detailViewModel_.sheet();
        const auto editorSheet = detailViewModel_.editorSheet();
        sheet = detailViewModel_.keypadOpen()      ? QStringLiteral("Keypad")
                : detailSheet == "moreMenu"        ? QStringLiteral("MoreMenu")
                : detailSheet == "setTypeOptions"  ? QStringLiteral("SetTypeOptions")
                : detailSheet == "plateCalculator" ? QStringLiteral("PlateCalculator")
                : !detailSheet.isEmpty()           ? QString()
                : editorSheet == "note"            ? QStringLiteral("NoteSheet")
                : editorSheet == "duration"        ? QStringLiteral("DurationPicker")
                : editorSheet == "bandAlert"       ? QStringLiteral("BandAlert")
                                                   : QString();
    }
    return {"screen", Dictionary{{"screen", Value(driver_.screenName().toStdString())},
                                 {"sheet", sheet.isEmpty() ? Value() : Value(sheet.toStdString())},
                                 {"texts", Value(std::move(texts))}}};
}

Gestures::Answer ScreenGestures::swipe(const std::string& direction) {
    const double w = window_.width();
    const double h = window_.height();
    if (direction == "down") {
        if (viewModel_.sheet().isEmpty() &&
            (!detailViewModel_.shown() ||
             (detailViewModel_.sheet().isEmpty() && detailViewModel_.editorSheet().isEmpty()))) {
            return error("swipe down: no sheet is open");
        }
        // From the top edge, beside the close button, where the sheet's content takes no finger.
        driver_.drag({w * 0.7, h * 0.04}, {w * 0.7, h * 0.9});
        return ok();
    }
    if (direction == "left" || direction == "right") {
        if (driver_.reachable("workoutPages") == nullptr) {
            return error("swipe " + direction + ": the workout pager is not on screen");
        }
        const double from = direction == "left" ? w * 0.85 : w * 0.15;
        const double to = direction == "left" ? w * 0.15 : w * 0.85;
        driver_.drag({from, h * 0.3}, {to, h * 0.3});
        return ok();
    }
    return error("swipe takes \"direction\": \"down\", \"left\" or \"right\"");
}

} // namespace app
