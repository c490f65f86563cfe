#include "gui/widgets/list_print.h"

#include "core/app/message_service.h"
#include "gui/widgets/list_print_dlg.h"
#include "gui/widgets/list_print_progress.h"
#include "gui/widgets/report_list.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

using namespace qarsilo;

namespace {

// The list's margins come from the print settings alone: the printer's own
// page margins would add to them, so the sheet is used whole.
void useWholeSheet(QPrinter& printer) {
    printer.setFullPage(true);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

} // namespace

CListPrint::CListPrint(QString docName, QObject* parent)
    : QObject(parent)
    , m_docName(std::move(docName))
    , m_settings(PrintSettings::load())
    , m_printer(std::make_unique<QPrinter>(QPrinter::HighResolution))
    , m_runDialog([](QDialog& d) { return d.exec(); }) {
    m_printer->setDocName(m_docName);
    useWholeSheet(*m_printer);
}

CListPrint::~CListPrint() = default;

CPrintProgressDlg* CListPrint::progressWindow() const {
    return m_progress;
}

int CListPrint::runDialog(QDialog& dialog) {
    return m_runDialog ? m_runDialog(dialog) : dialog.exec();
}

PrintTable CListPrint::tableOf(const CReportList& list) {
    PrintTable t;
    const ReportListModel* model = list.reportModel();
    for (int c = 0; c < model->columnCount(); ++c) {
        PrintColumn column;
        column.title = model->columnTitle(c);
        column.width = list.isColumnHidden(c) ? 0 : list.columnWidth(c);
        const QVariant a = model->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole);
        if (a.isValid())
            column.align = a.value<Qt::Alignment>() & Qt::AlignHorizontal_Mask;
        t.columns << column;
    }
    t.rows.reserve(model->rowCount());
    for (int r = 0; r < model->rowCount(); ++r)
        t.rows << model->rowTexts(r);
    return t;
}

void CListPrint::print(const CReportList& list, QWidget* parent) {
    print(tableOf(list), parent);
}

void CListPrint::print(PrintTable table, QWidget* parent) {
    if (table.rows.isEmpty() || table.columns.isEmpty())
        return;
    m_table = std::move(table);
    // The dialogs that follow show this choice and may change it.
    choosePageOrientation();
    CListPrintDlg dlg(m_settings, *m_printer, parent);
    runDialog(dlg);
    if (dlg.choice() == CListPrintDlg::Cancel)
        return;
    m_settings = dlg.settings();
    m_settings.save();
    if (dlg.choice() == CListPrintDlg::Preview) {
        preview(parent);
        return;
    }
    QPrintDialog printDialog(m_printer.get(), parent);
    if (runDialog(printDialog) != QDialog::Accepted)
        return;
    printTo(*m_printer, parent);
}

void CListPrint::choosePageOrientation() {
    const QSizeF paper = m_printer->pageLayout().pageSize().size(QPageSize::Millimeter);
    m_printer->setPageOrientation(
        ListPageLayout::preferredOrientation(m_settings, m_table, *m_printer, paper));
}

QRect CListPrint::pageArea(const QPrinter& printer) {
    const QRect full = printer.pageLayout().fullRectPixels(printer.resolution());
    return QRect(QPoint(0, 0), full.size());
}

bool CListPrint::printTo(QPrinter& printer, QWidget* parent) {
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    if (toFile && printer.outputFileName().isEmpty()) {
        const QString file =
            QFileDialog::getSaveFileName(parent, QStringLiteral("Print to File"), QString(),
                                         QStringLiteral("PDF files (*.pdf)"));
        if (file.isEmpty())
            return false;
        printer.setOutputFileName(file);
    }
    printer.setDocName(m_docName);
    useWholeSheet(printer);

    QPainter painter;
    if (!painter.begin(&printer)) {
        MessageService::message(QStringLiteral("Could not start print job."));
        return false;
    }
    const ListPageLayout layout(m_settings, m_table, printer, pageArea(printer));
    const int pages = layout.pageCount();
    const QString printerName = toFile ? QStringLiteral("PDF") : printer.printerName();
    const QString output = toFile ? QStringLiteral("to %1").arg(printer.outputFileName())
                                  : QStringLiteral("on %1").arg(printer.printerName());
    CPrintProgressDlg progress(m_docName, printerName, output, pages, parent);
    // Modal to the whole program while the loop lets events through: the
    // windows beneath wait, the progress window stays live.
    progress.setWindowModality(Qt::ApplicationModal);
    progress.show();
    m_progress = &progress;

    QElapsedTimer clock;
    clock.start();
    bool ok = true;
    for (int page = 1; page <= pages; ++page) {
        const qint64 elapsedMs = clock.elapsed();
        const int done = page - 1;
        const int secondsLeft = done > 0 ? int((pages - done) * (elapsedMs / done) / 1000) : 0;
        progress.showPage(page, secondsLeft);
        QCoreApplication::processEvents();
        if (progress.cancelled()) {
            ok = false;
            break;
        }
        if (page > 1 && !printer.newPage()) {
            ok = false;
            break;
        }
        layout.drawPage(painter, page);
        Q_EMIT pagePrinted(page, pages);
    }
    if (!ok)
        printer.abort();
    painter.end();
    m_progress = nullptr;
    progress.hide();
    return ok;
}

void CListPrint::paintPages(QPrinter* printer) {
    useWholeSheet(*printer);
    QPainter painter(printer);
    if (!painter.isActive())
        return;
    const ListPageLayout layout(m_settings, m_table, *printer, pageArea(*printer));
    for (int page = 1; page <= layout.pageCount(); ++page) {
        if (page > 1 && !printer->newPage())
            return;
        layout.drawPage(painter, page);
    }
}

void CListPrint::preview(QWidget* parent) {
    QPrintPreviewDialog dlg(m_printer.get(), parent);
    dlg.setWindowTitle(QStringLiteral("Address Book Print Preview"));
    connect(&dlg, &QPrintPreviewDialog::paintRequested, this, &CListPrint::paintPages);
    // The program's main window steps aside while the preview is up; the
    // windows opened over it (the address book) stay.
    QWidget* main = parent ? parent->window() : nullptr;
    while (main && main->parentWidget())
        main = main->parentWidget()->window();
    const bool hideMain = main && main->isVisible();
    if (hideMain)
        main->hide();
    runDialog(dlg);
    if (hideMain)
        main->show();
}
