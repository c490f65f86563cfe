#pragma once

#include "core/stats/general_stats.h"

#include <QAbstractTableModel>

namespace qarsilo {

/// The Top Users list over the rows of a GeneralStats' last tick. Texts are
/// made only for the cells the list shows. The owner brackets each tick with
/// beginUpdate() and endUpdate(), so the list sees the new second in one reset.
class TopUsersModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TopUsersModel(const GeneralStats& stats, QObject* parent = nullptr);

    void beginUpdate() { beginResetModel(); }
    void endUpdate() { endResetModel(); }

    const TopUser* row(int r) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const GeneralStats& m_stats;
};

} // namespace qarsilo
