#include "addressbook/address_database.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <optional>

namespace qarsilo {

namespace {

const QString kDriver = QStringLiteral("QSQLITE");
const QString kStandardFileName = QStringLiteral("address.mdb");
QString g_defaultFileName; // empty: kStandardFileName
QAtomicInt g_nextConnection;

// The four tables. Every column is text and never NULL; MAC is unique without
// regard to letter case (it is one address however it is written), group
// names are unique exactly as written.
struct TableSchema {
    const char* name;
    const char* create;
};
constexpr TableSchema kTables[] = {
    {"node", "CREATE TABLE node ("
             "MAC TEXT NOT NULL DEFAULT '' COLLATE NOCASE UNIQUE, "
             "IP TEXT NOT NULL DEFAULT '', IPv6 TEXT NOT NULL DEFAULT '', "
             "NAME TEXT NOT NULL DEFAULT '', WORKGROUP TEXT NOT NULL DEFAULT '', "
             "DOMAINNAME TEXT NOT NULL DEFAULT '', DATE TEXT NOT NULL DEFAULT '', "
             "DESCRIPTION TEXT NOT NULL DEFAULT '', LOCATION TEXT NOT NULL DEFAULT '', "
             "SUBNET TEXT NOT NULL DEFAULT '', TYPE TEXT NOT NULL DEFAULT '')"},
    {"workgrouptree", "CREATE TABLE workgrouptree (WORKGROUP TEXT NOT NULL DEFAULT '' UNIQUE)"},
    {"locationtree", "CREATE TABLE locationtree (LOCATION TEXT NOT NULL DEFAULT '' UNIQUE)"},
    {"subnettree", "CREATE TABLE subnettree (SUBNET TEXT NOT NULL DEFAULT '' UNIQUE)"},
};

// Columns by name, never by position: a file made by another tool may order them
// differently.
const QString kSelectNodes = QStringLiteral(
    "SELECT MAC, IP, IPv6, NAME, WORKGROUP, DOMAINNAME, DATE, DESCRIPTION, LOCATION, SUBNET, TYPE "
    "FROM node ORDER BY rowid");

QString text(const QSqlQuery& q, int column) {
    // A NULL is an unknown value: shown empty rather than ending the listing.
    return q.value(column).toString();
}

QString describe(const QSqlError& e) {
    QString t = e.databaseText().trimmed();
    if (t.isEmpty())
        t = e.text().trimmed();
    return t;
}

} // namespace

QString AddressDatabase::defaultFileName() {
    return g_defaultFileName.isEmpty() ? kStandardFileName : g_defaultFileName;
}

void AddressDatabase::setDefaultFileName(const QString& fileName) {
    g_defaultFileName = fileName;
}

AddressDatabase::AddressDatabase(QString fileName)
    : m_fileName(std::move(fileName))
    , m_connection(
          QStringLiteral("qarsilo-address-%1").arg(g_nextConnection.fetchAndAddRelaxed(1))) {}

AddressDatabase::~AddressDatabase() {
    close();
}

QString AddressDatabase::tableName(GroupTable table) {
    switch (table) {
    case GroupTable::Workgroup:
        return QStringLiteral("workgrouptree");
    case GroupTable::Location:
        return QStringLiteral("locationtree");
    case GroupTable::Subnet:
        return QStringLiteral("subnettree");
    }
    return {};
}

QString AddressDatabase::columnName(GroupTable table) {
    switch (table) {
    case GroupTable::Workgroup:
        return QStringLiteral("WORKGROUP");
    case GroupTable::Location:
        return QStringLiteral("LOCATION");
    case GroupTable::Subnet:
        return QStringLiteral("SUBNET");
    }
    return {};
}

bool AddressDatabase::fail(const QString& error) {
    m_error = error;
    return false;
}

bool AddressDatabase::open() {
    close();
    m_error.clear();
    if (!QSqlDatabase::isDriverAvailable(kDriver))
        return fail(QStringLiteral("Can't create instance of Connection"));
    // Runs with the connection's handles in scope; they must be gone before
    // the connection can be removed again on failure.
    const auto connect = [this]() -> std::optional<QString> {
        QSqlDatabase db = QSqlDatabase::addDatabase(kDriver, m_connection);
        if (!db.isValid())
            return QStringLiteral("Can't create instance of Connection");
        db.setDatabaseName(m_fileName);
        // Another window may be writing; wait for it rather than fail at once.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open())
            return describe(db.lastError());
        // SQLite opens lazily: reading the catalogue finds a file that is not
        // a database now, and tells which tables are missing.
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT lower(name) FROM sqlite_master WHERE type = 'table'")))
            return describe(q.lastError());
        QStringList present;
        while (q.next())
            present << q.value(0).toString();
        QStringList missing;
        for (const TableSchema& t : kTables)
            if (!present.contains(QLatin1String(t.name)))
                missing << QLatin1String(t.create);
        if (missing.isEmpty())
            return std::nullopt;
        if (!db.transaction())
            return describe(db.lastError());
        for (const QString& create : missing) {
            if (!q.exec(create)) {
                const QString why = describe(q.lastError());
                db.rollback();
                return why;
            }
        }
        if (!db.commit()) {
            const QString why = describe(db.lastError());
            db.rollback();
            return why;
        }
        return std::nullopt;
    };
    const std::optional<QString> why = connect();
    if (why) {
        close();
        return fail(why->isEmpty() ? QStringLiteral("Can't open datasource") : *why);
    }
    m_open = true;
    return true;
}

void AddressDatabase::close() {
    if (!QSqlDatabase::contains(m_connection)) {
        m_open = false;
        return;
    }
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
    m_open = false;
}

bool AddressDatabase::forEachNode(const std::function<void(const NodeRecord&)>& sink) {
    if (!m_open)
        return fail(QStringLiteral("The address book is not open."));
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(kSelectNodes))
        return fail(describe(q.lastError()));
    while (q.next()) {
        NodeRecord r;
        r.mac = text(q, 0);
        r.ip = text(q, 1);
        r.ipv6 = text(q, 2);
        r.name = text(q, 3);
        r.workgroup = text(q, 4);
        r.domainName = text(q, 5);
        r.date = text(q, 6);
        r.description = text(q, 7);
        r.location = text(q, 8);
        r.subnet = text(q, 9);
        r.type = text(q, 10);
        sink(r);
    }
    if (q.lastError().isValid())
        return fail(describe(q.lastError()));
    return true;
}

