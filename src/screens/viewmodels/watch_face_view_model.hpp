#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace platform {
class ComplicationDataSource;
}

namespace screens {

// A small watch face, standing in for the platform's, with one slot for the program's
// complication: it asks the program's data source as the platform would and shows what it is
// told. This program's complication shows no data, so the slot carries the descriptor's name and
// only opens the program.
class WatchFaceViewModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString time READ time NOTIFY timeChanged)
    // The slot's label: the first descriptor's display name; empty when the program offers none.
    Q_PROPERTY(QString complicationName READ complicationName CONSTANT)
    // What the complication shows now, when the program gives an entry; empty otherwise.
    Q_PROPERTY(QString complicationEntry READ complicationEntry CONSTANT)

public:
    explicit WatchFaceViewModel(platform::ComplicationDataSource& source,
                                QObject* parent = nullptr);

    QString time() const;
    QString complicationName() const { return name_; }
    QString complicationEntry() const { return entry_; }

    // The finger on the complication's slot.
    Q_INVOKABLE void tapComplication();

signals:
    void timeChanged();
    // The program's window is to open.
    void openProgram();

private:
    QString name_;
    QString entry_;
    QTimer clock_;
};

} // namespace screens
