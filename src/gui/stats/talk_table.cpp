#include "gui/stats/talk_table.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

using namespace qarsilo;

TalkWindowModel::TalkWindowModel(TalkModel* source, QObject* parent)
    : QAbstractTableModel(parent)
    , m_source(source) {}

int TalkWindowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int TalkWindowModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_source->columnCount();
}

QVariant TalkWindowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    return m_source->data(m_source->index(m_offset + index.row(), index.column()), role);
}

QVariant TalkWindowModel::headerData(int section, Qt::Orientation orientation, int role) const {
    return m_source->headerData(section, orientation, role);
}

void TalkWindowModel::sort(int column, Qt::SortOrder order) {
    m_source->sort(column, order);
}

void TalkWindowModel::show(int offset, int rows) {
    const int total = m_source->rowCount();
    offset = std::clamp(offset, 0, std::max(0, total - 1));
    rows = std::clamp(total - offset, 0, std::max(0, rows));
    if (rows != m_rows) {
        // A screenful: starting afresh costs the view next to nothing.
        beginResetModel();
        m_offset = offset;
        m_rows = rows;
        endResetModel();
        return;
    }
    m_offset = offset;
    if (m_rows > 0)
        Q_EMIT dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1));
}

CTalkTable::CTalkTable(TalkModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_window(new TalkWindowModel(model, this))
    , m_view(new QTableView(this))
    , m_bar(new QScrollBar(Qt::Vertical, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_bar);
    m_view->setModel(m_window);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The rows are chosen here, by id; the view only draws them.
    m_view->setSelectionMode(QAbstractItemView::NoSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->setSortingEnabled(true);
    m_view->setTabKeyNavigation(false);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_view->installEventFilter(this);
    m_view->viewport()->installEventFilter(this);
    setFocusProxy(m_view);
    connect(m_view, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const int r = m_view->rowAt(at.y());
        int row = r >= 0 ? m_window->offset() + r : -1;
        int column = m_view->columnAt(at.x());
        QPoint where = at;
        if (row < 0) {
            // The context menu key away from the rows: the current row.
            row = currentRow();
            if (row < 0)
                return;
            scrollToRow(row);
            refresh();
            column = std::max(0, m_view->currentIndex().column());
            where = m_view->visualRect(m_window->index(row - m_window->offset(), column)).center();
        }
        if (!isRowSelected(row))
            moveTo(row, Qt::NoModifier);
        Q_EMIT rowMenuRequested(row, std::max(0, column), m_view->viewport()->mapToGlobal(where));
    });
    m_bar->setSingleStep(1);
    m_bar->setRange(0, 0);
    connect(m_bar, &QScrollBar::valueChanged, this, [this] { refresh(); });
    auto later = [this] { refresh(); };
    connect(model, &QAbstractItemModel::rowsInserted, this, later);
    connect(model, &QAbstractItemModel::rowsRemoved, this, later);
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        // Cleared: the ids may come to name new rows.
        if (m_model->rowCount() == 0 && m_model->filterText().isEmpty()) {
            m_selected.clear();
            m_hasCurrent = false;
        }
        // A new filter: the current row, when it passes, is shown again.
        m_followCurrent = m_hasCurrent;
        refresh();
    });
    connect(model, &QAbstractItemModel::layoutChanged, this, later);
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                const int first = firstRow();
                if (to.row() >= first && from.row() < first + m_window->rowCount())
                    refresh();
            });
    connect(m_view->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            [this] { m_followCurrent = m_hasCurrent; });
}

QHeaderView* CTalkTable::horizontalHeader() const {
    return m_view->horizontalHeader();
}

void CTalkTable::sortByColumn(int column, Qt::SortOrder order) {
    m_view->sortByColumn(column, order);
}

void CTalkTable::setColumnHidden(int column, bool hide) {
    m_view->setColumnHidden(column, hide);
}

bool CTalkTable::isColumnHidden(int column) const {
    return m_view->isColumnHidden(column);
}

int CTalkTable::firstRow() const {
    return m_bar->value();
}

int CTalkTable::pageRows() const {
    const int h = std::max(1, m_view->verticalHeader()->defaultSectionSize());
    return std::max(1, m_view->viewport()->height() / h);
}

void CTalkTable::scrollToRow(int row) {
    const int page = pageRows();
    if (row < firstRow())
        m_bar->setValue(row);
    else if (row >= firstRow() + page)
        m_bar->setValue(row - page + 1);
}

void CTalkTable::refresh() {
    const int total = m_model->rowCount();
    const int page = pageRows();
    m_bar->blockSignals(true);
    m_bar->setRange(0, std::max(0, total - page));
    m_bar->setPageStep(page);
    m_bar->blockSignals(false);
    if (m_followCurrent && m_hasCurrent && !m_model->busy()) {
        m_followCurrent = false;
        const int row = m_model->rowOfId(m_current);
        if (row >= 0 && (row < firstRow() || row >= firstRow() + page)) {
            m_bar->blockSignals(true);
            m_bar->setValue(std::max(0, row - page / 2));
            m_bar->blockSignals(false);
        }
    }
    // A partly shown last row is drawn too.
    m_window->show(m_bar->value(), page + 1);
    syncSelection();
}

