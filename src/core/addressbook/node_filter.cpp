#include "core/addressbook/node_filter.h"

#include <QLocale>

namespace qarsilo {

NodeFilter NodeFilter::forTreeItem(const QString& text, const QString& parentText) {
    if (text == tree::all)
        return {Kind::All, {}};
    if (text.isEmpty() || text == tree::byWorkgroup || text == tree::byIpRange ||
        text == tree::byLocation)
        return {Kind::Unchanged, {}};
    if (parentText == tree::byWorkgroup)
        return {Kind::Workgroup, text};
    if (parentText == tree::byIpRange)
        return {Kind::IpRange, text};
    if (parentText == tree::byLocation)
        return {Kind::Location, text};
    return {Kind::Unchanged, {}};
}

NodeFilter NodeFilter::forName(const QString& typed) {
    if (typed.isEmpty())
        return {Kind::All, {}};
    return {Kind::Name, typed};
}

NodeFilter NodeFilter::forAddress(int a, int b, int c, int d) {
    const QString prefix = addressSearchPrefix(a, b, c, d);
    if (prefix.isEmpty())
        return {Kind::All, {}};
    return {Kind::Address, prefix};
}

int NodeFilter::column() const {
    switch (kind) {
    case Kind::All:
    case Kind::Unchanged:
        return -1;
    case Kind::Workgroup:
        return 4;
    case Kind::Location:
        return 8;
    case Kind::IpRange:
        return 9;
    case Kind::Name:
        return 3;
    case Kind::Address:
        return 1;
    }
    return -1;
}

bool NodeFilter::matchesText(const QString& text) const {
    switch (kind) {
    case Kind::All:
    case Kind::Unchanged:
        return true;
    case Kind::Workgroup:
    case Kind::Location:
    case Kind::IpRange:
        return text.compare(value, Qt::CaseInsensitive) == 0;
    case Kind::Name:
        return text.startsWith(value, Qt::CaseInsensitive);
    case Kind::Address:
        // Text, not numbers: "10.1" also finds 10.10.0.5 while it is typed.
        return text.startsWith(value);
    }
    return false;
}

bool NodeFilter::matches(const QStringList& texts) const {
    const int c = column();
    return c < 0 || matchesText(c < texts.size() ? texts[c] : QString());
}

bool NodeFilter::matches(const NodeRecord& node) const {
    const QString* const fields[] = {&node.mac,    &node.ip,          &node.ipv6,
                                     &node.name,   &node.workgroup,   &node.domainName,
                                     &node.date,   &node.description, &node.location,
                                     &node.subnet, &node.type};
    const int c = column();
    return c < 0 || matchesText(*fields[c]);
}

QString addressSearchPrefix(int a, int b, int c, int d) {
    if (d != 0)
        return ipv4Text(a, b, c, d);
    if (c != 0)
        return QStringLiteral("%1.%2.%3").arg(a).arg(b).arg(c);
    if (b != 0)
        return QStringLiteral("%1.%2").arg(a).arg(b);
    if (a != 0)
        return QString::number(a);
    return {};
}

QString nodeDateText(const QDateTime& local) {
    return QLocale::c().toString(local, QStringLiteral("dd MMM yyyy, HH:mm:ss"));
}

QString ipv4Text(int a, int b, int c, int d) {
    return QStringLiteral("%1.%2.%3.%4").arg(a).arg(b).arg(c).arg(d);
}

QString subnetText(int a, int b, int c) {
    return QStringLiteral("%1.%2.%3.0").arg(a).arg(b).arg(c);
}

} // namespace qarsilo