bool AddressDatabase::listNodes(QList<NodeRecord>& out) {
    return forEachNode([&out](const NodeRecord& r) { out.append(r); });
}

bool AddressDatabase::listGroups(GroupTable table, QStringList& out) {
    if (!m_open)
        return fail(QStringLiteral("The address book is not open."));
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                    .arg(columnName(table), tableName(table))))
        return fail(describe(q.lastError()));
    while (q.next())
        out << text(q, 0);
    if (q.lastError().isValid())
        return fail(describe(q.lastError()));
    return true;
}

bool AddressDatabase::addGroup(GroupTable table, const QString& name) {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    // Exact comparison: BINARY, whatever collation the column was made with.
    q.prepare(QStringLiteral("INSERT INTO %1 (%2) SELECT ? WHERE NOT EXISTS "
                             "(SELECT 1 FROM %1 WHERE %2 = ? COLLATE BINARY)")
                  .arg(tableName(table), columnName(table)));
    q.addBindValue(name);
    q.addBindValue(name);
    if (!q.exec())
        return fail(describe(q.lastError()));
    return true;
}

bool AddressDatabase::addNode(const NodeRecord& node) {
    if (!m_open)
        return fail(QStringLiteral("The address book is not open."));
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return fail(describe(db.lastError()));
    bool ok = false;
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO node (MAC, IPv6, IP, NAME, DATE, DESCRIPTION, "
                                 "WORKGROUP, LOCATION, SUBNET, DOMAINNAME, TYPE) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QString* v :
             {&node.mac, &node.ipv6, &node.ip, &node.name, &node.date, &node.description,
              &node.workgroup, &node.location, &node.subnet, &node.domainName, &node.type})
            q.addBindValue(v->isNull() ? QStringLiteral("") : *v);
        ok = q.exec();
        if (!ok)
            m_error = describe(q.lastError());
    }
    ok = ok && addGroup(GroupTable::Workgroup, node.workgroup) &&
         addGroup(GroupTable::Location, node.location) && addGroup(GroupTable::Subnet, node.subnet);
    if (ok && !db.commit()) {
        m_error = describe(db.lastError());
        ok = false;
    }
    if (!ok)
        db.rollback();
    return ok;
}

