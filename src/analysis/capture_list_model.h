#pragma once

#include "analysis/frame_store.h"

#include <QAbstractTableModel>

namespace qarsilo {

/// The analyzer's list over its frame store: one row per stored frame, with
/// the columns "No.", "Time", "Source", "Destination", "Protocol" and "Info".
/// Texts are made when a row is shown; frames that arrived are announced in
/// one batch by refresh(), which the view calls on a short timer.
class CaptureListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Number, Time, Source, Destination, Protocol, Info, ColumnCount };

    explicit CaptureListModel(const FrameStore& store, QObject* parent = nullptr);

    /// Announces the frames stored since the last call. Returns how many.
    int refresh();
    /// Forgets every row (call after the store was cleared).
    void reset();

    /// Width in pixels of each column as the list first shows it.
    static int columnWidth(int column);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const FrameStore& m_store;
    int m_rows = 0;
};

} // namespace qarsilo
