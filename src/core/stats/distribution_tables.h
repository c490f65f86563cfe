#pragma once

#include "core/capture/capture_session.h"

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>
#include <pcap/pcap.h>
#include <span>
#include <string>

namespace qarsilo {

class FrameReader;

/// The six chart windows: how the captured bytes divide by frame size or by
/// protocol at one layer.
enum class ChartKind : std::uint8_t {
    PacketSize,   ///< CPacketSizeView: 13 frame size classes
    NetworkLayer, ///< CPDL2View: Ethernet type or LLC SSAP
    IPv4,         ///< CPDL3View: IPv4 protocol field
    IPv6,         ///< PDv6L3View: IPv6 next header field
    Application,  ///< CPDAppView: TCP or UDP ports
    IPv4IPv6,     ///< CPDv4v6L3View: IPv4 against IPv6 transports
};
inline constexpr int kChartKinds = 6;
/// No chart has more categories.
inline constexpr int kMaxChartCategories = 13;

/// One category: the bar chart's row name, the legend's (and pie's) label, colour.
struct ChartCategory {
    const char* name;
    const char* longName;
    std::uint8_t red, green, blue;
};

/// How far the byte-size texts go: up to gigabytes, or on to tera- and petabytes.
enum class ByteUnits : std::uint8_t { UpToGigabytes, UpToPetabytes };

/// Everything that sets one chart window apart from the others.
struct ChartKindInfo {
    ChartKind kind;
    const char* cliName;   ///< qarsilo-cli chart's VIEW argument
    const char* className; ///< the window's class
    int viewId;            ///< the frame's view number
    CaptureWindow window;  ///< its row of capture parameters
    const char* barTitle;
    const char* pieTitle;
    const char* categoryAxisTitle;
    std::span<const ChartCategory> categories;
    ByteUnits units;
};

/// The window's description.
const ChartKindInfo& chartKindInfo(ChartKind kind);
/// The kind whose cliName is `name`.
std::optional<ChartKind> chartKindFromName(QStringView name);

/// The size class (0..12) of a frame of `length` bytes on the wire; -1 for the
/// lengths of no class (128, 256, ..., 1408, and 1518 or more).
int packetSizeClass(std::uint32_t length) noexcept;
/// The network layer category: Ethernet type, or the SSAP of an IEEE 802.3
/// frame; a frame whose type or SSAP was not captured counts as "Others".
int networkLayerCategory(const FrameReader& frame) noexcept;
/// IPv4 protocol field to category (12, "Other", for unlisted values).
int ipv4ProtocolCategory(std::uint8_t protocol) noexcept;
/// IPv6 next header field to category (12, "Other", for unlisted values).
int ipv6NextHeaderCategory(std::uint8_t nextHeader) noexcept;
/// Application category of one port; -1 for a port in no row.
int applicationPortCategory(std::uint16_t port) noexcept;
/// The comparison chart's category for a transport value seen by the IPv4
/// (`ipv6` false) or IPv6 capture; -1 for values it does not chart.
int comparisonCategory(bool ipv6, std::uint8_t value) noexcept;

/// What one frame adds: `bytes` to each of `count` categories (the
/// application chart counts a frame once per listed port, so up to two).
struct FrameShare {
    std::uint8_t count = 0;
    std::array<std::uint8_t, 2> category{};
    std::uint32_t bytes = 0; ///< the wire length, capped by countedWireLength()
    bool malformed = false;  ///< the frame's wire length could not be its own
};

/// The share of one frame delivered by capture `slot` of a `kind` window.
/// Reads the frame only through a bounded reader.
FrameShare chartFrameShare(ChartKind kind, int slot, const pcap_pkthdr& header,
                           const std::uint8_t* bytes) noexcept;

/// "60 B", "244.14 KB", "2.00 TB": bytes up to 100 KB, then kilobytes of
/// 1024 bytes, megabytes, gigabytes (and tera- and petabytes for `units`).
QString byteSizeText(double bytes, ByteUnits units);
/// A bar chart row's label: "[ 60 B ]  3.81%".
QString chartRowLabel(double bytes, double percent, ByteUnits units);
/// A pie chart point label: "3.81%".
QString chartPointLabel(double percent);

/// Appends `value` with `decimals` (0 to 2) places as QString::asprintf's
/// "%.*f" writes it: the double's exact value rounded, halves away from zero.
void appendFixed(std::string& out, double value, int decimals);
/// Appends byteSizeText's text in Latin-1.
void appendByteSizeText(std::string& out, double bytes, ByteUnits units);
/// Appends chartRowLabel's text in Latin-1.
void appendChartRowLabel(std::string& out, double bytes, double percent, ByteUnits units);

} // namespace qarsilo
