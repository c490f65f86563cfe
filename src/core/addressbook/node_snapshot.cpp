#include "core/addressbook/node_snapshot.h"

namespace qarsilo {

bool NodeSnapshot::refresh(AddressDatabase& db) {
    const std::optional<AddressDatabase::ChangeStamp> now = db.changeStamp();
    if (now && m_stamp && *now == *m_stamp)
        return true;
    m_stamp.reset();
    m_rows.clear();
    ++m_reads;
    // The stamp is taken before the read: a commit in between makes it older
    // than the rows, which costs one more read later, never a stale list.
    if (!now || !db.listNodeTexts(m_rows))
        return false;
    m_stamp = now;
    return true;
}

bool NodeSnapshot::isCurrent(AddressDatabase& db) const {
    const std::optional<AddressDatabase::ChangeStamp> now = db.changeStamp();
    return now && m_stamp && *now == *m_stamp;
}

void NodeSnapshot::applyOwnWrite(AddressDatabase& db,
                                 const std::function<void(QList<QStringList>&)>& patch) {
    const std::optional<AddressDatabase::ChangeStamp> now = db.changeStamp();
    if (!m_stamp || !now || now->connection != m_stamp->connection ||
        now->dataVersion != m_stamp->dataVersion || now->ownWrites != m_stamp->ownWrites + 1) {
        m_stamp.reset();
        return;
    }
    patch(m_rows);
    m_stamp = now;
}

QList<QStringList> NodeSnapshot::select(const NodeFilter& filter) const {
    const int column = filter.column();
    if (column < 0)
        return m_rows; // shared, not copied
    QList<QStringList> out;
    for (const QStringList& row : m_rows)
        if (filter.matchesText(column < row.size() ? row[column] : QString()))
            out.append(row);
    return out;
}

} // namespace qarsilo
