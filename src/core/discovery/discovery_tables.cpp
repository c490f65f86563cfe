#include "core/discovery/discovery_tables.h"

#include <QHash>
#include <utility>

namespace qarsilo {

const QString kDiscoveryNodeColumns =
    QStringLiteral("Info,50;Node MAC Address,130;IP Address,100;Netbios Name,100;Workgroup,100;"
                   "Domain Name,100;Date,125;Subnet,100;Type,75");
const QString kDiscoveryWorkgroupColumns = QStringLiteral("Workgroup,100;Info,100");
const QString kDiscoverySubnetColumns = QStringLiteral("Subnet,100;Info,100");

QStringList netbiosNodeRow(const NetbiosRecord& r) {
    const NetbiosSighting& s = r.sighting;
    return {kUnknown, discoveryMacText(s.mac),   discoveryIpText(s.ip),     s.name,  s.workgroup,
            kUnknown, discoveryDateText(r.time), discoverySubnetText(s.ip), kUnknown};
}

QStringList ipNodeRow(const IpEnd& e) {
    return {kUnknown, discoveryMacText(e.mac),   discoveryIpText(e.ip),     kUnknown, kUnknown,
            kUnknown, discoveryDateText(e.time), discoverySubnetText(e.ip), kUnknown};
}

QList<QStringList> groupRows(const QStringList& names) {
    QList<QStringList> rows;
    rows.reserve(names.size());
    for (const QString& n : names)
        rows.append({n, kUnknown});
    return rows;
}

QList<QStringList> selectLocalRows(const IpEnds& ends, const QStringList& filter) {
    QList<QStringList> rows;
    if (filter.isEmpty())
        return rows;
    // Entries by /24 network, each with how often it is listed; an entry that
    // is not exactly "%d.%d.%d.0" matches no address.
    QHash<QString, int> listed;
    for (const QString& f : filter)
        ++listed[f];
    QHash<std::uint32_t, int> copies;
    for (const IpEnd& e : ends) {
        const std::uint32_t net = e.ip & 0xFFFFFF00u;
        auto it = copies.find(net);
        if (it == copies.end())
            it = copies.insert(net, listed.value(discoverySubnetText(e.ip)));
        for (int i = 0; i < *it; ++i)
            rows.append(ipNodeRow(e));
    }
    return rows;
}

namespace {

// Rows hold all nine cells here: compared in place, without copying texts.
bool sameNode(const QStringList& a, const QStringList& b, DiscoveryMode mode) {
    if (a[CellIp] != b[CellIp])
        return false;
    return mode == DiscoveryMode::Ip ||
           (a[CellName] == b[CellName] && a[CellWorkgroup] == b[CellWorkgroup]);
}

} // namespace

QList<DiscoveryConflict> clearDuplicates(QList<QStringList>& rows, DiscoveryMode mode,
                                         const ConflictDecision& decide) {
    // Kept rows move up in place; a row's texts are never copied.
    std::vector<int> next; // per kept row: the kept row of its MAC that contradicts it
    next.reserve(static_cast<std::size_t>(rows.size()));
    QHash<QString, int> lastKept; // MAC text -> kept row
    int kept = 0;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        QStringList& row = rows[r];
        while (row.size() < NodeCellCount)
            row.append(QString());
        const QString& mac = std::as_const(row)[CellMac];
        const auto it = lastKept.find(mac);
        if (it != lastKept.end() && sameNode(std::as_const(rows)[*it], row, mode))
            continue;
        const int index = kept++;
        if (it != lastKept.end()) {
            next[static_cast<std::size_t>(*it)] = index;
            *it = index;
        } else {
            lastKept.insert(mac, index);
        }
        next.push_back(-1);
        if (index != r)
            rows[index].swap(row);
    }
    rows.resize(kept);

    QList<DiscoveryConflict> conflicts;
    const QString& mark = mode == DiscoveryMode::Ip ? kRouterMark : kVirusMark;
    for (int i = 0; i < rows.size(); ++i) {
        const int j = next[static_cast<std::size_t>(i)];
        if (j < 0)
            continue;
        DiscoveryConflict c{i, j, decide ? decide(rows[i], rows[j]) : true,
                            describeConflict(rows[i], rows[j], mode)};
        if (c.marked)
            rows[j][CellType] = mark;
        conflicts.append(std::move(c));
    }
    return conflicts;
}

namespace {

bool isLinkLocal(const QString& ip) {
    return ip.startsWith(QLatin1String("169.254."));
}

} // namespace

QString describeConflict(const QStringList& a, const QStringList& b, DiscoveryMode mode) {
    QStringList parts;
    const QString ipA = cellOf(a, CellIp);
    const QString ipB = cellOf(b, CellIp);
    if (ipA != ipB)
        parts << QStringLiteral("address %1 earlier, %2 now").arg(ipA, ipB);
    if (mode == DiscoveryMode::NetBios) {
        if (cellOf(a, CellName) != cellOf(b, CellName))
            parts << QStringLiteral("name %1 earlier, %2 now")
                         .arg(cellOf(a, CellName), cellOf(b, CellName));
        if (cellOf(a, CellWorkgroup) != cellOf(b, CellWorkgroup))
            parts << QStringLiteral("workgroup %1 earlier, %2 now")
                         .arg(cellOf(a, CellWorkgroup), cellOf(b, CellWorkgroup));
    }
    QString text = cellOf(b, CellMac) + QStringLiteral(": ") + parts.join(QStringLiteral("; "));
    if (ipA != ipB && isLinkLocal(ipA) != isLinkLocal(ipB))
        text += QStringLiteral(" (likely cause: the station assigned itself an address in "
                               "169.254.0.0/16 after its DHCP request went unanswered)");
    else if (ipA != ipB && mode == DiscoveryMode::Ip)
        text += QStringLiteral(" (likely cause: a router forwarding for other stations, or a "
                               "station with several addresses)");
    return text;
}

QString virusWarningText(const QStringList& i, const QStringList& j) {
    return QStringLiteral("Suspicious activity in %1\n\nInfo:\n%2->%3\n%4 -> %5\n%6 -> %7\n%8 -> "
                          "%9\n")
        .arg(cellOf(j, CellName), cellOf(i, CellMac), cellOf(i, CellMac), cellOf(i, CellIp),
             cellOf(j, CellIp), cellOf(i, CellName), cellOf(j, CellName), cellOf(i, CellWorkgroup),
             cellOf(j, CellWorkgroup));
}

QString routerQuestionText(const QStringList& i, const QStringList& j) {
    return QStringLiteral("Multiip/Router:\n%1\nMark it?\n\nInfo:\n%2->%3\n")
        .arg(cellOf(i, CellMac), cellOf(i, CellIp), cellOf(j, CellIp));
}

} // namespace qarsilo
