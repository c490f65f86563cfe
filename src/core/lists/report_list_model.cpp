#include "core/lists/report_list_model.h"

#include "core/lists/report_compare.h"

#include <vector>

namespace qarsilo {

ReportListModel::ReportListModel(QObject* parent)
    : QAbstractTableModel(parent) {}

bool ReportListModel::declareColumns(const QString& declaration) {
    for (const QString& entry : declaration.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype comma = entry.lastIndexOf(QLatin1Char(','));
        if (comma < 0)
            return false;
        const QString digits = entry.mid(comma + 1).trimmed();
        bool ok = !digits.isEmpty();
        for (QChar c : digits)
            ok = ok && c.isDigit() && c.unicode() < 128;
        const int width = ok ? digits.toInt(&ok) : 0;
        if (!ok || !insertColumn(entry.left(comma), width))
            return false;
    }
    return true;
}

bool ReportListModel::insertColumn(const QString& title, int width) {
    if (width < 0)
        return false;
    const int at = int(m_columns.size());
    beginInsertColumns({}, at, at);
    m_columns.append({title, width});
    for (QStringList& row : m_rows)
        row.append(QString());
    m_pages.clear();
    endInsertColumns();
    return true;
}

int ReportListModel::addRow(const QStringList& texts) {
    const int at = rowCount();
    addRows({texts});
    return at;
}

QStringList ReportListModel::fitted(const QStringList& row) const {
    const qsizetype columns = m_columns.size();
    if (row.size() == columns)
        return row; // shares the texts
    QStringList out = row.mid(0, columns);
    while (out.size() < columns)
        out.append(QString());
    return out;
}

void ReportListModel::addRows(const QList<QStringList>& rows) {
    if (rows.isEmpty())
        return;
    loadAll();
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    // No exact reserve here: a list fed in many small batches would then
    // reallocate (and copy every row so far) on each batch instead of growing
    // geometrically.
    for (const QStringList& texts : rows)
        m_rows.append(fitted(texts));
    endInsertRows();
}

void ReportListModel::setRows(QList<QStringList> rows) {
    if (rows.isEmpty() && m_rows.isEmpty() && !m_source)
        return;
    beginResetModel();
    m_source.reset();
    m_pages.clear();
    m_pagedCount = 0;
    for (QStringList& row : rows)
        if (row.size() != m_columns.size())
            row = fitted(row);
    m_rows = std::move(rows);
    // A new listing keeps the sort the title shows.
    if (m_sortColumn >= 0 && m_sortColumn < m_columns.size() && m_rows.size() > 1) {
        const std::vector<int> order = heldOrder(m_sortColumn, m_ascending);
        QList<QStringList> sorted;
        sorted.reserve(m_rows.size());
        for (const int i : order)
            sorted.append(std::move(m_rows[i]));
        m_rows = std::move(sorted);
    }
    endResetModel();
}

void ReportListModel::setSource(std::unique_ptr<ReportRowSource> source) {
    beginResetModel();
    m_rows.clear();
    m_pages.clear();
    m_source = std::move(source);
    m_pagedCount = m_source ? qMax(0, m_source->count()) : 0;
    // A new paged listing comes in the source's order: the title shows no
    // sort. Handing the sort on would first need the source to check that
    // it can give the list's order, which costs a pass over the rows (about
    // 0.6 s on a million) at every search keystroke or reload.
    const bool unsorted = m_sortColumn >= 0;
    m_sortColumn = -1;
    endResetModel();
    if (unsorted && !m_columns.isEmpty())
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, int(m_columns.size()) - 1);
}

const QStringList& ReportListModel::rowAt(int row) const {
    if (!m_source)
        return m_rows[row];
    const int page = row / kPageRows;
    auto it = m_pages.find(page);
    if (it == m_pages.end()) {
        // The view asks for the rows around what it shows: a few pages are
        // kept, the rest read again when scrolled back to.
        if (m_pages.size() >= kCachedPages)
            m_pages.clear();
        const int first = page * kPageRows;
        const int n = qMin(kPageRows, m_pagedCount - first);
        QList<QStringList> rows;
        rows.reserve(n);
        if (!m_source->read(first, n, rows))
            rows.clear(); // shown empty (the owner reports the failure)
        while (rows.size() < n)
            rows.append(QStringList());
        for (QStringList& r : rows)
            if (r.size() != m_columns.size())
                r = fitted(r);
        if (rows.size() > n)
            rows.resize(n);
        it = m_pages.insert(page, std::move(rows));
    }
    return (*it)[row - page * kPageRows];
}

void ReportListModel::loadAll() {
    if (!m_source)
        return;
    // One read: skipping to each page in turn would cost more and more.
    QList<QStringList> all;
    all.reserve(m_pagedCount);
    if (!m_source->read(0, m_pagedCount, all))
        all.clear();
    all.resize(m_pagedCount);
    for (QStringList& r : all)
        if (r.size() != m_columns.size())
            r = fitted(r);
    m_source.reset();
    m_pages.clear();
    m_pagedCount = 0;
    m_rows = std::move(all);
}

int ReportListModel::setCell(int row, int column, const QString& text) {
    loadAll();
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.size())
        return 0;
    m_rows[row][column] = text;
    const QModelIndex i = index(row, column);
    Q_EMIT dataChanged(i, i);
    return 1;
}

