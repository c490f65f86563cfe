#include "core/discovery/discovery_database.h"

#include "core/discovery/discovery_tables.h"

#include <QSet>

namespace qarsilo {

namespace {

const QString kNew = QStringLiteral("New");
const QString kCurrent = QStringLiteral("Current");
const QString kUpdate = QStringLiteral("Update");

QString changeLine(const QString& stored, const QString& seen) {
    return QStringLiteral("      %1-> %2").arg(stored, seen);
}

// Marks names found in a group table; with the table unreadable, no mark.
QStringList markGroups(AddressDatabase& db, GroupTable table, const QList<QStringList>& list) {
    QStringList marks;
    QStringList names;
    if (!db.listGroups(table, names)) {
        for (qsizetype i = 0; i < list.size(); ++i)
            marks << QString();
        return marks;
    }
    const QSet<QString> stored(names.cbegin(), names.cend());
    for (const QStringList& row : list)
        marks << (stored.contains(cellOf(row, 0)) ? kCurrent : kNew);
    return marks;
}

} // namespace

DiscoveryMarks compareWithDatabase(AddressDatabase& db, DiscoveryMode mode,
                                   const QList<QStringList>& nodes,
                                   const QList<QStringList>& workgroups,
                                   const QList<QStringList>& subnets) {
    DiscoveryMarks m;
    m.log << discoveryLogLine(QStringLiteral("Compare with database"));
    bool failed = false;
    for (const QStringList& row : nodes) {
        if (failed) {
            m.nodes << QString();
            continue;
        }
        NodeRecord stored;
        switch (db.findNode(cellOf(row, CellMac), stored)) {
        case AddressDatabase::Outcome::Failed:
            failed = true;
            m.nodes << QString();
            continue;
        case AddressDatabase::Outcome::NotFound:
            m.nodes << kNew;
            continue;
        case AddressDatabase::Outcome::Done:
            break;
        }
        const QString ip = cellOf(row, CellIp);
        if (mode == DiscoveryMode::NetBios) {
            const QString name = cellOf(row, CellName);
            const QString workgroup = cellOf(row, CellWorkgroup);
            if (name == stored.name && workgroup == stored.workgroup && ip == stored.ip) {
                m.nodes << kCurrent;
                continue;
            }
            m.log << QStringLiteral("Update: ") + stored.mac << changeLine(stored.name, name)
                  << changeLine(stored.workgroup, workgroup) << changeLine(stored.ip, ip);
        } else {
            if (ip == stored.ip) {
                m.nodes << kCurrent;
                continue;
            }
            m.log << QStringLiteral("Update: ") + cellOf(row, CellMac) << changeLine(stored.ip, ip);
        }
        m.nodes << kUpdate;
    }
    m.workgroups = markGroups(db, GroupTable::Workgroup, workgroups);
    m.subnets = markGroups(db, GroupTable::Subnet, subnets);
    return m;
}

QList<int> rowsToSave(const QList<int>& selected, qsizetype rowCount) {
    if (!selected.isEmpty())
        return selected;
    QList<int> all;
    all.reserve(rowCount);
    for (int i = 0; i < rowCount; ++i)
        all << i;
    return all;
}

bool saveDiscoveredNodes(AddressDatabase& db, const QList<QStringList>& nodes,
                         const QList<int>& rows, QStringList& log) {
    QStringList lines;
    const bool ok = db.inTransaction([&] {
        for (int i : rows) {
            if (i < 0 || i >= nodes.size())
                continue;
            const QStringList& row = nodes[i];
            const QString mac = cellOf(row, CellMac);
            NodeRecord stored;
            const AddressDatabase::Outcome found = db.findNode(mac, stored);
            if (found == AddressDatabase::Outcome::Failed)
                return false;
            if (found == AddressDatabase::Outcome::NotFound) {
                NodeRecord n;
                n.mac = mac;
                n.ip = cellOf(row, CellIp);
                n.ipv6 = kUnknown;
                n.name = cellOf(row, CellName);
                n.date = cellOf(row, CellDate);
                n.description = QStringLiteral("Detected Node");
                n.workgroup = cellOf(row, CellWorkgroup);
                n.location = kUnknown;
                n.subnet = cellOf(row, CellSubnet);
                n.domainName = cellOf(row, CellDomainName);
                n.type = cellOf(row, CellType);
                if (!db.insertNode(n))
                    return false;
                lines << discoveryLogLine(QStringLiteral(" added new node %1  ").arg(mac));
                continue;
            }
            QList<AddressDatabase::ColumnValue> values;
            const auto set = [&](const char* column, int cell, bool keepUnknown) {
                const QString v = cellOf(row, cell);
                if (!keepUnknown || v != kUnknown)
                    values.append({QLatin1String(column), v});
            };
            set("IP", CellIp, false);
            set("NAME", CellName, true);
            set("DATE", CellDate, false);
            values.append({QStringLiteral("DESCRIPTION"), QStringLiteral("Detected Node")});
            set("WORKGROUP", CellWorkgroup, true);
            set("SUBNET", CellSubnet, false);
            set("DOMAINNAME", CellDomainName, true);
            set("TYPE", CellType, true);
            if (db.setNodeColumns(mac, values) != AddressDatabase::Outcome::Done)
                return false;
            lines << discoveryLogLine(QStringLiteral(" %1  updated").arg(mac));
        }
        return true;
    });
    if (ok)
        log << lines;
    return ok;
}

bool saveDiscoveredGroups(AddressDatabase& db, GroupTable table, const QList<QStringList>& list,
                          const QList<int>& rows) {
    return db.inTransaction([&] {
        for (int i : rows)
            if (i >= 0 && i < list.size() && !db.addGroupIfAbsent(table, cellOf(list[i], 0)))
                return false;
        return true;
    });
}

bool readLocalRanges(AddressDatabase& db, QStringList& ranges) {
    return db.listGroups(GroupTable::Subnet, ranges);
}

} // namespace qarsilo
