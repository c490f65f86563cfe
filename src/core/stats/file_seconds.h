#pragma once

#include "core/stats/distribution_counters.h"

#include <pcap/pcap.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

namespace qarsilo {

/// A chart window's bytes by second of a capture file, for replays that run
/// faster than the file's clock. Each capture thread adds its frames to the
/// second it is in and hands the second over when its frames move on to a
/// later one; the interface thread takes the seconds that every capture has
/// finished, in order, so a window of two captures that read at different
/// speeds still sees each second whole.
///
/// A frame stamped earlier than the second its capture is in counts in that
/// second: files merged from several sources are often slightly out of order,
/// and a second already shown is not shown again.
///
/// A capture that runs far ahead of the slowest waits until the interface has
/// taken what is pending, so the pending seconds stay bounded; the slowest
/// never waits, so the captures always progress.
class FileSeconds {
public:
    using Bytes = DistributionCounters::Bytes;
    struct Second {
        long long second;
        Bytes bytes;
    };
    static constexpr int kSlots = DistributionCounters::kSlots;
    /// Pending seconds beyond which a capture ahead of the slowest waits.
    static constexpr std::size_t kMaxPending = 4096;

    /// Forgets everything: `slots` captures (1 or 2) start afresh.
    void reset(int slots);

    /// Capture thread of `slot`: adds a frame's share to the second of its stamp.
    void add(int slot, long long stampSecond, const FrameShare& share) {
        Slot& s = m_slots[static_cast<std::size_t>(slot & 1)];
        if (!s.started || stampSecond > s.second)
            moveTo(slot, stampSecond);
        for (std::uint8_t i = 0; i < share.count; ++i)
            s.bytes[share.category[i]] += share.bytes;
    }
    /// Capture thread of `slot`, at the end of its file: hands over its last second.
    void finish(int slot);
    /// Releases every capture that waits; later waits return at once until reset.
    void cancel();

    /// Interface thread: the seconds every capture has finished, oldest first.
    std::vector<Second> take();
    /// Every capture has finished and everything was taken.
    bool done() const;
    /// Seconds handed over and not yet taken.
    std::size_t pending() const;

private:
    struct alignas(64) Slot {
        // The capture thread's own; under the lock only in moveTo and finish.
        bool started = false;
        long long second = 0;
        Bytes bytes{};
    };
    void moveTo(int slot, long long second);
    void handOver(Slot& s);    // under m_lock
    long long slowest() const; // under m_lock

    std::array<Slot, kSlots> m_slots{};
    mutable std::mutex m_lock;
    std::condition_variable m_taken;
    int m_slotCount = 1;
    bool m_cancelled = false;
    // Per slot: every second up to this one is handed over.
    std::array<long long, kSlots> m_finishedUpTo{};
    std::vector<Second> m_pending; // by second, ascending
};

} // namespace qarsilo
