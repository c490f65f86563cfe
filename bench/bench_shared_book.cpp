// The address book window on a book file (SQLite) and on a PostgreSQL book,
// side by side in one run, at each table size asked for: opening the window
// (read, list filled, shown, painted), a keystroke of the name search, a
// change of the address field, a click on a column title, and a save of
// 10,000 discovered rows (half new nodes, half updates) as autodiscovery
// saves them. Medians in milliseconds, and the PostgreSQL/SQLite ratio; then
// the same book read whole (as before the paged listing) beside the paged
// listing, with the ratio whole / paged.
//
//   qarsilo-bench-shared-book --db postgresql://user@host/emptydb
//                             [--nodes 100000,1000000] [--runs 5]
//
// The PostgreSQL database is emptied and filled by the benchmark: give it one
// of its own. The window runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include "bench_util.h"
#include "core/addressbook/address_database.h"
#include "core/discovery/discovery_database.h"
#include "core/discovery/discovery_tables.h"
#include "gui/addressbook/address_book_dlg.h"
#include "gui/widgets/ip_address_edit.h"
#include "gui/widgets/report_list.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <tuple>
#include <vector>

using namespace qarsilo;

namespace {

using bench::Clock;
using bench::median;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

QString macOf(int i) {
    return QStringLiteral("00:1b:%1:%2:%3:%4")
        .arg((i >> 24) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((i >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((i >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(i & 0xFF, 2, 16, QLatin1Char('0'));
}

QStringList textsOf(int i) {
    return {macOf(i),
            ipv4Text(10, (i >> 16) & 0xFF, (i >> 8) & 0xFF, i & 0xFF),
            kEmptyIpv6,
            QStringLiteral("HOST%1").arg(int(qint64(i) * 7919 % 100000), 5, 10, QLatin1Char('0')),
            QStringLiteral("WG%1").arg(i % 20),
            QStringLiteral("lan"),
            QStringLiteral("%1 Dec 2026, %2:%3:00")
                .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                .arg(i % 24, 2, 10, QLatin1Char('0'))
                .arg(i % 60, 2, 10, QLatin1Char('0')),
            QStringLiteral("Detected Node"),
            QStringLiteral("Floor %1").arg(i % 7),
            subnetText(10, (i >> 16) & 0xFF, (i >> 8) & 0xFF),
            QStringLiteral("-")};
}

// Fills an empty book with `nodes` generated rows through a connection of its
// own, many rows a statement (the generated texts hold no quote).
bool fill(const QString& location, int nodes) {
    {
        AddressDatabase db(location);
        if (!db.open() || !db.clearAll()) {
            std::fprintf(stderr, "%s\n", qPrintable(db.lastError()));
            return false;
        }
    }
    const bool server = AddressDatabase::isServerLocation(location);
    bool ok = true;
    {
        QSqlDatabase db;
        if (server) {
            db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("fill"));
            const QString host =
                location.section(QStringLiteral("host="), 1).section(QLatin1Char('&'), 0, 0);
            const QString rest = location.section(QStringLiteral("://"), 1);
            db.setUserName(rest.section(QLatin1Char('@'), 0, 0).section(QLatin1Char(':'), 0, 0));
            db.setDatabaseName(rest.section(QLatin1Char('/'), 1).section(QLatin1Char('?'), 0, 0));
            if (!host.isEmpty())
                db.setHostName(host);
            else
                db.setHostName(rest.section(QLatin1Char('@'), 1)
                                   .section(QLatin1Char('/'), 0, 0)
                                   .section(QLatin1Char(':'), 0, 0));
        } else {
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
            db.setDatabaseName(location);
        }
        ok = db.open() && db.transaction();
        QSqlQuery q(db);
        const int chunk = 500;
        for (int from = 0; ok && from < nodes; from += chunk) {
            QStringList values;
            for (int i = from; i < std::min(nodes, from + chunk); ++i)
                values << QStringLiteral("('") + textsOf(i).join(QStringLiteral("','")) +
                              QStringLiteral("')");
            ok = q.exec(QStringLiteral("INSERT INTO node (MAC, IP, IPv6, NAME, WORKGROUP, "
                                       "DOMAINNAME, DATE, DESCRIPTION, LOCATION, SUBNET, TYPE) "
                                       "VALUES ") +
                        values.join(QLatin1Char(',')));
        }
        for (const char* table : {"WORKGROUP", "LOCATION", "SUBNET"}) {
            const QString column = QString::fromLatin1(table);
            ok = ok && q.exec((server ? QStringLiteral("INSERT INTO %1tree (%1) SELECT DISTINCT "
                                                       "%1 FROM node ON CONFLICT DO NOTHING")
                                      : QStringLiteral("INSERT OR IGNORE INTO %1tree (%1) "
                                                       "SELECT DISTINCT %1 FROM node"))
                                  .arg(column));
        }
        if (server)
            ok = ok && q.exec(QStringLiteral("UPDATE changecount SET N = N + 1"));
        ok = ok && db.commit();
        if (ok && server)
            q.exec(QStringLiteral("ANALYZE"));
        if (!ok)
            std::fprintf(stderr, "fill: %s %s\n", qPrintable(db.lastError().text()),
                         qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

void typeKey(QWidget* target, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

void settle(CAddressBookDlg& dlg) {
    QApplication::processEvents();
    dlg.list()->viewport()->repaint();
}

struct Figures {
    double open = 0, keystroke = 0, keystrokeWorst = 0, address = 0, sort = 0, save = 0;
};

bool measure(const QString& location, int nodes, int runs, Figures& f, bool withSave) {
    std::vector<double> opens;
    for (int r = 0; r < runs; ++r) {
        const auto t0 = Clock::now();
        auto dlg = std::make_unique<CAddressBookDlg>(nullptr, location);
        dlg->show();
        QApplication::processEvents();
        dlg->repaint();
        opens.push_back(msSince(t0));
        if (dlg->list()->rowCount() != nodes) {
            std::fprintf(stderr, "the window lists %d of %d nodes\n", dlg->list()->rowCount(),
                         nodes);
            return false;
        }
    }
    f.open = median(opens);

    CAddressBookDlg dlg(nullptr, location);
    dlg.show();
    settle(dlg);
    std::vector<double> keys;
    const QString typed = QStringLiteral("host12");
    for (int r = 0; r < runs; ++r) {
        for (QChar c : typed) {
            const auto t0 = Clock::now();
            typeKey(dlg.nameField(),
                    c.isDigit() ? Qt::Key_0 + (c.unicode() - '0')
                                : Qt::Key_A + (c.toUpper().unicode() - 'A'),
                    QString(c));
            settle(dlg);
            keys.push_back(msSince(t0));
        }
        for (qsizetype k = typed.size(); k > 0; --k) {
            const auto t0 = Clock::now();
            typeKey(dlg.nameField(), Qt::Key_Backspace, QString());
            settle(dlg);
            keys.push_back(msSince(t0));
        }
    }
    f.keystroke = median(keys);
    f.keystrokeWorst = *std::max_element(keys.begin(), keys.end());

    const struct {
        int field, key;
        const char* text;
    } steps[] = {{0, Qt::Key_1, "1"},        {0, Qt::Key_0, "0"},        {1, Qt::Key_0, "0"},
                 {2, Qt::Key_1, "1"},        {3, Qt::Key_5, "5"},        {3, Qt::Key_Backspace, ""},
                 {2, Qt::Key_Backspace, ""}, {1, Qt::Key_Backspace, ""}, {0, Qt::Key_Backspace, ""},
                 {0, Qt::Key_Backspace, ""}};
    std::vector<double> changes;
    for (int r = 0; r < runs; ++r) {
        for (const auto& s : steps) {
            QLineEdit* field = dlg.addressField()->fieldEdit(s.field);
            field->setCursorPosition(int(field->text().size()));
            const auto t0 = Clock::now();
            typeKey(field, s.key, QString::fromLatin1(s.text));
            settle(dlg);
            changes.push_back(msSince(t0));
        }
    }
    f.address = median(changes);

    std::vector<double> sorts;
    for (int r = 0; r < runs; ++r) {
        for (int column : {3, 0}) {
            const auto t0 = Clock::now();
            Q_EMIT dlg.list()->horizontalHeader()->sectionClicked(column);
            settle(dlg);
            sorts.push_back(msSince(t0));
        }
    }
    f.sort = median(sorts);
    if (!withSave)
        return true;

    // Half the rows update stored nodes, half are new (new ones each run).
    std::vector<double> saves;
    AddressDatabase db(location);
    if (!db.open())
        return false;
    for (int r = 0; r < runs; ++r) {
        QList<DiscoveredNode> rows;
        for (int i = 0; i < 10000; ++i) {
            const int n = i % 2 ? (i * 97) % nodes : nodes + r * 10000 + i;
            const QStringList t = textsOf(n);
            // The MAC and address of textsOf(n), as listening finds them.
            DiscoveredNode node;
            node.mac = {0x00, 0x1b, quint8(n >> 24), quint8(n >> 16), quint8(n >> 8), quint8(n)};
            node.ip = (10u << 24) | (quint32(n) & 0xFFFFFF);
            node.name = t[3];
            node.workgroup = t[4];
            node.time = 1796000000 + n % 86400;
            rows << node;
        }
        QStringList log;
        const auto t0 = Clock::now();
        if (!saveDiscoveredNodes(db, rows, rowsToSave({}, rows.size()), log)) {
            std::fprintf(stderr, "save: %s\n", qPrintable(db.lastError()));
            return false;
        }
        saves.push_back(msSince(t0));
    }
    f.save = median(saves);
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QString server;
    QList<int> sizes = {100000, 1000000};
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--db"))
            server = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--nodes")) {
            sizes.clear();
            for (const QString& n : QString::fromLatin1(argv[i + 1]).split(QLatin1Char(',')))
                sizes << n.toInt();
        }
    }
    if (server.isEmpty() || runs < 1 || sizes.contains(0)) {
        std::fprintf(stderr, "usage: qarsilo-bench-shared-book --db postgresql://... "
                             "[--nodes 100000,1000000] [--runs 5]\n");
        return 2;
    }
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    const QString file = dir.filePath(QStringLiteral("address.mdb"));

    std::printf("runs %d; medians in ms; ratio = PostgreSQL / SQLite\n", runs);
    for (int nodes : sizes) {
        Figures lite, pg, liteWhole, pgWhole;
        for (const auto& [location, f, whole] :
             {std::tuple<QString, Figures*, Figures*>{file, &lite, &liteWhole},
              std::tuple<QString, Figures*, Figures*>{server, &pg, &pgWhole}}) {
            const auto t0 = Clock::now();
            if (!fill(location, nodes))
                return 1;
            std::printf("  (filled %s with %d nodes in %.1f s)\n",
                        AddressDatabase::isServerLocation(location) ? "PostgreSQL" : "SQLite",
                        nodes, msSince(t0) / 1000);
            std::fflush(stdout);
            // The same book read whole, as every book was before the paged
            // listing (the save is the same code either way: measured once).
            CAddressBookDlg::setPagedFrom(INT_MAX);
            if (!measure(location, nodes, runs, *whole, false))
                return 1;
            CAddressBookDlg::setPagedFrom(CAddressBookDlg::kPagedFrom);
            if (!measure(location, nodes, runs, *f, true))
                return 1;
        }
        std::printf("%d nodes               %10s %10s %7s\n", nodes, "SQLite", "PostgreSQL",
                    "ratio");
        const auto row = [](const char* what, double a, double b, const char* target) {
            std::printf("  %-26s %10.1f %10.1f %7.2f  %s\n", what, a, b, a > 0 ? b / a : 0.0,
                        target);
        };
        row("open the window", lite.open, pg.open, "(shared book target < 1000)");
        row("name search keystroke", lite.keystroke, pg.keystroke, "(target < 50)");
        row("  slowest keystroke", lite.keystrokeWorst, pg.keystrokeWorst, "");
        row("address field change", lite.address, pg.address, "");
        row("column sort click", lite.sort, pg.sort, "");
        row("save 10,000 discovered", lite.save, pg.save, "");
        std::printf("%d nodes, read whole / paged  %8s %8s %6s %8s %8s %6s\n", nodes, "whole",
                    "paged", "ratio", "whole", "paged", "ratio");
        const auto pair = [](const char* what, double w, double p, double pw, double pp) {
            std::printf("  %-26s SQLite %8.1f %8.1f %6.1f  PG %8.1f %8.1f %6.1f\n", what, w, p,
                        p > 0 ? w / p : 0.0, pw, pp, pp > 0 ? pw / pp : 0.0);
        };
        pair("open the window", liteWhole.open, lite.open, pgWhole.open, pg.open);
        pair("name search keystroke", liteWhole.keystroke, lite.keystroke, pgWhole.keystroke,
             pg.keystroke);
        pair("  slowest keystroke", liteWhole.keystrokeWorst, lite.keystrokeWorst,
             pgWhole.keystrokeWorst, pg.keystrokeWorst);
        pair("address field change", liteWhole.address, lite.address, pgWhole.address, pg.address);
        pair("column sort click", liteWhole.sort, lite.sort, pgWhole.sort, pg.sort);
        std::fflush(stdout);
    }
    return 0;
}
