#include "core/addressbook/address_database.h"

namespace qarsilo {

AddressDatabase::Outcome AddressDatabase::changeNode(const QString& mac,
                                                     const NodeChanges& changes) {
    QList<ColumnValue> values;
    const auto put = [&values](const char* column, const std::optional<QString>& text) {
        if (text)
            values.append({QLatin1String(column), *text});
    };
    // One order for every change, so that equal sets of columns share one
    // prepared statement.
    put("IP", changes.ip);
    put("NAME", changes.name);
    put("DATE", changes.date);
    put("DESCRIPTION", changes.description);
    put("WORKGROUP", changes.workgroup);
    put("SUBNET", changes.subnet);
    put("DOMAINNAME", changes.domainName);
    put("TYPE", changes.type);
    return setNodeColumns(mac, values);
}

} // namespace qarsilo
