#pragma once

// What the files of AddressDatabase share (connection, schema, paging,
// records); not for use outside them.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace qarsilo::address_sql {

// Columns by name, never by position: a file made by another tool may order them
// differently.
inline const QString kSelectNodes = QStringLiteral(
    "SELECT MAC, IP, IPv6, NAME, WORKGROUP, DOMAINNAME, DATE, DESCRIPTION, LOCATION, SUBNET, TYPE "
    "FROM node ORDER BY rowid");

inline constexpr int kNodeColumns = 11;

inline QString text(const QSqlQuery& q, int column) {
    // A NULL is an unknown value: shown empty rather than ending the listing.
    return q.value(column).toString();
}

// The node columns of the current row, in NodeRecord::texts() order.
inline QStringList nodeTexts(const QSqlQuery& q) {
    QStringList row;
    row.reserve(kNodeColumns);
    for (int c = 0; c < kNodeColumns; ++c)
        row.append(text(q, c));
    return row;
}

inline const QString kRecordsetText = QStringLiteral("Can't create an instance of Recordset");

inline QString describe(const QSqlError& e) {
    QString t = e.databaseText().trimmed();
    if (t.isEmpty())
        t = e.text().trimmed();
    return t;
}

// Tables of a book file just opened: the missing ones are made (unless
// `readOnly`), the file put in WAL mode and its MAC index added. nullopt when
// the book can be used, else why not.
std::optional<QString> prepareFileTables(const QSqlDatabase& db, bool readOnly);

// The same for a PostgreSQL book, with its change counter and triggers, on
// `q`'s connection (its lock timeout already set).
std::optional<QString> prepareServerTables(QSqlQuery& q);

// Whether a book opened only for reading has its node table (a file's or the
// server's, by `server`); nothing is written. nullopt when it can be read.
std::optional<QString> checkTablesForReading(QSqlQuery& q, bool server);

// Said of a database that holds no node table.
inline const QString kNotABookText =
    QStringLiteral("This database is not an address book: it has no node table");

} // namespace qarsilo::address_sql
