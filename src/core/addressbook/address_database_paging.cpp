#include "core/addressbook/address_database.h"
#include "core/addressbook/address_database_sql.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QVariant>

#include "core/lists/report_compare.h"

#include <algorithm>

// Counting, paging and sorting the nodes a listing selects.

namespace qarsilo {

using namespace address_sql;

namespace {

QString whereClause(const QString& where) {
    return where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where;
}

} // namespace

bool AddressDatabase::countNodes(const QString& where, const QVariantList& binds, qint64& out,
                                 qint64 cap) {
    out = 0;
    if (!usable())
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    const QString sql = cap < 0 ? QStringLiteral("SELECT COUNT(*) FROM node") + whereClause(where)
                                : QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM node") +
                                      whereClause(where) + QStringLiteral(" LIMIT ?) AS capped");
    if (!prepare(q, sql))
        return false;
    for (const QVariant& v : binds)
        q.addBindValue(v);
    if (cap >= 0)
        q.addBindValue(cap);
    if (!run(q))
        return false;
    if (!q.next())
        return fail(Failure::Engine, describe(q.lastError()));
    out = q.value(0).toLongLong();
    return true;
}

bool AddressDatabase::estimateNodes(const QString& where, const QVariantList& binds, qint64& out) {
    out = 0;
    if (!m_server || !m_open)
        return false;
    // EXPLAIN cannot be prepared: the values go in as the driver quotes them.
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QString sql = QStringLiteral("EXPLAIN SELECT 1 FROM node") + whereClause(where);
    qsizetype from = 0;
    for (const QVariant& v : binds) {
        QSqlField field(QString(), v.metaType());
        field.setValue(v);
        const qsizetype at = sql.indexOf(QLatin1Char('?'), from);
        if (at < 0)
            return false;
        const QString literal = db.driver()->formatValue(field);
        sql.replace(at, 1, literal);
        from = at + literal.size();
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql) || !q.next())
        return false;
    static const QRegularExpression rows(QStringLiteral("rows=(\\d+)"));
    const QRegularExpressionMatch m = rows.match(q.value(0).toString());
    bool ok = false;
    out = m.hasMatch() ? m.captured(1).toLongLong(&ok) : 0;
    return ok;
}

bool AddressDatabase::readNodePage(const QString& where, const QVariantList& binds, qint64 offset,
                                   int limit, QList<QStringList>& out, qint64 afterRowid,
                                   qint64* lastRowid) {
    if (!usable())
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    QString condition = where;
    if (afterRowid >= 0)
        condition = where.isEmpty() ? QStringLiteral("rowid > ?")
                                    : QStringLiteral("(%1) AND rowid > ?").arg(where);
    QString sql = kSelectNodes;
    sql.insert(sql.indexOf(QLatin1String(" ORDER BY")), whereClause(condition));
    sql.insert(sql.indexOf(QLatin1String(" FROM node")), QStringLiteral(", rowid"));
    if (!prepare(q, sql + QStringLiteral(" LIMIT ? OFFSET ?")))
        return false;
    for (const QVariant& v : binds)
        q.addBindValue(v);
    if (afterRowid >= 0)
        q.addBindValue(afterRowid);
    q.addBindValue(limit);
    q.addBindValue(afterRowid >= 0 ? 0 : offset);
    if (!run(q))
        return false;
    while (q.next()) {
        out.append(nodeTexts(q));
        if (lastRowid)
            *lastRowid = q.value(kNodeColumns).toLongLong();
    }
    if (q.lastError().isValid())
        return fail(Failure::Engine, describe(q.lastError()));
    return true;
}

