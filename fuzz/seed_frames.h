#pragma once

// Frame-record inputs (fuzz_input.h) made from a capture file: one per frame,
// and one of the first frames in a row for the targets that keep state.

#include "fuzz_input.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>

#include <pcap/pcap.h>

namespace qarsilo::fuzz {

inline constexpr int kSequenceFrames = 16;
/// Frames taken from one capture at most: the seeds stay few, the rest adds little.
inline constexpr int kFramesPerCapture = 64;

inline QByteArray frameRecord(const pcap_pkthdr& h, const std::uint8_t* bytes) {
    const std::uint32_t cap = std::min<std::uint32_t>(h.caplen, 0xFFFF);
    const auto seconds = static_cast<std::uint32_t>(h.ts.tv_sec);
    QByteArray r;
    for (int i = 0; i < 4; ++i)
        r.append(static_cast<char>(h.len >> (8 * i)));
    for (int i = 0; i < 4; ++i)
        r.append(static_cast<char>(seconds >> (8 * i)));
    r.append(static_cast<char>(cap & 0xFF));
    r.append(static_cast<char>(cap >> 8));
    r.append(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(cap));
    return r;
}

/// The inputs made from `path`; none when libpcap cannot read it.
inline QList<QByteArray> frameSeeds(const QString& path) {
    QList<QByteArray> seeds;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (!p)
        return seeds;
    QByteArray sequence;
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    for (int n = 0; n < kFramesPerCapture && pcap_next_ex(p, &h, &bytes) == 1; ++n) {
        const QByteArray record = frameRecord(*h, bytes);
        seeds.append(record);
        if (n < kSequenceFrames)
            sequence.append(record);
    }
    pcap_close(p);
    if (seeds.size() > 1)
        seeds.append(sequence);
    return seeds;
}

} // namespace qarsilo::fuzz
