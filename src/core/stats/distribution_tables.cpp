#include "core/stats/distribution_tables.h"

#include "core/analysis/frame_layout.h"
#include "core/analysis/frame_reader.h"
#include "core/analysis/protocol_table.h"
#include "core/analysis/wire_length.h"
#include "core/app/commands.h"

#include <cstring>

namespace qarsilo {

namespace {

namespace P = protocols;

constexpr ChartCategory category(const char* name, const char* longName, std::uint32_t rgb) {
    return {name, longName, static_cast<std::uint8_t>(rgb >> 16),
            static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb)};
}

// The chart's categories of a shared category table, then its own "Other" row.
template <std::size_t N, typename Shared, typename Make>
constexpr std::array<ChartCategory, N + 1> withOther(const Shared (&shared)[N], Make make,
                                                     ChartCategory other) {
    std::array<ChartCategory, N + 1> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = make(shared[i]);
    out[N] = other;
    return out;
}

// clang-format off
// The size classes take the palette in order.
struct SizeClassName { const char* name; const char* longName; };
constexpr SizeClassName kSizeClassNames[] = {
    {"size <= 64",          "size <= 64 bytes"},
    {"65 <= size < 128",    "65 <= size < 128 bytes"},
    {"129 <= size < 256",   "129 <= size < 256 bytes"},
    {"257 <= size < 384",   "257 <= size < 384 bytes"},
    {"385 <= size < 512",   "385 <= size < 512 bytes"},
    {"513 <= size < 640",   "513 <= size < 640 B"},
    {"641 <= size < 768",   "641 <= size < 768 bytes"},
    {"769 <= size < 896",   "769 <= size < 896 bytes"},
    {"897 <= size < 1024",  "897 <= size < 1024 bytes"},
    {"1025 <= size < 1152", "1025 <= size < 1152 bytes"},
    {"1153 <= size < 1280", "1153 <= size < 1280 B"},
    {"1281 <= size < 1408", "1281 <= size < 1408 bytes"},
    {"1409 <= size < 1518", "1409 <= size < 1518 bytes"},
};
static_assert(std::size(kSizeClassNames) == P::kPalette.size());
constexpr auto kSizeClasses = [] {
    std::array<ChartCategory, std::size(kSizeClassNames)> out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = category(kSizeClassNames[i].name, kSizeClassNames[i].longName, P::kPalette[i]);
    return out;
}();

// Inclusive length bounds of the size classes: each starts one byte above
// the previous class's label bound, so 128, 256, ... fall between classes.
struct LengthRange { std::uint32_t low, high; };
constexpr LengthRange kSizeRanges[] = {
    {0, 64},     {65, 127},    {129, 255},   {257, 383},   {385, 511},
    {513, 639},  {641, 767},   {769, 895},   {897, 1023},  {1025, 1151},
    {1153, 1279},{1281, 1407}, {1409, 1517},
};
static_assert(std::size(kSizeRanges) == std::size(kSizeClasses));

constexpr auto kNetworkLayer = withOther(
    P::kNetworkCategories,
    [](const P::NetworkCategory& c) { return category(c.chartName, c.chartName, P::rgb(c.colour)); },
    category("Others", "Others", P::kBlack));
constexpr int kNetworkOthers = static_cast<int>(std::size(P::kNetworkCategories));

// The IPv4 and IPv6 charts share names and colours, not all numbers (see the table).
constexpr auto kIpTransports = withOther(
    P::kIpCategories,
    [](const P::IpCategory& c) { return category(c.name, c.name, P::rgb(c.colour)); },
    category("Other", "Other", P::rgb(P::Colour::Red)));
constexpr int kIpOther = static_cast<int>(std::size(P::kIpCategories));

constexpr auto kApplications = [] {
    std::array<ChartCategory, std::size(P::kApplicationCategories)> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        const P::ApplicationCategory& c = P::kApplicationCategories[i];
        out[i] = category(c.chartName, c.chartLongName, P::rgb(c.colour));
    }
    return out;
}();

