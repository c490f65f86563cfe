#pragma once

#include "addressbook/address_database.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

namespace qarsilo::test {

/// A node with the given MAC, IP, name, workgroup, location and subnet; the
/// other columns carry texts derived from the MAC so mix-ups show.
inline NodeRecord node(const char* mac, const char* ip, const char* name,
                       const char* workgroup = "WG", const char* location = "Lab",
                       const char* subnet = nullptr) {
    NodeRecord n;
    n.mac = QString::fromLatin1(mac);
    n.ip = QString::fromLatin1(ip);
    n.ipv6 = QStringLiteral("0000:0000:0000:0000:0000:0000:0000:0001");
    n.name = QString::fromLatin1(name);
    n.workgroup = QString::fromLatin1(workgroup);
    n.domainName = QStringLiteral("dom-") + n.mac;
    n.date = QStringLiteral("01 Jan 2020, 10:00:00");
    n.description = QStringLiteral("desc ") + n.mac;
    n.location = QString::fromLatin1(location);
    n.subnet = subnet ? QString::fromLatin1(subnet)
                      : n.ip.section(QLatin1Char('.'), 0, 2) + QStringLiteral(".0");
    n.type = QStringLiteral("-");
    return n;
}

/// Stores the nodes (and so their group names) in the file.
inline void store(const QString& file, const QList<NodeRecord>& nodes,
                  const QStringList& extraWorkgroups = {}) {
    AddressDatabase db(file);
    QVERIFY2(db.open(), qPrintable(db.lastError()));
    for (const NodeRecord& n : nodes)
        QVERIFY2(db.addNode(n), qPrintable(db.lastError()));
    for (const QString& w : extraWorkgroups)
        QVERIFY(db.addGroupIfAbsent(GroupTable::Workgroup, w));
}

/// Everything in the file, read back through a connection of its own.
inline QList<NodeRecord> nodesIn(const QString& file) {
    AddressDatabase db(file);
    QList<NodeRecord> out;
    if (db.open())
        db.listNodes(out);
    return out;
}

inline QStringList groupsIn(const QString& file, GroupTable table) {
    AddressDatabase db(file);
    QStringList out;
    if (db.open())
        db.listGroups(table, out);
    return out;
}

inline QStringList macsIn(const QString& file) {
    QStringList out;
    for (const NodeRecord& n : nodesIn(file))
        out << n.mac;
    return out;
}

/// Runs SQL on the file outside the program's own access (files made by
/// other tools, damage).
inline bool rawSql(const QString& file, const QStringList& statements) {
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("raw-test-connection"));
        db.setDatabaseName(file);
        ok = db.open();
        QSqlQuery q(db);
        for (const QString& s : statements)
            ok = ok && q.exec(s);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw-test-connection"));
    return ok;
}

} // namespace qarsilo::test
