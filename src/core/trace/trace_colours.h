#pragma once

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qarsilo {

/// The layers by which the trace colours its paths, in the order of its list.
enum class TraceLayer : int { Network = 0, IpBased = 1, Application = 2 };
inline constexpr int kTraceLayerCount = 3;

/// One row of a layer's legend: the protocol name and its colour (0xRRGGBB).
struct TraceLegendEntry {
    const char* name;
    std::uint32_t rgb;
};

/// "Network Layer Protocol", "IP-based Protocol", "Application Layer Protocol".
QString traceLayerName(int layer);
/// The legend of `layer` in table order (layers out of range read as layer 0).
std::span<const TraceLegendEntry> traceLegend(int layer);
/// The colour of an Ethernet frame at `layer`, or nullopt when the layer
/// ignores the frame (the IP-based and application layers take only IPv4).
std::optional<std::uint32_t> traceColour(int layer, const std::uint8_t* bytes, std::size_t length);
/// The legend picture of `layer`: titled "Legend" and the layer's name, one
/// swatch and name per row.
QImage traceLegendImage(int layer);
/// "RRGGBB" in upper-case hexadecimal.
QString traceColourText(std::uint32_t rgb);

} // namespace qarsilo
