#pragma once

#include "core/lists/list_print_layout.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class CListPrintDlg;
class CPrintProgressDlg;
class CReportList;
class QDialog;
class QPrinter;
class QWidget;

/// Prints a report list as a ruled table under a page header and over a
/// page footer, on a printer, into a PDF file or in a preview. The settings
/// come from "Print Setting" and go back there when the "List print" dialog
/// is left with print or preview.
class CListPrint : public QObject {
    Q_OBJECT
public:
    /// Runs a dialog modally and returns its result; replaceable (tests).
    using DialogRunner = std::function<int(QDialog& dialog)>;

    explicit CListPrint(QString docName = QStringLiteral("senza nome"), QObject* parent = nullptr);
    ~CListPrint() override;

    /// The rows `list` shows (in their order), its column titles, widths and
    /// alignments.
    static qarsilo::PrintTable tableOf(const CReportList& list);

    /// Print(list): the "List print" dialog, then print, preview or nothing.
    /// A list without rows or columns prints nothing and shows no dialog.
    /// The page turns to landscape when the columns' texts do not fit
    /// across a portrait page (choosePageOrientation()).
    void print(const CReportList& list, QWidget* parent);
    /// The same for a table that is already taken.
    void print(qarsilo::PrintTable table, QWidget* parent);

    /// Prints the table on `printer` with the progress window. False when
    /// the job could not start ("Could not start print job." was shown), a
    /// page failed or the operator cancelled.
    bool printTo(QPrinter& printer, QWidget* parent = nullptr);
    /// Draws every page on `printer` without the progress window (the preview).
    void paintPages(QPrinter* printer);
    /// Opens the preview window, titled "Address Book Print Preview"; the
    /// main window (the top window above `parent`) is hidden meanwhile.
    void preview(QWidget* parent);

    /// Sets the printer's orientation from the table's texts (portrait when
    /// they fit across it).
    void choosePageOrientation();

    void setTable(qarsilo::PrintTable table) { m_table = std::move(table); }
    const qarsilo::PrintTable& table() const { return m_table; }
    qarsilo::PrintSettings& settings() { return m_settings; }
    QPrinter& printer() { return *m_printer; }
    QString docName() const { return m_docName; }
    void setDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }
    /// The progress window while printTo() runs.
    CPrintProgressDlg* progressWindow() const;
    /// The page whole area in device units, where the layout is made.
    static QRect pageArea(const QPrinter& printer);

Q_SIGNALS:
    /// A page has been drawn (printTo only); the progress window is open.
    void pagePrinted(int page, int pageCount);

private:
    int runDialog(QDialog& dialog);

    QString m_docName;
    qarsilo::PrintSettings m_settings;
    qarsilo::PrintTable m_table;
    std::unique_ptr<QPrinter> m_printer;
    DialogRunner m_runDialog;
    QPointer<CPrintProgressDlg> m_progress;
};
