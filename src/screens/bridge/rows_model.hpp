#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariantMap>

#include <vector>

namespace screens {

// A list model over rows the view-model builds from the logic, each a map from role name to
// value. Rows are told apart by their `key` role (unique within the list): a new set of rows is
// applied as the inserts, removals, moves and changes that lead to it, so a list keeps its scroll
// position and redraws only what changed.
class RowsModel final : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    RowsModel(QStringList roles, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return static_cast<int>(rows_.size()); }
    void setRows(std::vector<QVariantMap> rows);
    // The row whose `key` is `key`; -1 when none.
    Q_INVOKABLE int indexOf(const QString& key) const;
    // The row's value of that role; invalid when there is no such row.
    Q_INVOKABLE QVariant value(int row, const QString& role) const;

signals:
    void countChanged();

private:
    QStringList roles_;
    std::vector<QVariantMap> rows_;
};

} // namespace screens
