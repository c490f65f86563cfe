#pragma once

#include <QtGlobal>

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

} // namespace qarsilo
