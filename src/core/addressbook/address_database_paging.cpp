#include "core/addressbook/address_database.h"
#include "core/addressbook/address_database_sql.h"

#include <QCryptographicHash>
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

namespace {

// Whether `text` is empty or of `set`: what the conditions of
// scanSortsByBytes test, in C++.
bool ofCodeUnitSet(const QString& text, const CodeUnitOrderedTexts& set) {
    if (text.isEmpty())
        return true;
    if (set.macForm) {
        if (text.size() != 17)
            return false;
        for (qsizetype i = 0; i < text.size(); ++i)
            if (i % 3 == 2 ? text[i] != QLatin1Char(':') : !set.alphabet.contains(text[i]))
                return false;
        return true;
    }
    for (QChar c : text)
        if (!set.alphabet.contains(c))
            return false;
    // Neither all digits (a number) nor a date.
    return reportTextKind(text) == ReportTextKind::Text;
}

// The index that gives a column's byte order (ensureSearchIndexes).
QString byteIndexName(const QString& column, bool server) {
    if (!server && column == QLatin1String("MAC"))
        return QStringLiteral("node_mac_exact");
    if (!server && column == QLatin1String("IP"))
        return QStringLiteral("node_ip");
    return QStringLiteral("node_%1_bytes").arg(column.toLower());
}

// Distinct texts read from a column's index at most: a column of more (a MAC,
// a name) is read whole instead, which costs less than so many lookups.
constexpr int kDistinctHops = 2048;

} // namespace

bool AddressDatabase::sortsByBytes(const QString& where, const QVariantList& binds,
                                   const QString& column, bool& out) {
    out = false;
    if (!usable())
        return false;
    // The answer for the whole book holds for every part of it where every
    // text fits, and it is found from the column's distinct texts alone.
    // The book's count of writes is read before its texts: a write made while
    // they are read leaves the answer kept below out of date, never wrong.
    const std::optional<qint64> writes = nodeWrites();
    std::optional<bool> whole;
    if (!distinctSortsByBytes(column, writes, whole))
        return false;
    if (whole && (*whole || where.isEmpty())) {
        out = *whole;
        return true;
    }
    if (!where.isEmpty())
        return scanSortsByBytes(where, binds, column, out);
    // Kept as the distinct texts' answer is: the next listing of the whole
    // book asks again.
    const std::optional<ChangeStamp> stamp = changeStamp();
    if (!scanSortsByBytes(where, binds, column, out))
        return false;
    if (stamp)
        m_byteOrder.insert(column, {*stamp, &codeUnitOrderedTexts(), out});
    if (out && writes)
        keepBytewise(column, *writes);
    return true;
}

bool AddressDatabase::holdsOneText(const QString& where, const QVariantList& binds,
                                   const QString& column, bool& out) {
    out = false;
    if (!usable())
        return false;
    // The first and the last in byte order: the same text (no NULL, which
    // sorts first on a file and last on a server) means one text throughout.
    const QString collate =
        m_server ? QStringLiteral(" COLLATE \"C\"") : QStringLiteral(" COLLATE BINARY");
    QVariant ends[2];
    for (int i = 0; i < 2; ++i) {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.setForwardOnly(true);
        if (!prepare(q, QStringLiteral("SELECT %1 FROM node").arg(column) + whereClause(where) +
                            QStringLiteral(" ORDER BY ") + column + collate +
                            (i ? QStringLiteral(" DESC") : QStringLiteral(" ASC")) +
                            QStringLiteral(" LIMIT 1")))
            return false;
        for (const QVariant& v : binds)
            q.addBindValue(v);
        if (!run(q))
            return false;
        if (!q.next()) {
            if (q.lastError().isValid())
                return fail(Failure::Engine, describe(q.lastError()));
            return true; // nothing selected
        }
        ends[i] = q.value(0);
    }
    out = !ends[0].isNull() && !ends[1].isNull() && ends[0].typeId() == QMetaType::QString &&
          ends[1].typeId() == QMetaType::QString && ends[0].toString() == ends[1].toString();
    return true;
}

bool AddressDatabase::firstInByteOrder(const QString& column, bool descending, QVariant& out) {
    out = QStringLiteral(""); // no rows: nothing but texts
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!prepare(q, QStringLiteral("SELECT %1 FROM node ORDER BY %1 %2 %3 LIMIT 1")
                        .arg(column,
                             m_server ? QStringLiteral("COLLATE \"C\"")
                                      : QStringLiteral("COLLATE BINARY"),
                             descending ? QStringLiteral("DESC") : QStringLiteral("ASC"))) ||
        !run(q))
        return false;
    if (q.next())
        out = q.value(0);
    else if (q.lastError().isValid())
        return fail(Failure::Engine, describe(q.lastError()));
    return true;
}

