#include "screens/viewmodels/content_view_model.hpp"

#include "model/palette.hpp"
#include "screens/bridge/display_text.hpp"
#include "screens/logic/list_rows.hpp"
#include "screens/logic/texts.hpp"
#include "timer/plates.hpp"

#include <QColor>

namespace screens {

namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString rgbName(const model::Rgb& rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue).name();
}

QString color(model::PaletteColor c) {
    return rgbName(model::rgb(c));
}

} // namespace

ContentViewModel::ContentViewModel(Services services, QObject* parent)
    : QObject(parent), services_(services),
      workouts_({"workoutId", "title", "exerciseNames", "complete"}),
      exercises_({"exerciseId", "title", "detail", "placeholder", "stripeColor"}),
      pickerRows_({"section", "referenceExerciseId", "name"}),
      restPlates_({"weight", "count", "dark", "light"}), feed_(this, [this] { update(); }),
      rowFeed_(this, [this] { update(); }) {
    followAll();
    update();
}

ContentViewModel::~ContentViewModel() = default;

void ContentViewModel::followAll() {
    auto& screen = services_.screen;
    auto& data = services_.data;
    feed_.follow(data.workoutStatus);
    feed_.follow(data.availableWorkouts);
    feed_.follow(data.exercises);
    feed_.follow(data.referenceExercises);
    feed_.follow(data.syncWorkoutError);
    feed_.follow(data.syncingFinishedWorkoutStatus);
    feed_.follow(services_.workoutManager.sessionState);
    feed_.follow(services_.workoutManager.lastHeartRate);
    feed_.follow(services_.workoutManager.totalEnergyBurned);
    feed_.follow(services_.workoutManager.workout);
    feed_.follow(services_.restTimer.timerIsRunning);
    feed_.follow(services_.restTimer.nextSetExercise);
    feed_.follow(services_.restTimer.nextSetLoad);
    feed_.follow(services_.restTimer.titleMessage);
    feed_.follow(services_.restTimer.nextSetPlates);
    feed_.follow(screen.availableWorkoutsPage);
    feed_.follow(screen.tagToShow);
    feed_.follow(screen.scrollTarget);
    feed_.follow(screen.showingWorkoutFinish);
    feed_.follow(screen.showingAddExerciseScreen);
    feed_.follow(screen.showingSyncStatus);
    feed_.follow(screen.showSyncTip);
    feed_.follow(screen.restTimerSheetIsPresented);
    if (services_.syncHealth != nullptr) {
        feed_.follow(services_.syncHealth->showing);
    }
}

void ContentViewModel::update() {
    auto& screen = services_.screen;
    std::vector<QVariantMap> cards;
    for (const auto& card : screen.workoutCards()) {
        QStringList names;
        for (const auto& name : card.exerciseNames) {
            names << displayText(name);
        }
        cards.push_back({{"key", text(card.workoutId)},
                         {"workoutId", text(card.workoutId)},
                         {"title", displayText(card.title)},
                         {"exerciseNames", names},
                         {"complete", card.complete}});
    }
    workouts_.setRows(std::move(cards));

    rowFeed_.clear();
    std::vector<QVariantMap> rows;
    for (const auto& exercise : screen.listedExercises()) {
        rowFeed_.follow(exercise->exerciseSets);
        for (const auto& set : exercise->exerciseSets.get()) {
            rowFeed_.follow(set->status);
        }
        const auto label = exerciseRowLabel(*exercise);
        rows.push_back(
            {{"key", text(exercise->id)},
             {"exerciseId", text(exercise->id)},
             {"title", displayText(label.title)},
             {"detail", label.detail ? displayText(*label.detail) : QString()},
             {"placeholder", label.placeholder},
             {"stripeColor", exercise->superset ? color(exercise->color()) : QString()}});
    }
    exercises_.setRows(std::move(rows));

    std::vector<QVariantMap> picker;
    const auto sections = screen.showingAddExerciseScreen.get()
                              ? screen.pickerSections()
                              : decltype(screen.pickerSections()){};
    auto add = [&](std::string_view section, const auto& entries) {
        for (const auto& entry : entries) {
            picker.push_back({{"key", text(section) + "/" + text(entry->id)},
                              {"section", text(section)},
                              {"referenceExerciseId", text(entry->id)},
                              {"name", displayText(entry->name)}});
        }
    };
    // The catalogue runs to hundreds of rows: built only while the picker shows them, not on
    // every change of the workout.
    if (screen.showingAddExerciseScreen.get()) {
        add(texts::recentSection, sections.recent);
        add(texts::allExercisesSection, sections.all);
    }
    pickerRows_.setRows(std::move(picker));

    std::vector<QVariantMap> plates;
    for (const auto& row : timer::plateRows(services_.restTimer.nextSetPlates.get())) {
        plates.push_back({{"key", text(row.id)},
                          {"weight", text(row.weightText)},
                          {"count", text(row.countText)},
                          {"dark", rgbName(row.color.dark)},
                          {"light", rgbName(row.color.light)}});
    }
    restPlates_.setRows(std::move(plates));

    if (auto* rest = screen.restTimerScreen()) {
        rowFeed_.follow(rest->message);
    }
    emit changed();
}

QString ContentViewModel::content() const {
    switch (services_.screen.content()) {
    case MainScreen::Content::availableWorkouts:
        return QStringLiteral("availableWorkouts");
    case MainScreen::Content::exerciseList:
        return QStringLiteral("exerciseList");
    case MainScreen::Content::phonePrompt:
        break;
    }
    return QStringLiteral("phonePrompt");
}

int ContentViewModel::workoutPage() const {
    return services_.screen.availableWorkoutsPage.get();
}

