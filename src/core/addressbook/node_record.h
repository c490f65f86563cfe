#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace qarsilo {

/// One row of the address book's node table; every column is text.
struct NodeRecord {
    QString mac;         ///< "MAC": six hex pairs joined by ":"; unique in the table
    QString ip;          ///< "IP": dotted decimal
    QString ipv6;        ///< "IPv6"
    QString name;        ///< "NAME": NetBIOS name
    QString workgroup;   ///< "WORKGROUP"
    QString domainName;  ///< "DOMAINNAME"
    QString date;        ///< "DATE": "%d %b %Y, %H:%M:%S", local time
    QString description; ///< "DESCRIPTION": may hold line breaks
    QString location;    ///< "LOCATION"
    QString subnet;      ///< "SUBNET": "%d.%d.%d.0" of IP when added
    QString type;        ///< "TYPE": "-", "Router/MultiIP" or "Virus??"

    /// The eleven texts in table order (MAC, IP, IPv6, NAME, WORKGROUP,
    /// DOMAINNAME, DATE, DESCRIPTION, LOCATION, SUBNET, TYPE), as the address
    /// book's list shows them.
    QStringList texts() const {
        return {mac,  ip,          ipv6,     name,   workgroup, domainName,
                date, description, location, subnet, type};
    }
    /// The reverse of texts(); missing texts are empty.
    static NodeRecord fromTexts(const QStringList& t) {
        const auto at = [&](int i) { return i < t.size() ? t[i] : QString(); };
        return {at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8), at(9), at(10)};
    }

    friend bool operator==(const NodeRecord&, const NodeRecord&) = default;
};

/// Changes to a stored node: a field that holds a text replaces the stored
/// one, a field without keeps it. MAC, IPv6 and LOCATION are not changed.
struct NodeChanges {
    std::optional<QString> ip;
    std::optional<QString> name;
    std::optional<QString> workgroup;
    std::optional<QString> domainName;
    std::optional<QString> date;
    std::optional<QString> description;
    std::optional<QString> subnet;
    std::optional<QString> type;
};

/// The MAC text stored for a node whose MAC field was left empty.
inline const QString kEmptyMac = QStringLiteral("00:00:00:00:00:00");
/// The IPv6 text the node dialogs start with.
inline const QString kEmptyIpv6 = QStringLiteral("0000:0000:0000:0000:0000:0000:0000:0000");

} // namespace qarsilo