namespace {

// Names the text sets an answer was found for (they differ by locale).
QString setsKey(const std::vector<CodeUnitOrderedTexts>& sets) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const CodeUnitOrderedTexts& set : sets) {
        hash.addData(set.macForm ? QByteArrayView("m") : QByteArrayView("t"));
        hash.addData(set.alphabet.toUtf8());
        hash.addData(QByteArrayView("\n"));
    }
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

// Which node table an answer was kept for: on a server, one made anew
// (with a new change counter) has another identity. A file's loses its
// triggers instead.
QString AddressDatabase::nodeTable() const {
    return m_server ? QStringLiteral("'node'::regclass::oid::bigint") : QStringLiteral("0");
}

std::optional<qint64> AddressDatabase::nodeWrites() {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(m_server ? QStringLiteral("SELECT N FROM changecount")
                         : QStringLiteral("SELECT N FROM nodewrites")) ||
        !q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

bool AddressDatabase::knownBytewise(const QString& column, qint64 writes) {
    // Only while the book counts every program's writes: the triggers that
    // count them may be gone (a node table made anew by another tool).
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    const QString counting =
        m_server ? QStringLiteral("EXISTS (SELECT 1 FROM pg_trigger WHERE tgname = "
                                  "'qarsilo_counted' AND tgrelid = 'node'::regclass)")
                 : QStringLiteral("(SELECT count(*) FROM sqlite_master WHERE type = 'trigger' "
                                  "AND tbl_name = 'node' AND name IN ('qarsilo_counted_insert', "
                                  "'qarsilo_counted_update')) = 2");
    if (!q.prepare(QStringLiteral("SELECT 1 FROM sortcheck WHERE COL = ? AND SETS = ? AND N = ? "
                                  "AND T = ") +
                   nodeTable() + QStringLiteral(" AND ") + counting))
        return false;
    q.addBindValue(column);
    q.addBindValue(setsKey(codeUnitOrderedTexts()));
    q.addBindValue(writes);
    return q.exec() && q.next();
}

void AddressDatabase::keepBytewise(const QString& column, qint64 writes) {
    if (m_readOnly || m_inTransaction)
        return;
    // A book that cannot keep it (an earlier version's, a role without the
    // right) checks again next time.
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.prepare(m_server ? QStringLiteral("INSERT INTO sortcheck (COL, SETS, N, T) VALUES (?, "
                                             "?, ?, %1) ON CONFLICT (COL, SETS) DO UPDATE SET N "
                                             "= EXCLUDED.N, T = EXCLUDED.T")
                                  .arg(nodeTable())
                            : QStringLiteral("INSERT OR REPLACE INTO sortcheck (COL, SETS, N, T) "
                                             "VALUES (?, ?, ?, 0)")))
        return;
    q.addBindValue(column);
    q.addBindValue(setsKey(codeUnitOrderedTexts()));
    q.addBindValue(writes);
    q.exec();
}

