#pragma once

#include "core/analysis/frame_store.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <vector>

namespace qarsilo {

class DisplayFilter;

/// How the "Time" column shows a frame's time stamp.
enum class TimeFormat : std::uint8_t {
    AsCaptured,      ///< the analyzer's own text (the default)
    DateAndTime,     ///< local date and time of day with microseconds
    SinceFirstFrame, ///< seconds since the first stored frame
};

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

    /// Shows only the frames `rows` (store indices, ascending) found by
    /// `filter` among the first `checked` frames; refresh() goes on testing
    /// later frames with it. The filter must outlive its use here.
    void showOnly(const DisplayFilter* filter, std::vector<std::uint32_t> rows,
                  std::size_t checked);
    /// Shows every stored frame again.
    void showAll();
    bool filtered() const { return m_filter != nullptr; }
    /// The store index of list row `row`.
    std::size_t frameIndex(int row) const {
        return m_filter ? m_shown[std::size_t(row)] : std::size_t(row);
    }
    /// The list row of store index `frame`, or -1 when it is not shown.
    int rowOfFrame(std::size_t frame) const;

    void setTimeFormat(TimeFormat format);
    TimeFormat timeFormat() const { return m_timeFormat; }

    /// Width in pixels of each column as the list first shows it.
    static int columnWidth(int column);
    /// A text as long as the longest the "Time" column shows in `format`,
    /// each of its digits ("0") standing for any digit.
    static QString timeTextPattern(TimeFormat format);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const FrameStore& m_store;
    int m_rows = 0;
    const DisplayFilter* m_filter = nullptr;
    std::vector<std::uint32_t> m_shown; ///< store indices, while filtered
    std::size_t m_checked = 0;          ///< frames the filter has seen
    TimeFormat m_timeFormat = TimeFormat::AsCaptured;
};

} // namespace qarsilo
