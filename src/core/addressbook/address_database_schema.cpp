#include "core/addressbook/address_database.h"
#include "core/addressbook/address_database_sql.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

#include <span>

// The tables of a book and their indexes.

namespace qarsilo {

namespace {

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

constexpr const char* kMacIndex =
    "CREATE INDEX IF NOT EXISTS node_mac_exact ON node (MAC COLLATE BINARY)";

// The same tables on PostgreSQL. A rowid column keeps the order rows were added
// in (SQLite has one of its own), so every query reads alike on both. The
// change counter row is raised by every write transaction of this program.
struct ServerTable {
    const char* name;
    QList<const char*> create;
};
const ServerTable kServerTables[] = {
    {"node",
     {"CREATE TABLE node (rowid BIGSERIAL PRIMARY KEY, "
      "MAC TEXT NOT NULL DEFAULT '', "
      "IP TEXT NOT NULL DEFAULT '', IPv6 TEXT NOT NULL DEFAULT '', "
      "NAME TEXT NOT NULL DEFAULT '', WORKGROUP TEXT NOT NULL DEFAULT '', "
      "DOMAINNAME TEXT NOT NULL DEFAULT '', DATE TEXT NOT NULL DEFAULT '', "
      "DESCRIPTION TEXT NOT NULL DEFAULT '', LOCATION TEXT NOT NULL DEFAULT '', "
      "SUBNET TEXT NOT NULL DEFAULT '', TYPE TEXT NOT NULL DEFAULT '')",
      "CREATE UNIQUE INDEX node_mac_nocase ON node (lower(MAC))",
      "CREATE INDEX node_mac_exact ON node (MAC)"}},
    {"workgrouptree",
     {"CREATE TABLE workgrouptree (rowid BIGSERIAL PRIMARY KEY, "
      "WORKGROUP TEXT NOT NULL DEFAULT '' UNIQUE)"}},
    {"locationtree",
     {"CREATE TABLE locationtree (rowid BIGSERIAL PRIMARY KEY, "
      "LOCATION TEXT NOT NULL DEFAULT '' UNIQUE)"}},
    {"subnettree",
     {"CREATE TABLE subnettree (rowid BIGSERIAL PRIMARY KEY, "
      "SUBNET TEXT NOT NULL DEFAULT '' UNIQUE)"}},
    {"changecount",
     {"CREATE TABLE changecount (N BIGINT NOT NULL)", "INSERT INTO changecount VALUES (0)"}},
};

// Every statement that writes a table of the book raises the change counter,
// except in this program's own write transactions, which raise it once at
// their commit and say so in a setting of the transaction (see begin()).
constexpr const char* kCountingFunction =
    "CREATE OR REPLACE FUNCTION qarsilo_count_change() RETURNS trigger LANGUAGE plpgsql AS $$ "
    "BEGIN "
    "IF coalesce(current_setting('qarsilo.counted', true), '') <> 'on' THEN "
    "UPDATE changecount SET N = N + 1; "
    "END IF; "
    "RETURN NULL; "
    "END $$";
// The tables whose writes are counted.
constexpr const char* kCountedTables[] = {"node", "workgrouptree", "locationtree", "subnettree"};

} // namespace

namespace address_sql {

std::optional<QString> prepareFileTables(const QSqlDatabase& db, bool readOnly) {
    // SQLite opens lazily: reading the catalogue finds a file that is not
    // a database now, before anything below writes to it, and tells which
    // tables are missing.
    QSqlQuery q(db);
    const auto missingTables = [&q](QStringList& missing) -> std::optional<QString> {
        if (!q.exec(QStringLiteral("SELECT lower(name) FROM sqlite_master WHERE type = 'table'")))
            return describe(q.lastError());
        QStringList present;
        while (q.next())
            present << q.value(0).toString();
        q.finish();
        missing.clear();
        for (const TableSchema& t : kTables)
            if (!present.contains(QLatin1String(t.name)))
                missing << QLatin1String(t.create);
        return std::nullopt;
    };
    QStringList missing;
    if (const std::optional<QString> why = missingTables(missing))
        return why;
    if (readOnly)
        return missing.isEmpty()
                   ? std::nullopt
                   : std::optional<QString>(QStringLiteral(
                         "The address book lacks tables and cannot be changed to add them"));
    // WAL: readers and one writer work side by side, and a commit is one
    // append. The mode stays with the file. A damaged file is left in its
    // old mode (the switch rewrites its header), so that it can still be
    // mended or read by other tools as it was.
    bool healthy = true;
    if (q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next() &&
        q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        q.finish();
        healthy = q.exec(QStringLiteral("PRAGMA quick_check(1)")) && q.next() &&
                  q.value(0).toString() == QLatin1String("ok");
        q.finish();
        if (healthy)
            q.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
    }
    q.finish();
    // Finds by MAC compare exactly, which the case-blind UNIQUE index cannot
    // serve: without this index every find scans the table. Added to older
    // files too, but not to a damaged one (nothing is written to it); where
    // it cannot be, finds still work.
    const auto indexMacs = [&q, healthy] {
        if (!healthy)
            return;
        q.exec(QLatin1String(kMacIndex));
        q.finish();
    };
    if (missing.isEmpty()) {
        indexMacs();
        return std::nullopt;
    }
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return describe(q.lastError());
    // Another program opening the new file at the same time may have made
    // them while this one waited for the lock.
    if (const std::optional<QString> why = missingTables(missing)) {
        q.exec(QStringLiteral("ROLLBACK"));
        return why;
    }
    for (const QString& create : missing) {
        if (!q.exec(create)) {
            const QString why = describe(q.lastError());
            q.exec(QStringLiteral("ROLLBACK"));
            return why;
        }
    }
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const QString why = describe(q.lastError());
        q.exec(QStringLiteral("ROLLBACK"));
        return why;
    }
    indexMacs();
    return std::nullopt;
}

std::optional<QString> prepareServerTables(QSqlQuery& q) {
    const auto failed = [&q] {
        const QString reason = describe(q.lastError());
        q.exec(QStringLiteral("ROLLBACK"));
        return reason;
    };
    // Two programs that open a new book at once must not both make its tables.
    if (!q.exec(QStringLiteral("BEGIN")) ||
        !q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(727271)")))
        return failed();
    if (!q.exec(QStringLiteral("SELECT lower(table_name) FROM information_schema.tables "
                               "WHERE table_schema = current_schema()")))
        return failed();
    QStringList present;
    while (q.next())
        present << q.value(0).toString();
    for (const ServerTable& t : kServerTables) {
        if (present.contains(QLatin1String(t.name)))
            continue;
        for (const char* statement : t.create)
            if (!q.exec(QLatin1String(statement)))
                return failed();
    }
    // Writes of other tools (psql, scripts) move the change counter through
    // triggers, so that open windows see them too. A role that may not add
    // them still uses the book: such changes then show on a reload.
    QStringList counted;
    if (!q.exec(QStringLiteral("SELECT lower(tgrelid::regclass::text) FROM pg_trigger WHERE "
                               "tgname = 'qarsilo_counted'")))
        return failed();
    while (q.next())
        counted << q.value(0).toString();
    QStringList missingTriggers;
    for (const char* table : kCountedTables)
        if (!counted.contains(QLatin1String(table)))
            missingTriggers << QStringLiteral(
                                   "CREATE TRIGGER qarsilo_counted AFTER INSERT OR UPDATE OR "
                                   "DELETE OR TRUNCATE ON %1 FOR EACH STATEMENT EXECUTE "
                                   "FUNCTION qarsilo_count_change()")
                                   .arg(QLatin1String(table));
    if (!missingTriggers.isEmpty()) {
        if (!q.exec(QStringLiteral("SAVEPOINT counting")))
            return failed();
        bool added = q.exec(QLatin1String(kCountingFunction));
        for (const QString& statement : std::as_const(missingTriggers))
            added = added && q.exec(statement);
        if (!q.exec(added ? QStringLiteral("RELEASE SAVEPOINT counting")
                          : QStringLiteral("ROLLBACK TO SAVEPOINT counting")))
            return failed();
    }
    if (!q.exec(QStringLiteral("COMMIT")))
        return failed();
    return std::nullopt;
}

std::optional<QString> checkTablesForReading(QSqlQuery& q, bool server) {
    const QString sql =
        server ? QStringLiteral("SELECT 1 FROM information_schema.tables WHERE table_schema = "
                                "current_schema() AND lower(table_name) = 'node'")
               : QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                                "lower(name) = 'node'");
    if (!q.exec(sql))
        return describe(q.lastError());
    const bool found = q.next();
    q.finish();
    if (!found)
        return kNotABookText;
    return std::nullopt;
}

} // namespace address_sql

