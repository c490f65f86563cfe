#pragma once

#include <QString>

namespace qarsilo {

/// The address book list's columns, in NodeRecord::texts() order, as a
/// report list declaration ("title,width;...").
inline QString nodeListColumns() {
    return QStringLiteral(
        "MAC Address,100;IPv4 Address,100;IPv6 Address,100;Netbios Name,100;Workgroup,75;"
        "Domain Name,75;Date,125;Description,150;Location,75;Ip Range,75;Type,75");
}

} // namespace qarsilo
