#pragma once

#include "screens/bridge/change_feed.hpp"
#include "screens/bridge/rows_model.hpp"
#include "screens/logic/sync_health.hpp"

#include <QObject>
#include <QString>

namespace screens {

// The sync indicator on the root screen and the sync screen it opens, as QML sees them: every
// property reads the sync health logic, and `changed` follows it. Main queue only.
class SyncHealthViewModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool indicatorShown READ indicatorShown NOTIFY changed)
    // The number of changes waiting, as the indicator shows it.
    Q_PROPERTY(QString indicatorText READ indicatorText NOTIFY changed)
    Q_PROPERTY(QString summary READ summary NOTIFY changed)
    Q_PROPERTY(QString reachability READ reachability NOTIFY changed)
    Q_PROPERTY(QString lastConfirmed READ lastConfirmed NOTIFY changed)
    // Empty when nothing holds the queue back.
    Q_PROPERTY(QString heldBack READ heldBack NOTIFY changed)
    Q_PROPERTY(RowsModel* rows READ rows CONSTANT)
    Q_PROPERTY(QString sendNowText READ sendNowText CONSTANT)

public:
    SyncHealthViewModel(SyncHealth& health, const platform::Clock& clock,
                        QObject* parent = nullptr);
    ~SyncHealthViewModel() override;

    bool indicatorShown() const { return indicatorShown_; }
    QString indicatorText() const { return indicatorText_; }
    QString summary() const { return text(texts_.summary); }
    QString reachability() const { return text(texts_.reachability); }
    QString lastConfirmed() const { return text(texts_.lastConfirmed); }
    QString heldBack() const { return text(texts_.heldBack); }
    RowsModel* rows() { return &rows_; }
    QString sendNowText() const { return text(sendNowLabel); }

    Q_INVOKABLE void open();
    Q_INVOKABLE void sendNow();

signals:
    void changed();

private:
    static QString text(std::string_view s) {
        return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
    }
    void update();

    SyncHealth& health_;
    const platform::Clock& clock_;
    RowsModel rows_;
    SyncScreenTexts texts_;
    bool indicatorShown_ = false;
    QString indicatorText_;
    ChangeFeed feed_;
};

} // namespace screens