void ReportListModel::deleteRow(int row) {
    if (row < 0 || row >= rowCount())
        return;
    beginRemoveRows({}, row, row);
    if (m_source) {
        m_source->removed(row);
        --m_pagedCount;
        m_pages.clear();
        endRemoveRows();
        return;
    }
    m_rows.removeAt(row);
    endRemoveRows();
}

void ReportListModel::deleteAll() {
    if (m_rows.isEmpty() && !m_source)
        return;
    beginResetModel();
    m_rows.clear();
    m_source.reset();
    m_pages.clear();
    m_pagedCount = 0;
    endResetModel();
}

void ReportListModel::sort(int column, Qt::SortOrder order) {
    sortBy(column, order == Qt::AscendingOrder);
}

void ReportListModel::titleClicked(int column) {
    sortBy(column, column != m_sortColumn || !m_ascending);
}

void ReportListModel::sortBy(int column, bool ascending) {
    m_sortColumn = column;
    m_ascending = ascending;
    if (!m_columns.isEmpty())
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, int(m_columns.size()) - 1);
    // The source sorts its rows where it can; otherwise sorted rows are held
    // rows, and the paged ones are read first.
    if (column >= 0 && column < m_columns.size() && m_pagedCount > 1) {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        QList<int> rows;
        for (const QModelIndex& i : before)
            if (!rows.contains(i.row()))
                rows.append(i.row());
        QList<int> moved = rows;
        const bool sorted = m_source->sortBy(column, ascending, moved);
        if (sorted) {
            m_pages.clear();
            QModelIndexList after;
            after.reserve(before.size());
            for (const QModelIndex& i : before) {
                const int to = moved.value(rows.indexOf(i.row()), -1);
                after.append(to >= 0 && to < m_pagedCount ? index(to, i.column()) : QModelIndex());
            }
            changePersistentIndexList(before, after);
        }
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        if (sorted)
            return;
        loadAll();
    }
    if (column < 0 || column >= m_columns.size() || m_rows.size() < 2)
        return;

    const std::vector<int> order = heldOrder(column, ascending);
    const qsizetype n = m_rows.size();
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(static_cast<size_t>(n));
    QList<QStringList> sorted;
    sorted.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        newRowOf[size_t(order[size_t(i)])] = int(i);
        sorted.append(std::move(m_rows[order[size_t(i)]]));
    }
    m_rows = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before)
        after.append(index(newRowOf[size_t(i.row())], i.column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::vector<int> ReportListModel::heldOrder(int column, bool ascending) const {
    // A bottom-up merge sort over row numbers. The comparison lets the first
    // text decide its kind, so it is not a strict weak order on mixed columns;
    // std::sort may then read out of bounds, this merge cannot. Equal rows keep
    // their order.
    QStringList texts;
    texts.reserve(m_rows.size());
    for (const QStringList& row : std::as_const(m_rows))
        texts.append(row[column]);
    const ReportColumnOrder columnOrder(std::move(texts));
    const auto comesAfter = [&](int a, int b) {
        return (ascending ? columnOrder.compare(a, b) : columnOrder.compare(b, a)) > 0;
    };
    const qsizetype n = m_rows.size();
    std::vector<int> order(static_cast<size_t>(n));
    for (qsizetype i = 0; i < n; ++i)
        order[size_t(i)] = int(i);
    std::vector<int> merged(static_cast<size_t>(n));
    for (qsizetype width = 1; width < n; width *= 2) {
        for (qsizetype lo = 0; lo < n; lo += 2 * width) {
            const qsizetype mid = qMin(lo + width, n);
            const qsizetype hi = qMin(lo + 2 * width, n);
            qsizetype l = lo, r = mid, out = lo;
            while (l < mid && r < hi) {
                if (comesAfter(order[size_t(l)], order[size_t(r)]))
                    merged[size_t(out++)] = order[size_t(r++)];
                else
                    merged[size_t(out++)] = order[size_t(l++)];
            }
            while (l < mid)
                merged[size_t(out++)] = order[size_t(l++)];
            while (r < hi)
                merged[size_t(out++)] = order[size_t(r++)];
        }
        order.swap(merged);
    }
    return order;
}

QString ReportListModel::text(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= m_columns.size())
        return {};
    return rowAt(row)[column];
}

QStringList ReportListModel::rowTexts(int row) const {
    return row >= 0 && row < rowCount() ? rowAt(row) : QStringList();
}

QString ReportListModel::columnTitle(int column) const {
    return column >= 0 && column < m_columns.size() ? m_columns[column].title : QString();
}

int ReportListModel::declaredWidth(int column) const {
    return column >= 0 && column < m_columns.size() ? m_columns[column].width : 0;
}

int ReportListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_source ? m_pagedCount : int(m_rows.size());
}

int ReportListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant ReportListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const QString& t = rowAt(index.row())[index.column()];
    switch (role) {
    case Qt::DisplayRole: {
        // A row is one line high: line breaks (descriptions may hold them)
        // show as blanks; the kept text is unchanged.
        QString shown = t;
        shown.replace(QLatin1String("\r\n"), QLatin1String(" "));
        shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
        shown.replace(QLatin1Char('\r'), QLatin1Char(' '));
        return shown;
    }
    case Qt::ToolTipRole:
        return t.isEmpty() ? QVariant() : QVariant(t);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant ReportListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (role) {
    case Qt::DisplayRole:
        return m_columns[section].title;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

} // namespace qarsilo
