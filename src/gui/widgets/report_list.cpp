#include "gui/widgets/report_list.h"

#include "core/app/message_service.h"
#include "core/lists/csv_writer.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDataStream>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSettings>

namespace {

QSettings listSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qarsilo"),
                     QStringLiteral("qarsilo"));
}

const QString kGroup = QStringLiteral("ListCtrls");
// A saved width outside this range comes from a damaged file, not a person.
constexpr int kMaxSavedWidth = 10000;

CReportList::FileChooser& exportChooser() {
    static CReportList::FileChooser chooser = [](QWidget* parent) {
        QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("Export"), QString(),
                                                    QStringLiteral("CSV files (*.csv)"));
        if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
            path += QStringLiteral(".csv");
        return path;
    };
    return chooser;
}

// Writes an export; on failure tells the operator why.
bool writeExport(const QString& path, const QStringList& titles, const QList<QStringList>& rows) {
    QString error;
    if (qarsilo::writeCsvFile(path, titles, rows, &error))
        return true;
    qarsilo::MessageService::message(QStringLiteral("Cannot export the list to ") + path +
                                         QStringLiteral(":\n") + error,
                                     QStringLiteral("Error"), qarsilo::MessageService::Icon::Error);
    return false;
}

} // namespace

CReportHeader::CReportHeader(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void CReportHeader::mousePressEvent(QMouseEvent* event) {
    m_pressed = logicalIndexAt(event->position().toPoint());
    QHeaderView::mousePressEvent(event);
    viewport()->update();
}

void CReportHeader::mouseReleaseEvent(QMouseEvent* event) {
    m_pressed = -1;
    QHeaderView::mouseReleaseEvent(event);
    viewport()->update();
}

QSize CReportHeader::sectionSizeFromContents(int logicalIndex) const {
    QSize size = QHeaderView::sectionSizeFromContents(logicalIndex);
    const QString title =
        model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString();
    // Insets of a quarter height each side, the triangle's three quarters,
    // the pressed shift and the edge line.
    const int q = size.height() / 4;
    size.setWidth(fontMetrics().horizontalAdvance(title) + 5 * q + 2);
    return size;
}

void CReportHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid())
        return;
    painter->save();
    const QPalette& pal = palette();
    painter->fillRect(rect, pal.button());
    // Column edges, so titles of neighbouring columns stay apart.
    painter->setPen(pal.color(QPalette::Mid));
    painter->drawLine(rect.topRight(), rect.bottomRight());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());

    const auto* list = qobject_cast<const CReportList*>(parentWidget());
    const qarsilo::ReportListModel* model = list ? list->reportModel() : nullptr;
    const bool sorted = model && model->sortColumn() == logicalIndex;

    const int q = rect.height() / 4;
    QRect textArea = rect.adjusted(q, 0, -q, 0);
    if (sorted)
        textArea.setRight(textArea.right() - 3 * q);
    if (m_pressed == logicalIndex)
        textArea.translate(1, 2);
    if (textArea.width() > 0 && textArea.height() > 0) {
        const QString title =
            this->model() ? this->model()->headerData(logicalIndex, Qt::Horizontal).toString()
                          : QString();
        Qt::Alignment align = Qt::AlignLeft;
        if (this->model()) {
            const QVariant a =
                this->model()->headerData(logicalIndex, Qt::Horizontal, Qt::TextAlignmentRole);
            if (a.isValid())
                align = a.value<Qt::Alignment>() & Qt::AlignHorizontal_Mask;
        }
        painter->setPen(pal.color(QPalette::ButtonText));
        painter->setFont(font());
        const QString shown = fontMetrics().elidedText(title, Qt::ElideRight, textArea.width());
        painter->drawText(textArea, int(align | Qt::AlignVCenter | Qt::TextSingleLine), shown);
    }

    if (sorted) {
        const int right = rect.right();
        const int top = rect.top();
        const int bottom = rect.bottom();
        const QPen lit(pal.color(QPalette::Light));
        const QPen shade(pal.color(QPalette::Dark));
        if (model->ascending()) {
            const QPoint apex(right - 2 * q, top + q);
            const QPoint baseLeft(right - 3 * q - 2, bottom - q - 1);
            const QPoint baseRight(right - q, bottom - q - 1);
            painter->setPen(shade);
            painter->drawLine(baseLeft, apex);
            painter->setPen(lit);
            painter->drawLine(apex, baseRight);
            painter->drawLine(baseRight, baseLeft);
        } else {
            const QPoint apex(right - 2 * q - 1, bottom - q);
            const QPoint topLeft(right - 3 * q - 1, top + q);
            const QPoint topRight(right - q - 1, top + q);
            painter->setPen(shade);
            painter->drawLine(topLeft, topRight);
            painter->drawLine(topLeft, apex);
            painter->setPen(lit);
            painter->drawLine(apex, topRight);
        }
    }
    painter->restore();
}

