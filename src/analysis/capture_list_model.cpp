#include "analysis/capture_list_model.h"

#include "analysis/classify.h"
#include "analysis/text_format.h"

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
    endResetModel();
}

int CaptureListModel::columnWidth(int column) {
    return column >= 0 && column < ColumnCount ? kColumns[column].width : 0;
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
    if (index.column() == Number)
        return QString::number(index.row() + 1);
    const FrameStore::Frame f = m_store.at(std::size_t(index.row()));
    const Classification c = classifyFrame(f.header, f.bytes);
    switch (index.column()) {
    case Time: {
        char buf[text::kMaxTimeLength];
        return QString::fromLatin1(
            buf, int(text::appendTime(buf, f.header.tsSec, f.header.tsUsec) - buf));
    }
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
