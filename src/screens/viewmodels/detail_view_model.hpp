#pragma once

#include "screens/bridge/change_feed.hpp"
#include "screens/bridge/rows_model.hpp"
#include "screens/logic/main_screen.hpp"
#include "screens/logic/set_editor.hpp"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace screens {

// The exercise detail as QML sees it: the pushed exercise's title, toolbar and sheets, and the
// editor of the set on the page shown with its fields and keypad. Every property reads the
// detail's logic; `changed` follows its observables, and each action tells it too, since the
// logic's sheets and keypads are plain state. Main queue only.
class DetailViewModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool shown READ shown NOTIFY changed)
    Q_PROPERTY(QString title READ title NOTIFY changed)
    Q_PROPERTY(bool hasSets READ hasSets NOTIFY changed)
    Q_PROPERTY(int page READ page WRITE setPage NOTIFY changed)
    Q_PROPERTY(int pageCount READ pageCount NOTIFY changed)
    // The set's kind letter in its badge ("W", "1"); "?" in red outside the sets.
    Q_PROPERTY(QString badge READ badge NOTIFY changed)
    Q_PROPERTY(bool badgeWarns READ badgeWarns NOTIFY changed)
    // "stopwatch", "checkmark" or "questionmark"; blue behind it once the set is complete.
    Q_PROPERTY(QString actionSymbol READ actionSymbol NOTIFY changed)
    Q_PROPERTY(bool actionDone READ actionDone NOTIFY changed)
    // "chevron.down", "square" on the last set, empty outside the sets.
    Q_PROPERTY(QString nextSymbol READ nextSymbol NOTIFY changed)
    // "moreMenu", "setTypeOptions", "plateCalculator" or empty.
    Q_PROPERTY(QString sheet READ sheet NOTIFY changed)
    Q_PROPERTY(RowsModel* moreMenu READ moreMenu CONSTANT)
    Q_PROPERTY(RowsModel* setTypes READ setTypes CONSTANT)
    Q_PROPERTY(RowsModel* plates READ plates CONSTANT)
    Q_PROPERTY(QString plateTitle READ plateTitle NOTIFY changed)
    Q_PROPERTY(QStringList plateNotes READ plateNotes NOTIFY changed)
    // The set editor's own sheet: "note", "duration", "bandAlert" or empty.
    Q_PROPERTY(QString editorSheet READ editorSheet NOTIFY changed)
    Q_PROPERTY(bool showsNote READ showsNote NOTIFY changed)
    Q_PROPERTY(QString noteText READ noteText NOTIFY changed)
    // The duration picker's choice, as an index into its choices (0 s up in 5 s steps).
    Q_PROPERTY(int durationIndex READ durationIndex WRITE setDurationIndex NOTIFY changed)
    Q_PROPERTY(int durationChoiceCount READ durationChoiceCount CONSTANT)
    Q_PROPERTY(QString exerciseName READ exerciseName NOTIFY changed)
    Q_PROPERTY(RowsModel* fields READ fields CONSTANT)
    // The keypad over the screen while a field's is open.
    Q_PROPERTY(bool keypadOpen READ keypadOpen NOTIFY changed)
    Q_PROPERTY(QString keypadText READ keypadText NOTIFY changed)
    Q_PROPERTY(double keypadTextOpacity READ keypadTextOpacity NOTIFY changed)
    Q_PROPERTY(RowsModel* keys READ keys CONSTANT)
    Q_PROPERTY(QVariantMap texts READ texts CONSTANT)

public:
    DetailViewModel(MainScreen& screen, watchsync::WatchDataSource& data,
                    timer::RestTimerManager& restTimer, QObject* parent = nullptr);
    ~DetailViewModel() override;

    bool shown() const { return detail() != nullptr; }
    QString title() const;
    bool hasSets() const;
    int page() const;
    void setPage(int page);
    int pageCount() const;
    QString badge() const;
    bool badgeWarns() const;
    QString actionSymbol() const;
    bool actionDone() const;
    QString nextSymbol() const;
    QString sheet() const;
    RowsModel* moreMenu() { return &moreMenu_; }
    RowsModel* setTypes() { return &setTypes_; }
    RowsModel* plates() { return &plates_; }
    QString plateTitle() const;
    QStringList plateNotes() const;
    QString editorSheet() const;
    bool showsNote() const;
    QString noteText() const;
    int durationIndex() const;
    void setDurationIndex(int index);
    int durationChoiceCount() const;
    Q_INVOKABLE QString durationChoiceText(int index) const;
    QString exerciseName() const;
    RowsModel* fields() { return &fields_; }
    bool keypadOpen() const;
    QString keypadText() const;
    double keypadTextOpacity() const;
    RowsModel* keys() { return &keys_; }
    QVariantMap texts() const;

    Q_INVOKABLE void tapAction();
    Q_INVOKABLE void next();
    Q_INVOKABLE void openMoreMenu();
    Q_INVOKABLE void chooseMore(int row);
    Q_INVOKABLE void openSetTypes();
    Q_INVOKABLE void chooseSetType(int row);
    Q_INVOKABLE void closeSheet();
    Q_INVOKABLE void addSet();
    Q_INVOKABLE void deleteExercise();
    // A field block: a keypad field opens its keypad.
    Q_INVOKABLE void tapField(const QString& kind);
    Q_INVOKABLE void pressKey(const QString& key);
    Q_INVOKABLE void closeKeypad();
    Q_INVOKABLE void openNote();
    Q_INVOKABLE void durationDone();
    // Closes the note, the duration picker without a change, or the band alert.
    Q_INVOKABLE void closeEditorSheet();

signals:
    void changed();

private:
    ExerciseDetail* detail() const { return screen_.detail(); }
    // The editor of the set shown: made again for another set, kept across the phone's copy of
    // the same set so that an open keypad survives it.
    SetEditor* editor();
    KeypadField* openField();
    void update();

    MainScreen& screen_;
    watchsync::WatchDataSource& data_;
    timer::RestTimerManager& restTimer_;
    RowsModel moreMenu_;
    RowsModel setTypes_;
    RowsModel plates_;
    RowsModel fields_;
    RowsModel keys_;
    std::unique_ptr<SetEditor> editor_;
    ChangeFeed feed_;
    ChangeFeed setFeed_;
};

} // namespace screens
