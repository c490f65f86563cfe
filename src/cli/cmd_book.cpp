// qarsilo-cli book export [--csv] [--db FILE]: the address book's nodes, one
// line each under a line of column titles, in table order. Tab-separated by
// default (tabs and line breaks inside a field become blanks); with --csv,
// RFC 4180 CSV as the lists' "Export..." writes it (without the byte order mark).

#include "addressbook/address_database.h"
#include "addressbook/node_columns.h"
#include "cli/cli_commands.h"
#include "ui/csv_writer.h"
#include "ui/report_list_model.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>

using namespace qarsilo;

namespace {

int usageError(const char* text) {
    std::fprintf(
        stderr, "qarsilo-cli book: %s\nusage: qarsilo-cli book export [--csv] [--db FILE]\n", text);
    return 2;
}

QString tabField(QString field) {
    for (QChar& c : field)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return field;
}

} // namespace

int runBook(const QStringList& args) {
    if (args.isEmpty() || args.first() != QLatin1String("export"))
        return usageError("the only sub-command is 'export'");
    bool csv = false;
    QString file = AddressDatabase::defaultFileName();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--csv"))
            csv = true;
        else if (args[i] == QLatin1String("--db") && i + 1 < args.size())
            file = args[++i];
        else
            return usageError(qPrintable(QStringLiteral("unknown argument '%1'").arg(args[i])));
    }
    // Opening creates a missing file; an export must not leave one behind.
    if (!QFileInfo(file).isFile()) {
        std::fprintf(stderr, "qarsilo-cli book: no address book at %s\n", qPrintable(file));
        return 1;
    }
    AddressDatabase db(file);
    QList<QStringList> rows;
    if (!db.open() || !db.listNodeTexts(rows)) {
        std::fprintf(stderr, "qarsilo-cli book: %s: %s\n", qPrintable(file),
                     qPrintable(db.lastError()));
        return 1;
    }
    ReportListModel columns;
    columns.declareColumns(nodeListColumns());
    QStringList titles;
    for (int c = 0; c < columns.columnCount(); ++c)
        titles << columns.columnTitle(c);

    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return 1;
    bool ok = true;
    if (csv) {
        ok = writeCsv(out, titles, rows, false);
    } else {
        QByteArray block;
        const auto line = [&](const QStringList& fields) {
            QStringList cleaned;
            for (const QString& f : fields)
                cleaned << tabField(f);
            block += cleaned.join(QLatin1Char('\t')).toUtf8() + '\n';
        };
        line(titles);
        for (const QStringList& r : rows)
            line(r);
        ok = out.write(block) == block.size();
    }
    out.flush();
    if (!ok) {
        std::fprintf(stderr, "qarsilo-cli book: cannot write the output\n");
        return 1;
    }
    return 0;
}
