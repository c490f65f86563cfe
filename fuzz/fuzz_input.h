#pragma once

// The input of the frame targets: one or more frame records, each
//   wire length (4 bytes, little-endian), time stamp in seconds (4 bytes),
//   captured length (2 bytes), then the captured bytes.
// A record whose captured bytes run past the input keeps what is there, so
// every input is a valid sequence and the wire length may be below, equal to
// or above the captured length. Each frame is copied into a buffer of exactly
// its captured length: a read past it is caught by AddressSanitizer.

#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace qarsilo::fuzz {

inline constexpr std::size_t kRecordHeader = 10;

struct FuzzFrame {
    pcap_pkthdr header{};
    std::unique_ptr<std::uint8_t[]> bytes;
};

class FrameRecords {
public:
    FrameRecords(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size) {}

    /// The next frame, or false at the end of the input.
    bool next(FuzzFrame& frame) {
        if (m_size - m_at < kRecordHeader)
            return false;
        const std::uint8_t* p = m_data + m_at;
        const std::uint32_t wire = le32(p);
        const std::uint32_t seconds = le32(p + 4);
        std::size_t cap = std::size_t{p[8]} | std::size_t{p[9]} << 8;
        m_at += kRecordHeader;
        if (cap > m_size - m_at)
            cap = m_size - m_at;
        frame.header = pcap_pkthdr{};
        frame.header.ts.tv_sec = static_cast<time_t>(seconds);
        frame.header.caplen = static_cast<bpf_u_int32>(cap);
        frame.header.len = wire;
        frame.bytes.reset(new std::uint8_t[cap]);
        if (cap > 0)
            std::memcpy(frame.bytes.get(), m_data + m_at, cap);
        m_at += cap;
        return true;
    }

private:
    static std::uint32_t le32(const std::uint8_t* p) {
        return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
               std::uint32_t{p[3]} << 24;
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

/// Stops the target when a property the code promises does not hold.
#define QARSILO_FUZZ_CHECK(cond)                                                                   \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);          \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

} // namespace qarsilo::fuzz
