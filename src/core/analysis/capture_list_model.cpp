#include "core/analysis/capture_list_model.h"

#include "core/analysis/classify.h"
#include "core/analysis/display_filter.h"
#include "core/analysis/text_format.h"

#include <QDateTime>

#include <algorithm>
#include <limits>

namespace qarsilo {

namespace {
struct ColumnSpec {
    const char* title;
    int width;
};
constexpr ColumnSpec kColumns[] = {{"No.", 50},          {"Time", 150},     {"Source", 150},
                                   {"Destination", 150}, {"Protocol", 100}, {"Info", 400}};
static_assert(std::size(kColumns) == CaptureListModel::ColumnCount);
} // namespace

CaptureListModel::CaptureListModel(const FrameStore& store, QObject* parent)
    : QAbstractTableModel(parent)
    , m_store(store) {}

int CaptureListModel::refresh() {
    if (m_filter) {
        // New frames go through the filter as they come.
        const std::size_t stored = m_store.size();
        std::vector<std::uint32_t> more = m_filter->scan(m_store, m_checked, stored);
        m_checked = stored;
        const std::size_t room = std::size_t(std::numeric_limits<int>::max()) - m_shown.size();
        if (more.size() > room)
            more.resize(room);
        if (more.empty())
            return 0;
        const int first = int(m_shown.size());
        beginInsertRows(QModelIndex(), first, first + int(more.size()) - 1);
        m_shown.insert(m_shown.end(), more.begin(), more.end());
        m_rows = int(m_shown.size());
        endInsertRows();
        return int(more.size());
    }
    // A list view counts rows in int; frames beyond that stay stored but unlisted.
    const std::size_t stored = m_store.size();
    const int available = stored > std::size_t(std::numeric_limits<int>::max())
                              ? std::numeric_limits<int>::max()
                              : int(stored);
    if (available <= m_rows)
        return 0;
    const int added = available - m_rows;
    beginInsertRows(QModelIndex(), m_rows, available - 1);
    m_rows = available;
    endInsertRows();
    return added;
}

void CaptureListModel::reset() {
    beginResetModel();
    m_rows = 0;
    m_shown.clear();
    m_checked = 0;
    endResetModel();
}

void CaptureListModel::showOnly(const DisplayFilter* filter, std::vector<std::uint32_t> rows,
                                std::size_t checked) {
    beginResetModel();
    m_filter = filter;
    m_shown = std::move(rows);
    if (m_shown.size() > std::size_t(std::numeric_limits<int>::max()))
        m_shown.resize(std::size_t(std::numeric_limits<int>::max()));
    m_checked = checked;
    m_rows = int(m_shown.size());
    endResetModel();
}

void CaptureListModel::showAll() {
    beginResetModel();
    m_filter = nullptr;
    m_shown.clear();
    m_checked = 0;
    m_rows = 0;
    endResetModel();
    refresh();
}

int CaptureListModel::rowOfFrame(std::size_t frame) const {
    if (!m_filter)
        return frame < std::size_t(m_rows) ? int(frame) : -1;
    const auto it = std::lower_bound(m_shown.begin(), m_shown.end(), frame);
    return it != m_shown.end() && *it == frame ? int(it - m_shown.begin()) : -1;
}

void CaptureListModel::setTimeFormat(TimeFormat format) {
    if (format == m_timeFormat)
        return;
    m_timeFormat = format;
    if (m_rows > 0)
        Q_EMIT dataChanged(index(0, Time), index(m_rows - 1, Time));
}

int CaptureListModel::columnWidth(int column) {
    return column >= 0 && column < ColumnCount ? kColumns[column].width : 0;
}

QString CaptureListModel::timeTextPattern(TimeFormat format) {
    switch (format) {
    case TimeFormat::DateAndTime:
        return QStringLiteral("0000-00-00 00:00:00.000000");
    case TimeFormat::SinceFirstFrame:
        return QStringLiteral("000000.000000");
    case TimeFormat::AsCaptured:
        break;
    }
    return QStringLiteral("0000000000:000000");
}

int CaptureListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int CaptureListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CaptureListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows || index.column() >= ColumnCount)
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == Number ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                        : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    // Rows keep their frames' numbers when a display filter hides others.
    const std::size_t frame = frameIndex(index.row());
    if (index.column() == Number)
        return QString::number(frame + 1);
    const FrameStore::Frame f = m_store.at(frame);
    if (index.column() == Time) {
        switch (m_timeFormat) {
        case TimeFormat::AsCaptured:
            break;
        case TimeFormat::DateAndTime:
            return QDateTime::fromSecsSinceEpoch(f.header.tsSec)
                       .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                   QStringLiteral(".%1").arg(f.header.tsUsec, 6, 10, QLatin1Char('0'));
        case TimeFormat::SinceFirstFrame: {
            const FrameHeader first = m_store.at(0).header;
            const double seconds =
                double(f.header.tsSec - first.tsSec) + double(f.header.tsUsec - first.tsUsec) / 1e6;
            return QString::number(seconds, 'f', 6);
        }
        }
        char buf[text::kMaxTimeLength];
        return QString::fromLatin1(
            buf, int(text::appendTime(buf, f.header.tsSec, f.header.tsUsec) - buf));
    }
    const Classification c = classifyFrame(f.header, f.bytes);
    switch (index.column()) {
    case Source: {
        char buf[32];
        return QString::fromLatin1(buf, int(appendSourceText(buf, c) - buf));
    }
    case Destination: {
        char buf[32];
        return QString::fromLatin1(buf, int(appendDestinationText(buf, c) - buf));
    }
    case Protocol:
        return QString::fromLatin1(c.protocol.data(), qsizetype(c.protocol.size()));
    case Info: {
        const std::string_view info = c.info();
        return QString::fromLatin1(info.data(), qsizetype(info.size()));
    }
    default:
        return {};
    }
}

QVariant CaptureListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kColumns[section].title);
    return {};
}

} // namespace qarsilo