// BGP here is the protocol number 4 (IP in IP), as the chart has always named it.
constexpr ChartCategory kComparison[] = {
    {"IPv6 /ICMP", "IPv6 /ICMP", 180, 0,   0},
    {"IPv6 /UDP",  "IPv6 /UDP",  225, 0,   0},
    {"IPv6 /TCP",  "IPv6 /TCP",  250, 50,  50},
    {"IPv6 /BGP",  "IPv6 /BGP",  252, 103, 103},
    {"IPv6 /GRE",  "IPv6 /GRE",  252, 152, 152},
    {"IPv6 /OSPF", "IPv6 /OSPF", 253, 187, 187},
    {"IPv4 /ICMP", "IPv4 /ICMP", 0,   0,   0},
    {"IPv4 /UDP",  "IPv4 /UDP",  20,  58,  124},
    {"IPv4 /TCP",  "IPv4 /TCP",  33,  86,  184},
    {"IPv4 /BGP",  "IPv4 /BGP",  53,  112, 219},
    {"IPv4 /GRE",  "IPv4 /GRE",  125, 163, 232},
    {"IPv4 /OSPF", "IPv4 /OSPF", 181, 202, 242},
};

constexpr ChartKindInfo kKinds[] = {
    {ChartKind::PacketSize, "size", "CPacketSizeView", view::PacketSize,
     CaptureWindow::PacketSizeView, "Packet Size Distribution Bar Chart",
     "Packet Size Distribution Pie Chart", "Packet Size", kSizeClasses, ByteUnits::UpToGigabytes},
    {ChartKind::NetworkLayer, "network", "CPDL2View", view::PDL2, CaptureWindow::PDL2View,
     "Network Layer Protocol Distribution Bar Chart",
     "Network Layer Protocol Distribution Pie Chart", "Protocols", kNetworkLayer,
     ByteUnits::UpToPetabytes},
    {ChartKind::IPv4, "ipv4", "CPDL3View", view::PDL3, CaptureWindow::PDL3View,
     "IPv4 Protocol Distribution Bar Chart", "IPv4 Protocol Distribution Pie Chart", "Protocols",
     kIpTransports, ByteUnits::UpToPetabytes},
    {ChartKind::IPv6, "ipv6", "PDv6L3View", view::PDv6L3, CaptureWindow::PDv6L3View,
     "IPv6 Protocol Distribution Bar Chart", "IPv6 Protocol Distribution Pie Chart", "Protocols",
     kIpTransports, ByteUnits::UpToPetabytes},
    {ChartKind::Application, "app", "CPDAppView", view::PDApplication, CaptureWindow::PDAppView,
     "Application Protocol Distribution Bar Chart", "Application Protocol Distribution Pie Chart",
     "Protocols", kApplications, ByteUnits::UpToPetabytes},
    {ChartKind::IPv4IPv6, "v4v6", "CPDv4v6L3View", view::PDv4v6L3, CaptureWindow::PDv4v6L3View,
     "IPv6 & IPv4 Comparison Distribution Bar Chart",
     "IPv6 & IPv4 Comparison Distribution Pie Chart", "Protocols", kComparison,
     ByteUnits::UpToPetabytes},
};
// clang-format on

constexpr bool kindsInOrder() {
    for (std::size_t i = 0; i < std::size(kKinds); ++i)
        if (static_cast<std::size_t>(kKinds[i].kind) != i ||
            kKinds[i].categories.size() > kMaxChartCategories)
            return false;
    return std::size(kKinds) == kChartKinds;
}
static_assert(kindsInOrder(), "kKinds is indexed by ChartKind");

// Byte-indexed lookup tables, built once at compile time: the handlers run
// per frame on the capture threads.
struct ByteTable {
    std::array<std::int8_t, 256> category{};
    constexpr ByteTable(int (*column)(const P::IpProtocolRow&), int other) {
        category.fill(static_cast<std::int8_t>(other));
        for (const P::IpProtocolRow& row : P::kIpProtocols) {
            const int c = column(row);
            if (c >= 0)
                category[row.key] = static_cast<std::int8_t>(c);
        }
    }
};
constexpr ByteTable kIpv4Table([](const P::IpProtocolRow& r) -> int { return r.ipv4Category; },
                               kIpOther);
constexpr ByteTable kIpv6Table([](const P::IpProtocolRow& r) -> int { return r.ipv6Category; },
                               kIpOther);
