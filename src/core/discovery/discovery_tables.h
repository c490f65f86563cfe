#pragma once

#include "core/discovery/discovered_node.h"
#include "core/discovery/discovery_frame.h"
#include "core/discovery/discovery_store.h"

#include <QList>
#include <QStringList>
#include <functional>

namespace qarsilo {

/// Column declarations of the three working lists.
extern const QString kDiscoveryNodeColumns;
extern const QString kDiscoveryWorkgroupColumns;
extern const QString kDiscoverySubnetColumns;

/// Columns of the node list (discoveredNodeTexts order).
enum NodeCell : int {
    CellInfo = 0,
    CellMac,
    CellIp,
    CellName,
    CellWorkgroup,
    CellDomainName,
    CellDate,
    CellSubnet,
    CellType,
    NodeCellCount
};

/// The node of a NetBIOS datagram: address, name and workgroup known.
DiscoveredNode netbiosNode(const NetbiosRecord& record);
/// The node of one end of an IPv4 frame: its address known.
DiscoveredNode ipNode(const IpEnd& end);
/// (name, "-") for a workgroup or subnet list.
QList<QStringList> groupRows(const QStringList& names);

/// Whether `text` can be a local range: an IPv4 address in dotted decimal,
/// four numbers 0 to 255 (the ranges that select anything are "%d.%d.%d.0").
bool isRangeText(const QString& text);

/// The local-range selection: for each end, one row per filter entry equal to
/// its subnet text (source before destination, as the ends are buffered).
/// Ends of a broadcast or multicast MAC give no row.
QList<DiscoveredNode> selectLocalNodes(const IpEnds& ends, const QStringList& filter);

/// A contradiction the duplicate pass found: two rows of one MAC, `earlier`
/// above `later` (indices after the pass).
struct DiscoveryConflict {
    int earlier = -1;
    int later = -1;
    bool marked = false;
    QString why; ///< what disagrees and, when recognisable, the likely cause
};

/// Asked for each contradiction, in the order the rows that come first stand
/// in the list; returns whether the later row is marked.
using ConflictDecision =
    std::function<bool(const DiscoveredNode& earlier, const DiscoveredNode& later)>;

/// The duplicate and conflict pass over `rows`, in one walk: of rows with the
/// same MAC, a row that repeats the row of that MAC kept last (same address,
/// and in NetBIOS listening the same name and workgroup; unknown differs from
/// every text) is deleted; one that differs is kept, and marked Suspicious
/// (NetBIOS) or Router (IP) when `decide` agrees. The result is that of comparing every row with
/// every later one, in time linear in the number of rows.
QList<DiscoveryConflict> clearDuplicates(QList<DiscoveredNode>& rows, DiscoveryMode mode,
                                         const ConflictDecision& decide);

/// Why two rows of one MAC disagree, for the log and the row's tooltip.
QString describeConflict(const DiscoveredNode& earlier, const DiscoveredNode& later,
                         DiscoveryMode mode);

/// "Suspicious activity in %s..." of a NetBIOS contradiction.
QString virusWarningText(const DiscoveredNode& earlier, const DiscoveredNode& later);
/// "Multiip/Router:..." of an IP contradiction.
QString routerQuestionText(const DiscoveredNode& earlier, const DiscoveredNode& later);

} // namespace qarsilo
