#include "gui/widgets/row_list_view.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <utility>

namespace {
// Longer lists are measured over the rows in view only, as QTableView does.
constexpr int kMeasuredRows = 1000;
} // namespace

RowListView::RowListView(QWidget* parent)
    : QAbstractItemView(parent) {
    auto* header = new QHeaderView(Qt::Horizontal, this);
    header->setSectionsClickable(false);
    adoptHeader(header);
    setSelectionBehavior(SelectRows);
    setHorizontalScrollMode(ScrollPerPixel);
}

RowListView::~RowListView() {
    // The header outlives this part of the object while QWidget deletes its
    // children; it must not call back into it.
    disconnect(m_header, nullptr, this, nullptr);
    m_header->viewport()->removeEventFilter(this);
}

void RowListView::adoptHeader(QHeaderView* header) {
    m_header = header;
    m_header->setParent(this);
    const auto relayout = [this] {
        updateGeometries();
        viewport()->update();
    };
    connect(m_header, &QHeaderView::sectionResized, this, relayout);
    connect(m_header, &QHeaderView::sectionMoved, this, relayout);
    connect(m_header, &QHeaderView::sectionCountChanged, this, relayout);
    connect(m_header, &QHeaderView::geometriesChanged, this, relayout);
    // QTableView fits a column on a double-click of its divider; so do these lists.
    connect(m_header, &QHeaderView::sectionHandleDoubleClicked, this, [this](int column) {
        resizeColumnToContents(column);
        Q_EMIT columnWidthsChangedByHand();
    });
    m_header->viewport()->installEventFilter(this);
}

QList<int> RowListView::columnWidths() const {
    QList<int> widths;
    for (int c = 0; c < m_header->count(); ++c)
        widths << m_header->sectionSize(c);
    return widths;
}

bool RowListView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_header->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            m_widthsAtPress = columnWidths();
        else if (event->type() == QEvent::MouseButtonRelease &&
                 static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton &&
                 !m_widthsAtPress.isEmpty()) {
            // Seen before the header ends the drag: the widths are final by then.
            const QList<int> before = std::exchange(m_widthsAtPress, {});
            if (before != columnWidths())
                Q_EMIT columnWidthsChangedByHand();
        }
    }
    return QAbstractItemView::eventFilter(watched, event);
}

int RowListView::sizeHintForColumn(int column) const {
    if (!model() || column < 0 || column >= m_header->count())
        return -1;
    const int rows = rowCount();
    int first = 0;
    int last = rows - 1;
    if (rows > kMeasuredRows) {
        first = firstVisibleRow();
        last = std::min(rows - 1, first + fullyVisibleRows());
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int widest = 0;
    for (int r = first; r <= last; ++r) {
        const QModelIndex index = model()->index(r, column, rootIndex());
        option.index = index;
        widest = std::max(widest, itemDelegateForIndex(index)->sizeHint(option, index).width());
    }
    return widest + (m_showGrid ? 1 : 0); // the grid takes the cell's last pixel
}

void RowListView::resizeColumnToContents(int column) {
    if (column < 0 || column >= m_header->count())
        return;
    const int width = std::max(sizeHintForColumn(column), m_header->sectionSizeHint(column));
    if (width > 0)
        setColumnWidth(column, width);
}

void RowListView::setHorizontalHeader(QHeaderView* header) {
    if (!header || header == m_header)
        return;
    disconnect(m_header, nullptr, this, nullptr);
    // The old header's viewport sends events while it is destroyed: it must
    // no longer reach eventFilter, which asks the header for its viewport.
    m_header->viewport()->removeEventFilter(this);
    delete m_header;
    adoptHeader(header);
    m_header->setModel(model());
    m_header->show();
    updateGeometries();
}

void RowListView::setShowGrid(bool show) {
    m_showGrid = show;
    viewport()->update();
}

void RowListView::setModel(QAbstractItemModel* model) {
    if (QAbstractItemModel* old = this->model())
        disconnect(old, nullptr, this, nullptr);
    QAbstractItemView::setModel(model);
    m_header->setModel(model);
    if (model) {
        // A reset comes through reset(); removals have no hook of their own.
        connect(model, &QAbstractItemModel::rowsRemoved, this, &RowListView::rowsChanged);
    }
    updateGeometries();
}

void RowListView::setRowHeight(int pixels) {
    m_rowHeight = std::max(1, pixels);
    updateGeometries();
    viewport()->update();
}

int RowListView::columnWidth(int column) const {
    return m_header->sectionSize(column);
}

void RowListView::setColumnWidth(int column, int width) {
    m_header->resizeSection(column, width);
}

bool RowListView::isColumnHidden(int column) const {
    return m_header->isSectionHidden(column);
}

void RowListView::setColumnHidden(int column, bool hide) {
    m_header->setSectionHidden(column, hide);
}

void RowListView::selectRow(int row) {
    if (!model() || !selectionModel() || row < 0 || row >= rowCount())
        return;
    const QModelIndex index = model()->index(row, 0, rootIndex());
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

int RowListView::firstVisibleRow() const {
    return verticalScrollBar()->value();
}

int RowListView::fullyVisibleRows() const {
    return std::max(1, viewport()->height() / m_rowHeight);
}

int RowListView::rowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

qint64 RowListView::rowAtY(int y) const {
    // Floor division: a point above the viewport lies in an earlier row.
    const qint64 steps = y >= 0 ? y / m_rowHeight : -((qint64(-y) + m_rowHeight - 1) / m_rowHeight);
    return firstVisibleRow() + steps;
}

int RowListView::yOfRow(qint64 row) const {
    // Far rows are placed far away, without overflowing the sums Qt makes.
    const qint64 y = (row - firstVisibleRow()) * m_rowHeight;
    return int(std::clamp<qint64>(y, INT_MIN / 4, INT_MAX / 4));
}

QRect RowListView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex())
        return {};
    return {m_header->sectionViewportPosition(index.column()), yOfRow(index.row()),
            m_header->sectionSize(index.column()), m_rowHeight};
}

void RowListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model())
        return;
    const int row = index.row();
    const int page = fullyVisibleRows();
    int first = firstVisibleRow();
    switch (hint) {
    case EnsureVisible:
        if (row < first)
            first = row;
        else if (row >= first + page)
            first = row - page + 1;
        break;
    case PositionAtTop:
        first = row;
        break;
    case PositionAtBottom:
        first = row - page + 1;
        break;
    case PositionAtCenter:
        first = row - page / 2;
        break;
    }
    verticalScrollBar()->setValue(first);
    // Moving along whole rows keeps the columns where the operator put them.
    if (selectionBehavior() == SelectRows)
        return;
    const int x = m_header->sectionPosition(index.column());
    const int width = m_header->sectionSize(index.column());
    int left = horizontalScrollBar()->value();
    if (x < left)
        left = x;
    else if (x + width > left + viewport()->width())
        left = std::min(x, x + width - viewport()->width());
    horizontalScrollBar()->setValue(left);
}

QModelIndex RowListView::indexAt(const QPoint& point) const {
    const qint64 row = rowAtY(point.y());
    if (row < 0 || row >= rowCount())
        return {};
    const int column = m_header->logicalIndexAt(point.x());
    if (column < 0)
        return {};
    return model()->index(int(row), column, rootIndex());
}

void RowListView::reset() {
    QAbstractItemView::reset();
    rowsChanged();
}

QModelIndex RowListView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const int rows = rowCount();
    const int columns = m_header->count();
    if (rows == 0 || columns == 0)
        return {};
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : -1;
    int visual = current.isValid() ? m_header->visualIndex(current.column()) : 0;
    const int page = fullyVisibleRows();
    switch (action) {
    case MoveUp:
    case MovePrevious:
        row = std::max(0, row - 1);
        break;
    case MoveDown:
    case MoveNext:
        row = std::min(rows - 1, row + 1);
        break;
    case MovePageUp:
        row = std::max(0, row - page);
        break;
    case MovePageDown:
        row = row < 0 ? std::min(rows - 1, page - 1)
                      : int(std::min<qint64>(rows - 1, qint64(row) + page));
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
        visual = std::max(0, visual - 1);
        break;
    case MoveRight:
        visual = std::min(columns - 1, visual + 1);
        break;
    }
    row = std::max(row, 0);
    return model()->index(row, m_header->logicalIndex(std::max(visual, 0)), rootIndex());
}

int RowListView::horizontalOffset() const {
    return m_header->offset();
}

int RowListView::verticalOffset() const {
    return int(std::min<qint64>(qint64(firstVisibleRow()) * m_rowHeight, INT_MAX / 4));
}

bool RowListView::isIndexHidden(const QModelIndex& index) const {
    return m_header->isSectionHidden(index.column());
}

void RowListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    const int rows = rowCount();
    const int columns = m_header->count();
    if (!selectionModel() || rows == 0 || columns == 0)
        return;
    const QRect r = rect.normalized();
    const int top = int(std::clamp<qint64>(rowAtY(r.top()), 0, rows - 1));
    const int bottom = int(std::clamp<qint64>(rowAtY(r.bottom()), 0, rows - 1));
    int left = 0;
    int right = columns - 1;
    if (selectionBehavior() != SelectRows) {
        const int a = m_header->logicalIndexAt(r.left());
        const int b = m_header->logicalIndexAt(r.right());
        left = std::min(a < 0 ? 0 : a, b < 0 ? columns - 1 : b);
        right = std::max(a < 0 ? 0 : a, b < 0 ? columns - 1 : b);
    }
    selectionModel()->select(QItemSelection(model()->index(top, left, rootIndex()),
                                            model()->index(bottom, right, rootIndex())),
                             command);
}

