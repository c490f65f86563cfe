// qarsilo-cli book export [--csv] [--db FILE|URL]: the address book's nodes, one
// line each under a line of column titles, in table order. Tab-separated by
// default (control characters inside a field, tabs and line breaks among them,
// become blanks); with --csv,
// RFC 4180 CSV as the lists' "Export..." writes it (without the byte order mark).
// qarsilo-cli book copy FROM TO: copies every node and group name, in order,
// from one book to another (a file or a postgresql:// URL each), in one
// transaction; a target that holds anything is left alone. Both commands only
// read a source book: it is left as it is, however old its tables.

#include "cli/cli_commands.h"
#include "core/addressbook/address_database.h"
#include "core/addressbook/node_columns.h"
#include "core/lists/csv_writer.h"
#include "core/lists/report_list_model.h"
#include "core/lists/tab_separated.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>

using namespace qarsilo;

namespace {

int usageError(const char* text) {
    std::fprintf(stderr,
                 "qarsilo-cli book: %s\nusage: qarsilo-cli book export [--csv] [--db FILE|URL]\n"
                 "       qarsilo-cli book copy FROM TO\n",
                 text);
    return 2;
}

// Opening a file book creates a missing file: a book that is read must be there.
bool existingBook(const QString& location) {
    if (AddressDatabase::isServerLocation(location) || QFileInfo(location).isFile())
        return true;
    std::fprintf(stderr, "qarsilo-cli book: no address book at %s\n", qPrintable(location));
    return false;
}

int bookError(const AddressDatabase& db) {
    std::fprintf(stderr, "qarsilo-cli book: %s: %s\n",
                 qPrintable(AddressDatabase::displayLocation(db.fileName())),
                 qPrintable(db.lastError()));
    return 1;
}

constexpr GroupTable kGroupTables[] = {GroupTable::Workgroup, GroupTable::Location,
                                       GroupTable::Subnet};

int runCopy(const QStringList& args) {
    if (args.size() != 3)
        return usageError("copy takes a source and a target book");
    if (!existingBook(args[1]))
        return 1;
    AddressDatabase from(args[1]);
    AddressDatabase to(args[2]);
    if (!from.openForReading())
        return bookError(from);
    if (!to.open())
        return bookError(to);
    QStringList groups[3];
    for (int t = 0; t < 3; ++t)
        if (!from.listGroups(kGroupTables[t], groups[t]))
            return bookError(from);
    // The target is found empty inside the write transaction, which holds
    // other writers off: two copies at once cannot both see it empty.
    enum class Stop { None, TargetUnreadable, NotEmpty, SourceUnreadable };
    Stop stop = Stop::None;
    qint64 nodes = 0;
    QString why;
    const bool ok = to.inTransaction([&] {
        qint64 present = 0;
        QStringList names;
        bool readable = to.countNodes(QString(), {}, present, 1);
        for (int t = 0; readable && t < 3 && present == 0; ++t) {
            readable = to.listGroups(kGroupTables[t], names);
            present += names.size();
        }
        if (!readable) {
            stop = Stop::TargetUnreadable;
            why = to.lastError();
            return false;
        }
        if (present > 0) {
            stop = Stop::NotEmpty;
            return false;
        }
        bool written = true;
        const bool readOk = from.forEachNode([&](const NodeRecord& n) {
            written = written && to.insertNode(n);
            ++nodes;
        });
        if (!readOk) {
            stop = Stop::SourceUnreadable;
            return false;
        }
        if (!written)
            return false;
        for (int t = 0; t < 3; ++t)
            for (const QString& name : groups[t])
                if (!to.addGroupIfAbsent(kGroupTables[t], name))
                    return false;
        return true;
    });
    switch (stop) {
    case Stop::NotEmpty:
        std::fprintf(stderr,
                     "qarsilo-cli book: %s is not empty: a book is copied only into an empty one\n",
                     qPrintable(AddressDatabase::displayLocation(args[2])));
        return 1;
    case Stop::TargetUnreadable:
        std::fprintf(stderr,
                     "qarsilo-cli book: %s cannot be read to tell whether it is empty, so "
                     "nothing was copied: %s\n",
                     qPrintable(AddressDatabase::displayLocation(args[2])), qPrintable(why));
        return 1;
    case Stop::SourceUnreadable:
        return bookError(from);
    case Stop::None:
        break;
    }
    if (!ok)
        return bookError(to);
    std::printf("copied %lld nodes, %lld workgroups, %lld locations, %lld IP ranges\n",
                static_cast<long long>(nodes), static_cast<long long>(groups[0].size()),
                static_cast<long long>(groups[1].size()), static_cast<long long>(groups[2].size()));
    return 0;
}

} // namespace

int runBook(const QStringList& args) {
    if (!args.isEmpty() && args.first() == QLatin1String("copy"))
        return runCopy(args);
    if (args.isEmpty() || args.first() != QLatin1String("export"))
        return usageError("the sub-commands are 'export' and 'copy'");
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
    if (!existingBook(file))
        return 1;
    AddressDatabase db(file);
    QList<QStringList> rows;
    if (!db.openForReading() || !db.listNodeTexts(rows))
        return bookError(db);
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
            block += tabSeparatedLine(fields).toUtf8() + '\n';
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
