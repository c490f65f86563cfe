#include "core/discovery/discovery_tables.h"
#include "core/lists/tab_separated.h"

#include <QHash>
#include <utility>

namespace qarsilo {

const QString kDiscoveryNodeColumns =
    QStringLiteral("Info,50;Node MAC Address,130;IP Address,100;Netbios Name,100;Workgroup,100;"
                   "Domain Name,100;Date,125;Subnet,100;Type,75");
const QString kDiscoveryWorkgroupColumns = QStringLiteral("Workgroup,100;Info,100");
const QString kDiscoverySubnetColumns = QStringLiteral("Subnet,100;Info,100");

DiscoveredNode netbiosNode(const NetbiosRecord& r) {
    const NetbiosSighting& s = r.sighting;
    DiscoveredNode n;
    n.mac = s.mac;
    n.ip = s.ip;
    n.name = s.name;
    n.workgroup = s.workgroup;
    n.time = r.time;
    return n;
}

DiscoveredNode ipNode(const IpEnd& e) {
    DiscoveredNode n;
    n.mac = e.mac;
    n.ip = e.ip;
    n.time = e.time;
    return n;
}

QList<QStringList> groupRows(const QStringList& names) {
    QList<QStringList> rows;
    rows.reserve(names.size());
    for (const QString& n : names)
        rows.append({n, kUnknown});
    return rows;
}

bool isRangeText(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& p : parts) {
        if (p.isEmpty() || p.size() > 3)
            return false;
        for (const QChar c : p)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        if (p.toInt() > 255)
            return false;
    }
    return true;
}

QList<DiscoveredNode> selectLocalNodes(const IpEnds& ends, const QStringList& filter) {
    QList<DiscoveredNode> rows;
    if (filter.isEmpty())
        return rows;
    // Entries by /24 network, each with how often it is listed; an entry that
    // is not exactly "%d.%d.%d.0" matches no address.
    QHash<QString, int> listed;
    for (const QString& f : filter)
        ++listed[f];
    QHash<std::uint32_t, int> copies;
    for (const IpEnd& e : ends) {
        // A broadcast or multicast address is no station.
        if (isGroupMac(e.mac))
            continue;
        const std::uint32_t net = e.ip & 0xFFFFFF00u;
        auto it = copies.find(net);
        if (it == copies.end())
            it = copies.insert(net, listed.value(discoverySubnetText(e.ip)));
        for (int i = 0; i < *it; ++i)
            rows.append(ipNode(e));
    }
    return rows;
}

namespace {

bool sameNode(const DiscoveredNode& a, const DiscoveredNode& b, DiscoveryMode mode) {
    if (a.ip != b.ip)
        return false;
    return mode == DiscoveryMode::Ip || (a.name == b.name && a.workgroup == b.workgroup);
}

} // namespace

QList<DiscoveryConflict> clearDuplicates(QList<DiscoveredNode>& rows, DiscoveryMode mode,
                                         const ConflictDecision& decide) {
    // Kept rows move up in place.
    std::vector<int> next; // per kept row: the kept row of its MAC that contradicts it
    next.reserve(static_cast<std::size_t>(rows.size()));
    QHash<std::uint64_t, int> lastKept; // MAC -> kept row
    int kept = 0;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        DiscoveredNode& row = rows[r];
        const std::uint64_t mac = macKey(row.mac);
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
            std::swap(rows[index], row);
    }
    rows.resize(kept);

    QList<DiscoveryConflict> conflicts;
    const NodeMark mark = mode == DiscoveryMode::Ip ? NodeMark::Router : NodeMark::Suspicious;
    for (int i = 0; i < rows.size(); ++i) {
        const int j = next[static_cast<std::size_t>(i)];
        if (j < 0)
            continue;
        DiscoveryConflict c{i, j, decide ? decide(rows[i], rows[j]) : true,
                            describeConflict(rows[i], rows[j], mode)};
        if (c.marked)
            rows[j].mark = mark;
        conflicts.append(std::move(c));
    }
    return conflicts;
}

namespace {

bool isLinkLocal(const QString& ip) {
    return ip.startsWith(QLatin1String("169.254."));
}

} // namespace

QString describeConflict(const DiscoveredNode& a, const DiscoveredNode& b, DiscoveryMode mode) {
    QStringList parts;
    const QString ipA = nodeIpText(a);
    const QString ipB = nodeIpText(b);
    if (ipA != ipB)
        parts << QStringLiteral("address %1 earlier, %2 now").arg(ipA, ipB);
    if (mode == DiscoveryMode::NetBios) {
        const QString nameA = knownOr(a.name);
        const QString nameB = knownOr(b.name);
        if (nameA != nameB)
            parts << QStringLiteral("name %1 earlier, %2 now").arg(nameA, nameB);
        const QString workgroupA = knownOr(a.workgroup);
        const QString workgroupB = knownOr(b.workgroup);
        if (workgroupA != workgroupB)
            parts << QStringLiteral("workgroup %1 earlier, %2 now").arg(workgroupA, workgroupB);
    }
    QString text =
        discoveryMacText(b.mac) + QStringLiteral(": ") + parts.join(QStringLiteral("; "));
    if (ipA != ipB && isLinkLocal(ipA) != isLinkLocal(ipB))
        text += QStringLiteral(" (likely cause: the station assigned itself an address in "
                               "169.254.0.0/16 after its DHCP request went unanswered)");
    else if (ipA != ipB && mode == DiscoveryMode::Ip)
        text += QStringLiteral(" (likely cause: a router forwarding for other stations, or a "
                               "station with several addresses)");
    // A log line: a line break in a name must not start another.
    return tabSeparatedField(text);
}

QString virusWarningText(const DiscoveredNode& i, const DiscoveredNode& j) {
    const QString mac = discoveryMacText(i.mac);
    return QStringLiteral("Suspicious activity in %1\n\nInfo:\n%2->%3\n%4 -> %5\n%6 -> %7\n%8 -> "
                          "%9\n")
        .arg(knownOr(j.name), mac, mac, nodeIpText(i), nodeIpText(j), knownOr(i.name),
             knownOr(j.name), knownOr(i.workgroup), knownOr(j.workgroup));
}

QString routerQuestionText(const DiscoveredNode& i, const DiscoveredNode& j) {
    return QStringLiteral("Multiip/Router:\n%1\nMark it?\n\nInfo:\n%2->%3\n")
        .arg(discoveryMacText(i.mac), nodeIpText(i), nodeIpText(j));
}

} // namespace qarsilo
