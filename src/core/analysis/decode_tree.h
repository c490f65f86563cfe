#pragma once

#include "core/analysis/frame.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace qarsilo {

/// The images of the decode tree, numbered as the view's image list holds them
/// (the tree bitmap cut into 16-pixel-wide images). Each kind of node has a
/// pair: one shown normally, one while the node is selected.
enum class TreeImage : std::uint8_t {
    Root = 0,
    RootSelected = 1,
    Field = 2,
    FieldSelected = 3,
    Layer = 4,
    LayerSelected = 5,
};

/// What a node of the decode tree stands for.
enum class DecodeNodeKind : std::uint8_t {
    Root,  ///< "-----Packet Detail-----", the only top-level node
    Layer, ///< one decoded header, "General Infomation" or the closing summary
    Field, ///< one header field (label, value, suffix); children only under the TCP flags
};

/// One node of the decode tree and everything below it. A plain value: the
/// decoder builds it, the view only shows it.
struct DecodeNode {
    DecodeNodeKind kind = DecodeNodeKind::Field;
    QString text;
    std::vector<DecodeNode> children;
    /// The frame bytes the node was read from: a field's own bytes, a layer's
    /// from its first field to its last; offset -1 for nodes that come from
    /// no frame byte (the root, "General Infomation", the summary).
    int offset = -1;
    int length = 0;

    bool covers(int byte) const noexcept {
        return offset >= 0 && byte >= offset && byte < offset + length;
    }

    /// The image shown normally.
    TreeImage image() const noexcept;
    /// The image shown while the node is selected.
    TreeImage selectedImage() const noexcept;
    /// Shown expanded when the tree is filled: the root only, so that the
    /// layers are visible and their fields collapsed.
    bool expandedInitially() const noexcept { return kind == DecodeNodeKind::Root; }
};

/// The text of the node that ends the tree in place of the summary when a
/// header the decoder reads was not captured in full.
inline constexpr char kTruncatedNodeText[] = "Truncated";

/// Decodes one stored frame into its tree: the root, "General Infomation", the
/// link layer, the network and transport layers, and the closing summary.
///
/// `bytes` holds `header.capLen` bytes; nothing past them is read. A field
/// whose bytes were not all captured is left out, and so is everything the
/// decoder would have read after it: the cut layer keeps the fields before
/// it (possibly none, so that the header the frame was cut in is still
/// named), no later layer is added, and the tree ends with the layer node
/// kTruncatedNodeText instead of the summary. "General Infomation" comes from
/// the header alone and is always whole. With fewer than 14 bytes the framing
/// is unknown and no link layer is shown.
DecodeNode decodeFrame(const FrameHeader& header, const std::uint8_t* bytes);

/// The deepest node of `root` whose bytes include frame byte `byte`, or null.
const DecodeNode* nodeAtByte(const DecodeNode& root, int byte);

/// The tree as text for scripts and tests: one node per line, two blanks of
/// indent per level below the root, each line ended by "\n".
QString decodeTreeText(const DecodeNode& root);

} // namespace qarsilo
