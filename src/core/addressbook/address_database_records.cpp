#include "core/addressbook/address_database.h"
#include "core/addressbook/address_database_sql.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

// Node and group records: listing, adding, finding, changing, deleting.

namespace qarsilo {

using namespace address_sql;

namespace {

// Each group table and its one column.
struct GroupTableNames {
    GroupTable table;
    const char* name;
    const char* column;
};
constexpr GroupTableNames kGroupTables[] = {
    {GroupTable::Workgroup, "workgrouptree", "WORKGROUP"},
    {GroupTable::Location, "locationtree", "LOCATION"},
    {GroupTable::Subnet, "subnettree", "SUBNET"},
};

constexpr const GroupTableNames* groupTable(GroupTable table) {
    const auto it = std::find_if(std::begin(kGroupTables), std::end(kGroupTables),
                                 [table](const GroupTableNames& t) { return t.table == table; });
    return it == std::end(kGroupTables) ? nullptr : it;
}

} // namespace

QString AddressDatabase::tableName(GroupTable table) {
    const GroupTableNames* t = groupTable(table);
    return t ? QString::fromLatin1(t->name) : QString();
}

QString AddressDatabase::columnName(GroupTable table) {
    const GroupTableNames* t = groupTable(table);
    return t ? QString::fromLatin1(t->column) : QString();
}

bool AddressDatabase::readNodes(const std::function<void(QStringList&&)>& sink) {
    if (!usable())
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!prepare(q, kSelectNodes) || !run(q))
        return false;
    while (q.next())
        sink(nodeTexts(q));
    if (q.lastError().isValid())
        return fail(Failure::Engine, describe(q.lastError()));
    return true;
}

bool AddressDatabase::forEachNode(const std::function<void(const NodeRecord&)>& sink) {
    return readNodes([&sink](QStringList&& row) { sink(NodeRecord::fromTexts(row)); });
}

bool AddressDatabase::listNodes(QList<NodeRecord>& out) {
    return forEachNode([&out](const NodeRecord& r) { out.append(r); });
}

bool AddressDatabase::listNodeTexts(QList<QStringList>& out) {
    return readNodes([&out](QStringList&& row) { out.append(std::move(row)); });
}

bool AddressDatabase::listGroups(GroupTable table, QStringList& out) {
    if (!usable())
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!prepare(q, QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                        .arg(columnName(table), tableName(table))) ||
        !run(q))
        return false;
    while (q.next())
        out << text(q, 0);
    if (q.lastError().isValid())
        return fail(Failure::Engine, describe(q.lastError()));
    return true;
}

namespace {

// PostgreSQL text cannot hold a NUL character (SQLite's can): such a text is
// refused, naming where it is, rather than with the driver's encoding error.
const QChar kNul(u'\0');

const char* const kNodeColumnNames[] = {"MAC",       "IP",         "IPv6", "NAME",
                                        "WORKGROUP", "DOMAINNAME", "DATE", "DESCRIPTION",
                                        "LOCATION",  "SUBNET",     "TYPE"};

// A text as it may be quoted in a message: its NULs shown as \0.
QString shownText(const QString& text) {
    QString shown = text;
    return shown.replace(kNul, QStringLiteral("\\0"));
}

} // namespace

bool AddressDatabase::storable(const NodeRecord& node) {
    if (!m_server)
        return true;
    const QStringList texts = node.texts();
    for (qsizetype c = 0; c < texts.size(); ++c)
        if (texts[c].contains(kNul))
            return fail(Failure::Engine,
                        QStringLiteral("The node %1 holds a NUL character in %2, which a "
                                       "PostgreSQL book cannot store")
                            .arg(shownText(node.mac), QLatin1String(kNodeColumnNames[c])));
    return true;
}

bool AddressDatabase::addGroup(GroupTable table, const QString& name) {
    if (m_server && name.contains(kNul))
        return fail(Failure::Engine,
                    QStringLiteral("The %1 name \"%2\" holds a NUL character, which a "
                                   "PostgreSQL book cannot store")
                        .arg(columnName(table), shownText(name)));
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    // Exact comparison: BINARY, whatever collation the column was made with.
    // The server's tables are made here with their UNIQUE names.
    const QString sql =
        m_server ? QStringLiteral("INSERT INTO %1 (%2) VALUES (?) ON CONFLICT DO NOTHING")
                 : QStringLiteral("INSERT INTO %1 (%2) SELECT ? WHERE NOT EXISTS "
                                  "(SELECT 1 FROM %1 WHERE %2 = ? COLLATE BINARY)");
    if (!prepare(q, sql.arg(tableName(table), columnName(table))))
        return false;
    q.addBindValue(name);
    if (!m_server)
        q.addBindValue(name);
    return run(q);
}

