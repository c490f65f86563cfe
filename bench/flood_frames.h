#pragma once

// The traffic mix of the flood benchmarks: every window has work on most
// frames, and tables that would grow if unbounded.

#include "support/trace_frames.h"

#include <QByteArray>

#include <vector>

namespace qarsilo::bench {

// 4096 frames between the monitored station and 1024 others (IPv4, every
// address its own), and one of each other kind in every eight, so that every
// window has work on most frames and tables that would grow if unbounded.
inline std::vector<QByteArray> floodFrames() {
    std::vector<QByteArray> frames;
    for (int i = 0; i < 4096; ++i) {
        const int other = i % 1024;
        QByteArray f;
        switch (i % 8) {
        case 5:
            f = test::etherFrame(0x0806, 60);
            break;
        case 6:
            f = test::ipv6Frame(17, 53, std::uint16_t(1024 + other));
            break;
        case 7:
            f = test::llcFrame(0x42, 39, 60);
            break;
        default:
            f = test::ipv4Frame(i % 2 ? 17 : 6, std::uint16_t(1024 + other), 80);
            break;
        }
        const MacAddress mac = 0x020000010000 + MacAddress(other);
        f = i % 2 ? test::between(test::kMonitored, mac, f)
                  : test::between(mac, test::kMonitored, f);
        if (f.size() > 33 && f[12] == 0x08 && f[13] == 0x00) {
            const quint32 a = 0x0AD30000u + quint32(other + 2), b = 0x0AD30001u;
            const quint32 src = i % 2 ? a : b, dst = i % 2 ? b : a;
            for (int k = 0; k < 4; ++k) {
                f[26 + k] = char(src >> (24 - 8 * k));
                f[30 + k] = char(dst >> (24 - 8 * k));
            }
        }
        frames.push_back(f);
    }
    return frames;
}

} // namespace qarsilo::bench
