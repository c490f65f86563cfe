#include "core/discovery/discovery_database.h"
#include "core/lists/tab_separated.h"

#include "core/discovery/discovery_tables.h"

#include <QSet>

namespace qarsilo {

namespace {

const QString kNew = QStringLiteral("New");
const QString kCurrent = QStringLiteral("Current");
const QString kUpdate = QStringLiteral("Update");

const QString kDetectedNode = QStringLiteral("Detected Node");

// Names come from the network and the book: a line break in one must not
// start a log line of its own.
QString changeLine(const QString& stored, const QString& seen) {
    return tabSeparatedField(QStringLiteral("      %1-> %2").arg(stored, seen));
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
        marks << (stored.contains(row.value(0)) ? kCurrent : kNew);
    return marks;
}

// What a sighting changes in a stored node: address, date, subnet and
// description always; name, workgroup and domain name when known; the type
// when marked.
NodeChanges discoveredChanges(const DiscoveredNode& row) {
    NodeChanges c;
    c.ip = nodeIpText(row);
    c.name = row.name;
    c.date = discoveryDateText(row.time);
    c.description = kDetectedNode;
    c.workgroup = row.workgroup;
    c.subnet = nodeSubnetText(row);
    c.domainName = row.domainName;
    if (row.mark != NodeMark::None)
        c.type = nodeMarkText(row.mark);
    return c;
}

// A node not stored yet: what a sighting changes, "-" for the rest.
NodeRecord newNode(const QString& mac, const NodeChanges& c) {
    NodeRecord n;
    n.mac = mac;
    n.ip = c.ip.value_or(kUnknown);
    n.ipv6 = kUnknown;
    n.name = c.name.value_or(kUnknown);
    n.date = c.date.value_or(kUnknown);
    n.description = c.description.value_or(kUnknown);
    n.workgroup = c.workgroup.value_or(kUnknown);
    n.location = kUnknown;
    n.subnet = c.subnet.value_or(kUnknown);
    n.domainName = c.domainName.value_or(kUnknown);
    n.type = c.type.value_or(kUnknown);
    return n;
}

} // namespace

DiscoveryMarks compareWithDatabase(AddressDatabase& db, DiscoveryMode mode,
                                   const QList<DiscoveredNode>& nodes,
                                   const QList<QStringList>& workgroups,
                                   const QList<QStringList>& subnets) {
    DiscoveryMarks m;
    m.log << discoveryLogLine(QStringLiteral("Compare with database"));
    bool failed = false;
    for (const DiscoveredNode& row : nodes) {
        if (failed) {
            m.nodes << QString();
            continue;
        }
        NodeRecord stored;
        const QString mac = discoveryMacText(row.mac);
        switch (db.findNode(mac, stored)) {
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
        const QString ip = nodeIpText(row);
        if (mode == DiscoveryMode::NetBios) {
            const QString name = knownOr(row.name);
            const QString workgroup = knownOr(row.workgroup);
            if (name == stored.name && workgroup == stored.workgroup && ip == stored.ip) {
                m.nodes << kCurrent;
                continue;
            }
            m.log << tabSeparatedField(QStringLiteral("Update: ") + stored.mac)
                  << changeLine(stored.name, name) << changeLine(stored.workgroup, workgroup)
                  << changeLine(stored.ip, ip);
        } else {
            if (ip == stored.ip) {
                m.nodes << kCurrent;
                continue;
            }
            m.log << QStringLiteral("Update: ") + mac << changeLine(stored.ip, ip);
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

bool saveDiscoveredNodes(AddressDatabase& db, const QList<DiscoveredNode>& nodes,
                         const QList<int>& rows, QStringList& log) {
    QStringList lines;
    const bool ok = db.inTransaction([&] {
        for (int i : rows) {
            if (i < 0 || i >= nodes.size())
                continue;
            const DiscoveredNode& row = nodes[i];
            const QString mac = discoveryMacText(row.mac);
            NodeRecord stored;
            const AddressDatabase::Outcome found = db.findNode(mac, stored);
            if (found == AddressDatabase::Outcome::Failed)
                return false;
            const NodeChanges changes = discoveredChanges(row);
            if (found == AddressDatabase::Outcome::NotFound) {
                if (!db.insertNode(newNode(mac, changes)))
                    return false;
                lines << discoveryLogLine(QStringLiteral(" added new node %1  ").arg(mac));
                continue;
            }
            if (db.changeNode(mac, changes) != AddressDatabase::Outcome::Done)
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
            if (i >= 0 && i < list.size() && !db.addGroupIfAbsent(table, list[i].value(0)))
                return false;
        return true;
    });
}

bool readLocalRanges(AddressDatabase& db, QStringList& ranges) {
    return db.listGroups(GroupTable::Subnet, ranges);
}

} // namespace qarsilo
