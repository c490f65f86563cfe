// Times of the address book's work over a generated node table: every listing
// and filter reads the whole table, every find scans for its key, so these grow
// with the number of nodes. Also the report list's batch insert and sorts.
// Median of several runs, in milliseconds (per operation where stated).
//
//   qarsilo-bench-addressbook [--nodes N] [--runs N]

#include "addressbook/address_database.h"
#include "addressbook/node_filter.h"
#include "ui/report_list_model.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

using namespace qarsilo;

namespace {

using Clock = std::chrono::steady_clock;

double medianMs(int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

QString macOf(int i) {
    return QStringLiteral("00:1b:%1:%2:%3:%4")
        .arg((i >> 24) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((i >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((i >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(i & 0xFF, 2, 16, QLatin1Char('0'));
}

NodeRecord nodeOf(int i) {
    NodeRecord n;
    n.mac = macOf(i);
    n.ip = ipv4Text(10, (i >> 16) & 0xFF, (i >> 8) & 0xFF, i & 0xFF);
    n.ipv6 = kEmptyIpv6;
    n.name = QStringLiteral("HOST%1").arg(i * 7919 % 100000, 5, 10, QLatin1Char('0'));
    n.workgroup = QStringLiteral("WG%1").arg(i % 20);
    n.domainName = QStringLiteral("lan");
    n.date = QStringLiteral("07 Dec 2026, 08:00:00");
    n.description = QStringLiteral("Detected Node");
    n.location = QStringLiteral("Floor %1").arg(i % 7);
    n.subnet = subnetText(10, (i >> 16) & 0xFF, (i >> 8) & 0xFF);
    n.type = QStringLiteral("-");
    return n;
}

bool bulkFill(const QString& file, int from, int to) {
    bool ok = true;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-fill"));
        db.setDatabaseName(file);
        ok = db.open() && db.transaction();
        QSqlQuery q(db);
        ok = ok && q.prepare(QStringLiteral(
                       "INSERT INTO node (MAC, IP, IPv6, NAME, WORKGROUP, DOMAINNAME, DATE, "
                       "DESCRIPTION, LOCATION, SUBNET, TYPE) VALUES (?,?,?,?,?,?,?,?,?,?,?)"));
        for (int i = from; ok && i < to; ++i) {
            for (const QString& t : nodeOf(i).texts())
                q.addBindValue(t);
            ok = q.exec();
        }
        ok = ok && db.commit();
        if (!ok)
            std::fprintf(stderr, "fill: %s\n", qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-fill"));
    return ok;
}

int listMatching(AddressDatabase& db, const NodeFilter& filter, QList<QStringList>& rows) {
    rows.clear();
    db.forEachNode([&](const NodeRecord& n) {
        if (filter.matches(n))
            rows.append(n.texts());
    });
    return int(rows.size());
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    int nodes = 10000;
    int runs = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--nodes"))
            nodes = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::atoi(argv[i + 1]);
    }
    if (nodes < 2 || runs < 1) {
        std::fprintf(stderr, "usage: qarsilo-bench-addressbook [--nodes N>=2] [--runs N>=1]\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("address.mdb"));
    AddressDatabase db(file);
    if (!db.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(db.lastError()));
        return 1;
    }

    std::printf("nodes %d, runs %d, median times\n", nodes, runs);
    // Adding is timed on the first nodes (each add is its own transaction and
    // waits for the disk); the rest of the table is filled in one transaction.
    const int timedAdds = std::min(nodes, 200);
    const auto fill = Clock::now();
    for (int i = 0; i < timedAdds; ++i)
        if (!db.addNode(nodeOf(i))) {
            std::fprintf(stderr, "add %d: %s\n", i, qPrintable(db.lastError()));
            return 1;
        }
    std::printf("add node (one transaction each)  %8.3f ms per node\n",
                std::chrono::duration<double, std::milli>(Clock::now() - fill).count() / timedAdds);
    if (!bulkFill(file, timedAdds, nodes))
        return 1;

    QList<QStringList> rows;
    int found = 0;
    std::printf("list all nodes                   %8.2f ms\n",
                medianMs(runs, [&] { found = listMatching(db, {}, rows); }));
    if (found != nodes)
        return 1;
    std::printf("tree filter (one workgroup)      %8.2f ms\n", medianMs(runs, [&] {
                    listMatching(db,
                                 NodeFilter::forTreeItem(QStringLiteral("wg3"), tree::byWorkgroup),
                                 rows);
                }));
    std::printf("name search \"host1\"              %8.2f ms\n", medianMs(runs, [&] {
                    listMatching(db, NodeFilter::forName(QStringLiteral("host1")), rows);
                }));
    std::printf("address search 10.0.1           %8.2f ms\n", medianMs(runs, [&] {
                    listMatching(db, NodeFilter::forAddress(10, 0, 1, 0), rows);
                }));

    const QString last = macOf(nodes - 1);
    NodeRecord n;
    std::printf("find node (last MAC)             %8.3f ms\n",
                medianMs(runs, [&] { db.findNode(last, n); }));
    std::printf("update node (last MAC)           %8.3f ms\n", medianMs(runs, [&] {
                    NodeRecord edited = nodeOf(nodes - 1);
                    edited.name = QStringLiteral("EDITED");
                    db.updateNode(edited);
                }));

    listMatching(db, {}, rows);
    ReportListModel model;
    model.declareColumns(QStringLiteral("MAC Address,100;IPv4 Address,100;IPv6 Address,100;"
                                        "Netbios Name,100;Workgroup,75;Domain Name,75;Date,125;"
                                        "Description,150;Location,75;Ip Range,75;Type,75"));
    std::printf("report list: insert all rows     %8.2f ms\n", medianMs(runs, [&] {
                    model.deleteAll();
                    model.addRows(rows);
                }));
    const struct {
        const char* what;
        int column;
    } sorts[] = {
        {"sort by MAC (text)   ", 0}, {"sort by name (text)  ", 3}, {"sort by workgroup    ", 4}};
    for (const auto& s : sorts) {
        bool ascending = false;
        std::printf("report list: %s %8.2f ms\n", s.what, medianMs(runs, [&] {
                        ascending = !ascending;
                        model.sortBy(s.column, ascending);
                    }));
    }
    // A numeric column: the row number as text.
    ReportListModel numbers;
    numbers.declareColumns(QStringLiteral("N,50"));
    QList<QStringList> numberRows;
    for (int i = 0; i < nodes; ++i)
        numberRows.append({QString::number((i * 7919) % nodes)});
    numbers.addRows(numberRows);
    bool ascending = false;
    std::printf("report list: sort numbers        %8.2f ms\n", medianMs(runs, [&] {
                    ascending = !ascending;
                    numbers.sortBy(0, ascending);
                }));

    std::printf("clear all                        %8.2f ms\n", medianMs(1, [&] { db.clearAll(); }));
    return 0;
}
