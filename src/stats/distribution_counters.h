#pragma once

#include "stats/distribution_tables.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace qarsilo {

/// Bytes per category, added by one or two capture threads and handed to the
/// interface thread's tick. Every addition is one atomic add and every hand-
/// over one atomic exchange per category, so no byte is lost or counted twice
/// however the threads interleave. The total is the sum of what a hand-over
/// returns, never a counter of its own: a separate total could be read a
/// frame ahead of or behind the categories.
class DistributionCounters {
public:
    using Bytes = std::array<std::uint64_t, kMaxChartCategories>;

    /// Capture threads.
    void add(const FrameShare& share) noexcept {
        for (std::uint8_t i = 0; i < share.count; ++i)
            m_bytes[share.category[i]].fetch_add(share.bytes, std::memory_order_relaxed);
    }
    void add(int category, std::uint64_t bytes) noexcept {
        m_bytes[static_cast<std::size_t>(category)].fetch_add(bytes, std::memory_order_relaxed);
    }

    /// Everything added since the last take, leaving 0 behind.
    Bytes take() noexcept {
        Bytes out{};
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = m_bytes[i].exchange(0, std::memory_order_acq_rel);
        return out;
    }

private:
    std::array<std::atomic<std::uint64_t>, kMaxChartCategories> m_bytes{};
};

} // namespace qarsilo
