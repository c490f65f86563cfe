#pragma once

#include "core/stats/distribution_tables.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace qarsilo {

/// Bytes per category, added by a window's one or two capture threads and
/// handed to the interface thread's tick. Every addition is one atomic add and
/// every hand-over one atomic exchange per counter, so no byte is lost or
/// counted twice however the threads interleave. Each capture has counters of
/// its own, on cache lines of their own, so two captures never contend; the
/// hand-over adds them up. The total is the sum of what a hand-over returns,
/// never a counter of its own: a separate total could be read a frame ahead
/// of or behind the categories.
class DistributionCounters {
public:
    using Bytes = std::array<std::uint64_t, kMaxChartCategories>;
    static constexpr int kSlots = 2;

    /// Capture thread of capture `slot` (0 or 1).
    void add(int slot, const FrameShare& share) noexcept {
        Slot& s = m_slots[static_cast<std::size_t>(slot & 1)];
        for (std::uint8_t i = 0; i < share.count; ++i)
            s.bytes[share.category[i]].fetch_add(share.bytes, std::memory_order_relaxed);
        if (share.malformed)
            s.malformed.fetch_add(1, std::memory_order_relaxed);
    }
    /// Frames added whose wire length could not be theirs, since the start.
    std::uint64_t malformedFrames() const noexcept {
        std::uint64_t n = 0;
        for (const Slot& s : m_slots)
            n += s.malformed.load(std::memory_order_relaxed);
        return n;
    }
    void addBytes(int slot, int category, std::uint64_t bytes) noexcept {
        m_slots[static_cast<std::size_t>(slot & 1)]
            .bytes[static_cast<std::size_t>(category)]
            .fetch_add(bytes, std::memory_order_relaxed);
    }

    /// Everything added since the last take, leaving 0 behind.
    Bytes take() noexcept {
        Bytes out{};
        for (Slot& s : m_slots)
            for (std::size_t i = 0; i < out.size(); ++i)
                out[i] += s.bytes[i].exchange(0, std::memory_order_acq_rel);
        return out;
    }

private:
    struct alignas(64) Slot {
        std::array<std::atomic<std::uint64_t>, kMaxChartCategories> bytes{};
        std::atomic<std::uint64_t> malformed{0};
    };
    std::array<Slot, kSlots> m_slots{};
};

} // namespace qarsilo