void AddressDatabase::ensureSearchIndexes() {
    if (!m_open || m_readOnly)
        return;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.isOpen())
        return;
    // Name prefix and group searches ignore letter case (ASCII, which the
    // paged searches are limited to); the address search is a plain prefix.
    static const char* const kLocal[] = {
        "CREATE INDEX IF NOT EXISTS node_name_nocase ON node (NAME COLLATE NOCASE)",
        "CREATE INDEX IF NOT EXISTS node_ip ON node (IP COLLATE BINARY)",
        "CREATE INDEX IF NOT EXISTS node_workgroup_nocase ON node (WORKGROUP COLLATE NOCASE)",
        "CREATE INDEX IF NOT EXISTS node_location_nocase ON node (LOCATION COLLATE NOCASE)",
        "CREATE INDEX IF NOT EXISTS node_subnet_nocase ON node (SUBNET COLLATE NOCASE)",
        // Byte order, for the list sorted by the database (MAC and IP have one).
        "CREATE INDEX IF NOT EXISTS node_name_bytes ON node (NAME COLLATE BINARY)",
        "CREATE INDEX IF NOT EXISTS node_workgroup_bytes ON node (WORKGROUP COLLATE BINARY)",
        "CREATE INDEX IF NOT EXISTS node_location_bytes ON node (LOCATION COLLATE BINARY)",
        "CREATE INDEX IF NOT EXISTS node_subnet_bytes ON node (SUBNET COLLATE BINARY)",
        // The other columns' titles sort too: without an index a click sorts
        // the whole table before its first page.
        "CREATE INDEX IF NOT EXISTS node_ipv6_bytes ON node (IPv6 COLLATE BINARY)",
        "CREATE INDEX IF NOT EXISTS node_domainname_bytes ON node (DOMAINNAME COLLATE BINARY)",
        "CREATE INDEX IF NOT EXISTS node_date_bytes ON node (DATE COLLATE BINARY)",
        "CREATE INDEX IF NOT EXISTS node_description_bytes ON node (DESCRIPTION COLLATE BINARY)",
        "CREATE INDEX IF NOT EXISTS node_type_bytes ON node (TYPE COLLATE BINARY)",
    };
    // The column itself is included so that a count reads the index alone.
    static const char* const kServer[] = {
        "CREATE INDEX IF NOT EXISTS node_name_lower ON node (lower(NAME) text_pattern_ops) "
        "INCLUDE (NAME)",
        "CREATE INDEX IF NOT EXISTS node_ip_prefix ON node (IP text_pattern_ops)",
        "CREATE INDEX IF NOT EXISTS node_workgroup_lower ON node (lower(WORKGROUP)) "
        "INCLUDE (WORKGROUP)",
        "CREATE INDEX IF NOT EXISTS node_location_lower ON node (lower(LOCATION)) "
        "INCLUDE (LOCATION)",
        "CREATE INDEX IF NOT EXISTS node_subnet_lower ON node (lower(SUBNET)) INCLUDE (SUBNET)",
        // Byte order with the row key, for the list sorted by the database:
        // rows of equal texts come in table order from the index too.
        "CREATE INDEX IF NOT EXISTS node_mac_bytes ON node (MAC COLLATE \"C\", rowid)",
        "CREATE INDEX IF NOT EXISTS node_ip_bytes ON node (IP COLLATE \"C\", rowid)",
        "CREATE INDEX IF NOT EXISTS node_name_bytes ON node (NAME COLLATE \"C\", rowid)",
        "CREATE INDEX IF NOT EXISTS node_workgroup_bytes ON node (WORKGROUP COLLATE \"C\", rowid)",
        "CREATE INDEX IF NOT EXISTS node_location_bytes ON node (LOCATION COLLATE \"C\", rowid)",
        "CREATE INDEX IF NOT EXISTS node_subnet_bytes ON node (SUBNET COLLATE \"C\", rowid)",
        "CREATE INDEX IF NOT EXISTS node_ipv6_bytes ON node (IPv6 COLLATE \"C\", rowid)",
        "CREATE INDEX IF NOT EXISTS node_domainname_bytes ON node (DOMAINNAME COLLATE \"C\", "
        "rowid)",
        "CREATE INDEX IF NOT EXISTS node_date_bytes ON node (DATE COLLATE \"C\", rowid)",
        "CREATE INDEX IF NOT EXISTS node_description_bytes ON node (DESCRIPTION COLLATE \"C\", "
        "rowid)",
        "CREATE INDEX IF NOT EXISTS node_type_bytes ON node (TYPE COLLATE \"C\", rowid)",
    };
    // Not a failure of the book: without an index a search is slower, not
    // wrong (a role without the right to create one, a busy file).
    // Only the missing ones: on a server even a CREATE INDEX that finds its
    // index waits for the table's writers first.
    QSqlQuery q(db);
    QSet<QString> present;
    bool created = false;
    bool indexed = true;
    if (q.exec(m_server
                   ? QStringLiteral("SELECT indexname FROM pg_indexes WHERE tablename = 'node' "
                                    "UNION ALL SELECT tablename FROM pg_tables WHERE schemaname "
                                    "= current_schema() AND tablename = 'sortcheck'")
                   : QStringLiteral("SELECT name FROM sqlite_master"))) {
        while (q.next())
            present.insert(q.value(0).toString().toLower());
    }
    for (const char* sql :
         m_server ? std::span<const char* const>(kServer) : std::span<const char* const>(kLocal)) {
        const QString statement = QString::fromLatin1(sql);
        const QString name = statement.section(QLatin1Char(' '), 5, 5).toLower();
        if (present.contains(name))
            continue;
        if (q.exec(statement))
            created = true;
        else
            indexed = false;
    }
    // The planner knows an expression index's values only once analysed
    // (without that it guesses a prefix rare and sorts every match for a
    // page), and a count reads the index alone only where the table's pages
    // are marked all-visible.
    if (created && m_server)
        q.exec(QStringLiteral("VACUUM (ANALYZE) node"));
    // Not on a book that refused an index (a damaged file is left as it is).
    if (indexed)
        addSortChecks(q, present);
}

