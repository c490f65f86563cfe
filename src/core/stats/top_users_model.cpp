#include "core/stats/top_users_model.h"

#include <climits>

namespace qarsilo {

TopUsersModel::TopUsersModel(const GeneralStats& stats, QObject* parent)
    : QAbstractTableModel(parent)
    , m_stats(stats) {}

const TopUser* TopUsersModel::row(int r) const {
    const auto& rows = m_stats.rows();
    return r >= 0 && static_cast<std::size_t>(r) < rows.size() ? &rows[static_cast<std::size_t>(r)]
                                                               : nullptr;
}

int TopUsersModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return static_cast<int>(std::min<std::size_t>(m_stats.rows().size(), INT_MAX));
}

int TopUsersModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : TopUserColumn::Count;
}

QVariant TopUsersModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() < 0 || index.column() >= TopUserColumn::Count)
        return {};
    const TopUser* r = row(index.row());
    if (!r)
        return {};
    if (role == Qt::DisplayRole)
        return topUserCell(*r, index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

QVariant TopUsersModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= TopUserColumn::Count)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kTopUserTitles[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

} // namespace qarsilo