bool AddressDatabase::distinctSortsByBytes(const QString& column, std::optional<qint64> writes,
                                           std::optional<bool>& out) {
    out.reset();
    const std::vector<CodeUnitOrderedTexts>& sets = codeUnitOrderedTexts();
    const std::optional<ChangeStamp> stamp = changeStamp();
    if (!stamp)
        return false;
    // Known since nothing was written: each new listing (a keystroke of a
    // search) asks again.
    if (const auto known = m_byteOrder.constFind(column);
        known != m_byteOrder.cend() && known->stamp == *stamp && known->sets == &sets) {
        out = known->bytewise;
        return true;
    }
    const auto remember = [&] {
        if (out)
            m_byteOrder.insert(column, {*stamp, &sets, *out});
        return true;
    };
    // Kept in the book by an earlier check (of any connection), while no node
    // was added or changed since. Only a yes is kept: deleting rows never
    // makes it wrong.
    if (writes && knownBytewise(column, *writes)) {
        out = true;
        return remember();
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // Without its index every step below would read the whole table.
    if (!prepare(q, m_server ? QStringLiteral("SELECT 1 FROM pg_indexes WHERE schemaname = "
                                              "current_schema() AND tablename = 'node' AND "
                                              "indexname = ?")
                             : QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'index' "
                                              "AND name = ?")))
        return false;
    q.addBindValue(byteIndexName(column, m_server));
    if (!run(q))
        return false;
    const bool indexed = q.next();
    if (q.lastError().isValid())
        return fail(Failure::Engine, describe(q.lastError()));
    q.finish();
    if (!indexed)
        return true;
    // A NULL lists as an empty text but sorts apart from them. The first
    // value of the index in one direction tells whether there is one (and,
    // on a file, whether numbers come before the texts), where asking for
    // NULL would read the whole index.
    QVariant end;
    if (!firstInByteOrder(column, m_server, end))
        return false;
    if (end.isNull()) {
        out = false;
        return remember();
    }
    if (end.typeId() != QMetaType::QString)
        return true;
    // Each step finds the next greater text in the index.
    const QString collate =
        m_server ? QStringLiteral("COLLATE \"C\"") : QStringLiteral("COLLATE BINARY");
    const QString first =
        QStringLiteral("SELECT (SELECT %1 FROM node WHERE %1 IS NOT NULL ORDER BY %1 %2 LIMIT 1)")
            .arg(column, collate);
    const QString next = QStringLiteral("SELECT (SELECT %1 FROM node WHERE %1 %2 > d.v ORDER BY "
                                        "%1 %2 LIMIT 1) FROM d WHERE d.v IS NOT NULL")
                             .arg(column, collate);
    // The server stops the recursion where the outer query stops reading.
    const QString sql =
        m_server ? QStringLiteral("WITH RECURSIVE d(v) AS (%1 UNION ALL %2) SELECT v FROM d "
                                  "WHERE v IS NOT NULL LIMIT ?")
                       .arg(first, next)
                 : QStringLiteral("WITH RECURSIVE d(v) AS (%1 UNION ALL %2 LIMIT ?) SELECT v "
                                  "FROM d WHERE v IS NOT NULL")
                       .arg(first, next);
    if (!prepare(q, sql))
        return false;
    q.addBindValue(kDistinctHops + 1);
    if (!run(q))
        return false;
    QStringList texts;
    while (q.next()) {
        const QVariant v = q.value(0);
        // A number or blob written by another tool: the steps compare texts,
        // so the column is read whole instead.
        if (v.typeId() != QMetaType::QString)
            return true;
        texts << v.toString();
    }
    if (q.lastError().isValid())
        return fail(Failure::Engine, describe(q.lastError()));
    if (texts.size() > kDistinctHops)
        return true;
    out = std::any_of(sets.cbegin(), sets.cend(), [&texts](const CodeUnitOrderedTexts& set) {
        return std::all_of(texts.cbegin(), texts.cend(),
                           [&set](const QString& t) { return ofCodeUnitSet(t, set); });
    });
    if (*out && writes)
        keepBytewise(column, *writes);
    return remember();
}