void AddressDatabase::addSortChecks(QSqlQuery& q, const QSet<QString>& present) {
    // Where the column sorts by its bytes is kept for the next window. It
    // holds while no node is added or changed (deleting rows keeps it true):
    // on a server the change counter tells, on a file a count of node writes
    // that triggers move for every program that writes the book.
    constexpr const char* kCheckTable =
        "CREATE TABLE IF NOT EXISTS sortcheck (COL TEXT NOT NULL, SETS TEXT NOT NULL, N BIGINT "
        "NOT NULL, T BIGINT NOT NULL, PRIMARY KEY (COL, SETS))";
    if (m_server) {
        if (!present.contains(QStringLiteral("sortcheck")))
            q.exec(QLatin1String(kCheckTable));
        return;
    }
    static const char* const kCounting[] = {
        "CREATE TABLE IF NOT EXISTS nodewrites (N INTEGER NOT NULL)",
        "INSERT INTO nodewrites SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM nodewrites)",
        kCheckTable,
        "CREATE TRIGGER IF NOT EXISTS qarsilo_counted_insert AFTER INSERT ON node BEGIN UPDATE "
        "nodewrites SET N = N + 1; END",
        "CREATE TRIGGER IF NOT EXISTS qarsilo_counted_update AFTER UPDATE ON node BEGIN UPDATE "
        "nodewrites SET N = N + 1; END",
        // What was kept while writes went uncounted may be out of date.
        "DELETE FROM sortcheck",
    };
    if (present.contains(QStringLiteral("sortcheck")) &&
        present.contains(QStringLiteral("nodewrites")) &&
        present.contains(QStringLiteral("qarsilo_counted_insert")) &&
        present.contains(QStringLiteral("qarsilo_counted_update")))
        return;
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return;
    bool ok = true;
    for (const char* statement : kCounting)
        ok = ok && q.exec(QLatin1String(statement));
    q.exec(ok ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
}

} // namespace qarsilo
