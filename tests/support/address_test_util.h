#pragma once

#include "core/addressbook/address_database.h"

#include <QAtomicInt>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <unistd.h>

namespace qarsilo::test {

/// A node with the given MAC, IP, name, workgroup, location and subnet; the
/// other columns carry texts derived from the MAC so mix-ups show.
inline NodeRecord node(const char* mac, const char* ip, const char* name,
                       const char* workgroup = "WG", const char* location = "Lab",
                       const char* subnet = nullptr) {
    NodeRecord n;
    n.mac = QString::fromLatin1(mac);
    n.ip = QString::fromLatin1(ip);
    n.ipv6 = QStringLiteral("0000:0000:0000:0000:0000:0000:0000:0001");
    n.name = QString::fromLatin1(name);
    n.workgroup = QString::fromLatin1(workgroup);
    n.domainName = QStringLiteral("dom-") + n.mac;
    n.date = QStringLiteral("01 Jan 2020, 10:00:00");
    n.description = QStringLiteral("desc ") + n.mac;
    n.location = QString::fromLatin1(location);
    n.subnet = subnet ? QString::fromLatin1(subnet)
                      : n.ip.section(QLatin1Char('.'), 0, 2) + QStringLiteral(".0");
    n.type = QStringLiteral("-");
    return n;
}

/// Stores the nodes (and so their group names) in the file.
inline void store(const QString& file, const QList<NodeRecord>& nodes,
                  const QStringList& extraWorkgroups = {}) {
    AddressDatabase db(file);
    QVERIFY2(db.open(), qPrintable(db.lastError()));
    for (const NodeRecord& n : nodes)
        QVERIFY2(db.addNode(n), qPrintable(db.lastError()));
    for (const QString& w : extraWorkgroups)
        QVERIFY(db.addGroupIfAbsent(GroupTable::Workgroup, w));
}

/// Everything in the file, read back through a connection of its own.
inline QList<NodeRecord> nodesIn(const QString& file) {
    AddressDatabase db(file);
    QList<NodeRecord> out;
    if (db.open())
        db.listNodes(out);
    return out;
}

inline QStringList groupsIn(const QString& file, GroupTable table) {
    AddressDatabase db(file);
    QStringList out;
    if (db.open())
        db.listGroups(table, out);
    return out;
}

inline QStringList macsIn(const QString& file) {
    QStringList out;
    for (const NodeRecord& n : nodesIn(file))
        out << n.mac;
    return out;
}

/// Runs SQL on the file outside the program's own access (files made by
/// other tools, damage).
inline bool rawSql(const QString& file, const QStringList& statements) {
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("raw-test-connection"));
        db.setDatabaseName(file);
        ok = db.open();
        QSqlQuery q(db);
        for (const QString& s : statements)
            ok = ok && q.exec(s);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw-test-connection"));
    return ok;
}

/// The URL of the tests' private PostgreSQL server (its maintenance database),
/// read from the file the test fixture writes; empty when the build found no
/// server programs.
inline QString testServerUrl() {
    const QByteArray file = qgetenv("QARSILO_TEST_PG_URL_FILE");
    if (file.isEmpty())
        return {};
    QFile f(QString::fromLocal8Bit(file));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("postgresql://missing-test-server-url-file/postgres");
    return QString::fromUtf8(f.readAll()).trimmed();
}

/// A new empty database on the test server, dropped again by the destructor.
class ScratchServerBook {
public:
    ScratchServerBook() {
        static QAtomicInt serial;
        m_name = QStringLiteral("book_%1_%2").arg(::getpid()).arg(serial.fetchAndAddRelaxed(1));
        m_ok = admin(QStringLiteral("CREATE DATABASE %1").arg(m_name));
    }
    ~ScratchServerBook() { admin(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(m_name)); }
    ScratchServerBook(const ScratchServerBook&) = delete;
    ScratchServerBook& operator=(const ScratchServerBook&) = delete;

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    /// The book's location.
    QString url() const {
        QString u = testServerUrl();
        return u.replace(QStringLiteral("/postgres?"),
                         QLatin1Char('/') + m_name + QLatin1Char('?'));
    }

    /// Runs SQL in the book through a connection of its own, as another
    /// tool would.
    bool sql(const QString& statement) { return admin(statement, m_name); }

private:
    bool admin(const QString& sql, const QString& database = QStringLiteral("postgres")) {
        const QString connection = QStringLiteral("scratch-admin-") + m_name;
        bool ok = false;
        {
            const QString host = testServerUrl().section(QStringLiteral("host="), 1);
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
            db.setHostName(host);
            db.setUserName(QStringLiteral("qarsilo"));
            db.setDatabaseName(database);
            ok = db.open();
            QSqlQuery q(db);
            ok = ok && q.exec(sql);
            if (!ok)
                m_error = db.lastError().text() + q.lastError().text();
        }
        QSqlDatabase::removeDatabase(connection);
        return ok;
    }

    QString m_name;
    QString m_error;
    bool m_ok = false;
};

} // namespace qarsilo::test