namespace {

// The node table's columns in NodeRecord::texts() order.
constexpr const char* kColumnNames[kNodeColumns] = {
    "MAC",  "IP",          "IPv6",     "NAME",   "WORKGROUP", "DOMAINNAME",
    "DATE", "DESCRIPTION", "LOCATION", "SUBNET", "TYPE"};
// Those with an index in byte order (ensureSearchIndexes, node_mac_exact):
// all of them.
constexpr int kSortColumns[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

QString andWhere(const QString& where, const QString& extra) {
    if (where.isEmpty())
        return extra;
    return extra.isEmpty() ? where : QStringLiteral("(%1) AND %2").arg(where, extra);
}

// A GLOB class of `chars`: ']' first and '-' last stand for themselves.
QString globClass(const QString& chars, bool negated) {
    QString body;
    if (chars.contains(QLatin1Char(']')))
        body += QLatin1Char(']');
    for (QChar c : chars)
        if (c != QLatin1Char(']') && c != QLatin1Char('-'))
            body += c;
    if (chars.contains(QLatin1Char('-')))
        body += QLatin1Char('-');
    return QLatin1Char('[') + (negated ? QStringLiteral("^") : QString()) + body + QLatin1Char(']');
}

} // namespace

QString AddressDatabase::sortColumnName(int column) {
    return std::find(std::begin(kSortColumns), std::end(kSortColumns), column) !=
                   std::end(kSortColumns)
               ? QString::fromLatin1(kColumnNames[column])
               : QString();
}

bool AddressDatabase::sortsByBytes(const QString& where, const QVariantList& binds,
                                   const QString& column, bool& out) {
    out = false;
    if (!usable())
        return false;
    for (const CodeUnitOrderedTexts& set : codeUnitOrderedTexts()) {
        QString fits;
        QVariantList values;
        if (set.macForm) {
            if (m_server) {
                fits = QStringLiteral("%1 ~ ?").arg(column);
                values << QStringLiteral("^[%1]{2}(:[%1]{2}){5}$").arg(set.alphabet);
            } else {
                fits = QStringLiteral("%1 GLOB ?").arg(column);
                const QString pair = globClass(set.alphabet, false).repeated(2);
                values << QStringList(6, pair).join(QLatin1Char(':'));
            }
        } else if (m_server) {
            // Of the alphabet only, not all digits (a number) and not a date.
            fits = QStringLiteral("translate(%1, ?, '') = '' AND translate(%1, '0123456789', '') "
                                  "<> '' AND %1 !~ '^[0-9]{2}/[0-9]{2}/[0-9]{4}$'")
                       .arg(column);
            values << set.alphabet;
        } else {
            // Of the alphabet only: with all of ASCII, as many bytes as
            // characters (and no NUL, where length() stops); else nothing
            // left once its characters are trimmed. Either reads a text once;
            // a GLOB class retried at every place costs many times more on a
            // large book.
            const bool ascii = set.alphabet.size() == 127 &&
                               std::all_of(set.alphabet.cbegin(), set.alphabet.cend(), [](QChar c) {
                                   return c.unicode() > 0 && c.unicode() < 128;
                               });
            fits = (ascii ? QStringLiteral("length(CAST(%1 AS BLOB)) = length(%1)")
                          : QStringLiteral("rtrim(%1, ?) = ''")) +
                   QStringLiteral(" AND %1 GLOB '*[^0-9]*' AND %1 NOT GLOB "
                                  "'[0-9][0-9]/[0-9][0-9]/[0-9][0-9][0-9][0-9]'");
            fits = fits.arg(column);
            if (!ascii)
                values << set.alphabet;
        }
        // A NULL lists as an empty text but sorts apart from them.
        const QString misfit =
            QStringLiteral("(%1 IS NULL OR NOT (%1 = '' OR (%2)))").arg(column, fits);
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.setForwardOnly(true);
        if (!prepare(q, QStringLiteral("SELECT 1 FROM node") +
                            whereClause(andWhere(where, misfit)) + QStringLiteral(" LIMIT 1")))
            return false;
        for (const QVariant& v : binds)
            q.addBindValue(v);
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!run(q))
            return false;
        if (!q.next()) {
            if (q.lastError().isValid())
                return fail(Failure::Engine, describe(q.lastError()));
            out = true;
            return true;
        }
    }
    return true;
}

namespace {

struct SortSql {
    QString keys;    // the key columns as selected and compared
    QStringList key; // one expression per key
    QString order;   // the ORDER BY list
};

SortSql sortSql(const NodeOrder& order, bool server, bool reverse, qsizetype from = 0) {
    SortSql out;
    const QString collate =
        server ? QStringLiteral(" COLLATE \"C\"") : QStringLiteral(" COLLATE BINARY");
    QStringList terms;
    for (qsizetype i = 0; i < order.size(); ++i) {
        const QString e = order[i].column + collate;
        out.key << e;
        if (i >= from)
            terms << e + (order[i].ascending != reverse ? QStringLiteral(" ASC")
                                                        : QStringLiteral(" DESC"));
    }
    terms << (reverse ? QStringLiteral("rowid DESC") : QStringLiteral("rowid ASC"));
    out.order = terms.join(QStringLiteral(", "));
    out.keys = out.key.join(QStringLiteral(", "));
    return out;
}

// The rows beyond (`after`) or before a row among those equal to it in the
// keys before `from`: keys from `from` on, then the row key.
QString beyond(const SortSql& sql, const NodeOrder& order, qsizetype from, bool after,
               const NodeCursor& at, QVariantList& binds) {
    QStringList alternatives;
    QStringList equal;
    QVariantList equalBinds;
    for (qsizetype i = from; i < order.size(); ++i) {
        const bool greater = order[i].ascending == after;
        QStringList terms = equal;
        terms << sql.key[i] + (greater ? QStringLiteral(" > ?") : QStringLiteral(" < ?"));
        alternatives << QLatin1Char('(') + terms.join(QStringLiteral(" AND ")) + QLatin1Char(')');
        binds << equalBinds << at.texts.value(i);
        equal << sql.key[i] + QStringLiteral(" = ?");
        equalBinds << at.texts.value(i);
    }
    QStringList terms = equal;
    terms << (after ? QStringLiteral("rowid > ?") : QStringLiteral("rowid < ?"));
    alternatives << QLatin1Char('(') + terms.join(QStringLiteral(" AND ")) + QLatin1Char(')');
    binds << equalBinds << at.rowid;
    return QLatin1Char('(') + alternatives.join(QStringLiteral(" OR ")) + QLatin1Char(')');
}

} // namespace