void CTalkTable::syncSelection() {
    QItemSelectionModel* sel = m_view->selectionModel();
    const int first = m_window->offset();
    const int rows = m_window->rowCount();
    const int last = m_window->columnCount() - 1;
    QItemSelection shown;
    for (int r = 0; r < rows && !m_selected.empty(); ++r)
        if (m_selected.count(m_model->rowId(first + r)))
            shown.select(m_window->index(r, 0), m_window->index(r, last));
    m_syncing = true;
    sel->select(shown, QItemSelectionModel::ClearAndSelect);
    const int current = currentRow();
    if (current >= first && current < first + rows)
        sel->setCurrentIndex(
            m_window->index(current - first, std::max(0, m_view->currentIndex().column())),
            QItemSelectionModel::NoUpdate);
    else
        sel->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    m_syncing = false;
}

void CTalkTable::selectRow(int row) {
    moveTo(row, Qt::NoModifier);
}

void CTalkTable::selectAll() {
    m_selected.clear();
    for (int r = 0; r < m_model->rowCount(); ++r)
        m_selected.insert(m_model->rowId(r));
    syncSelection();
}

QList<int> CTalkTable::selectedRows() const {
    QList<int> rows;
    for (std::uint32_t id : m_selected)
        if (const int r = m_model->rowOfId(id); r >= 0)
            rows << r;
    std::sort(rows.begin(), rows.end());
    return rows;
}

int CTalkTable::currentRow() const {
    return m_hasCurrent ? m_model->rowOfId(m_current) : -1;
}

bool CTalkTable::isRowSelected(int row) const {
    return row >= 0 && row < m_model->rowCount() && m_selected.count(m_model->rowId(row)) > 0;
}

int CTalkTable::rowAt(const QPoint& at) const {
    const QPoint inView = m_view->viewport()->mapFrom(this, at);
    const int r = m_view->rowAt(inView.y());
    return r < 0 ? -1 : m_window->offset() + r;
}

QRect CTalkTable::rowRect(int row, int column) const {
    const int r = row - m_window->offset();
    if (r < 0 || r >= m_window->rowCount())
        return {};
    const QRect cell = m_view->visualRect(m_window->index(r, std::max(0, column)));
    return QRect(m_view->viewport()->mapTo(this, cell.topLeft()), cell.size());
}

void CTalkTable::moveTo(int row, Qt::KeyboardModifiers modifiers) {
    const int total = m_model->rowCount();
    if (total == 0)
        return;
    row = std::clamp(row, 0, total - 1);
    const std::uint32_t id = m_model->rowId(row);
    const int anchor = m_hasCurrent ? m_model->rowOfId(m_anchor) : -1;
    if (modifiers & Qt::ShiftModifier && anchor >= 0) {
        // A range from the anchor, however long.
        m_selected.clear();
        for (int r = std::min(anchor, row); r <= std::max(anchor, row); ++r)
            m_selected.insert(m_model->rowId(r));
    } else if (modifiers & Qt::ControlModifier) {
        if (!m_selected.erase(id))
            m_selected.insert(id);
        m_anchor = id;
    } else {
        m_selected.clear();
        m_selected.insert(id);
        m_anchor = id;
    }
    m_current = id;
    m_hasCurrent = true;
    const int before = firstRow();
    scrollToRow(row);
    if (firstRow() == before)
        syncSelection();
}

bool CTalkTable::key(QKeyEvent* e) {
    const int current = currentRow();
    const int page = pageRows();
    int to = -1;
    switch (e->key()) {
    case Qt::Key_Up:
        to = current < 0 ? firstRow() : current - 1;
        break;
    case Qt::Key_Down:
        to = current < 0 ? firstRow() : current + 1;
        break;
    case Qt::Key_PageUp:
        to = current < 0 ? firstRow() : current - std::max(1, page - 1);
        break;
    case Qt::Key_PageDown:
        to = current < 0 ? firstRow() : current + std::max(1, page - 1);
        break;
    case Qt::Key_Home:
        to = 0;
        break;
    case Qt::Key_End:
        to = m_model->rowCount() - 1;
        break;
    case Qt::Key_Space:
        if (current >= 0)
            moveTo(current, e->modifiers() & Qt::ControlModifier);
        return current >= 0;
    default:
        if (e->matches(QKeySequence::SelectAll)) {
            selectAll();
            return true;
        }
        return false;
    }
    moveTo(to, e->modifiers() & Qt::ShiftModifier);
    return true;
}

bool CTalkTable::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view && event->type() == QEvent::KeyPress)
        return key(static_cast<QKeyEvent*>(event));
    if (watched == m_view->viewport()) {
        switch (event->type()) {
        case QEvent::Resize:
            QMetaObject::invokeMethod(
                this, [this] { refresh(); }, Qt::QueuedConnection);
            break;
        case QEvent::Wheel: {
            auto* e = static_cast<QWheelEvent*>(event);
            const int steps = e->angleDelta().y() / 40; // three rows a notch
            m_bar->setValue(m_bar->value() - steps);
            return steps != 0;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* e = static_cast<QMouseEvent*>(event);
            const int r = m_view->rowAt(e->position().toPoint().y());
            m_view->setFocus(Qt::MouseFocusReason);
            if (r >= 0) {
                const int row = m_window->offset() + r;
                const bool keep = e->button() == Qt::RightButton && isRowSelected(row);
                if (!keep)
                    moveTo(row, e->button() == Qt::LeftButton ? e->modifiers() : Qt::NoModifier);
                const QModelIndex cell = m_view->indexAt(e->position().toPoint());
                if (cell.isValid())
                    m_view->selectionModel()->setCurrentIndex(cell, QItemSelectionModel::NoUpdate);
            }
            return true;
        }
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
