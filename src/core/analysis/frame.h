#pragma once

#include <QtGlobal>

#include <pcap/pcap.h>

namespace qarsilo {

/// The libpcap packet header as the program keeps it beside every stored frame.
struct FrameHeader {
    qint64 tsSec;    ///< time stamp, seconds since the epoch
    qint64 tsUsec;   ///< time stamp, microseconds
    quint32 capLen;  ///< bytes captured; the frame buffer holds exactly this many
    quint32 wireLen; ///< bytes the frame had on the wire
};

/// Copies the fields of a libpcap packet header.
inline FrameHeader frameHeaderFrom(const pcap_pkthdr& h) noexcept {
    return FrameHeader{static_cast<qint64>(h.ts.tv_sec), static_cast<qint64>(h.ts.tv_usec),
                       h.caplen, h.len};
}

} // namespace qarsilo
