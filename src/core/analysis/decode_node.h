#pragma once

// The nodes of the decode tree, apart from the decoder that builds them, so
// that the decoder's building blocks and the tree's entry points can both use them.

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

} // namespace qarsilo
