#pragma once

#include <QtGlobal>

#include <atomic>
#include <limits>

namespace qarsilo {

/// Turns the time stamps of frames read from a capture into the ticks a
/// window's once-a-second timer would have made: one per second from the
/// first frame's second to the last one's, quiet seconds included. A frame
/// stamped earlier than the second being counted (a file out of order)
/// counts in that second, as it would have live.
class TickClock {
public:
    /// Call before handing the frame stamped `second` to the handlers: ends
    /// every second before it with `tick(second)`.
    template <class Tick> void frame(qint64 second, Tick&& tick) {
        if (!m_started) {
            m_started = true;
            m_first = m_current = second;
            return;
        }
        while (m_current < second)
            tick(m_current++);
    }
    /// After the last frame: ends the last second. Nothing when no frame came.
    template <class Tick> void finish(Tick&& tick) {
        if (m_started)
            tick(m_current);
        m_started = false;
    }

    bool started() const { return m_started; }
    /// The first frame's second.
    qint64 firstSecond() const { return m_first; }

private:
    bool m_started = false;
    qint64 m_first = 0;
    qint64 m_current = 0;
};

/// The first and the newest frame stamp of a capture file that one or more
/// capture threads read at the file's pace, for a window that ticks on its
/// own timer but tells the file's time.
class FileStamps {
public:
    /// Forgets the stamps (no capture may run).
    void reset() {
        m_first.store(kNone, std::memory_order_relaxed);
        m_newest.store(kNone, std::memory_order_relaxed);
    }
    /// Capture threads: a frame stamped `second` was read.
    void frame(qint64 second) noexcept {
        // A plain load first: the exchange is paid once, not per frame.
        if (m_first.load(std::memory_order_relaxed) == kNone) {
            qint64 none = kNone;
            m_first.compare_exchange_strong(none, second, std::memory_order_relaxed);
        }
        m_newest.store(second, std::memory_order_release);
    }
    bool started() const { return m_newest.load(std::memory_order_acquire) != kNone; }
    qint64 first() const { return m_first.load(std::memory_order_relaxed); }
    qint64 newest() const { return m_newest.load(std::memory_order_acquire); }

private:
    static constexpr qint64 kNone = std::numeric_limits<qint64>::min();
    std::atomic<qint64> m_first{kNone};
    std::atomic<qint64> m_newest{kNone};
};

} // namespace qarsilo
