#pragma once

#include <QAbstractItemView>

class QHeaderView;

/// A table of rows of one height, for lists of any length (millions of
/// captured frames). QTableView keeps a record per row in its vertical header
/// and walks all of them when rows are added, which costs memory per row and
/// time per refresh that grow without bound on a long capture; this view keeps
/// nothing per row: a row's place is its number times the row height.
///
/// The vertical scroll bar counts rows (its value is the first row shown);
/// columns come from a horizontal header as in QTableView. Selection, the
/// current row, keyboard navigation and activation are QAbstractItemView's.
class RowListView : public QAbstractItemView {
    Q_OBJECT
public:
    explicit RowListView(QWidget* parent = nullptr);
    ~RowListView() override;

    void setModel(QAbstractItemModel* model) override;

    QHeaderView* horizontalHeader() const { return m_header; }
    /// Uses `header` (the view takes it) for the columns.
    void setHorizontalHeader(QHeaderView* header);
    /// Grid lines between the cells, as QTableView draws them.
    void setShowGrid(bool show);
    bool showGrid() const { return m_showGrid; }
    void setRowHeight(int pixels);
    int rowHeight() const { return m_rowHeight; }
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    /// Widens or narrows `column` to its title and its widest text (what a
    /// double-click on the title's right divider does).
    void resizeColumnToContents(int column);
    /// The widest cell of `column`: every row of a list of up to 1000 rows,
    /// the rows in view of a longer one.
    int sizeHintForColumn(int column) const override;
    bool isColumnHidden(int column) const;
    void setColumnHidden(int column, bool hide);
    /// Makes `row` current and the only selected row.
    void selectRow(int row);
    /// The first row shown, and how many rows fit whole in the viewport.
    int firstVisibleRow() const;
    int fullyVisibleRows() const;

    QRect visualRect(const QModelIndex& index) const override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void reset() override;

Q_SIGNALS:
    /// The operator changed column widths: dragged a divider or double-clicked it.
    void columnWidthsChangedByHand();

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;

private:
    int rowCount() const;
    /// The row at viewport height `y` (may lie outside the list).
    qint64 rowAtY(int y) const;
    /// The viewport height where `row` starts, clamped to what an int holds.
    int yOfRow(qint64 row) const;
    void rowsChanged();
    void adoptHeader(QHeaderView* header);

    QList<int> columnWidths() const;

    QHeaderView* m_header = nullptr;
    QList<int> m_widthsAtPress; // while a mouse button is down on the header
    int m_rowHeight = 20;
    bool m_inGeometries = false;
    bool m_showGrid = false;
};
