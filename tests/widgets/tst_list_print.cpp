#include "gui/widgets/list_print.h"
#include "gui/widgets/list_print_dlg.h"
#include "gui/widgets/list_print_progress.h"
#include "support/scripted_message_service.h"

#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;

namespace {

// Rows "r1", "r2", ... in the first column, so a page's text tells which
// rows it holds.
PrintTable table(int rows, const QList<int>& widths = {100, 50, 50}) {
    PrintTable t;
    for (int i = 0; i < widths.size(); ++i)
        t.columns << PrintColumn{QStringLiteral("Col%1").arg(i), widths[i], Qt::AlignLeft};
    for (int r = 1; r <= rows; ++r)
        t.rows << QStringList{QStringLiteral("r%1").arg(r), QStringLiteral("b"),
                              QStringLiteral("c")};
    return t;
}

// Rows of the address book's list, with its columns' screen widths, or of a
// narrower list of addresses and a description: one with a description much
// wider than the addresses on screen, one with room for them.
enum Columns { Book, NarrowAddresses, RoomyAddresses };
PrintTable addressTable(int columns, int rows) {
    const bool wholeBook = columns == Book;
    PrintTable t;
    const QList<QPair<QString, int>> book = {
        {QStringLiteral("MAC Address"), 100},  {QStringLiteral("IPv4 Address"), 100},
        {QStringLiteral("IPv6 Address"), 100}, {QStringLiteral("Netbios Name"), 100},
        {QStringLiteral("Workgroup"), 75},     {QStringLiteral("Domain Name"), 75},
        {QStringLiteral("Date"), 125},         {QStringLiteral("Description"), 150},
        {QStringLiteral("Location"), 75},      {QStringLiteral("Ip Range"), 75},
        {QStringLiteral("Type"), 75}};
    const QList<QPair<QString, int>> few = {
        {QStringLiteral("MAC Address"), 100},
        {QStringLiteral("IPv4 Address"), 100},
        {QStringLiteral("Description"), columns == RoomyAddresses ? 300 : 900}};
    for (const auto& [title, width] : wholeBook ? book : few)
        t.columns << PrintColumn{title, width, Qt::AlignLeft};
    for (int r = 0; r < rows; ++r) {
        const QString mac = QStringLiteral("00:04:23:5a:bc:%1").arg(r, 2, 16, QLatin1Char('0'));
        const QString ipv4 = QStringLiteral("192.168.100.%1").arg(200 + r);
        if (wholeBook)
            t.rows << QStringList{
                mac,
                ipv4,
                QStringLiteral("fe80::204:23ff:fe5a:bc%1").arg(r, 2, 10, QLatin1Char('0')),
                QStringLiteral("WORKSTATION-%1").arg(r),
                QStringLiteral("WORKGROUP"),
                QStringLiteral("example.lan"),
                QStringLiteral("08/12/2026 07:46:45"),
                QStringLiteral("Printer, second floor"),
                QStringLiteral("Room 12"),
                QStringLiteral("192.168.100.0/24"),
                QStringLiteral("Printer")};
        else
            t.rows << QStringList{mac, ipv4, QStringLiteral("Switch in the wiring closet")};
    }
    return t;
}

void pdfPrinter(QPrinter& printer, const QString& file, QPageSize::PageSizeId size) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setPageSize(QPageSize(size));
    printer.setPageOrientation(QPageLayout::Portrait);
}

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>")
            .arg(program, QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pdfPages(const QString& file) {
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                                          .match(run(QStringLiteral("pdfinfo"), {file}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The first page's width and height in points.
QSizeF pdfPageSize(const QString& file) {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts"))
            .match(run(QStringLiteral("pdfinfo"), {file}));
    return m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QSizeF();
}

QString pageText(const QString& file, int page) {
    return run(QStringLiteral("pdftotext"),
               {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                QString::number(page), QStringLiteral("-layout"), file, QStringLiteral("-")});
}

// The row numbers that a page's text shows, in order.
QList<int> rowsOn(const QString& text) {
    QList<int> rows;
    QRegularExpressionMatchIterator it =
        QRegularExpression(QStringLiteral("\\br(\\d+)\\b")).globalMatch(text);
    while (it.hasNext())
        rows << it.next().captured(1).toInt();
    return rows;
}

} // namespace

class TestListPrint : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext and pdfinfo (poppler-utils) are needed to read the pages back");
    }

    void init() {
        QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qarsilo"),
                    QStringLiteral("qarsilo"));
        s.remove(QStringLiteral("Print Setting"));
    }

    void columnsSpanThePrintableWidth() {
        QPrinter printer(QPrinter::HighResolution);
        pdfPrinter(printer, m_dir.filePath(QStringLiteral("cols.pdf")), QPageSize::A4);
        const PrintSettings settings;
        const PrintTable t = table(3);
        const ListPageLayout layout(settings, t, printer, CListPrint::pageArea(printer));
        const int w = layout.printableRect().width();
        // 10 mm margins on an A4 sheet (595 points wide): within a tenth of a millimetre.
        const double expected = (595 / 72.0 - 20 / 25.4) * printer.resolution();
        QVERIFY2(qAbs(w - expected) <= printer.resolution() / 254.0,
                 qPrintable(QString::number(w)));
        QCOMPARE(layout.columnEdges(), (QList<int>{0, w / 2, w * 3 / 4, w}));
    }

    // A list printed through the dialogs as the operator does it, on A4 with
    // the program's defaults (or with what an earlier version stored).
    void printedList_data() {
        QTest::addColumn<int>("columns");
        QTest::addColumn<QVariantMap>("stored"); // in "Print Setting"
        QTest::addColumn<bool>("landscape");
        // Stored fonts keep a row about its own fault (the earlier defaults were not installed).
        QVariantMap fonts;
        for (const char* key : {"csFtHead", "csFtFoot", "csFtPrint"})
            fonts.insert(QLatin1String(key), QStringLiteral("Liberation Sans"));
        QVariantMap oldFooter = fonts;
        oldFooter.insert(QStringLiteral("csPageFooter"), QStringLiteral("..."));
        QTest::newRow("address book wider than portrait: landscape, no address cut")
            << int(Book) << QVariantMap() << true;
        QTest::newRow("addresses fit portrait when the columns follow their texts")
            << int(NarrowAddresses) << fonts << false;
        QTest::newRow("no footer unless one is written") << int(RoomyAddresses) << fonts << false;
        QTest::newRow("footer \"...\" stored by an earlier version is no footer")
            << int(RoomyAddresses) << oldFooter << false;
        QTest::newRow("default fonts are installed ones")
            << int(RoomyAddresses) << QVariantMap() << false;
        QTest::newRow("stored font that is not installed prints in Liberation Sans")
            << int(RoomyAddresses)
            << QVariantMap{{QStringLiteral("csFtPrint"), QStringLiteral("No Such Font Family")}}
            << false;
        QTest::newRow("stored Times New Roman footer font prints in Liberation Sans")
            << int(RoomyAddresses)
            << QVariantMap{{QStringLiteral("csFtFoot"), QStringLiteral("Times New Roman")}}
            << false;
    }

    void printedList() {
        QFETCH(int, columns);
        QFETCH(QVariantMap, stored);
        QFETCH(bool, landscape);
        {
            QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qarsilo"),
                        QStringLiteral("qarsilo"));
            for (auto it = stored.cbegin(); it != stored.cend(); ++it)
                s.setValue(QStringLiteral("Print Setting/") + it.key(), it.value());
        }
        const QString file = m_dir.filePath(QStringLiteral("list.pdf"));
        QFile::remove(file);
        const PrintTable list = addressTable(columns, 6);
        CListPrint print;
        print.printer().setPageSize(QPageSize(QPageSize::A4));
        print.printer().setPageOrientation(QPageLayout::Portrait);
        QPageLayout::Orientation offered = QPageLayout::Portrait;
        print.setDialogRunner([&](QDialog& d) {
            if (auto* dlg = qobject_cast<CListPrintDlg*>(&d)) {
                offered = print.printer().pageLayout().orientation();
                for (QPushButton* b : dlg->findChildren<QPushButton*>())
                    if (b->text() == QLatin1String("print .."))
                        b->click();
                return dlg->result();
            }
            print.printer().setOutputFormat(QPrinter::PdfFormat);
            print.printer().setOutputFileName(file);
            return int(QDialog::Accepted);
        });
        print.print(list, nullptr);

        QCOMPARE(offered, landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
        const QSizeF paper = pdfPageSize(file);
        QVERIFY2(paper.isValid(), qPrintable(run(QStringLiteral("pdfinfo"), {file})));
        QCOMPARE(paper.width() > paper.height(), landscape);

        // Every font resolves to the family it names, one the set-up installs.
        QPrinter sheet(QPrinter::HighResolution);
        pdfPrinter(sheet, m_dir.filePath(QStringLiteral("fonts.pdf")), QPageSize::A4);
        const ListPageLayout layout(print.settings(), list, sheet, CListPrint::pageArea(sheet));
        for (const QFont& f : {layout.headFont(), layout.footFont(), layout.printFont()}) {
            QCOMPARE(QFontInfo(f).family(), f.family());
            QCOMPARE(f.family(), QStringLiteral("Liberation Sans"));
        }
        const QString text = pageText(file, 1);
        for (const QStringList& row : list.rows) {
            QVERIFY2(text.contains(row[0]), qPrintable(row[0] + QLatin1Char('\n') + text));
            QVERIFY2(text.contains(row[1]), qPrintable(row[1] + QLatin1Char('\n') + text));
        }
        QVERIFY2(!text.contains(QStringLiteral("...")), qPrintable(text));
        QVERIFY2(!text.contains(QChar(0x2026)), qPrintable(text)); // an elided cell

        const QString fonts = run(QStringLiteral("pdffonts"), {file});
        QVERIFY2(fonts.contains(QStringLiteral("LiberationSans")), qPrintable(fonts));
    }

    void typedFooterPrints() {
        const QString file = m_dir.filePath(QStringLiteral("footer.pdf"));
        CListPrint print;
        print.settings().pageFooter = QStringLiteral("Ufficio tecnico");
        print.setTable(table(3));
        QPrinter printer(QPrinter::HighResolution);
        pdfPrinter(printer, file, QPageSize::A4);
        QVERIFY(print.printTo(printer));
        QVERIFY(pageText(file, 1).contains(QStringLiteral("Ufficio tecnico")));
    }

    void pagination_data() {
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<int>("extraRows"); // beyond whole pages
        QTest::addColumn<int>("wholePages");
        QTest::newRow("A4, exactly one page") << int(QPageSize::A4) << 0 << 1;
        QTest::newRow("A4, one page and one row") << int(QPageSize::A4) << 1 << 1;
        QTest::newRow("A5, two pages and a few") << int(QPageSize::A5) << 5 << 2;
        QTest::newRow("Letter, one row") << int(QPageSize::Letter) << 1 << 0;
    }

    void pagination() {
        QFETCH(int, pageSize);
        QFETCH(int, extraRows);
        QFETCH(int, wholePages);
        const QString file = m_dir.filePath(QStringLiteral("pages.pdf"));
        CListPrint print;
        QPrinter probe(QPrinter::HighResolution);
        pdfPrinter(probe, file, QPageSize::PageSizeId(pageSize));
        const PrintTable empty = table(0);
        const int perPage =
            ListPageLayout(print.settings(), empty, probe, CListPrint::pageArea(probe))
                .rowsPerPage();
        // 8-point rows on a sheet less 20 mm: about 3.5 mm each.
        const double heightMm =
            QPageSize(QPageSize::PageSizeId(pageSize)).size(QPageSize::Millimeter).height();
        QVERIFY2(perPage > (heightMm - 40) / 4.5 && perPage < (heightMm - 20) / 3.0,
                 qPrintable(QString::number(perPage)));

        const int rows = wholePages * perPage + extraRows;
        print.setTable(table(rows));
        QPrinter printer(QPrinter::HighResolution);
        pdfPrinter(printer, file, QPageSize::PageSizeId(pageSize));
        QVERIFY(print.printTo(printer));
        // A list that fills its last page exactly is followed by a page of
        // empty rows.
        const int pages = rows / perPage + 1;
        QCOMPARE(pdfPages(file), pages);
        for (int p = 1; p <= pages; ++p) {
            const QString text = pageText(file, p);
            QList<int> expected;
            for (int r = (p - 1) * perPage + 1; r <= qMin(rows, p * perPage); ++r)
                expected << r;
            QCOMPARE(rowsOn(text), expected);
            QVERIFY2(text.contains(QStringLiteral("Page %1 of %2").arg(p).arg(pages)),
                     qPrintable(text));
            QVERIFY(text.contains(QStringLiteral("Network Address Book")));
            QVERIFY(text.contains(QStringLiteral("Col0")));
        }
    }

    void headerBand_data() {
        QTest::addColumn<QString>("head");
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("band");
        QTest::newRow("both") << "Network Address Book"
                              << "Page %d of %d" << true;
        QTest::newRow("no page number") << "Network Address Book"
                                        << "" << true;
        QTest::newRow("page number only") << ""
                                          << "Page %d of %d" << true;
        QTest::newRow("neither") << ""
                                 << "" << false;
        QTest::newRow("format with %s stays text") << "H"
                                                   << "%s %d/%d %x" << true;
    }

    void headerBand() {
        QFETCH(QString, head);
        QFETCH(QString, format);
        QFETCH(bool, band);
        const QString file = m_dir.filePath(QStringLiteral("band.pdf"));
        CListPrint print;
        print.settings().pageHead = head;
        print.settings().pageFormat = format;
        print.setTable(table(3));
        QPrinter printer(QPrinter::HighResolution);
        pdfPrinter(printer, file, QPageSize::A4);
        const ListPageLayout layout(print.settings(), print.table(), printer,
                                    CListPrint::pageArea(printer));
        QCOMPARE(layout.headerBandHeight() > 0, band);
        QVERIFY(print.printTo(printer));
        const QString text = pageText(file, 1);
        QCOMPARE(text.contains(QStringLiteral("Page 1 of 1")),
                 format == QLatin1String("Page %d of %d"));
        if (format.startsWith(QLatin1String("%s")))
            QVERIFY2(text.contains(QStringLiteral("%s 1/1 %x")), qPrintable(text));
    }

    void progressWindowTexts() {
        CListPrint print(QStringLiteral("Book"));
        print.setTable(table(300));
        QPrinter printer(QPrinter::HighResolution);
        const QString file = m_dir.filePath(QStringLiteral("progress.pdf"));
        pdfPrinter(printer, file, QPageSize::A4);
        QStringList seen;
        connect(&print, &CListPrint::pagePrinted, this, [&](int page, int count) {
            CPrintProgressDlg* w = print.progressWindow();
            QVERIFY(w && w->isVisible());
            QCOMPARE(w->bar()->maximum(), count);
            QCOMPARE(w->bar()->value(), page);
            seen << w->windowTitle() << w->firstLine()->text() << w->percentage()->text()
                 << w->status()->text();
        });
        QVERIFY(print.printTo(printer));
        QCOMPARE(seen.size(), 4 * 4); // 300 rows: 4 pages
        QCOMPARE(seen[0], QStringLiteral("Stampa di Book in corso .."));
        QCOMPARE(seen[1], QStringLiteral("Printing Book on PDF on to %1  ..").arg(file));
        QCOMPARE(seen[2], QStringLiteral("25 %"));
        QCOMPARE(seen[3], QStringLiteral("Page 1 of 4, ?? left to end .."));
        QVERIFY(seen[15].startsWith(QStringLiteral("Page 4 of 4, ")));
        QCOMPARE(seen[14], QStringLiteral("100 %"));
    }

    void cancelInTheProgressWindowAborts() {
        CListPrint print;
        print.setTable(table(300));
        QPrinter printer(QPrinter::HighResolution);
        pdfPrinter(printer, m_dir.filePath(QStringLiteral("cancel.pdf")), QPageSize::A4);
        connect(&print, &CListPrint::pagePrinted, this, [&](int page, int) {
            if (page == 2)
                print.progressWindow()->cancelButton()->click();
        });
        QVERIFY(!print.printTo(printer));
    }

    void jobThatCannotStart() {
        test::ScriptedMessageService messages;
        CListPrint print;
        print.setTable(table(3));
        QPrinter printer(QPrinter::HighResolution);
        pdfPrinter(printer, m_dir.filePath(QStringLiteral("missing/dir/x.pdf")), QPageSize::A4);
        QVERIFY(!print.printTo(printer));
        QCOMPARE(messages.shown().size(), 1);
        QCOMPARE(messages.shown()[0].text, QStringLiteral("Could not start print job."));
    }

    void dialogStoresOnlyWhenLeftWithPrintOrPreview_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("previewed");
        QTest::newRow("cancel") << "cancel" << false << false;
        QTest::newRow("closed") << "" << false << false;
        QTest::newRow("print") << "print .." << true << false;
        QTest::newRow("preview") << "print preview.." << true << true;
    }

    void dialogStoresOnlyWhenLeftWithPrintOrPreview() {
        QFETCH(QString, button);
        QFETCH(bool, stored);
        QFETCH(bool, previewed);
        PrintSettings before;
        before.pageHead = QStringLiteral("Stored head");
        before.marginTop = 17;
        before.headFont = QStringLiteral("No Such Font Family");
        before.save();

        // The list's window over the program's main window.
        QWidget mainWindow;
        QDialog over(&mainWindow);
        mainWindow.show();
        over.show();
        CListPrint print;
        QCOMPARE(print.settings(), before);
        bool sawPreview = false;
        bool sawPrintDialog = false;
        print.setDialogRunner([&](QDialog& d) {
            if (auto* dlg = qobject_cast<CListPrintDlg*>(&d)) {
                [&] {
                    QCOMPARE(dlg->windowTitle(), QStringLiteral("List print"));
                    QCOMPARE(dlg->headerText()->text(), before.pageHead);
                    QCOMPARE(dlg->marginTop()->value(), 17);
                    // A stored font that is not installed: the list opens on the font
                    // that prints instead.
                    QCOMPARE(dlg->headFont()->currentText(), QStringLiteral("Liberation Sans"));
                    QCOMPARE(dlg->printSize()->count(), 11);
                    QCOMPARE(dlg->printSize()->currentText(), QStringLiteral("8"));
                }();
                dlg->headerText()->setText(QStringLiteral("Changed head"));
                dlg->marginLeft()->setValue(25);
                for (QPushButton* b : dlg->findChildren<QPushButton*>())
                    if (b->text() == button)
                        b->click();
                return dlg->result();
            }
            if (auto* p = qobject_cast<QPrintPreviewDialog*>(&d)) {
                sawPreview = p->windowTitle() == QStringLiteral("Address Book Print Preview") &&
                             !mainWindow.isVisible() && over.isVisible();
                return int(QDialog::Accepted);
            }
            sawPrintDialog = qobject_cast<QPrintDialog*>(&d) != nullptr;
            return int(QDialog::Rejected); // nothing goes to a printer
        });
        print.print(table(5), &over);
        QVERIFY(mainWindow.isVisible());
        const PrintSettings now = PrintSettings::load();
        if (stored) {
            QCOMPARE(now.pageHead, QStringLiteral("Changed head"));
            QCOMPARE(now.marginLeft, 25);
        } else {
            QCOMPARE(now, before);
        }
        QCOMPARE(sawPreview, previewed);
        QCOMPARE(sawPrintDialog, button == QLatin1String("print .."));
    }

    // The dialog's text fields show their whole texts as it opens.
    void dialogFieldsShowTheirTexts_data() {
        QTest::addColumn<QString>("field");
        QTest::newRow("header") << "header";
        QTest::newRow("page format") << "page";
    }

    void dialogFieldsShowTheirTexts() {
        QFETCH(QString, field);
        QPrinter printer;
        CListPrintDlg dlg(PrintSettings(), printer);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QLineEdit* edit = field == QLatin1String("header") ? dlg.headerText() : dlg.pageFormat();
        QVERIFY(!edit->text().isEmpty());
        // The text and the frame's margins fit inside the field.
        QVERIFY2(edit->width() >= edit->fontMetrics().horizontalAdvance(edit->text()) + 8,
                 qPrintable(QStringLiteral("%1 for \"%2\"").arg(edit->width()).arg(edit->text())));
    }

    void emptyListShowsNoDialog() {
        CListPrint print;
        int dialogs = 0;
        print.setDialogRunner([&](QDialog&) { return ++dialogs, int(QDialog::Rejected); });
        print.print(table(0), nullptr);
        print.print(PrintTable{{}, {QStringList{QStringLiteral("x")}}}, nullptr);
        QCOMPARE(dialogs, 0);
    }

    void timeLeft_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown") << 0 << 5 << "??";
        QTest::newRow("seconds") << 42 << 5 << "42 secondi";
        QTest::newRow("a minute") << 60 << 5 << "60 secondi";
        QTest::newRow("minutes") << 125 << 50 << "2 minuti, 5 secondi";
        QTest::newRow("one page") << 3 << 1 << "??";
    }

    void timeLeft() {
        QFETCH(int, seconds);
        QFETCH(int, pages);
        QFETCH(QString, text);
        QCOMPARE(timeLeftText(seconds, pages), text);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestListPrint)
#include "tst_list_print.moc"
