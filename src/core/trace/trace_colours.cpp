#include "core/trace/trace_colours.h"

#include "core/analysis/frame_reader.h"

#include <QFont>
#include <QPainter>

#include <array>

namespace qarsilo {

namespace {

constexpr std::uint32_t kOther = 0x000000;

struct Match {
    std::uint16_t value;
    std::uint32_t rgb;
};

// Network layer: the Ethernet type field; 802.3 frames by their source SAP.
constexpr std::array<Match, 11> kEtherTypes{{
    {0x0800, 0x00C000},
    {0x0801, 0x00C0C0},
    {0x0806, 0xFF8F6B},
    {0x8035, 0xFF3399},
    {0x8038, 0xC7B1FF},
    {0x809B, 0x0000C0},
    {0x80F3, 0x503200},
    {0x814C, 0x800000},
    {0x86DD, 0xC0C0C0},
    {0x8847, 0xFFC66B},
    {0x8848, 0xFFC66B},
}};
constexpr std::array<Match, 3> kSaps{{{0x42, 0xFFFF00}, {0xE0, 0x8EFFFF}, {0xF0, 0xFF0000}}};

constexpr std::array<Match, 12> kIpProtocols{{
    {1, 0x00C000},
    {2, 0x00C0C0},
    {6, 0xFF8F6B},
    {8, 0xFF3399},
    {9, 0xC7B1FF},
    {17, 0x0000C0},
    {46, 0x503200},
    {47, 0x800000},
    {50, 0xC0C0C0},
    {83, 0xFFC66B},
    {89, 0xFFFF00},
    {132, 0x8EFFFF},
}};

constexpr std::array<Match, 24> kPorts{{
    {80, 0x00C000},   {443, 0x00C000},  {21, 0x00C0C0},   {25, 0xFF8F6B},   {110, 0xFF8F6B},
    {23, 0xFF3399},   {22, 0xC7B1FF},   {137, 0x0000C0},  {138, 0x0000C0},  {139, 0x0000C0},
    {161, 0x503200},  {162, 0x503200},  {53, 0x800000},   {163, 0xC0C0C0},  {164, 0xC0C0C0},
    {179, 0xFFC66B},  {67, 0xFFFF00},   {68, 0xFFFF00},   {546, 0xFFFF00},  {547, 0xFFFF00},
    {1080, 0x8EFFFF}, {1300, 0xFF0000}, {1718, 0xFF0000}, {1719, 0xFF0000},
}};
// The one H.323 port that does not fit the table above.
constexpr Match kH323High{11720, 0xFF0000};

template <std::size_t N>
std::uint32_t lookup(const std::array<Match, N>& table, std::uint16_t value) {
    for (const Match& m : table)
        if (m.value == value)
            return m.rgb;
    return kOther;
}

constexpr std::array<TraceLegendEntry, 13> kNetworkLegend{{
    {"IPv4", 0x00C000},
    {"x75", 0x00C0C0},
    {"ARP", 0xFF8F6B},
    {"Rev ARP", 0xFF3399},
    {"DEC LAN Bridge", 0xC7B1FF},
    {"AppleTalk", 0x0000C0},
    {"AppleTalk ARP", 0x503200},
    {"IPv6", 0xC0C0C0},
    {"MPLS", 0xFFC66B},
    {"Spanning Tree", 0xFFFF00},
    {"IPX", 0x8EFFFF},
    {"NetBIOS", 0xFF0000},
    {"Other", 0x000000},
}};
constexpr std::array<TraceLegendEntry, 13> kIpLegend{{
    {"ICMP", 0x00C000},
    {"IGMP", 0x00C0C0},
    {"TCP", 0xFF8F6B},
    {"EGP", 0xFF3399},
    {"IGRP", 0xC7B1FF},
    {"UDP", 0x0000C0},
    {"RSVP", 0x503200},
    {"GRE", 0x800000},
    {"ESP", 0xC0C0C0},
    {"VINES", 0xFFC66B},
    {"OSPF", 0xFFFF00},
    {"SCTP", 0x8EFFFF},
    {"Other", 0x000000},
}};
constexpr std::array<TraceLegendEntry, 14> kAppLegend{{
    {"Web", 0x00C000},
    {"FTP", 0x00C0C0},
    {"Mail", 0xFF8F6B},
    {"Telnet", 0xFF3399},
    {"SSH", 0xC7B1FF},
    {"NetBios", 0x0000C0},
    {"SNMP", 0x503200},
    {"DNS", 0x800000},
    {"CMIP", 0xC0C0C0},
    {"BGP", 0xFFC66B},
    {"DHCP", 0xFFFF00},
    {"SOCKS", 0x8EFFFF},
    {"H.323", 0xFF0000},
    {"Others", 0x000000},
}};

constexpr std::array<const char*, kTraceLayerCount> kLayerNames{
    "Network Layer Protocol", "IP-based Protocol", "Application Layer Protocol"};

int validLayer(int layer) {
    return layer >= 0 && layer < kTraceLayerCount ? layer : 0;
}

} // namespace

QString traceLayerName(int layer) {
    return QString::fromLatin1(kLayerNames[static_cast<std::size_t>(validLayer(layer))]);
}

std::span<const TraceLegendEntry> traceLegend(int layer) {
    switch (validLayer(layer)) {
    case 1:
        return kIpLegend;
    case 2:
        return kAppLegend;
    default:
        return kNetworkLegend;
    }
}

std::optional<std::uint32_t> traceColour(int layer, const std::uint8_t* bytes, std::size_t length) {
    const FrameReader frame(bytes, length);
    const std::optional<std::uint16_t> type = frame.be16(12);
    if (!type)
        return std::nullopt; // not even an Ethernet header
    switch (validLayer(layer)) {
    case 0:
        if (*type <= 1500)
            return lookup(kSaps, frame.u8(15).value_or(0));
        return lookup(kEtherTypes, *type);
    case 1:
        if (*type != 0x0800)
            return std::nullopt;
        return lookup(kIpProtocols, frame.u8(23).value_or(0));
    default: {
        if (*type != 0x0800)
            return std::nullopt;
        const std::optional<std::uint16_t> port = frame.be16(36);
        if (!port)
            return kOther;
        return *port == kH323High.value ? kH323High.rgb : lookup(kPorts, *port);
    }
    }
}

QString traceColourText(std::uint32_t rgb) {
    return QStringLiteral("%1").arg(rgb & 0xFFFFFF, 6, 16, QLatin1Char('0')).toUpper();
}

QImage traceLegendImage(int layer) {
    const std::span<const TraceLegendEntry> rows = traceLegend(layer);
    constexpr int kRow = 16;
    constexpr int kTop = 40;
    QImage image(180, kTop + kRow * static_cast<int>(rows.size()) + 6, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    QFont title(QStringLiteral("MS Sans Serif"));
    title.setPixelSize(13);
    title.setWeight(QFont::Bold);
    p.setFont(title);
    p.setPen(Qt::black);
    p.drawText(QRect(0, 2, image.width(), 18), Qt::AlignHCenter, QStringLiteral("Legend"));
    QFont small = title;
    small.setPixelSize(11);
    small.setWeight(QFont::Normal);
    p.setFont(small);
    p.drawText(QRect(0, 20, image.width(), 16), Qt::AlignHCenter, traceLayerName(layer));
    int y = kTop;
    for (const TraceLegendEntry& row : rows) {
        p.fillRect(QRect(8, y + 2, 24, 11), QColor::fromRgb(row.rgb));
        p.setPen(Qt::black);
        p.drawRect(QRect(8, y + 2, 23, 10));
        p.drawText(QRect(40, y, image.width() - 44, kRow), Qt::AlignVCenter,
                   QString::fromLatin1(row.name));
        y += kRow;
    }
    return image;
}

} // namespace qarsilo
