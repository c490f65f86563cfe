#include "core/discovery/discovered_node.h"

namespace qarsilo {

QString nodeIpText(const DiscoveredNode& node) {
    return node.ip ? discoveryIpText(*node.ip) : kUnknown;
}

QString nodeSubnetText(const DiscoveredNode& node) {
    return node.ip ? discoverySubnetText(*node.ip) : kUnknown;
}

QString nodeMarkText(NodeMark mark) {
    switch (mark) {
    case NodeMark::Suspicious:
        return kVirusMark;
    case NodeMark::Router:
        return kRouterMark;
    case NodeMark::None:
        break;
    }
    return kUnknown;
}

QStringList discoveredNodeTexts(const DiscoveredNode& n) {
    DiscoveryDateTexts dates;
    return discoveredNodeTexts(n, dates);
}

QStringList discoveredNodeTexts(const DiscoveredNode& n, DiscoveryDateTexts& dates) {
    return {kUnknown,           discoveryMacText(n.mac), nodeIpText(n),
            knownOr(n.name),    knownOr(n.workgroup),    knownOr(n.domainName),
            dates.text(n.time), nodeSubnetText(n),       nodeMarkText(n.mark)};
}

QStringList DiscoveredNodeTexts::texts(const DiscoveredNode& n) {
    auto mac = m_macs.find(macKey(n.mac));
    if (mac == m_macs.end())
        mac = m_macs.insert(macKey(n.mac), discoveryMacText(n.mac));
    QString ip = kUnknown;
    QString subnet = kUnknown;
    if (n.ip) {
        auto a = m_addresses.find(*n.ip);
        if (a == m_addresses.end())
            a = m_addresses.insert(*n.ip, {discoveryIpText(*n.ip), discoverySubnetText(*n.ip)});
        ip = a->ip;
        subnet = a->subnet;
    }
    return {kUnknown,
            *mac,
            ip,
            knownOr(n.name),
            knownOr(n.workgroup),
            knownOr(n.domainName),
            m_dates.text(n.time),
            subnet,
            nodeMarkText(n.mark)};
}

} // namespace qarsilo
