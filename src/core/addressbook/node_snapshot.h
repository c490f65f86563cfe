#pragma once

#include "core/addressbook/address_database.h"
#include "core/addressbook/node_filter.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <optional>

namespace qarsilo {

/// The node table as last read through one connection, for the address
/// book's quick listings (a search runs on every keystroke). Before each use
/// it asks the connection whether anything was written since, by this or any
/// other connection, and reads the whole table again only then: a listing
/// always shows the table as it is now, without reading every row per
/// keystroke.
class NodeSnapshot {
public:
    /// Brings the rows up to date with the table. On a failure the rows read
    /// so far stay, false is returned (the reason in `db`) and the next
    /// refresh reads again.
    bool refresh(AddressDatabase& db);
    /// Whether the rows are the table as it is now (nothing written since).
    bool isCurrent(AddressDatabase& db) const;
    /// The next refresh reads the table whatever the stamp says.
    void invalidate() { m_stamp.reset(); }

    /// A write that `db` has just made, applied to the rows by `patch` instead
    /// of reading them all again. Applied only when that write is the one
    /// thing that happened since the last read; otherwise the next refresh
    /// reads the table.
    void applyOwnWrite(AddressDatabase& db,
                       const std::function<void(QList<QStringList>& rows)>& patch);

    /// Every row in table order: eleven texts each (NodeRecord::texts()).
    const QList<QStringList>& rows() const { return m_rows; }
    /// The rows that `filter` lists, in table order.
    QList<QStringList> select(const NodeFilter& filter) const;
    /// How many times the whole table was read.
    int reads() const { return m_reads; }

private:
    QList<QStringList> m_rows;
    std::optional<AddressDatabase::ChangeStamp> m_stamp;
    int m_reads = 0;
};

} // namespace qarsilo
