#pragma once

// Building blocks of the protocol decoders: how a field is described, how its
// value is formatted, and the builder that adds layer and field nodes to the
// tree and stops at the first field that was not captured.

#include "core/analysis/decode_node.h"
#include "core/analysis/frame.h"
#include "core/analysis/frame_layout.h"
#include "core/analysis/frame_reader.h"
#include "core/analysis/protocol_table.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qarsilo::decode {

using layout::Offset;

/// How a field's bytes become its value text.
enum class Value : std::uint8_t {
    Dec8,         ///< "%d" of one byte
    Dec16,        ///< "%d" of two bytes
    Dec32,        ///< four bytes as an unsigned number in decimal
    HighNibble,   ///< "%d" of the byte shifted right by 4
    LowNibbleX4,  ///< "%d" of the low 4 bits times 4 (IPv4 header length)
    HighNibbleX4, ///< "%d" of the byte divided by 16, times 4 (TCP header length)
    Hex8,         ///< "%.2Xh"
    Hex16,        ///< "%.4Xh", the same text as "%.2X%.2Xh" of the two bytes
    Hex24,        ///< "%.6Xh"
    Hex32,        ///< "%.2X%.2X%.2X%.2Xh" of four bytes
    Top3Bits,     ///< "%.2Xh" of the byte shifted right by 5 (IPv4 flags)
    Low13Bits,    ///< "%.2X%.2Xh" of the low 5 bits of one byte, then the next
    TrafficClass, ///< "%.2Xh" of the low 4 bits of one byte and the high 4 of the next
    FlowLabel,    ///< "%.1X%.2X%.2Xh" of the low 4 bits of one byte and the next two
    Mac,          ///< "%.2X:%.2X:%.2X:%.2X:%.2X:%.2X"
    Ipv4,         ///< "%d.%d.%d.%d"
    Ipv6,         ///< eight groups "%.2X%.2X" joined by colons, no compression
};

/// The number of frame bytes a value is read from.
constexpr std::size_t valueWidth(Value v) noexcept {
    switch (v) {
    case Value::Dec8:
    case Value::HighNibble:
    case Value::LowNibbleX4:
    case Value::HighNibbleX4:
    case Value::Hex8:
    case Value::Top3Bits:
        return 1;
    case Value::Dec16:
    case Value::Hex16:
    case Value::Low13Bits:
    case Value::TrafficClass:
        return 2;
    case Value::Hex24:
    case Value::FlowLabel:
        return 3;
    case Value::Dec32:
    case Value::Hex32:
    case Value::Ipv4:
        return 4;
    case Value::Mac:
        return 6;
    case Value::Ipv6:
        return 16;
    }
    return 0;
}

/// One field node: label, value and suffix, in that order, with nothing between.
struct FieldSpec {
    std::string_view label;
    Offset offset; ///< from the start of the frame, or of the header the caller names
    Value value;
    std::string_view suffix = {}; ///< fixed text after the value (a unit, a name)
    bool branchSuffix = false;    ///< the suffix comes from the caller's name table
};

/// The value text of a field, or an empty text when its bytes were not captured.
QString valueText(const FrameReader& reader, Offset offset, Value value);

/// Adds nodes to one tree. Layers go under the root in the order they are
/// begun; fields go into the latest layer. Once a field is missing the frame
/// counts as truncated and every later field is dropped, so the tree never
/// shows a value read past a gap.
class TreeBuilder {
public:
    TreeBuilder(const FrameHeader& header, const std::uint8_t* bytes);

    const FrameHeader& header() const noexcept { return header_; }
    const FrameReader& reader() const noexcept { return reader_; }

    /// Adds a layer node; later fields go into it. Nothing once truncated.
    void beginLayer(std::string_view text);

    /// Adds the field of `spec` at `base + spec.offset`, its suffix being
    /// `branchSuffix` when the spec says so. Returns the node, valid until the
    /// next node is added to the layer, or null when nothing was added.
    DecodeNode* field(const FieldSpec& spec, std::string_view branchSuffix = {}, Offset base = 0);
    /// Adds the fields in order; false once one is missing.
    bool fields(std::span<const FieldSpec> specs, std::string_view branchSuffix = {},
                Offset base = 0);
    /// A field node with a text of its own, under `parent` or the latest layer.
    void textField(QString text, DecodeNode* parent = nullptr);

    /// A field the decoder needs lies past the captured bytes.
    void markTruncated() noexcept { truncated_ = true; }
    bool truncated() const noexcept { return truncated_; }

    /// Closes the tree with the summary (none when empty), or with
    /// kTruncatedNodeText when a header was cut, and hands it over.
    DecodeNode finish(std::string_view summary);

private:
    void appendLayer(std::string_view text);

    FrameHeader header_;
    FrameReader reader_;
    DecodeNode root_;
    bool truncated_ = false;
};

/// The decoders of the headers below Ethernet II. Each adds its layer nodes
/// and returns the summary text, empty for none.
std::string_view decodeIpv4(TreeBuilder& tree);
std::string_view decodeArp(TreeBuilder& tree);
std::string_view decodeIpv6(TreeBuilder& tree);
/// TCP and UDP from the transport header at `start` (34 after IPv4, 54 after IPv6).
std::string_view decodeTcp(TreeBuilder& tree, Offset start);
std::string_view decodeUdp(TreeBuilder& tree, Offset start);

/// The Ethernet II or IEEE 802.3 layer and all that follows it.
std::string_view decodeLink(TreeBuilder& tree);

/// Latin-1 text of a table entry.
inline QLatin1String latin1(std::string_view s) noexcept {
    return QLatin1String(s.data(), static_cast<qsizetype>(s.size()));
}

/// Row look-ups and key checks: the decoder reads the tables rarely, so linearly.
using protocols::rowOf;
using protocols::uniqueKeys;

} // namespace qarsilo::decode
