#pragma once

#include "core/analysis/frame.h"

#include <QString>

#include <cstdint>

namespace qarsilo {

/// The frame's hex dump as the analyzer's text box holds it. Each line of up to
/// 16 bytes: the offset of its first byte in "%04lx : ", each byte in "%.2X ",
/// blanks up to the character column when the line is short, each byte as
/// itself when printable (0x20 to 0x7E) and "." otherwise, then "\r\n". One
/// more "\r\n" follows the last line, so a frame of no bytes gives "\r\n".
///
/// The dump covers the frame's wire length, but never more bytes than were
/// captured (`bytes` holds `header.capLen` of them).
QString hexDump(const FrameHeader& header, const std::uint8_t* bytes);

} // namespace qarsilo