CReportList::CReportList(int listId, QWidget* parent)
    : RowListView(parent)
    , m_listId(listId)
    , m_model(new qarsilo::ReportListModel(this)) {
    setHorizontalHeader(new CReportHeader(this));
    setModel(m_model);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTabKeyNavigation(false);
    setRowHeight(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setMinimumSectionSize(0);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, m_model,
            &qarsilo::ReportListModel::titleClicked);
    // The title arrow moves with the sort, also when the sort comes from code.
    connect(m_model, &QAbstractItemModel::headerDataChanged, horizontalHeader()->viewport(),
            qOverload<>(&QWidget::update));
    connect(this, &RowListView::columnWidthsChangedByHand, this, &CReportList::saveWidths);
}

bool CReportList::declareColumns(const QString& declaration) {
    const int before = m_model->columnCount();
    const bool ok = m_model->declareColumns(declaration);
    for (int c = before; c < m_model->columnCount(); ++c)
        setColumnWidth(c, m_model->declaredWidth(c));
    restoreWidths();
    return ok;
}

bool CReportList::restoreWidths() {
    QSettings s = listSettings();
    s.beginGroup(kGroup);
    const QList<int> widths = decodeWidths(s.value(QString::number(m_listId)).toByteArray());
    if (widths.isEmpty() || widths.size() != m_model->columnCount())
        return false;
    for (int c = 0; c < widths.size(); ++c)
        setColumnWidth(c, widths[c]);
    viewport()->update();
    return true;
}

void CReportList::saveWidths() const {
    QList<int> widths;
    for (int c = 0; c < m_model->columnCount(); ++c)
        widths << columnWidth(c);
    if (widths.isEmpty())
        return;
    QSettings s = listSettings();
    s.beginGroup(kGroup);
    s.setValue(QString::number(m_listId), encodeWidths(widths));
}

QList<int> CReportList::selectedRowNumbers() const {
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& i : selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

QList<int> CReportList::decodeWidths(const QByteArray& entry) {
    if (entry.size() < 4 || entry.size() % 4 != 0)
        return {};
    QDataStream in(entry);
    in.setByteOrder(QDataStream::LittleEndian);
    qint32 count = 0;
    in >> count;
    if (count <= 0 || qint64(count) * 4 + 4 != entry.size())
        return {};
    QList<int> widths;
    for (qint32 i = 0; i < count; ++i) {
        qint32 w = 0;
        in >> w;
        if (w < 0 || w > kMaxSavedWidth)
            return {};
        widths << w;
    }
    return widths;
}

QByteArray CReportList::encodeWidths(const QList<int>& widths) {
    QByteArray entry;
    QDataStream out(&entry, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << qint32(widths.size());
    for (int w : widths)
        out << qint32(w);
    return entry;
}

bool CReportList::exportCsv(const QString& path) {
    QStringList titles;
    for (int c = 0; c < m_model->columnCount(); ++c)
        titles << m_model->columnTitle(c);
    QList<QStringList> rows;
    rows.reserve(m_model->rowCount());
    for (int r = 0; r < m_model->rowCount(); ++r)
        rows << m_model->rowTexts(r);
    return writeExport(path, titles, rows);
}

QMenu* CReportList::contextMenu() const {
    return m_menu;
}

void CReportList::exportCommand() {
    const QString path = askExportFile(this);
    if (!path.isEmpty())
        exportCsv(path);
}

QString CReportList::askExportFile(QWidget* parent) {
    return exportChooser() ? exportChooser()(parent) : QString();
}

bool CReportList::exportModel(const QAbstractItemModel& model, const QString& path) {
    QStringList titles;
    for (int c = 0; c < model.columnCount(); ++c)
        titles << model.headerData(c, Qt::Horizontal).toString();
    QList<QStringList> rows;
    rows.reserve(model.rowCount());
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < model.columnCount(); ++c)
            row << model.index(r, c).data().toString();
        rows << row;
    }
    return writeExport(path, titles, rows);
}

void CReportList::setExportFileChooser(FileChooser chooser) {
    exportChooser() = std::move(chooser);
}

void CReportList::addExportTo(QMenu* menu) {
    if (!menu->isEmpty())
        menu->addSeparator();
    QAction* a = menu->addAction(QStringLiteral("Export..."), this, &CReportList::exportCommand);
    a->setObjectName(QStringLiteral("ExportAction"));
}

void CReportList::contextMenuEvent(QContextMenuEvent* event) {
    if (m_menu)
        m_menu->close();
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("ReportListMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    addExportTo(menu);
    m_menu = menu;
    menu->popup(event->globalPos());
}

void CReportList::afterOwnerMenu(QWidget* popupBefore) {
    // The owner shows its menu with popup(): it is open now, and takes the
    // list's own commands at its end.
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu && menu != popupBefore) {
        addExportTo(menu);
        m_menu = menu;
    }
}

bool CReportList::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ContextMenu || contextMenuPolicy() != Qt::CustomContextMenu)
        return RowListView::viewportEvent(event);
    QWidget* before = QApplication::activePopupWidget();
    const bool handled = RowListView::viewportEvent(event);
    afterOwnerMenu(before);
    return handled;
}

bool CReportList::event(QEvent* event) {
    if (event->type() != QEvent::ContextMenu || contextMenuPolicy() != Qt::CustomContextMenu)
        return RowListView::event(event);
    QWidget* before = QApplication::activePopupWidget();
    const bool handled = RowListView::event(event);
    afterOwnerMenu(before);
    return handled;
}
