#pragma once

#include "core/addressbook/node_filter.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <optional>
#include <utility>

namespace qarsilo {

/// A node filter as an SQL condition on the node table, for listings the
/// database filters (AddressDatabase::countNodes, readNodePage).
struct NodeFilterSql {
    QString where; ///< empty: every node
    QVariantList binds;
};

/// The condition that selects exactly the nodes `filter` matches, on
/// PostgreSQL (`server`) or SQLite; none when SQL cannot give the same
/// answer (a value with letters beyond ASCII, whose case the engines fold
/// differently). `scan` (SQLite) keeps the engine off the column's index:
/// when most rows match, reading in table order finds a page soonest.
std::optional<NodeFilterSql> nodeFilterSql(const NodeFilter& filter, bool server,
                                           bool scan = false);

/// The conditions that together select, each row once, the nodes a name or
/// address prefix filter does not match, on PostgreSQL (`server`) or SQLite:
/// below the prefix, from the next prefix on, and no value at all. Counting
/// those is quicker when most nodes match (the index holds few entries
/// outside the prefix). None for other filters.
std::optional<QList<NodeFilterSql>> nodePrefixComplement(const NodeFilter& filter, bool server);

/// The condition that selects exactly the nodes a name or address prefix
/// filter matches, as a range of the column's index (no pattern tried on
/// each row: counting them costs less); none where nodePrefixComplement has
/// none.
std::optional<NodeFilterSql> nodePrefixRange(const NodeFilter& filter, bool server);

} // namespace qarsilo
