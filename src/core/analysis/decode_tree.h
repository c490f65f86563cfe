#pragma once

#include "core/analysis/decode_node.h"
#include "core/analysis/frame.h"

#include <QString>

namespace qarsilo {

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
