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

} // namespace qarsilo
