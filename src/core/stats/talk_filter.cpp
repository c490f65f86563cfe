#include "core/stats/talk_filter.h"

namespace qarsilo {

namespace {

QString macText(const TalkAddress& a) {
    return talkAddressText(a, TalkType::Ethernet);
}

// The bare address, without a port.
QString ipText(const TalkAddress& a) {
    return talkAddressText(a, a.family == 4 ? TalkType::IPv4 : TalkType::IPv6);
}

QString ipProto(const TalkAddress& a) {
    return a.family == 4 ? QStringLiteral("ip") : QStringLiteral("ip6");
}

// One side of a frame: its IP address and, for TCP and UDP, its port.
// `dir` is "src" or "dst".
QString side(TalkType type, const TalkAddress& a, const char* dir) {
    const QString d = QLatin1String(dir);
    QString s = ipProto(a) + QLatin1Char(' ') + d + QStringLiteral(" host ") + ipText(a);
    if (type == TalkType::Tcp || type == TalkType::Udp)
        s += QStringLiteral(" and ") +
             (type == TalkType::Tcp ? QStringLiteral("tcp ") : QStringLiteral("udp ")) + d +
             QStringLiteral(" port ") + QString::number(a.port);
    return s;
}

// The IP header may follow up to two VLAN tags. libpcap's "vlan" moves the
// offsets of everything after it, so the tagged cases nest to its right.
QString behindVlans(const QString& untagged) {
    const QString p = QLatin1Char('(') + untagged + QLatin1Char(')');
    return p + QStringLiteral(" or (vlan and (") + p + QStringLiteral(" or (vlan and ") + p +
           QStringLiteral(")))");
}

} // namespace

QString talkConversationFilter(TalkType type, const TalkAddress& a, const TalkAddress& b) {
    if (type == TalkType::Ethernet)
        return QStringLiteral("(ether src %1 and ether dst %2) or (ether src %2 and ether dst %1)")
            .arg(macText(a), macText(b));
    const QString ab = side(type, a, "src") + QStringLiteral(" and ") + side(type, b, "dst");
    if (a == b)
        return behindVlans(ab);
    const QString ba = side(type, b, "src") + QStringLiteral(" and ") + side(type, a, "dst");
    return behindVlans(QLatin1Char('(') + ab + QStringLiteral(") or (") + ba + QLatin1Char(')'));
}

QString talkEndpointFilter(TalkType type, const TalkAddress& address) {
    if (type == TalkType::Ethernet)
        return QStringLiteral("ether host ") + macText(address);
    return behindVlans(QLatin1Char('(') + side(type, address, "src") + QStringLiteral(") or (") +
                       side(type, address, "dst") + QLatin1Char(')'));
}

} // namespace qarsilo