AddressDatabase::Outcome AddressDatabase::findNode(const QString& mac, NodeRecord& out) {
    if (!m_open) {
        fail(QStringLiteral("The address book is not open."));
        return Outcome::Failed;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral(
        "SELECT MAC, IP, IPv6, NAME, WORKGROUP, DOMAINNAME, DATE, DESCRIPTION, "
        "LOCATION, SUBNET, TYPE FROM node WHERE MAC = ? COLLATE BINARY ORDER BY rowid"));
    q.addBindValue(mac);
    if (!q.exec()) {
        fail(describe(q.lastError()));
        return Outcome::Failed;
    }
    if (!q.next())
        return q.lastError().isValid() ? (fail(describe(q.lastError())), Outcome::Failed)
                                       : Outcome::NotFound;
    QStringList t;
    for (int i = 0; i < 11; ++i)
        t << text(q, i);
    out = NodeRecord::fromTexts(t);
    return Outcome::Done;
}

AddressDatabase::Outcome AddressDatabase::updateNode(const NodeRecord& node) {
    if (!m_open) {
        fail(QStringLiteral("The address book is not open."));
        return Outcome::Failed;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("UPDATE node SET IP = ?, NAME = ?, WORKGROUP = ?, DATE = ?, "
                             "DESCRIPTION = ?, SUBNET = ?, LOCATION = ?, IPv6 = ? "
                             "WHERE MAC = ? COLLATE BINARY"));
    for (const QString* v : {&node.ip, &node.name, &node.workgroup, &node.date, &node.description,
                             &node.subnet, &node.location, &node.ipv6, &node.mac})
        q.addBindValue(v->isNull() ? QStringLiteral("") : *v);
    if (!q.exec()) {
        fail(describe(q.lastError()));
        return Outcome::Failed;
    }
    return q.numRowsAffected() > 0 ? Outcome::Done : Outcome::NotFound;
}

AddressDatabase::Outcome AddressDatabase::deleteNode(const QString& mac) {
    if (!m_open) {
        fail(QStringLiteral("The address book is not open."));
        return Outcome::Failed;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("DELETE FROM node WHERE MAC = ? COLLATE BINARY"));
    q.addBindValue(mac);
    if (!q.exec()) {
        fail(describe(q.lastError()));
        return Outcome::Failed;
    }
    return q.numRowsAffected() > 0 ? Outcome::Done : Outcome::NotFound;
}

bool AddressDatabase::addGroupIfAbsent(GroupTable table, const QString& name) {
    if (!m_open)
        return fail(QStringLiteral("The address book is not open."));
    return addGroup(table, name.isNull() ? QStringLiteral("") : name);
}

AddressDatabase::Outcome AddressDatabase::deleteGroup(GroupTable table, const QString& name) {
    if (!m_open) {
        fail(QStringLiteral("The address book is not open."));
        return Outcome::Failed;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = ? COLLATE BINARY")
                  .arg(tableName(table), columnName(table)));
    q.addBindValue(name.isNull() ? QStringLiteral("") : name);
    if (!q.exec()) {
        fail(describe(q.lastError()));
        return Outcome::Failed;
    }
    return q.numRowsAffected() > 0 ? Outcome::Done : Outcome::NotFound;
}

bool AddressDatabase::clearAll() {
    if (!m_open)
        return fail(QStringLiteral("The address book is not open."));
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return fail(describe(db.lastError()));
    bool ok = true;
    {
        QSqlQuery q(db);
        for (const char* table : {"node", "subnettree", "workgrouptree", "locationtree"}) {
            ok = q.exec(QStringLiteral("DELETE FROM ") + QLatin1String(table));
            if (!ok) {
                m_error = describe(q.lastError());
                break;
            }
        }
    }
    if (ok && !db.commit()) {
        m_error = describe(db.lastError());
        ok = false;
    }
    if (!ok)
        db.rollback();
    return ok;
}

bool AddressDatabase::loadNames(QHash<QString, QString>& namesByMac) {
    return forEachNode(
        [&namesByMac](const NodeRecord& r) { namesByMac.insert(r.mac.toLower(), r.name); });
}

} // namespace qarsilo
