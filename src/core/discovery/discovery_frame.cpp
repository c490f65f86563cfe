#include "core/discovery/discovery_frame.h"

#include "core/analysis/frame_reader.h"
#include "core/analysis/text_format.h"

#include <QDateTime>
#include <QLocale>
#include <QTime>

namespace qarsilo {

namespace {

constexpr std::size_t kEtherType = 12;
constexpr std::size_t kIpStart = 14;
constexpr std::size_t kIpProtocol = 23;
constexpr std::size_t kSourceIp = 26;
constexpr std::size_t kDestinationIp = 30;
// The encoded names, each after its length byte.
constexpr std::size_t kSourceName = kNetbiosSourceName;
constexpr std::size_t kDestinationName = kNetbiosDestinationName;
constexpr std::uint16_t kIpv4 = 0x0800;
constexpr std::uint8_t kUdp = 17;

bool isIpv4(const FrameReader& r) {
    const auto type = r.be16(kEtherType);
    const auto version = r.u8(kIpStart);
    return type && *type == kIpv4 && version && (*version >> 4) == 4;
}

} // namespace

QString discoveryFilter(DiscoveryMode mode) {
    return mode == DiscoveryMode::Ip ? QStringLiteral("ip") : QStringLiteral("port 138");
}

QString discoveryMacText(const MacBytes& m) {
    static constexpr char kHex[] = "0123456789abcdef";
    char out[17];
    for (int i = 0; i < 6; ++i) {
        out[i * 3] = kHex[m[i] >> 4];
        out[i * 3 + 1] = kHex[m[i] & 15];
        if (i < 5)
            out[i * 3 + 2] = ':';
    }
    return QString::fromLatin1(out, 17);
}

QString discoveryIpText(std::uint32_t ip) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(ip >> 24), static_cast<std::uint8_t>(ip >> 16),
        static_cast<std::uint8_t>(ip >> 8), static_cast<std::uint8_t>(ip)};
    char out[text::kMaxIpv4Length];
    return QString::fromLatin1(out, text::appendIpv4(out, bytes) - out);
}

QString discoverySubnetText(std::uint32_t ip) {
    return discoveryIpText(ip & 0xFFFFFF00u);
}

QString discoveryDateText(std::int64_t seconds) {
    return QLocale::c().toString(QDateTime::fromSecsSinceEpoch(seconds),
                                 QStringLiteral("dd MMM yyyy, HH:mm:ss"));
}

QString DiscoveryDateTexts::text(std::int64_t seconds) {
    if (seconds != m_lastSeconds || m_lastText.isNull()) {
        m_lastSeconds = seconds;
        m_lastText = make(seconds);
    }
    return m_lastText;
}

QString DiscoveryDateTexts::make(std::int64_t seconds) {
    // Outside these years the zone and the calendar are left to Qt.
    constexpr std::int64_t kEnd = std::int64_t{1} << 31;
    if (seconds < 86400 || seconds >= kEnd)
        return discoveryDateText(seconds);
    const std::int64_t hour = seconds / 3600;
    if (hour != m_hour) {
        const std::int64_t start = hour * 3600;
        m_hour = hour;
        m_offset = QDateTime::fromSecsSinceEpoch(start).offsetFromUtc();
        // A clock change inside the hour (a zone changing off the hour): each
        // text of that hour asks the zone.
        m_steady = QDateTime::fromSecsSinceEpoch(start + 3599).offsetFromUtc() == m_offset;
    }
    if (!m_steady)
        return discoveryDateText(seconds);
    const std::int64_t local = seconds + m_offset;
    const std::int64_t day = local / 86400; // local >= 0: no zone is a day behind
    if (day != m_day) {
        m_day = day;
        // Qt's text of the day's midnight, its time part cut off.
        const QString midnight =
            QLocale::c().toString(QDateTime::fromSecsSinceEpoch(day * 86400, Qt::UTC),
                                  QStringLiteral("dd MMM yyyy, HH:mm:ss"));
        m_dayText = midnight.left(midnight.size() - 8);
    }
    const auto inDay = static_cast<int>(local - day * 86400);
    const int h = inDay / 3600;
    const int m = inDay / 60 % 60;
    const int s = inDay % 60;
    const char time[8] = {char('0' + h / 10), char('0' + h % 10), ':',
                          char('0' + m / 10), char('0' + m % 10), ':',
                          char('0' + s / 10), char('0' + s % 10)};
    QString out;
    out.reserve(m_dayText.size() + 8);
    out.append(m_dayText);
    out.append(QLatin1StringView(time, 8));
    return out;
}

QString discoveryLogLine(const QString& message) {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(" : ") +
           message;
}

QByteArray decodeNetbiosName(const std::uint8_t* e) {
    QByteArray name;
    for (int k = 0; k < 16; ++k) {
        const auto h = static_cast<std::uint8_t>(e[2 * k]);
        const auto l = static_cast<std::uint8_t>(e[2 * k + 1]);
        const auto c = static_cast<std::uint8_t>(static_cast<std::uint8_t>(h * 16 - 16) |
                                                 static_cast<std::uint8_t>(l - 65));
        if (c == 0x20)
            break;
        if (c != 0)
            name.append(static_cast<char>(c));
    }
    return name;
}

bool isNetbiosDatagram(const std::uint8_t* bytes, std::size_t length) {
    const FrameReader r(bytes, length);
    if (!r.has(0, kNetbiosFrameMinimum) || !isIpv4(r) || *r.u8(kIpStart) != 0x45 ||
        *r.u8(kIpProtocol) != kUdp)
        return false;
    // A destination name beginning with 0x01 encodes as "AB".
    return !(bytes[kDestinationName] == 'A' && bytes[kDestinationName + 1] == 'B');
}

std::optional<NetbiosSighting> parseNetbiosFrame(const std::uint8_t* bytes, std::size_t length) {
    if (!isNetbiosDatagram(bytes, length))
        return std::nullopt;
    const FrameReader r(bytes, length);
    NetbiosSighting s;
    r.copyTo(6, s.mac);
    s.ip = *r.be32(kSourceIp);
    s.name = QString::fromLatin1(decodeNetbiosName(bytes + kSourceName));
    s.workgroup = QString::fromLatin1(decodeNetbiosName(bytes + kDestinationName));
    return s;
}

std::optional<IpSighting> parseIpFrame(const std::uint8_t* bytes, std::size_t length) {
    const FrameReader r(bytes, length);
    if (!r.has(0, kIpFrameMinimum) || !isIpv4(r))
        return std::nullopt;
    // Options follow the addresses, so their place is fixed whatever the header length.
    IpSighting s;
    r.copyTo(0, s.dstMac);
    r.copyTo(6, s.srcMac);
    s.srcIp = *r.be32(kSourceIp);
    s.dstIp = *r.be32(kDestinationIp);
    return s;
}

} // namespace qarsilo
