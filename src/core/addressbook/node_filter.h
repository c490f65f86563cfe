#pragma once

#include "core/addressbook/node_record.h"

#include <QDateTime>
#include <QString>

namespace qarsilo {

/// Texts of the address book tree's four top-level items.
namespace tree {
inline const QString all = QStringLiteral("All");
inline const QString byWorkgroup = QStringLiteral("By Workgroup");
inline const QString byLocation = QStringLiteral("By Location");
inline const QString byIpRange = QStringLiteral("By Ip Range");
} // namespace tree

/// What the address book lists for a tree item.
struct NodeFilter {
    enum class Kind {
        All,       ///< every node
        Unchanged, ///< a branch itself or an empty text: the list stays as it is
        Workgroup, ///< nodes whose "WORKGROUP" equals value, letter case aside
        Location,  ///< ... "LOCATION" ...
        IpRange,   ///< ... "SUBNET" ...
        Name,      ///< nodes whose "NAME" begins with value, letter case aside
        Address,   ///< nodes whose "IP" text begins with value
    };
    Kind kind = Kind::All;
    QString value;

    /// The filter for a selected tree item: "All" lists every node (also a
    /// group that is named "All"), a branch changes nothing, a group lists the
    /// nodes of that group.
    static NodeFilter forTreeItem(const QString& text, const QString& parentText);
    /// The name search: empty lists every node.
    static NodeFilter forName(const QString& typed);
    /// The address search over the four fields of the address control.
    static NodeFilter forAddress(int a, int b, int c, int d);

    bool matches(const NodeRecord& node) const;
    /// The same test on a node's eleven texts (NodeRecord::texts() order).
    bool matches(const QStringList& texts) const;
    /// The node column (NodeRecord::texts() index) the filter reads; -1 for
    /// one that lists every node.
    int column() const;
    /// Whether a node whose column() holds `text` is listed.
    bool matchesText(const QString& text) const;
};

/// The prefix the address search matches: the fields up to the last one that
/// is not 0 ("10.1" for 10.1.0.0; empty for 0.0.0.0).
QString addressSearchPrefix(int a, int b, int c, int d);

/// Local time as the address book stores it: "07 Dec 2026, 14:05:09"
/// (English month abbreviations whatever the locale).
QString nodeDateText(const QDateTime& local);

/// "%d.%d.%d.%d" and the /24 range "%d.%d.%d.0" of an address.
QString ipv4Text(int a, int b, int c, int d);
QString subnetText(int a, int b, int c);

} // namespace qarsilo