bool AddressDatabase::addNode(const NodeRecord& node) {
    if (!usable() || !storable(node) || !begin())
        return false;
    bool ok = false;
    // Kept until the transaction ended: the server frees a prepared statement
    // only outside a failed transaction.
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    ok = prepare(q, QStringLiteral("INSERT INTO node (MAC, IPv6, IP, NAME, DATE, DESCRIPTION, "
                                   "WORKGROUP, LOCATION, SUBNET, DOMAINNAME, TYPE) "
                                   "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    if (ok) {
        for (const QString* v :
             {&node.mac, &node.ipv6, &node.ip, &node.name, &node.date, &node.description,
              &node.workgroup, &node.location, &node.subnet, &node.domainName, &node.type})
            q.addBindValue(v->isNull() ? QStringLiteral("") : *v);
        ok = run(q);
    }
    ok = ok && addGroup(GroupTable::Workgroup, node.workgroup) &&
         addGroup(GroupTable::Location, node.location) &&
         addGroup(GroupTable::Subnet, node.subnet) && commit();
    if (!ok)
        rollback();
    return ok;
}

AddressDatabase::Outcome AddressDatabase::findNode(const QString& mac, NodeRecord& out) {
    if (!usable())
        return Outcome::Failed;
    QSqlQuery* found = reusable(
        QStringLiteral("SELECT MAC, IP, IPv6, NAME, WORKGROUP, DOMAINNAME, DATE, DESCRIPTION, "
                       "LOCATION, SUBNET, TYPE FROM node WHERE MAC = ?%1 ORDER BY rowid")
            .arg(exact()));
    if (!found)
        return Outcome::Failed;
    QSqlQuery& q = *found;
    q.bindValue(0, mac);
    if (!run(q)) {
        q.finish();
        return Outcome::Failed;
    }
    Outcome outcome = Outcome::Done;
    if (q.next()) {
        out = NodeRecord::fromTexts(nodeTexts(q));
    } else if (q.lastError().isValid()) {
        fail(Failure::Engine, describe(q.lastError()));
        outcome = Outcome::Failed;
    } else {
        outcome = Outcome::NotFound;
    }
    // A statement left active would hold its read transaction open.
    q.finish();
    return outcome;
}

AddressDatabase::Outcome AddressDatabase::updateNode(const NodeRecord& node) {
    if (!usable())
        return Outcome::Failed;
    ++m_ownWrites;
    return singleWrite([&] {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        if (!prepare(q, QStringLiteral("UPDATE node SET IP = ?, NAME = ?, WORKGROUP = ?, "
                                       "DATE = ?, DESCRIPTION = ?, SUBNET = ?, LOCATION = ?, "
                                       "IPv6 = ? WHERE MAC = ?%1")
                            .arg(exact())))
            return Outcome::Failed;
        for (const QString* v :
             {&node.ip, &node.name, &node.workgroup, &node.date, &node.description, &node.subnet,
              &node.location, &node.ipv6, &node.mac})
            q.addBindValue(v->isNull() ? QStringLiteral("") : *v);
        if (!run(q))
            return Outcome::Failed;
        return q.numRowsAffected() > 0 ? Outcome::Done : Outcome::NotFound;
    });
}

AddressDatabase::Outcome AddressDatabase::deleteNode(const QString& mac) {
    if (!usable())
        return Outcome::Failed;
    ++m_ownWrites;
    return singleWrite([&] {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        if (!prepare(q, QStringLiteral("DELETE FROM node WHERE MAC = ?%1").arg(exact())))
            return Outcome::Failed;
        q.addBindValue(mac);
        if (!run(q))
            return Outcome::Failed;
        return q.numRowsAffected() > 0 ? Outcome::Done : Outcome::NotFound;
    });
}

bool AddressDatabase::addGroupIfAbsent(GroupTable table, const QString& name) {
    if (!usable())
        return false;
    ++m_ownWrites;
    return singleWrite([&] {
               return addGroup(table, name.isNull() ? QStringLiteral("") : name) ? Outcome::Done
                                                                                 : Outcome::Failed;
           }) == Outcome::Done;
}

AddressDatabase::Outcome AddressDatabase::deleteGroup(GroupTable table, const QString& name) {
    if (!usable())
        return Outcome::Failed;
    ++m_ownWrites;
    return singleWrite([&] {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        if (!prepare(q, QStringLiteral("DELETE FROM %1 WHERE %2 = ?%3")
                            .arg(tableName(table), columnName(table), exact())))
            return Outcome::Failed;
        q.addBindValue(name.isNull() ? QStringLiteral("") : name);
        if (!run(q))
            return Outcome::Failed;
        return q.numRowsAffected() > 0 ? Outcome::Done : Outcome::NotFound;
    });
}

bool AddressDatabase::clearAll() {
    if (!usable() || !begin())
        return false;
    bool ok = true;
    for (const char* table : {"node", "subnettree", "workgrouptree", "locationtree"}) {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        ok = prepare(q, QStringLiteral("DELETE FROM ") + QLatin1String(table)) && run(q);
        if (!ok)
            break;
    }
    ok = ok && commit();
    if (!ok)
        rollback();
    return ok;
}

bool AddressDatabase::loadNames(QHash<QString, QString>& namesByMac) {
    return readNodes(
        [&namesByMac](QStringList&& row) { namesByMac.insert(row[0].toLower(), row[3]); });
}

bool AddressDatabase::insertNode(const NodeRecord& node) {
    if (!usable() || !storable(node))
        return false;
    ++m_ownWrites;
    QSqlQuery* insert =
        reusable(QStringLiteral("INSERT INTO node (MAC, IP, IPv6, NAME, DATE, DESCRIPTION, "
                                "WORKGROUP, LOCATION, SUBNET, DOMAINNAME, TYPE) "
                                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    if (!insert)
        return false;
    return singleWrite([&] {
               int i = 0;
               for (const QString* v :
                    {&node.mac, &node.ip, &node.ipv6, &node.name, &node.date, &node.description,
                     &node.workgroup, &node.location, &node.subnet, &node.domainName, &node.type})
                   insert->bindValue(i++, v->isNull() ? QStringLiteral("") : *v);
               const bool ok = run(*insert);
               insert->finish();
               return ok ? Outcome::Done : Outcome::Failed;
           }) == Outcome::Done;
}

AddressDatabase::Outcome AddressDatabase::changeNode(const QString& mac,
                                                     const NodeChanges& changes) {
    if (!usable())
        return Outcome::Failed;
    // One order for every change, so that equal sets of columns share one
    // prepared statement.
    QStringList sets;
    QStringList values;
    const auto put = [&](const char* column, const std::optional<QString>& text) {
        if (!text)
            return;
        sets << QLatin1String(column) + QStringLiteral(" = ?");
        values << (text->isNull() ? QStringLiteral("") : *text);
    };
    put("IP", changes.ip);
    put("NAME", changes.name);
    put("DATE", changes.date);
    put("DESCRIPTION", changes.description);
    put("WORKGROUP", changes.workgroup);
    put("SUBNET", changes.subnet);
    put("DOMAINNAME", changes.domainName);
    put("TYPE", changes.type);
    if (sets.isEmpty()) {
        NodeRecord ignored;
        return findNode(mac, ignored);
    }
    ++m_ownWrites;
    QSqlQuery* update = reusable(QStringLiteral("UPDATE node SET %1 WHERE MAC = ?%2")
                                     .arg(sets.join(QStringLiteral(", ")), exact()));
    if (!update)
        return Outcome::Failed;
    return singleWrite([&] {
        int i = 0;
        for (const QString& v : std::as_const(values))
            update->bindValue(i++, v);
        update->bindValue(i, mac);
        const bool ok = run(*update);
        const int changed = ok ? update->numRowsAffected() : 0;
        update->finish();
        if (!ok)
            return Outcome::Failed;
        return changed > 0 ? Outcome::Done : Outcome::NotFound;
    });
}

} // namespace qarsilo
