#include "screens/bridge/rows_model.hpp"

#include <algorithm>

namespace screens {

RowsModel::RowsModel(QStringList roles, QObject* parent)
    : QAbstractListModel(parent), roles_(std::move(roles)) {
    if (!roles_.contains(QStringLiteral("key"))) {
        roles_.prepend(QStringLiteral("key"));
    }
}

int RowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant RowsModel::data(const QModelIndex& index, int role) const {
    const int column = role - Qt::UserRole;
    if (!index.isValid() || index.row() >= count() || column < 0 || column >= roles_.size()) {
        return {};
    }
    return rows_[static_cast<std::size_t>(index.row())].value(roles_[column]);
}

QHash<int, QByteArray> RowsModel::roleNames() const {
    QHash<int, QByteArray> names;
    for (int i = 0; i < roles_.size(); ++i) {
        names.insert(Qt::UserRole + i, roles_[i].toUtf8());
    }
    return names;
}

void RowsModel::setRows(std::vector<QVariantMap> rows) {
    const bool sameKeys = std::equal(rows.begin(), rows.end(), rows_.begin(), rows_.end(),
                                     [](const QVariantMap& a, const QVariantMap& b) {
                                         return a.value("key") == b.value("key");
                                     });
    if (!sameKeys) {
        const bool countChanges = rows.size() != rows_.size();
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
        if (countChanges) {
            emit countChanged();
        }
        return;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] != rows_[i]) {
            rows_[i] = std::move(rows[i]);
            const auto at = index(static_cast<int>(i));
            emit dataChanged(at, at);
        }
    }
}

int RowsModel::indexOf(const QString& key) const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].value("key").toString() == key) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace screens

namespace screens {

QVariant RowsModel::value(int row, const QString& role) const {
    return row >= 0 && row < count() ? rows_[static_cast<std::size_t>(row)].value(role)
                                     : QVariant();
}

} // namespace screens