constexpr ByteTable
kCompareV6([](const P::IpProtocolRow& r) -> int { return r.comparedOnIpv6 ? r.compared : -1; }, -1);
constexpr ByteTable
kCompareV4([](const P::IpProtocolRow& r) -> int { return r.comparedOnIpv4 ? r.compared : -1; }, -1);

constexpr P::ByteIndex kSapIndex(P::kSaps);

struct PortTable {
    std::array<std::int8_t, 65536> category{};
    constexpr PortTable() {
        category.fill(-1);
        for (const P::PortRow& row : P::kPorts)
            category[row.key] = row.category;
    }
};
constexpr PortTable kPortTable;

// Ports of TCP and UDP: right behind the 20-byte IPv4 header, or behind the
// 40-byte IPv6 header (the "tcp" and "udp" filters pass both).
std::size_t transportOffset(const FrameReader& frame) noexcept {
    const auto type = frame.be16(layout::kEthTypeOrLength);
    return type && *type == P::kEtherTypeIpv6 ? layout::kIpv6End : layout::kIpv4End;
}

} // namespace

const ChartKindInfo& chartKindInfo(ChartKind kind) {
    return kKinds[static_cast<std::size_t>(kind)];
}

std::optional<ChartKind> chartKindFromName(QStringView name) {
    for (const ChartKindInfo& k : kKinds)
        if (name == QLatin1String(k.cliName))
            return k.kind;
    return std::nullopt;
}

int packetSizeClass(std::uint32_t length) noexcept {
    for (std::size_t i = 0; i < std::size(kSizeRanges); ++i) {
        if (length < kSizeRanges[i].low)
            return -1;
        if (length <= kSizeRanges[i].high)
            return static_cast<int>(i);
    }
    return -1;
}

int networkLayerCategory(const FrameReader& frame) noexcept {
    const auto type = frame.be16(layout::kEthTypeOrLength);
    if (!type)
        return kNetworkOthers;
    if (*type <= layout::kMaxIeee8023Length) {
        const auto ssap = frame.u8(layout::kLlcSsap);
        const P::SapRow* row = ssap ? kSapIndex.find(*ssap) : nullptr;
        return row && row->category >= 0 ? row->category : kNetworkOthers;
    }
    const P::EtherTypeRow* row = P::findSorted(P::kEtherTypes, *type);
    return row && row->category >= 0 ? row->category : kNetworkOthers;
}

int ipv4ProtocolCategory(std::uint8_t protocol) noexcept {
    return kIpv4Table.category[protocol];
}

int ipv6NextHeaderCategory(std::uint8_t nextHeader) noexcept {
    return kIpv6Table.category[nextHeader];
}

int applicationPortCategory(std::uint16_t port) noexcept {
    return kPortTable.category[port];
}

int comparisonCategory(bool ipv6, std::uint8_t value) noexcept {
    // IPv6 rows come first (0..5), IPv4 rows after them (6..11).
    const int c = (ipv6 ? kCompareV6 : kCompareV4).category[value];
    return c < 0 ? -1 : (ipv6 ? c : c + 6);
}

FrameShare chartFrameShare(ChartKind kind, int slot, const pcap_pkthdr& header,
                           const std::uint8_t* bytes) noexcept {
    FrameShare share;
    const CountedLength length = countedWireLength(header.len, header.caplen);
    share.bytes = length.bytes;
    share.malformed = length.malformed;
    const FrameReader frame(bytes, header.caplen);
    auto add = [&share](int category) {
        if (category >= 0)
            share.category[share.count++] = static_cast<std::uint8_t>(category);
    };
    switch (kind) {
    case ChartKind::PacketSize:
        add(packetSizeClass(length.bytes));
        break;
    case ChartKind::NetworkLayer:
        // The 24 bytes the wire adds: preamble, delimiter, check sequence, gap.
        share.bytes = length.bytes + 24;
        add(networkLayerCategory(frame));
        break;
    case ChartKind::IPv4:
        if (const auto protocol = frame.u8(layout::kIpv4Protocol))
            add(ipv4ProtocolCategory(*protocol));
        else
            add(kIpOther);
        break;
    case ChartKind::IPv6:
        if (const auto next = frame.u8(layout::kIpv6NextHeader))
            add(ipv6NextHeaderCategory(*next));
        else
            add(kIpOther);
        break;
    case ChartKind::Application: {
        const std::size_t at = transportOffset(frame);
        if (const auto source = frame.be16(at))
            add(applicationPortCategory(*source));
        if (const auto destination = frame.be16(at + 2))
            add(applicationPortCategory(*destination));
        break;
    }
    case ChartKind::IPv4IPv6:
        if (slot == 0) {
            if (const auto protocol = frame.u8(layout::kIpv4Protocol))
                add(comparisonCategory(false, *protocol));
        } else if (const auto next = frame.u8(layout::kIpv6NextHeader)) {
            add(comparisonCategory(true, *next));
        }
        break;
    }
    return share;
}