void ContentViewModel::setWorkoutPage(int page) {
    if (page != services_.screen.availableWorkoutsPage.get()) {
        services_.screen.availableWorkoutsPage = page;
    }
}

bool ContentViewModel::startWorkoutEnabled() const {
    return services_.screen.startWorkoutEnabled();
}

QString ContentViewModel::syncWorkoutError() const {
    return displayText(services_.data.syncWorkoutError.get(), 400);
}

QString ContentViewModel::finishButtonLabel() const {
    return text(services_.screen.finishButtonLabel());
}

QString ContentViewModel::heartRate() const {
    return text(metricsHeader(services_.workoutManager.lastHeartRate.get(),
                              services_.workoutManager.totalEnergyBurned.get())
                    .heartRate);
}

QString ContentViewModel::energy() const {
    return text(metricsHeader(services_.workoutManager.lastHeartRate.get(),
                              services_.workoutManager.totalEnergyBurned.get())
                    .energy);
}

QString ContentViewModel::scrollTarget() const {
    const auto& target = services_.screen.scrollTarget.get();
    return target ? text(*target) : QString();
}

QString ContentViewModel::detailExerciseId() const {
    const auto& tag = services_.screen.tagToShow.get();
    return tag && services_.screen.detail() != nullptr ? text(*tag) : QString();
}

QString ContentViewModel::detailTitle() const {
    const auto& tag = services_.screen.tagToShow.get();
    auto exercise = tag ? services_.screen.findExercise(*tag) : nullptr;
    return exercise ? displayText(exercise->name) : QString();
}

QString ContentViewModel::sheet() const {
    auto& screen = services_.screen;
    if (screen.showingWorkoutFinish.get()) {
        return QStringLiteral("WorkoutFinishSheet");
    }
    if (screen.showingAddExerciseScreen.get()) {
        return QStringLiteral("ExercisePicker");
    }
    if (screen.showingSyncStatus.get()) {
        return QStringLiteral("SyncStatusSheet");
    }
    if (services_.syncHealth != nullptr && services_.syncHealth->showing.get()) {
        return QStringLiteral("SyncHealthSheet");
    }
    if (screen.restTimerSheetIsPresented.get()) {
        return QStringLiteral("RestTimer");
    }
    return {};
}

QStringList ContentViewModel::handOffLines() const {
    QStringList lines;
    for (const auto& line : services_.screen.handOffStatusLines()) {
        lines << text(line);
    }
    return lines;
}

QString ContentViewModel::restTitle() const {
    auto* rest = services_.screen.restTimerScreen();
    return rest != nullptr ? displayText(rest->title()) : QString();
}

QString ContentViewModel::restTimeLeft() const {
    auto* rest = services_.screen.restTimerScreen();
    return rest != nullptr ? text(rest->timeLeftText()) : QString();
}

QString ContentViewModel::restNextExercise() const {
    return displayText(services_.restTimer.nextSetExercise.get());
}

QString ContentViewModel::restNextLoad() const {
    return displayText(services_.restTimer.nextSetLoad.get());
}

QVariantMap ContentViewModel::texts() const {
    return {{"startWorkout", text(texts::startWorkout)},
            {"workoutComplete", text(texts::workoutComplete)},
            {"refresh", text(texts::refresh)},
            {"addExercise", text(texts::addExercise)},
            {"finishWorkout", text(texts::finishWorkout)},
            {"finishQuestion", text(texts::finishQuestion)},
            {"next", text(texts::next)},
            {"noWorkouts", text(noWorkoutsText)},
            {"phonePrompt", text(phonePromptText)}};
}

void ContentViewModel::startWorkout(const QString& workoutId) {
    services_.screen.startWorkout(workoutId.toStdString());
}

void ContentViewModel::refresh() {
    services_.screen.refresh();
}

void ContentViewModel::finishTapped() {
    services_.screen.finishButtonTapped();
}

void ContentViewModel::confirmFinish() {
    services_.screen.confirmFinish();
}

void ContentViewModel::openPicker(const QString& placeholderExerciseId) {
    auto placeholder = placeholderExerciseId.isEmpty()
                           ? nullptr
                           : services_.screen.findExercise(placeholderExerciseId.toStdString());
    services_.screen.openExercisePicker(placeholder);
}

void ContentViewModel::pickExercise(const QString& referenceExerciseId) {
    services_.screen.pickExercise(referenceExerciseId.toStdString());
}

void ContentViewModel::openExercise(const QString& exerciseId) {
    services_.screen.openExercise(exerciseId.toStdString());
}

void ContentViewModel::deleteExercise(const QString& exerciseId) {
    if (auto exercise = services_.screen.findExercise(exerciseId.toStdString())) {
        services_.screen.deleteExercise(exercise);
    }
}

int ContentViewModel::pickerRowOf(const QString& referenceExerciseId) const {
    for (auto section : {texts::recentSection, texts::allExercisesSection}) {
        if (auto row = pickerRows_.indexOf(text(section) + "/" + referenceExerciseId); row >= 0) {
            return row;
        }
    }
    return -1;
}

void ContentViewModel::closeDetail() {
    services_.screen.tagToShow = std::nullopt;
}

void ContentViewModel::dismissSheet(const QString& name) {
    if (name != sheet()) {
        return;
    }
    auto& screen = services_.screen;
    if (name == QLatin1String("WorkoutFinishSheet")) {
        screen.showingWorkoutFinish = false;
    } else if (name == QLatin1String("ExercisePicker")) {
        screen.showingAddExerciseScreen = false;
    } else if (name == QLatin1String("SyncStatusSheet")) {
        screen.showingSyncStatus = false;
    } else if (name == QLatin1String("SyncHealthSheet")) {
        services_.syncHealth->showing = false;
    } else if (name == QLatin1String("RestTimer")) {
        screen.dismissRestTimer();
    }
}

} // namespace screens
