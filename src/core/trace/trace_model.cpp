#include "core/trace/trace_model.h"

#include "core/analysis/frame_layout.h"
#include "core/analysis/frame_reader.h"
#include "core/trace/trace_colours.h"

#include <algorithm>

namespace qarsilo {

void TraceModel::handleFrame(const std::uint8_t* bytes, std::size_t length) {
    m_seen.fetch_add(1, std::memory_order_relaxed);
    // Refused before anything else: the bound keeps the interface thread's
    // animation work, and with it the drawing, within reach.
    if (m_animations.load(std::memory_order_acquire) >= kMaxAnimations) {
        m_dropBound.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    // The whole Ethernet header: the colour reads its type.
    if (!FrameReader(bytes, length).has(0, layout::kEthHeaderEnd))
        return;
    const MacAddress monitored = m_monitored.load(std::memory_order_relaxed);
    const MacAddress destination = macAddressAt(bytes + layout::kEthDestination);
    const MacAddress source = macAddressAt(bytes + layout::kEthSource);
    TraceDirection direction;
    MacAddress peer;
    if (source == monitored) {
        direction = TraceDirection::Out;
        peer = destination;
    } else if (destination == monitored) {
        direction = TraceDirection::In;
        peer = source;
    } else {
        return; // the filter lets only the monitored node's frames through
    }
    const std::optional<std::uint32_t> rgb = traceColour(layer(), bytes, length);
    if (!rgb)
        return;
    m_handled.fetch_add(1, std::memory_order_relaxed);
    // Only this thread adds to the queue, so room seen here stays; no lock needed.
    if (m_queueEvents && m_queued.load(std::memory_order_acquire) >= kQueueCapacity) {
        m_dropQueue.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const SideNodeTable::CheckIn in = m_table.checkIn(peer, *rgb, nodeLife());
    if (in.outcome == SideNodeTable::Outcome::Busy) {
        m_dropBusy.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    TraceEvent event;
    event.direction = direction;
    event.rgb = *rgb;
    if (in.outcome == SideNodeTable::Outcome::NoSlot) {
        m_dropNoSlot.fetch_add(1, std::memory_order_relaxed);
    } else {
        event.slot = in.slot;
        event.label = in.label;
        event.animate = showPackets();
    }
    if (!m_queueEvents)
        return;
    if (event.animate)
        m_animations.fetch_add(1, std::memory_order_acq_rel);
    std::lock_guard lock(m_queueLock);
    m_queue.push_back(std::move(event));
    m_queued.store(m_queue.size(), std::memory_order_release);
}

std::vector<TraceEvent> TraceModel::takeEvents() {
    std::vector<TraceEvent> out;
    std::lock_guard lock(m_queueLock);
    out.swap(m_queue);
    // The next batch is about as large: one allocation, not a run of regrowths.
    m_queue.reserve(out.size());
    m_queued.store(0, std::memory_order_release);
    return out;
}

TraceDropCounts TraceModel::drops() const {
    return {m_dropBound.load(std::memory_order_relaxed), m_dropBusy.load(std::memory_order_relaxed),
            m_dropNoSlot.load(std::memory_order_relaxed),
            m_dropQueue.load(std::memory_order_relaxed)};
}

void TraceModel::resetCounts() {
    m_seen.store(0, std::memory_order_relaxed);
    m_handled.store(0, std::memory_order_relaxed);
    m_dropBound.store(0, std::memory_order_relaxed);
    m_dropBusy.store(0, std::memory_order_relaxed);
    m_dropNoSlot.store(0, std::memory_order_relaxed);
    m_dropQueue.store(0, std::memory_order_relaxed);
}

bool TraceAnimator::moveAndDraw(Animation& a) {
    while (a.left == 0) {
        if (++a.run >= static_cast<int>(a.motion.runs.size()))
            return false;
        a.left = a.motion.runs[static_cast<std::size_t>(a.run)].steps;
    }
    const TraceRun& run = a.motion.runs[static_cast<std::size_t>(a.run)];
    // The point moves before it is drawn: the first square is one step out.
    a.point += QPoint(run.dx * kTraceStep, run.dy * kTraceStep);
    --a.left;
    m_board.drawSquare(a.point, a.rgb);
    return true;
}

void TraceAnimator::start(int slot, TraceDirection direction, std::uint32_t rgb, int pathLifeMs,
                          qint64 nowMs) {
    const TraceMotion motion = traceMotion(m_board.centre(), slot, direction);
    Animation a{slot,   rgb, std::max(0, pathLifeMs), motion.start,
                motion, 0,   motion.runs[0].steps,    nowMs};
    if (!m_model.animationsAllowed() || !moveAndDraw(a)) {
        m_model.animationEnded();
        return;
    }
    a.due = nowMs + a.pathLife;
    m_running.push_back(a);
}

int TraceAnimator::advance(qint64 nowMs) {
    int ran = 0;
    const bool allowed = m_model.animationsAllowed();
    for (auto it = m_running.begin(); it != m_running.end();) {
        Animation& a = *it;
        if (a.due > nowMs) {
            ++it;
            continue;
        }
        ++ran;
        ++m_steps;
        m_lateMs += nowMs - a.due;
        m_board.drawSquare(a.point, 0xFFFFFF);
        m_board.drawPath(a.slot, a.rgb);
        if (!allowed || !moveAndDraw(a)) {
            m_model.animationEnded();
            it = m_running.erase(it);
            continue;
        }
        // Behind the clock (a busy interface thread): go on from now rather
        // than run the missed steps in a burst.
        a.due = std::max(a.due + a.pathLife, nowMs);
        if (a.due == nowMs && a.pathLife > 0)
            a.due = nowMs + a.pathLife;
        ++it;
    }
    return ran;
}

void TraceAnimator::endAll() {
    for (std::size_t i = 0; i < m_running.size(); ++i)
        m_model.animationEnded();
    m_running.clear();
}

qint64 TraceAnimator::nextDue() const {
    qint64 due = -1;
    for (const Animation& a : m_running)
        if (due < 0 || a.due < due)
            due = a.due;
    return due;
}

} // namespace qarsilo
