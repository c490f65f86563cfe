#include "core/stats/single_node_stats.h"

#include "core/analysis/frame_layout.h"
#include "core/analysis/frame_reader.h"
#include "core/analysis/protocol_table.h"
#include "core/analysis/wire_length.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qarsilo {

namespace {

int hexValue(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

std::optional<MacBytes> parseMac(const QString& text) {
    if (text.size() != 17)
        return std::nullopt;
    MacBytes mac{};
    for (int i = 0; i < 6; ++i) {
        const int hi = hexValue(text[3 * i]);
        const int lo = hexValue(text[3 * i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        if (i < 5 && text[3 * i + 2] != QLatin1Char(':') && text[3 * i + 2] != QLatin1Char('-'))
            return std::nullopt;
        mac[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return mac;
}

QString macText(const MacBytes& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%.2X:%.2X:%.2X:%.2X:%.2X:%.2X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return QString::fromLatin1(text);
}

NodeLookup lookupNode(const std::vector<AddressEntry>& list, const QString& nodeMac) {
    const std::optional<MacBytes> node = parseMac(nodeMac);
    const auto same = [&](const QString& mac) {
        if (!node)
            return mac == nodeMac;
        const std::optional<MacBytes> other = parseMac(mac);
        return other && *other == *node;
    };
    NodeLookup out{nodeMac, QStringLiteral("Undiscover")};
    bool named = false;
    bool addressed = false;
    for (const AddressEntry& e : list) {
        if (named && addressed)
            break;
        if (!same(e.mac))
            continue;
        if (!addressed) {
            out.ip = e.ip;
            addressed = true;
        }
        if (!named && e.name != QLatin1String("-")) {
            out.name = e.name;
            named = true;
        }
    }
    return out;
}

QString nodeUtilizationText(double percent) {
    char text[64];
    std::snprintf(text, sizeof text, "%3.6f", percent);
    return QString::fromLatin1(text);
}

SingleNodeStats::SingleNodeStats(qint64 linkSpeedBps, qint64 startTime)
    : m_startTime(startTime) {
    setLinkSpeed(linkSpeedBps);
}

void SingleNodeStats::count(Side& side, const pcap_pkthdr& header, const std::uint8_t* bytes,
                            std::size_t macOffset, std::size_t ipOffset) noexcept {
    const CountedLength length = countedWireLength(header.len, header.caplen);
    if (length.malformed)
        side.malformed.fetch_add(1, std::memory_order_relaxed);
    side.bytes.fetch_add(std::uint64_t{length.bytes} + 24, std::memory_order_relaxed);
    // Bytes past the capture read as 0.
    const FrameReader frame(bytes, header.caplen);
    Partner p;
    p.mac = frame.bytesOrZero<6>(macOffset);
    const auto type = frame.bytesOrZero<2>(layout::kEthTypeOrLength);
    p.ipv4 = (type[0] << 8 | type[1]) == protocols::kEtherTypeIpv4;
    if (p.ipv4) {
        const auto ip = frame.bytesOrZero<4>(ipOffset);
        p.ip = std::uint32_t{ip[0]} << 24 | std::uint32_t{ip[1]} << 16 | std::uint32_t{ip[2]} << 8 |
               ip[3];
    }
    p.seen = true;
    std::lock_guard lock(side.lock);
    side.partner = p;
}

void SingleNodeStats::countReceived(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept {
    // The partner is the sender: Ethernet and IPv4 source.
    count(m_received, header, bytes, layout::kEthSource, layout::kIpv4Source);
}

void SingleNodeStats::countSent(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept {
    // The partner is the receiver: Ethernet and IPv4 destination.
    count(m_sent, header, bytes, layout::kEthDestination, layout::kIpv4Destination);
}

void SingleNodeStats::partnerTexts(Side& side, QString& mac, QString& ip) {
    Partner p;
    {
        std::lock_guard lock(side.lock);
        p = side.partner;
    }
    if (!p.seen)
        return;
    mac = macText(p.mac);
    if (!p.ipv4) {
        ip = QStringLiteral("-");
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", p.ip >> 24, p.ip >> 16 & 0xFF, p.ip >> 8 & 0xFF,
                  p.ip & 0xFF);
    ip = QString::fromLatin1(text);
}

void SingleNodeStats::tick(qint64 now) {
    const std::uint64_t received = m_received.bytes.exchange(0, std::memory_order_acq_rel);
    const std::uint64_t sent = m_sent.bytes.exchange(0, std::memory_order_acq_rel);
    const std::array<std::uint64_t, DirectionCount> bytes{received + sent, received, sent};
    // The average restarts from the current value at every full minute.
    const qint64 n = ((now - m_startTime) % 60 + 60) % 60;
    for (std::size_t d = 0; d < bytes.size(); ++d) {
        Figures& f = m_figures[d];
        f.bytes = bytes[d];
        f.current = static_cast<double>(bytes[d]) * 800 / static_cast<double>(m_linkSpeed);
        if (f.current > f.peak) {
            f.peak = f.current;
            f.peakTime = now;
        }
        f.average = (static_cast<double>(n) * f.average + f.current) / static_cast<double>(n + 1);
        m_graphs[d].append(f.current);
    }
    partnerTexts(m_sent, m_sentToMac, m_sentToIp);
    partnerTexts(m_received, m_receivedFromMac, m_receivedFromIp);
}

void SingleNodeStats::clearGraphs() {
    for (GraphTrack& g : m_graphs)
        g.clear();
}

void SingleNodeStats::forgetNode() {
    for (Side* side : {&m_received, &m_sent}) {
        side->bytes.store(0, std::memory_order_relaxed);
        const std::lock_guard guard(side->lock);
        side->partner = Partner();
    }
    for (Figures& f : m_figures) {
        f.bytes = 0;
        f.current = 0;
        f.peak = 0;
        f.peakTime = 0;
    }
    for (QString* text : {&m_sentToMac, &m_sentToIp, &m_receivedFromMac, &m_receivedFromIp})
        text->clear();
}

} // namespace qarsilo
