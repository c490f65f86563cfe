#pragma once

#include "core/discovery/discovery_frame.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace qarsilo {

/// The text of an unknown field in the node list, the CLI and a new node of
/// the address book.
inline const QString kUnknown = QStringLiteral("-");
inline const QString kVirusMark = QStringLiteral("Virus??");
inline const QString kRouterMark = QStringLiteral("Router/MultiIP");

/// The mark the duplicate pass gives the later of two rows of one MAC that
/// disagree (the "Type" column).
enum class NodeMark : std::uint8_t {
    None,       ///< "-": saving keeps the stored type
    Suspicious, ///< "Virus??" (NetBIOS listening)
    Router,     ///< "Router/MultiIP" (IP listening)
};

/// A node found by listening, as the frames told it. A field without a value
/// is unknown: it shows as "-" and a save keeps the address book's value,
/// while an empty text is a value like any other.
struct DiscoveredNode {
    MacBytes mac{};
    std::optional<std::uint32_t> ip;   ///< first byte highest; known for every sighting
    std::optional<QString> name;       ///< NetBIOS source name
    std::optional<QString> workgroup;  ///< NetBIOS destination name
    std::optional<QString> domainName; ///< from a reverse lookup
    std::int64_t time = 0;             ///< the frame's time stamp, seconds
    NodeMark mark = NodeMark::None;

    friend bool operator==(const DiscoveredNode&, const DiscoveredNode&) = default;
};

/// A field's text: its value, or "-" when unknown.
inline QString knownOr(const std::optional<QString>& field) {
    return field ? *field : kUnknown;
}
/// "%d.%d.%d.%d", or "-" when unknown.
QString nodeIpText(const DiscoveredNode& node);
/// The /24 network of the address, "%d.%d.%d.0", or "-" when unknown.
QString nodeSubnetText(const DiscoveredNode& node);
/// "-", "Virus??" or "Router/MultiIP".
QString nodeMarkText(NodeMark mark);

/// The nine texts the node list and `qarsilo-cli discover` show (Info, MAC,
/// IP, name, workgroup, domain name, date, subnet, type); Info is "-".
QStringList discoveredNodeTexts(const DiscoveredNode& node);
/// The same, the date made by `dates` (for many rows: the zone is read once).
QStringList discoveredNodeTexts(const DiscoveredNode& node, DiscoveryDateTexts& dates);

/// The texts of many rows, as discoveredNodeTexts makes them: rows of one MAC,
/// one address or one second share those texts rather than each making its
/// own. Lives as long as one batch of rows (see DiscoveryDateTexts).
class DiscoveredNodeTexts {
public:
    QStringList texts(const DiscoveredNode& node);

private:
    struct Address {
        QString ip;
        QString subnet;
    };
    DiscoveryDateTexts m_dates;
    QHash<std::uint64_t, QString> m_macs;
    QHash<std::uint32_t, Address> m_addresses;
};

} // namespace qarsilo
