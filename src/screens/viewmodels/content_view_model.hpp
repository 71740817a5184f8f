#pragma once

#include "screens/bridge/change_feed.hpp"
#include "screens/bridge/rows_model.hpp"
#include "screens/logic/main_screen.hpp"
#include "screens/logic/sync_health.hpp"

#include <QObject>
#include <QString>
#include <QStringList>

namespace screens {

// The root screen, its sheets and the metrics header as QML sees them: every property reads the
// root screen's logic and the managers behind it, and `changed` follows their observables; the
// invokables are the controls' actions. Main queue only.
class ContentViewModel final : public QObject {
    Q_OBJECT
    // "availableWorkouts", "exerciseList" or "phonePrompt".
    Q_PROPERTY(QString content READ content NOTIFY changed)
    Q_PROPERTY(RowsModel* workouts READ workouts CONSTANT)
    Q_PROPERTY(int workoutPage READ workoutPage WRITE setWorkoutPage NOTIFY changed)
    Q_PROPERTY(bool startWorkoutEnabled READ startWorkoutEnabled NOTIFY changed)
    Q_PROPERTY(QString syncWorkoutError READ syncWorkoutError NOTIFY changed)
    Q_PROPERTY(RowsModel* exercises READ exercises CONSTANT)
    Q_PROPERTY(QString finishButtonLabel READ finishButtonLabel NOTIFY changed)
    Q_PROPERTY(QString heartRate READ heartRate NOTIFY changed)
    Q_PROPERTY(QString energy READ energy NOTIFY changed)
    // The exercise the list scrolls to, when the logic moves the user there.
    Q_PROPERTY(QString scrollTarget READ scrollTarget NOTIFY changed)
    // The exercise whose detail is pushed; empty when none.
    Q_PROPERTY(QString detailExerciseId READ detailExerciseId NOTIFY changed)
    Q_PROPERTY(QString detailTitle READ detailTitle NOTIFY changed)
    // The open sheet: "WorkoutFinishSheet", "ExercisePicker", "SyncStatusSheet",
    // "SyncHealthSheet", "RestTimer" or empty. At most one shows at a time; the first in that order
    // wins.
    Q_PROPERTY(QString sheet READ sheet NOTIFY changed)
    Q_PROPERTY(RowsModel* pickerRows READ pickerRows CONSTANT)
    Q_PROPERTY(QStringList handOffLines READ handOffLines NOTIFY changed)
    Q_PROPERTY(QString restTitle READ restTitle NOTIFY changed)
    Q_PROPERTY(QString restTimeLeft READ restTimeLeft NOTIFY changed)
    Q_PROPERTY(QString restNextExercise READ restNextExercise NOTIFY changed)
    Q_PROPERTY(QString restNextLoad READ restNextLoad NOTIFY changed)
    // The next set's plates per side, in their colours.
    Q_PROPERTY(RowsModel* restPlates READ restPlates CONSTANT)
    // The fixed texts, by name ("startWorkout", "finishQuestion", ...).
    Q_PROPERTY(QVariantMap texts READ texts CONSTANT)

public:
    struct Services {
        MainScreen& screen;
        watchsync::WatchDataSource& data;
        session::WorkoutManager& workoutManager;
        timer::RestTimerManager& restTimer;
        // The sync screen's sheet; none without it.
        SyncHealth* syncHealth = nullptr;
    };

    explicit ContentViewModel(Services services, QObject* parent = nullptr);
    ~ContentViewModel() override;

    QString content() const;
    RowsModel* workouts() { return &workouts_; }
    int workoutPage() const;
    void setWorkoutPage(int page);
    bool startWorkoutEnabled() const;
    QString syncWorkoutError() const;
    RowsModel* exercises() { return &exercises_; }
    QString finishButtonLabel() const;
    QString heartRate() const;
    QString energy() const;
    QString scrollTarget() const;
    QString detailExerciseId() const;
    QString detailTitle() const;
    QString sheet() const;
    RowsModel* pickerRows() { return &pickerRows_; }
    QStringList handOffLines() const;
    QString restTitle() const;
    QString restTimeLeft() const;
    QString restNextExercise() const;
    QString restNextLoad() const;
    RowsModel* restPlates() { return &restPlates_; }
    QVariantMap texts() const;

    Q_INVOKABLE void startWorkout(const QString& workoutId);
    Q_INVOKABLE void refresh();
    Q_INVOKABLE void finishTapped();
    Q_INVOKABLE void confirmFinish();
    Q_INVOKABLE void openPicker(const QString& placeholderExerciseId);
    Q_INVOKABLE void pickExercise(const QString& referenceExerciseId);
    Q_INVOKABLE void openExercise(const QString& exerciseId);
    Q_INVOKABLE void deleteExercise(const QString& exerciseId);
    Q_INVOKABLE void closeDetail();
    // The picker's first row for that catalogue entry; -1 when it has none.
    Q_INVOKABLE int pickerRowOf(const QString& referenceExerciseId) const;
    // A sheet closed by hand (swipe, close button): the one named, if it is the open one.
    Q_INVOKABLE void dismissSheet(const QString& name);

signals:
    void changed();

private:
    // Rebuilds the rows and follows what they show: the exercises' sets come and go.
    void update();
    void followAll();

    Services services_;
    RowsModel workouts_;
    RowsModel exercises_;
    RowsModel pickerRows_;
    RowsModel restPlates_;
    ChangeFeed feed_;
    // Follows the sets of the listed exercises; rebuilt when the rows change.
    ChangeFeed rowFeed_;
};

} // namespace screens
