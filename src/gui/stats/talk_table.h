#pragma once

#include "core/stats/talk_model.h"

#include <QAbstractTableModel>
#include <QList>
#include <QTableView>
#include <QWidget>

#include <cstdint>
#include <unordered_set>

class QHeaderView;
class QScrollBar;
class CTalkTable;

/// The rows of a TalkModel that fit on screen, from an offset: the item view
/// never holds more than a screenful, so Qt's per-row bookkeeping costs the
/// same whatever the table holds.
class TalkWindowModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TalkWindowModel(qarsilo::TalkModel* source, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order) override;

    int offset() const { return m_offset; }
    /// Shows `rows` rows from `offset` (both clamped to the source's rows).
    void show(int offset, int rows);

private:
    qarsilo::TalkModel* m_source;
    int m_offset = 0;
    int m_rows = 0;
};

/// A QTableView over a TalkModel with its own scroll bar into the whole
/// sorted and filtered list. Rows are chosen by their ids, so the selection
/// and the current row stay on the same rows through scrolling, new rows and
/// re-sorts. Row numbers here are the TalkModel's.
class CTalkTable : public QWidget {
    Q_OBJECT
public:
    explicit CTalkTable(qarsilo::TalkModel* model, QWidget* parent = nullptr);

    qarsilo::TalkModel* model() const { return m_model; }
    QTableView* view() const { return m_view; }
    QScrollBar* scrollBar() const { return m_bar; }
    QHeaderView* horizontalHeader() const;
    void sortByColumn(int column, Qt::SortOrder order);
    void setColumnHidden(int column, bool hide);
    bool isColumnHidden(int column) const;

    /// The first row on screen, and how many fit.
    int firstRow() const;
    int pageRows() const;
    void scrollToRow(int row);

    /// Selects only `row` and makes it current (shown).
    void selectRow(int row);
    void selectAll();
    /// The selected rows, in order.
    QList<int> selectedRows() const;
    /// The current row, -1 when none.
    int currentRow() const;
    bool isRowSelected(int row) const;
    /// The row under a point of the widget, -1 when none.
    int rowAt(const QPoint& at) const;
    /// Where a row is drawn, in the widget's coordinates (empty when off screen).
    QRect rowRect(int row, int column) const;

Q_SIGNALS:
    /// A right-click or the context menu key on a row (selected by then),
    /// at a global position.
    void rowMenuRequested(int row, int column, const QPoint& global);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void syncSelection();
    /// Moves the current row to `row` (clamped) as a key or click does.
    void moveTo(int row, Qt::KeyboardModifiers modifiers);
    bool key(QKeyEvent* event);

    qarsilo::TalkModel* m_model;
    TalkWindowModel* m_window;
    QTableView* m_view;
    QScrollBar* m_bar;
    std::unordered_set<std::uint32_t> m_selected; ///< row ids
    std::uint32_t m_current = 0;
    std::uint32_t m_anchor = 0;
    bool m_hasCurrent = false;
    bool m_followCurrent = false; ///< after a sort: show the current row once it is in place
    bool m_syncing = false;
};
