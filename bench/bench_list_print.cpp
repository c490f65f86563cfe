// Printing a large address book list into a PDF file through the list
// printer's own loop (progress window included), offscreen:
//   qarsilo-bench-list-print [--rows 100000] [--runs 3] [--keep FILE.pdf]
// Prints pages per second (median of the runs), the process's peak resident
// memory against its size before printing, and the longest wait of the event
// loop during a run (how long the interface could not answer).

#include "core/addressbook/node_columns.h"
#include "core/lists/report_list_model.h"
#include "gui/widgets/list_print.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace qarsilo;

namespace {

// Resident and peak resident memory of this process, in kB.
long statusKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key))).trimmed().split(' ').value(0).toLong();
    return -1;
}

PrintTable addressBookTable(int rows) {
    ReportListModel columns;
    columns.declareColumns(nodeListColumns());
    PrintTable t;
    for (int c = 0; c < columns.columnCount(); ++c)
        t.columns << PrintColumn{columns.columnTitle(c), columns.declaredWidth(c), Qt::AlignLeft};
    t.rows.reserve(rows);
    for (int i = 0; i < rows; ++i) {
        const int a = (i >> 16) & 0xff, b = (i >> 8) & 0xff, c = i & 0xff;
        t.rows << QStringList{
            QStringLiteral("00:1a:%1:%2:%3:%4")
                .arg(a, 2, 16, QLatin1Char('0'))
                .arg(b, 2, 16, QLatin1Char('0'))
                .arg(c, 2, 16, QLatin1Char('0'))
                .arg(i % 251, 2, 16, QLatin1Char('0')),
            QStringLiteral("10.%1.%2.%3").arg(a).arg(b).arg(c),
            QStringLiteral("fe80:0000:0000:0000:021a:%1:%2:%3").arg(a).arg(b).arg(c),
            QStringLiteral("HOST%1").arg(i),
            QStringLiteral("WG%1").arg(i % 17),
            QStringLiteral("corp%1.example").arg(i % 5),
            QStringLiteral("07 Dec 2026, 12:%1:%2")
                .arg(i % 60, 2, 10, QLatin1Char('0'))
                .arg(i % 59, 2, 10, QLatin1Char('0')),
            QStringLiteral("Workstation %1 on floor %2").arg(i).arg(i % 9),
            QStringLiteral("Room %1").arg(i % 300),
            QStringLiteral("10.%1.%2.0").arg(a).arg(b),
            QStringLiteral("-")};
    }
    return t;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rows = 100000;
    int runs = 3;
    QString keep;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rows"))
            rows = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--keep"))
            keep = args[i + 1];
    }
    QTemporaryDir dir;
    const long baseKb = statusKb("VmRSS:");
    CListPrint print(QStringLiteral("Network Address Book"));
    print.setTable(addressBookTable(rows));
    const long tableKb = statusKb("VmRSS:");
    std::printf("rows %d, runs %d; resident before the table %ld kB, with it %ld kB\n", rows, runs,
                baseKb, tableKb);

    QList<double> rates;
    QList<qint64> waits;
    int pages = 0;
    qint64 bytes = 0;
    for (int run = 0; run < runs; ++run) {
        const QString file =
            run == 0 && !keep.isEmpty() ? keep : dir.filePath(QStringLiteral("list.pdf"));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        printer.setPageSize(QPageSize(QPageSize::A4));

        // A 10 ms timer stands for the interface: the longest gap between its
        // turns is the longest the program could not answer.
        QElapsedTimer sinceTurn;
        qint64 longest = 0;
        QTimer tick;
        tick.setInterval(10);
        QObject::connect(&tick, &QTimer::timeout, &app,
                         [&] { longest = std::max(longest, sinceTurn.restart()); });
        tick.start();
        sinceTurn.start();
        QElapsedTimer clock;
        clock.start();
        if (!print.printTo(printer)) {
            std::fprintf(stderr, "printing failed\n");
            return 1;
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        tick.stop();
        longest = std::max(longest, sinceTurn.elapsed());
        pages =
            ListPageLayout(print.settings(), print.table(), printer, CListPrint::pageArea(printer))
                .pageCount();
        bytes = QFileInfo(file).size();
        rates << pages / seconds;
        waits << longest;
        std::printf("run %d: %d pages in %.2f s = %.1f pages/s; longest event-loop wait %lld ms\n",
                    run + 1, pages, seconds, pages / seconds, static_cast<long long>(longest));
    }
    std::sort(rates.begin(), rates.end());
    std::sort(waits.begin(), waits.end());
    std::printf("median: %.1f pages/s (%d pages, PDF %.1f MB); median longest wait %lld ms\n",
                rates[rates.size() / 2], pages, bytes / 1e6,
                static_cast<long long>(waits[waits.size() / 2]));
    std::printf("peak resident %ld kB (table alone %ld kB above the start)\n", statusKb("VmHWM:"),
                tableKb - baseKb);
    return 0;
}