QRegion RowListView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const qint64 first = firstVisibleRow();
    const qint64 last = first + fullyVisibleRows();
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.parent() != rootIndex())
            continue;
        const qint64 top = std::max<qint64>(range.top(), first);
        const qint64 bottom = std::min<qint64>(range.bottom(), last);
        if (top > bottom)
            continue;
        int left = INT_MAX;
        int right = INT_MIN;
        for (int c = range.left(); c <= range.right(); ++c) {
            const int x = m_header->sectionViewportPosition(c);
            left = std::min(left, x);
            right = std::max(right, x + m_header->sectionSize(c));
        }
        region += QRect(left, yOfRow(top), right - left, int(bottom - top + 1) * m_rowHeight);
    }
    return region;
}

void RowListView::paintEvent(QPaintEvent* event) {
    const int rows = rowCount();
    const int columns = m_header->count();
    if (rows == 0 || columns == 0)
        return;
    QPainter painter(viewport());
    QStyleOptionViewItem base;
    initViewItemOption(&base);
    const QRect area = event->rect();
    const qint64 top = std::max<qint64>(0, rowAtY(area.top()));
    const qint64 bottom = std::min<qint64>(rows - 1, rowAtY(area.bottom()));
    int firstVisual = m_header->visualIndexAt(area.left());
    int lastVisual = m_header->visualIndexAt(area.right());
    if (firstVisual < 0)
        firstVisual = 0;
    if (lastVisual < 0)
        lastVisual = columns - 1;
    const QModelIndex current = currentIndex();
    const bool focus = hasFocus();
    const int grid = m_showGrid ? 1 : 0; // the grid takes each cell's last pixels
    const QPen gridPen(QColor::fromRgba(
        static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &base, this))));
    const QItemSelectionModel* selection = selectionModel();
    for (qint64 row = top; row <= bottom; ++row) {
        const int y = yOfRow(row);
        for (int visual = firstVisual; visual <= lastVisual; ++visual) {
            const int column = m_header->logicalIndex(visual);
            if (m_header->isSectionHidden(column))
                continue;
            const QModelIndex index = model()->index(int(row), column, rootIndex());
            QStyleOptionViewItem option = base;
            option.index = index;
            const QRect cell(m_header->sectionViewportPosition(column), y,
                             m_header->sectionSize(column), m_rowHeight);
            option.rect = cell.adjusted(0, 0, -grid, -grid);
            if (selection && selection->isSelected(index))
                option.state |= QStyle::State_Selected;
            if (focus && index == current)
                option.state |= QStyle::State_HasFocus;
            if (alternatingRowColors() && (row & 1))
                option.features |= QStyleOptionViewItem::Alternate;
            style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &painter, this);
            itemDelegateForIndex(index)->paint(&painter, option, index);
            if (grid) {
                painter.save();
                painter.setPen(gridPen);
                painter.drawLine(cell.right(), cell.top(), cell.right(), cell.bottom());
                painter.drawLine(cell.left(), cell.bottom(), cell.right(), cell.bottom());
                painter.restore();
            }
        }
    }
}

void RowListView::updateGeometries() {
    // setViewportMargins resizes the viewport, which comes back here.
    if (m_inGeometries)
        return;
    m_inGeometries = true;
    const int headerHeight = m_header->isHidden() ? 0 : m_header->sizeHint().height();
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect area = viewport()->geometry();
    m_header->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);
    const int page = fullyVisibleRows();
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setRange(0, std::max(0, rowCount() - page));
    horizontalScrollBar()->setSingleStep(20);
    horizontalScrollBar()->setPageStep(area.width());
    horizontalScrollBar()->setRange(0, std::max(0, m_header->length() - area.width()));
    m_inGeometries = false;
    QAbstractItemView::updateGeometries();
    // Drawn whole after every change of rows or size: a few dozen cells, and
    // no stale rows are left where the viewport moved or resized.
    viewport()->update();
}

void RowListView::scrollContentsBy(int dx, int) {
    if (dx != 0)
        m_header->setOffset(horizontalScrollBar()->value());
    viewport()->update();
}

void RowListView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex())
        return;
    updateGeometries();
}

void RowListView::rowsChanged() {
    updateGeometries();
}
