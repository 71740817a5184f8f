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
    // Row by row, as inserts, removals and moves, so that a list keeps its scroll position and
    // only what changed is redrawn.
    const auto keyOf = [](const QVariantMap& row) { return row.value(QStringLiteral("key")); };
    const auto countBefore = rows_.size();
    for (auto i = rows_.size(); i-- > 0;) {
        const bool kept = std::any_of(rows.begin(), rows.end(), [&](const QVariantMap& row) {
            return keyOf(row) == keyOf(rows_[i]);
        });
        if (!kept) {
            beginRemoveRows({}, static_cast<int>(i), static_cast<int>(i));
            rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(i));
            endRemoveRows();
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int at = static_cast<int>(i);
        if (i < rows_.size() && keyOf(rows_[i]) == keyOf(rows[i])) {
            if (rows_[i] != rows[i]) {
                rows_[i] = std::move(rows[i]);
                emit dataChanged(index(at), index(at));
            }
            continue;
        }
        auto later =
            std::find_if(rows_.begin() + static_cast<std::ptrdiff_t>(i), rows_.end(),
                         [&](const QVariantMap& row) { return keyOf(row) == keyOf(rows[i]); });
        if (later == rows_.end()) {
            beginInsertRows({}, at, at);
            rows_.insert(rows_.begin() + at, std::move(rows[i]));
            endInsertRows();
            continue;
        }
        const int from = static_cast<int>(later - rows_.begin());
        beginMoveRows({}, from, from, {}, at);
        auto moved = std::move(*later);
        rows_.erase(later);
        rows_.insert(rows_.begin() + at, std::move(rows[i]));
        endMoveRows();
        if (moved != rows_[i]) {
            emit dataChanged(index(at), index(at));
        }
    }
    if (rows_.size() != countBefore) {
        emit countChanged();
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