bool AddressDatabase::readSortedNodePage(const QString& where, const QVariantList& binds,
                                         const NodeOrder& order, qint64 offset, int limit,
                                         qint64 total, QList<QStringList>& out,
                                         const NodeCursor* after, NodeCursor* last) {
    if (!usable())
        return false;
    if (order.isEmpty() || limit <= 0)
        return true;
    const QString select = kSelectNodes.left(kSelectNodes.indexOf(QLatin1String(" FROM node"))) +
                           QStringLiteral(", rowid, ");
    // `backwards`: the listing's last row is the first one read.
    const auto read = [&](const SortSql& sql, const QString& condition, const QVariantList& values,
                          qint64 skip, int n, bool backwards = false) {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.setForwardOnly(true);
        if (!prepare(q, select + sql.keys + QStringLiteral(" FROM node") +
                            whereClause(andWhere(where, condition)) + QStringLiteral(" ORDER BY ") +
                            sql.order + QStringLiteral(" LIMIT ? OFFSET ?")))
            return -1;
        for (const QVariant& v : binds)
            q.addBindValue(v);
        for (const QVariant& v : values)
            q.addBindValue(v);
        q.addBindValue(n);
        q.addBindValue(skip);
        if (!run(q))
            return -1;
        int got = 0;
        while (q.next()) {
            out.append(nodeTexts(q));
            if (last && (!backwards || got == 0)) {
                last->rowid = q.value(kNodeColumns).toLongLong();
                last->texts.clear();
                for (qsizetype k = 0; k < order.size(); ++k)
                    last->texts << text(q, kNodeColumns + 1 + int(k));
            }
            ++got;
        }
        if (q.lastError().isValid()) {
            fail(Failure::Engine, describe(q.lastError()));
            return -1;
        }
        return got;
    };
    if (after && after->rowid >= 0) {
        // Keyset reading in two steps an index serves: the rest of the rows
        // equal to `after` in the first key, then the rows beyond it.
        const SortSql sql = sortSql(order, m_server, false);
        QVariantList values{after->texts.value(0)};
        QString same = sql.key[0] + QStringLiteral(" = ? AND ");
        same += beyond(sql, order, 1, true, *after, values);
        const int got = read(sortSql(order, m_server, false, 1), same, values, 0, limit);
        if (got < 0)
            return false;
        if (got == limit)
            return true;
        const QString past =
            sql.key[0] + (order[0].ascending ? QStringLiteral(" > ?") : QStringLiteral(" < ?"));
        return read(sql, past, {after->texts.value(0)}, 0, limit - got) >= 0;
    }
    if (total > 0 && offset * 2 > total && offset < total) {
        // Nearer the end: read backwards from there, skipping fewer rows.
        const qint64 n = qMin<qint64>(limit, total - offset);
        const qsizetype had = out.size();
        const int got =
            read(sortSql(order, m_server, true), {}, {}, total - offset - n, int(n), true);
        if (got < 0)
            return false;
        std::reverse(out.begin() + had, out.end());
        return true;
    }
    return read(sortSql(order, m_server, false), {}, {}, offset, limit) >= 0;
}

bool AddressDatabase::nodePosition(const QString& where, const QVariantList& binds,
                                   const NodeOrder& order, qint64 rowid, qint64& out) {
    out = -1;
    if (!usable() || order.isEmpty())
        return false;
    const SortSql sql = sortSql(order, m_server, false);
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!prepare(q, QStringLiteral("SELECT ") + sql.keys +
                        QStringLiteral(" FROM node WHERE rowid = ?")))
        return false;
    q.addBindValue(rowid);
    if (!run(q))
        return false;
    if (!q.next())
        return fail(Failure::Engine, describe(q.lastError()));
    NodeCursor at{{}, rowid};
    for (qsizetype k = 0; k < order.size(); ++k)
        at.texts << text(q, int(k));
    q.finish();
    // Before it in the first key, then before it among its equals there.
    qint64 before = 0;
    qint64 equals = 0;
    QVariantList values{at.texts[0]};
    const QString same =
        sql.key[0] + QStringLiteral(" = ? AND ") + beyond(sql, order, 1, false, at, values);
    QVariantList firstBinds = binds;
    firstBinds << at.texts[0];
    QVariantList sameBinds = binds;
    sameBinds << values;
    if (!countNodes(andWhere(where, sql.key[0] + (order[0].ascending ? QStringLiteral(" < ?")
                                                                     : QStringLiteral(" > ?"))),
                    firstBinds, before) ||
        !countNodes(andWhere(where, same), sameBinds, equals))
        return false;
    out = before + equals;
    return true;
}

} // namespace qarsilo