void appendFixed(std::string& out, double value, int decimals) {
    static constexpr std::uint64_t kScale[] = {1, 10, 100};
    // Below 2^53 a double's bits times 100 fit 60 bits; anything else (never
    // a byte count or share) goes the long way.
    if (!(value >= 0) || value >= 0x1p53 || decimals < 0 || decimals > 2) {
        out += QString::asprintf("%.*f", decimals, value).toStdString();
        return;
    }
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>(bits >> 52);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int exponent = -1074;
    if (biased != 0) {
        mantissa |= std::uint64_t{1} << 52;
        exponent = biased - 1075;
    }
    const std::uint64_t scale = kScale[decimals];
    // value * scale == mantissa * scale * 2^exponent, exactly; exponent <= 0.
    const std::uint64_t scaled = mantissa * scale;
    std::uint64_t units = scaled;
    if (exponent <= -61) {
        units = 0; // less than half a unit of the last place
    } else if (exponent < 0) {
        const int shift = -exponent;
        units = scaled >> shift;
        const std::uint64_t rest = scaled & ((std::uint64_t{1} << shift) - 1);
        if (rest >= std::uint64_t{1} << (shift - 1))
            ++units; // a half goes up, as asprintf's conversion rounds it
    }
    char digits[24];
    char* end = digits + sizeof digits;
    char* at = end;
    std::uint64_t whole = units / scale;
    std::uint64_t fraction = units % scale;
    for (int i = 0; i < decimals; ++i) {
        *--at = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    if (decimals > 0)
        *--at = '.';
    do {
        *--at = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    out.append(at, end);
}

void appendByteSizeText(std::string& out, double bytes, ByteUnits units) {
    constexpr double kKilo = 1024.0;
    constexpr double kMega = kKilo * 1024;
    constexpr double kGiga = kMega * 1024;
    constexpr double kTera = kGiga * 1024;
    constexpr double kPeta = kTera * 1024;
    double shown = bytes;
    const char* unit = " B";
    int decimals = 2;
    if (units == ByteUnits::UpToPetabytes && bytes > kPeta) {
        shown = bytes / kPeta;
        unit = " PB";
    } else if (units == ByteUnits::UpToPetabytes && bytes > kTera) {
        shown = bytes / kTera;
        unit = " TB";
    } else if (bytes > kGiga) {
        shown = bytes / kGiga;
        unit = " GB";
    } else if (bytes > kMega) {
        shown = bytes / kMega;
        unit = " MB";
    } else if (bytes > 100 * kKilo) {
        // Kilobytes start above 100 KB: smaller counts are written in bytes.
        shown = bytes / kKilo;
        unit = " KB";
    } else {
        decimals = 0;
    }
    appendFixed(out, shown, decimals);
    out += unit;
}

void appendChartRowLabel(std::string& out, double bytes, double percent, ByteUnits units) {
    out += "[ ";
    appendByteSizeText(out, bytes, units);
    out += " ]  ";
    appendFixed(out, percent, 2);
    out += '%';
}

QString byteSizeText(double bytes, ByteUnits units) {
    std::string text;
    appendByteSizeText(text, bytes, units);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString chartRowLabel(double bytes, double percent, ByteUnits units) {
    std::string text;
    appendChartRowLabel(text, bytes, percent, units);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString chartPointLabel(double percent) {
    std::string text;
    appendFixed(text, percent, 2);
    text += '%';
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace qarsilo
