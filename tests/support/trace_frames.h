#pragma once

// Frames between the monitored node and its peers for the trace tests.

#include "core/trace/side_node_table.h"
#include "support/chart_frames.h"

namespace qarsilo::test {

inline constexpr MacAddress kMonitored = 0x0200000000AA;

/// Peer `n`'s address: 02:00:00:00:01:nn.
inline constexpr MacAddress peer(int n) {
    return 0x020000000100 + static_cast<MacAddress>(n);
}

/// `frame` with its destination and source addresses replaced.
inline QByteArray between(MacAddress destination, MacAddress source, QByteArray frame) {
    for (int i = 0; i < 6; ++i) {
        frame[i] = static_cast<char>((destination >> (8 * (5 - i))) & 0xFF);
        frame[6 + i] = static_cast<char>((source >> (8 * (5 - i))) & 0xFF);
    }
    return frame;
}

/// A TCP frame from the monitored node to peer `n`.
inline QByteArray toPeer(int n) {
    return between(peer(n), kMonitored, ipv4Frame(6, 1024, 80));
}

} // namespace qarsilo::test
