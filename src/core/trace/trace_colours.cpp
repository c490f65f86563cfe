#include "core/trace/trace_colours.h"

#include "core/analysis/frame_layout.h"
#include "core/analysis/frame_reader.h"
#include "core/analysis/protocol_table.h"

#include <QFont>
#include <QPainter>

#include <array>

namespace qarsilo {

namespace {

namespace P = protocols;

// The legends: the shared categories in order, then the trace's own last row.
template <std::size_t N, typename Category, typename Name>
constexpr std::array<TraceLegendEntry, N + 1> legend(const Category (&categories)[N], Name name,
                                                     const char* other) {
    std::array<TraceLegendEntry, N + 1> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = {name(categories[i]), P::rgb(categories[i].colour)};
    out[N] = {other, P::kBlack};
    return out;
}
constexpr auto kNetworkLegend = legend(
    P::kNetworkCategories, [](const P::NetworkCategory& c) { return c.traceName; }, "Other");
constexpr auto kIpLegend = legend(
    P::kIpCategories, [](const P::IpCategory& c) { return c.name; }, "Other");
constexpr auto kAppLegend = legend(
    P::kApplicationCategories, [](const P::ApplicationCategory& c) { return c.traceName; },
    "Others");

// The colour of every value, found with one load: the trace colours each
// frame on the capture thread. None (black) for values no row lists.
template <std::size_t Size> struct ColourIndex {
    std::array<P::Colour, Size> colour{};
    template <typename Row, std::size_t N, typename Category, std::size_t M, typename Column>
    constexpr ColourIndex(const Row (&rows)[N], const Category (&categories)[M], Column column) {
        colour.fill(P::Colour::None);
        for (const Row& row : rows)
            colour[row.key] = column(row, categories);
    }
};
constexpr auto kOwnColour = [](const auto& row, const auto& categories) {
    return P::traceColourOf(row.trace, row.category, categories);
};
constexpr ColourIndex<256> kSapColours(P::kSaps, P::kNetworkCategories, kOwnColour);
constexpr ColourIndex<256> kIpProtocolColours(
    P::kIpProtocols, P::kIpCategories, [](const P::IpProtocolRow& row, const auto& categories) {
        return P::traceColourOf(P::Colour::OfCategory, row.ipv4Category, categories);
    });
constexpr ColourIndex<65536> kPortColours(P::kPorts, P::kApplicationCategories, kOwnColour);

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
    const std::optional<std::uint16_t> type = frame.be16(layout::kEthTypeOrLength);
    if (!type)
        return std::nullopt; // not even an Ethernet header
    switch (validLayer(layer)) {
    case 0: {
        if (*type <= layout::kMaxIeee8023Length)
            return P::rgb(kSapColours.colour[frame.u8(layout::kLlcSsap).value_or(0)]);
        const P::EtherTypeRow* row = P::findSorted(P::kEtherTypes, *type);
        return row ? P::rgb(kOwnColour(*row, P::kNetworkCategories)) : P::kBlack;
    }
    case 1:
        if (*type != P::kEtherTypeIpv4)
            return std::nullopt;
        return P::rgb(kIpProtocolColours.colour[frame.u8(layout::kIpv4Protocol).value_or(0)]);
    default: {
        if (*type != P::kEtherTypeIpv4)
            return std::nullopt;
        // The destination port where every reader takes it: behind a 20-byte IPv4 header.
        const std::optional<std::uint16_t> port = frame.be16(layout::kTcpDestinationPort);
        if (!port)
            return P::kBlack;
        return P::rgb(kPortColours.colour[*port]);
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
