#pragma once

#include <QtGlobal>

namespace qarsilo {

/// The largest Ethernet frame the figures believe: a 9000-byte jumbo payload
/// with its 14-byte header and 4-byte check sequence. Jumbo frames are common
/// enough on server links that the plain 1518 would call real traffic malformed.
inline constexpr quint32 kMaxEthernetFrame = 9018;

/// A frame's wire length as the byte counts and utilization figures take it.
struct CountedLength {
    quint32 bytes;  ///< the length to count
    bool malformed; ///< the header's length cannot be the frame's
};

/// The one rule for the wire length (pcap_pkthdr len) in figures: no frame is
/// longer than the larger of what was captured and the largest Ethernet frame,
/// so a header claiming more (0xFFFFFFFF from a broken writer) counts as that
/// much and is malformed. A frame shorter on the wire than captured is
/// malformed too; its length stays as given.
constexpr CountedLength countedWireLength(quint32 wireLen, quint32 capLen) noexcept {
    const quint32 limit = capLen > kMaxEthernetFrame ? capLen : kMaxEthernetFrame;
    if (wireLen > limit)
        return {limit, true};
    return {wireLen, wireLen < capLen};
}

} // namespace qarsilo
