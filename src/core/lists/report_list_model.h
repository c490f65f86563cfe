#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QStringList>
#include <memory>
#include <vector>

namespace qarsilo {

/// Rows a report list reads as they are shown, instead of holding them all
/// (a listing of a large table). The rows are fixed while the list shows them;
/// a changed table is shown through a new source.
class ReportRowSource {
public:
    virtual ~ReportRowSource() = default;
    /// How many rows there are.
    virtual int count() const = 0;
    /// Appends rows first .. first + n - 1 to `out`; false on a failure.
    virtual bool read(int first, int n, QList<QStringList>& out) = 0;
    /// Puts the rows in the order the list's own sort by `column` would give
    /// them, without reading them all; false when it cannot, the order then
    /// unchanged (the list reads every row and sorts them itself). On success
    /// each of `rows` (row numbers before) becomes that row's number after, or
    /// -1 when it is not known.
    virtual bool sortBy(int column, bool ascending, QList<int>& rows) {
        Q_UNUSED(column);
        Q_UNUSED(ascending);
        Q_UNUSED(rows);
        return false;
    }
    /// Row `row` is gone (deleteRow): the rows after it moved up one.
    virtual void removed(int row) { Q_UNUSED(row); }
};

/// The rows of a sortable report list. Columns are declared by one text such
/// as "Workgroup,100;Info,100"; every row keeps its own copy of its cell texts,
/// and sorting compares those copies (compareReportTexts). Shown by CReportList.
class ReportListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ReportListModel(QObject* parent = nullptr);

    /// Appends one column per "title,width" entry, in order. Returns false at
    /// the first entry that cannot be a column (no comma, or a width that is
    /// not decimal digits); the columns declared before it stay.
    bool declareColumns(const QString& declaration);
    /// Appends one column; false for a negative width.
    bool insertColumn(const QString& title, int width);

    /// Appends a row: one text per column (missing texts are empty, extra ones
    /// dropped). Returns the new row's index.
    int addRow(const QStringList& texts);
    /// Appends many rows as one insertion.
    void addRows(const QList<QStringList>& rows);
    /// Replaces every row with `rows` as one reset of the model (a new listing
    /// of a large list: one update for the view, not a clear and an insert).
    /// The rows are taken as they are when they have one text per column, and
    /// put in the order of the current sort.
    void setRows(QList<QStringList> rows);
    /// Shows the rows of `source` (one reset), read in pages as they are
    /// needed. Any later setRows, addRows or deleteAll ends it; a sort is left
    /// to the source where it can, otherwise it first reads every row, then
    /// sorts them as held rows. The rows come in the source's order, so the
    /// current sort is dropped.
    void setSource(std::unique_ptr<ReportRowSource> source);
    bool isPaged() const { return bool(m_source); }

    /// Sets one cell's text; 1 when set, 0 when the cell does not exist.
    int setCell(int row, int column, const QString& text);
    /// Removes one row; the following rows move up. Out of range: nothing.
    /// Paged rows: the row must be gone from the source already.
    void deleteRow(int row);
    /// Removes every row (the columns stay).
    void deleteAll();

    /// Sorts by `column`; records the column and direction first.
    void sortBy(int column, bool ascending);
    /// A click on a column title: ascending for a new column or after a
    /// descending sort, otherwise descending.
    void titleClicked(int column);
    int sortColumn() const { return m_sortColumn; }
    bool ascending() const { return m_ascending; }

    QString text(int row, int column) const;
    QStringList rowTexts(int row) const;
    QString columnTitle(int column) const;
    int declaredWidth(int column) const;

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    /// `row` with exactly one text per column.
    QStringList fitted(const QStringList& row) const;
    /// The texts of an existing row; paged rows are read with their page.
    const QStringList& rowAt(int row) const;
    /// Reads every paged row into m_rows and ends the paging.
    void loadAll();
    /// The held rows' numbers in the order of a sort by `column` (stable).
    std::vector<int> heldOrder(int column, bool ascending) const;

    static constexpr int kPageRows = 256;
    static constexpr int kCachedPages = 16;

    struct Column {
        QString title;
        int width;
    };
    QList<Column> m_columns;
    QList<QStringList> m_rows;
    std::unique_ptr<ReportRowSource> m_source;
    int m_pagedCount = 0;
    mutable QHash<int, QList<QStringList>> m_pages;
    int m_sortColumn = -1;
    bool m_ascending = true;
};

} // namespace qarsilo
