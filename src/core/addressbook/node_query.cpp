#include "core/addressbook/node_query.h"

namespace qarsilo {

namespace {

bool isAscii(const QString& s) {
    for (QChar c : s)
        if (c.unicode() >= 128)
            return false;
    return true;
}

QString asciiLower(const QString& s) {
    QString out = s;
    for (QChar& c : out)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    return out;
}

// A LIKE pattern that matches `value` literally at the start ('\' escapes).
QString likePrefix(const QString& value) {
    QString out;
    out.reserve(value.size() + 2);
    for (QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out + QLatin1Char('%');
}

} // namespace

std::optional<NodeFilterSql> nodeFilterSql(const NodeFilter& filter, bool server, bool scan) {
    const QString& v = filter.value;
    if (!isAscii(v))
        return std::nullopt;
    // SQLite's LIKE and NOCASE fold ASCII letters only; on PostgreSQL the
    // column is lowered and the value lowered the same way.
    const QString plus = scan && !server ? QStringLiteral("+") : QString();
    const auto equalNoCase = [&](const char* column) -> NodeFilterSql {
        const QString c = QString::fromLatin1(column);
        if (server)
            return {QStringLiteral("lower(%1) = ?").arg(c), {asciiLower(v)}};
        return {QStringLiteral("%1%2 = ? COLLATE NOCASE").arg(plus, c), {v}};
    };
    switch (filter.kind) {
    case NodeFilter::Kind::All:
    case NodeFilter::Kind::Unchanged:
        return NodeFilterSql{};
    case NodeFilter::Kind::Workgroup:
        return equalNoCase("WORKGROUP");
    case NodeFilter::Kind::Location:
        return equalNoCase("LOCATION");
    case NodeFilter::Kind::IpRange:
        return equalNoCase("SUBNET");
    case NodeFilter::Kind::Name:
        if (server)
            return NodeFilterSql{QStringLiteral("lower(NAME) LIKE ?"), {likePrefix(asciiLower(v))}};
        return NodeFilterSql{QStringLiteral("%1NAME LIKE ? ESCAPE '\\'").arg(plus),
                             {likePrefix(v)}};
    case NodeFilter::Kind::Address:
        if (server)
            return NodeFilterSql{QStringLiteral("IP LIKE ?"), {likePrefix(v)}};
        // GLOB is the letter-case exact prefix match; its wildcards are
        // refused rather than escaped (the search types digits and dots).
        for (QChar c : v)
            if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('['))
                return std::nullopt;
        return NodeFilterSql{QStringLiteral("%1IP GLOB ?").arg(plus), {v + QLatin1Char('*')}};
    }
    return std::nullopt;
}

namespace {

// The bounds of a name or address prefix filter: the texts it matches are
// exactly those from `from` up to, not including, `next`, compared as `column`
// with `collate` (see nodePrefixComplement).
struct PrefixBounds {
    QString column;
    QString from;
    QString next;
    bool noCase = false;
};

std::optional<PrefixBounds> prefixBounds(const NodeFilter& filter, bool server);

} // namespace

std::optional<NodeFilterSql> nodePrefixRange(const NodeFilter& filter, bool server) {
    const std::optional<PrefixBounds> b = prefixBounds(filter, server);
    if (!b)
        return std::nullopt;
    if (server) {
        const QString compared = b->noCase ? QStringLiteral("lower(%1)").arg(b->column) : b->column;
        return NodeFilterSql{QStringLiteral("%1 ~>=~ ? AND %1 ~<~ ?").arg(compared),
                             {b->from, b->next}};
    }
    // GLOB, the address search, tells letter case apart whatever the column
    // was declared with.
    const QString collate =
        b->noCase ? QStringLiteral(" COLLATE NOCASE") : QStringLiteral(" COLLATE BINARY");
    return NodeFilterSql{QStringLiteral("%1 >= ?%2 AND %1 < ?%2").arg(b->column, collate),
                         {b->from, b->next}};
}

namespace {

std::optional<PrefixBounds> prefixBounds(const NodeFilter& filter, bool server) {
    QString column;
    QString prefix = filter.value;
    if (filter.kind == NodeFilter::Kind::Name) {
        column = QStringLiteral("NAME");
        prefix = asciiLower(prefix);
    } else if (filter.kind == NodeFilter::Kind::Address) {
        column = QStringLiteral("IP");
    }
    // The texts that begin with the prefix are exactly those from it up to,
    // not including, the prefix with its last character one higher: in byte
    // order (PostgreSQL's pattern operators on the lowered name), or in
    // NOCASE order, which compares the texts with their ASCII capitals made
    // small (SQLite).
    if (column.isEmpty() || prefix.isEmpty() || !isAscii(prefix) || prefix.back().unicode() >= 127)
        return std::nullopt;
    QString next = prefix;
    next.back() = QChar(next.back().unicode() + 1);
    const bool noCase = filter.kind == NodeFilter::Kind::Name;
    // A capital would be made small again by NOCASE.
    if (noCase && !server && asciiLower(next) != next)
        return std::nullopt;
    return PrefixBounds{column, prefix, next, noCase};
}

} // namespace

std::optional<QList<NodeFilterSql>> nodePrefixComplement(const NodeFilter& filter, bool server) {
    const std::optional<PrefixBounds> b = prefixBounds(filter, server);
    if (!b)
        return std::nullopt;
    const QString& column = b->column;
    const QString& prefix = b->from;
    const QString& next = b->next;
    const bool noCase = b->noCase;
    QString below, from;
    if (server) {
        const QString compared = noCase ? QStringLiteral("lower(%1)").arg(column) : column;
        below = compared + QStringLiteral(" ~<~ ?");
        from = compared + QStringLiteral(" ~>=~ ?");
    } else {
        const QString collate = noCase ? QStringLiteral(" COLLATE NOCASE") : QString();
        below = QStringLiteral("%1 < ?%2").arg(column, collate);
        from = QStringLiteral("%1 >= ?%2").arg(column, collate);
    }
    // Books made by other tools may hold no value at all, which no prefix
    // matches.
    return QList<NodeFilterSql>{
        {below, {prefix}},
        {from, {next}},
        {QStringLiteral("%1 IS NULL").arg(column), {}},
    };
}

} // namespace qarsilo
