#pragma once

#include "core/lists/report_list_model.h"
#include "gui/widgets/row_list_view.h"

#include <QHeaderView>
#include <QPointer>
#include <functional>

class QMenu;

/// The title row of a report list: every title drawn on the button face,
/// inset by a quarter of its height, with a triangle on the sorted column
/// (apex up when ascending, down when descending).
class CReportHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit CReportHeader(QWidget* parent = nullptr);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    /// Room for the title as paintSection() draws it, with the sort triangle.
    QSize sectionSizeFromContents(int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int m_pressed = -1;
};

/// The sortable report list of the address book and discovery windows: grid
/// lines, full-row selection, columns declared by one text, rows sorted by a
/// click on a column title. Column widths can be kept in the "ListCtrls"
/// group of the settings file under the list's number; widths the operator
/// sets (dragging or double-clicking a divider) are kept at once.
class CReportList : public RowListView {
    Q_OBJECT
public:
    /// `listId` names the list's saved widths ("ListCtrls/<listId>").
    explicit CReportList(int listId, QWidget* parent = nullptr);

    qarsilo::ReportListModel* reportModel() const { return m_model; }
    int listId() const { return m_listId; }

    /// Declares the columns (see ReportListModel::declareColumns), gives them
    /// their widths, then restores the saved widths.
    bool declareColumns(const QString& declaration);

    /// Reads the saved widths; used only when they name as many columns as
    /// the list has. Returns true when they were applied.
    bool restoreWidths();
    /// Keeps the current widths for the next time the list is made.
    void saveWidths() const;

    int addRow(const QStringList& texts) { return m_model->addRow(texts); }
    int setCell(int row, int column, const QString& text) {
        return m_model->setCell(row, column, text);
    }
    void deleteRow(int row) { m_model->deleteRow(row); }
    void deleteAll() { m_model->deleteAll(); }
    int rowCount() const { return m_model->rowCount(); }
    QString text(int row, int column) const { return m_model->text(row, column); }

    /// Selected rows, lowest index first.
    QList<int> selectedRowNumbers() const;

    /// Writes the rows as the list shows them (their order, every column)
    /// under the column titles to a CSV file. On failure the operator is told
    /// why and false is returned.
    bool exportCsv(const QString& path);
    /// "Export...": asks for a file name, then exports.
    void exportCommand();
    /// Asks where to export; replaceable so tests never block on a dialog.
    using FileChooser = std::function<QString(QWidget* parent)>;
    static void setExportFileChooser(FileChooser chooser);
    /// The same export for a list that is not a report list: every row of
    /// `model` (its display texts) under its horizontal header titles.
    static bool exportModel(const QAbstractItemModel& model, const QString& path);
    /// Asks where to export, as "Export..." does; empty when cancelled.
    static QString askExportFile(QWidget* parent);
    /// The context menu opened last, while it is open (tests).
    QMenu* contextMenu() const;

    /// The widths stored for a list: a 32-bit count and one 32-bit width per
    /// column, little-endian. Empty when the entry is missing or malformed.
    static QList<int> decodeWidths(const QByteArray& entry);
    static QByteArray encodeWidths(const QList<int>& widths);

protected:
    // Every list offers "Export..." in its context menu: in its own menu, or
    // added to the menu its owner opens for it (CustomContextMenu).
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void addExportTo(QMenu* menu);
    void afterOwnerMenu(QWidget* popupBefore);

    int m_listId;
    qarsilo::ReportListModel* m_model;
    QPointer<QMenu> m_menu;
};
