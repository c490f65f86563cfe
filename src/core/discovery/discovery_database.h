#pragma once

#include "core/addressbook/address_database.h"
#include "core/discovery/discovered_node.h"
#include "core/discovery/discovery_frame.h"

#include <QList>
#include <QStringList>

namespace qarsilo {

/// The "Info" marks a comparison gives, one per row of each list; a row the
/// comparison could not reach (the database failed) keeps an empty mark,
/// meaning "leave the cell as it is".
struct DiscoveryMarks {
    QStringList nodes;
    QStringList workgroups;
    QStringList subnets;
    QStringList log; ///< lines in order, time prefixes included
};

/// Compares the three lists with the address book open in `db`: each node row
/// by its MAC (exactly), "New", "Current" or "Update" with the differences
/// logged; each workgroup and subnet name "New" or "Current".
DiscoveryMarks compareWithDatabase(AddressDatabase& db, DiscoveryMode mode,
                                   const QList<DiscoveredNode>& nodes,
                                   const QList<QStringList>& workgroups,
                                   const QList<QStringList>& subnets);

/// The rows a save works on: `selected` (ascending), or every row when empty.
QList<int> rowsToSave(const QList<int>& selected, qsizetype rowCount);

/// Saves node rows (see rowsToSave) into `db` as one transaction: a MAC not
/// stored yet becomes a new node (an unknown field stored as "-"), a stored one
/// is updated, keeping the stored value of every unknown field and of the type
/// unless the row is marked. Of several rows with one MAC the last
/// decides. Appends " added new node ..." and " ...  updated" lines to `log`
/// only when everything was stored; on a failure nothing is stored and false
/// is returned (db.lastError() tells why).
bool saveDiscoveredNodes(AddressDatabase& db, const QList<DiscoveredNode>& nodes,
                         const QList<int>& rows, QStringList& log);

/// Adds the names of the given rows (cell 0) to a group table unless present,
/// as one transaction.
bool saveDiscoveredGroups(AddressDatabase& db, GroupTable table, const QList<QStringList>& list,
                          const QList<int>& rows);

/// The local IP ranges: every "SUBNET" of `subnettree`, in table order.
bool readLocalRanges(AddressDatabase& db, QStringList& ranges);

} // namespace qarsilo