bool AddressDatabase::scanSortsByBytes(const QString& where, const QVariantList& binds,
                                       const QString& column, bool& out) {
    out = false;
    // The whole book is read from the column's index alone when it holds
    // texts only (no NULL, no number of another tool): a fraction of the
    // table's pages.
    QString range;
    if (where.isEmpty() && !m_server) {
        // NULLs first, then numbers, then texts.
        QVariant first;
        if (!firstInByteOrder(column, false, first))
            return false;
        if (!first.isNull() && first.typeId() == QMetaType::QString)
            range = QStringLiteral("%1 COLLATE BINARY >= ''").arg(column);
    }
    for (const CodeUnitOrderedTexts& set : codeUnitOrderedTexts()) {
        QString fits;
        QVariantList values;
        // Of all of ASCII: as many bytes as characters (and no NUL, where
        // SQLite's length() stops) reads a text once; a class of characters
        // tried at every place costs many times more on a large book.
        const bool ascii = set.alphabet.size() == 127 &&
                           std::all_of(set.alphabet.cbegin(), set.alphabet.cend(), [](QChar c) {
                               return c.unicode() > 0 && c.unicode() < 128;
                           });
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
            // Of the alphabet only, not all digits (a number) and not a date
            // (ten characters long first: cheaper than the pattern).
            fits = (ascii ? QStringLiteral("octet_length(%1) = length(%1)")
                          : QStringLiteral("translate(%1, ?, '') = ''")) +
                   QStringLiteral(" AND translate(%1, '0123456789', '') <> '' AND (length(%1) <> "
                                  "10 OR %1 !~ '^[0-9]{2}/[0-9]{2}/[0-9]{4}$')");
            fits = fits.arg(column);
            if (!ascii)
                values << set.alphabet;
        } else {
            // Of the alphabet only: with all of ASCII, see above; else
            // nothing left once its characters are trimmed.
            fits = (ascii ? QStringLiteral("length(CAST(%1 AS BLOB)) = length(%1)")
                          : QStringLiteral("rtrim(%1, ?) = ''")) +
                   QStringLiteral(" AND %1 GLOB '*[^0-9]*' AND (length(%1) <> 10 OR %1 NOT GLOB "
                                  "'[0-9][0-9]/[0-9][0-9]/[0-9][0-9][0-9][0-9]')");
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
                            whereClause(andWhere(range.isEmpty() ? where : range, misfit)) +
                            QStringLiteral(" LIMIT 1")))
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
        // The page's rows are picked by their keys and row keys first, which
        // an index of the first key holds: sorting the rows equal in it (a
        // descending order keeps their table order) then reads no table row.
        if (!prepare(q, select + sql.keys +
                            QStringLiteral(" FROM node WHERE rowid IN (SELECT rowid FROM node") +
                            whereClause(andWhere(where, condition)) + QStringLiteral(" ORDER BY ") +
                            sql.order + QStringLiteral(" LIMIT ? OFFSET ?) ORDER BY ") + sql.order))
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
    if (offset == 0 && order.size() == 1) {
        // The first page lies among the rows equal to the first one in the
        // first key when there are enough of them: those are found by that
        // key's value and read in table order, which the key's index gives
        // at once (a descending key sorted its equals otherwise). Too few,
        // and the page is read as any other; with later keys the engine's
        // own plan for the whole order was found quicker.
        const SortSql sql = sortSql(order, m_server, false);
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.setForwardOnly(true);
        if (!prepare(q,
                     QStringLiteral("SELECT ") + sql.key[0] + QStringLiteral(" FROM node") +
                         whereClause(where) + QStringLiteral(" ORDER BY ") + sql.key[0] +
                         (order[0].ascending ? QStringLiteral(" ASC") : QStringLiteral(" DESC")) +
                         QStringLiteral(" LIMIT 1")))
            return false;
        for (const QVariant& v : binds)
            q.addBindValue(v);
        if (!run(q))
            return false;
        const QVariant first = q.next() ? q.value(0) : QVariant();
        if (q.lastError().isValid())
            return fail(Failure::Engine, describe(q.lastError()));
        q.finish();
        if (!first.isNull() && first.typeId() == QMetaType::QString) {
            const qsizetype had = out.size();
            const NodeCursor before = last ? *last : NodeCursor{};
            const int got = read(sortSql(order, m_server, false, 1),
                                 sql.key[0] + QStringLiteral(" = ?"), {first}, 0, limit);
            if (got < 0)
                return false;
            if (got == limit)
                return true;
            out.remove(had, out.size() - had);
            if (last)
                *last = before;
        }
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
    return nodePosition(where, binds, order, rowid, -1, out);
}

bool AddressDatabase::nodePosition(const QString& where, const QVariantList& binds,
                                   const NodeOrder& order, qint64 rowid, qint64 total,
                                   qint64& out) {
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
    const QString earlier =
        sql.key[0] + (order[0].ascending ? QStringLiteral(" < ?") : QStringLiteral(" > ?"));
    if (total >= 0) {
        // A row near the end (a descending click moves the first row there):
        // the few rows from it on in the first key are counted instead of
        // all those before it. Elsewhere this costs a bounded count more.
        constexpr qint64 kNearEnd = 65536;
        const QString later =
            sql.key[0] + (order[0].ascending ? QStringLiteral(" >= ?") : QStringLiteral(" <= ?"));
        qint64 n = 0;
        if (!countNodes(andWhere(where, later), firstBinds, n, kNearEnd))
            return false;
        if (n < kNearEnd)
            before = qMax<qint64>(0, total - n);
        else if (!countNodes(andWhere(where, earlier), firstBinds, before))
            return false;
    } else if (!countNodes(andWhere(where, earlier), firstBinds, before)) {
        return false;
    }
    if (!countNodes(andWhere(where, same), sameBinds, equals))
        return false;
    out = before + equals;
    return true;
}

} // namespace qarsilo
