#pragma once

// Crafted frames for the chart tests: only the bytes the charts read are set.

#include <QByteArray>
#include <pcap/pcap.h>

#include <cstdint>

namespace qarsilo::test {

/// An Ethernet frame of `length` bytes with `typeOrLength` at bytes 12-13.
inline QByteArray etherFrame(std::uint16_t typeOrLength, int length = 60) {
    QByteArray f(length, '\0');
    for (int i = 0; i < 6; ++i) {
        f[i] = static_cast<char>(0xFF);
        f[6 + i] = static_cast<char>(0x02 + i);
    }
    if (length >= 14) {
        f[12] = static_cast<char>(typeOrLength >> 8);
        f[13] = static_cast<char>(typeOrLength & 0xFF);
    }
    return f;
}

/// An IEEE 802.3 frame whose LLC header names `ssap` (byte 15).
inline QByteArray llcFrame(std::uint8_t ssap, std::uint16_t length = 46, int frameLength = 60) {
    QByteArray f = etherFrame(length, frameLength);
    if (frameLength > 15) {
        f[14] = static_cast<char>(ssap);
        f[15] = static_cast<char>(ssap);
    }
    return f;
}

/// Writes two big-endian ports at `at` and `at + 2`.
inline void putPorts(QByteArray& f, int at, std::uint16_t source, std::uint16_t destination) {
    f[at] = static_cast<char>(source >> 8);
    f[at + 1] = static_cast<char>(source & 0xFF);
    f[at + 2] = static_cast<char>(destination >> 8);
    f[at + 3] = static_cast<char>(destination & 0xFF);
}

/// An IPv4 frame carrying `protocol`, with source and destination ports at 34-37.
inline QByteArray ipv4Frame(std::uint8_t protocol, std::uint16_t sourcePort = 0,
                            std::uint16_t destinationPort = 0, int length = 60) {
    QByteArray f = etherFrame(0x0800, length);
    f[14] = 0x45;
    f[23] = static_cast<char>(protocol);
    putPorts(f, 34, sourcePort, destinationPort);
    return f;
}

/// An IPv6 frame whose next header is `nextHeader`, with ports at 54-57.
inline QByteArray ipv6Frame(std::uint8_t nextHeader, std::uint16_t sourcePort = 0,
                            std::uint16_t destinationPort = 0, int length = 80) {
    QByteArray f = etherFrame(0x86DD, length);
    f[14] = 0x60;
    f[20] = static_cast<char>(nextHeader);
    putPorts(f, 54, sourcePort, destinationPort);
    return f;
}

/// The libpcap header of `frame` as a 64-byte snapshot would deliver it; `wire`
/// is the length on the wire (the frame's own size when 0).
inline pcap_pkthdr snapHeader(const QByteArray& frame, std::uint32_t wire = 0) {
    pcap_pkthdr h{};
    h.len = wire ? wire : static_cast<std::uint32_t>(frame.size());
    h.caplen = static_cast<std::uint32_t>(std::min<qsizetype>(frame.size(), 64));
    return h;
}

inline const std::uint8_t* bytesOf(const QByteArray& frame) {
    return reinterpret_cast<const std::uint8_t*>(frame.constData());
}

} // namespace qarsilo::test
