#pragma once

#include "core/trace/side_node_table.h"
#include "core/trace/trace_board.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qarsilo {

/// What the capture thread hands to the interface thread for one frame:
/// draw the peer's path and node, and animate the frame when asked. A frame
/// for which no slot could be given carries slot -1 (the view logs it).
struct TraceEvent {
    int slot = -1;
    TraceDirection direction = TraceDirection::Out;
    std::uint32_t rgb = 0;
    QString label;
    bool animate = false;
};

/// Why frames were not drawn, counted since the last start.
struct TraceDropCounts {
    std::uint64_t animationBound = 0; ///< more animations running than allowed
    std::uint64_t busy = 0;           ///< the side node table was held by another thread
    std::uint64_t noSlot = 0;         ///< 16 fresh peers, none could give its place
    std::uint64_t queueFull = 0;      ///< the interface thread fell behind
};

/// The trace's core: the monitored node, the side node table, the packet
/// handler (capture thread) and the one-second ageing (interface thread).
/// The handler never draws; it hands each frame's drawing to the interface
/// thread through a bounded queue.
class TraceModel {
public:
    /// Animations running (or queued) at once, at most.
    static constexpr int kMaxAnimations = 60;
    /// Frames waiting for the interface thread, at most.
    static constexpr std::size_t kQueueCapacity = 4096;

    TraceModel() = default;

    /// Set while no capture runs.
    void setMonitored(MacAddress mac) { m_monitored.store(mac, std::memory_order_relaxed); }
    MacAddress monitored() const { return m_monitored.load(std::memory_order_relaxed); }

    void setLayer(int layer) { m_layer.store(layer, std::memory_order_relaxed); }
    int layer() const { return m_layer.load(std::memory_order_relaxed); }
    void setNodeLife(int seconds) { m_nodeLife.store(seconds, std::memory_order_relaxed); }
    int nodeLife() const { return m_nodeLife.load(std::memory_order_relaxed); }
    void setShowPackets(bool on) { m_showPackets.store(on, std::memory_order_relaxed); }
    bool showPackets() const { return m_showPackets.load(std::memory_order_relaxed); }
    /// Off: handled frames update the table only (qarsilo-cli).
    void setQueueEvents(bool on) { m_queueEvents = on; }

    /// Cleared to end every running animation at its next step.
    void setAnimationsAllowed(bool on) { m_allowed.store(on, std::memory_order_release); }
    bool animationsAllowed() const { return m_allowed.load(std::memory_order_acquire); }
    /// Animations running or queued; the interface thread calls
    /// animationEnded() for each that ends or is never started.
    int animations() const { return m_animations.load(std::memory_order_acquire); }
    void animationEnded() { m_animations.fetch_sub(1, std::memory_order_acq_rel); }

    /// Capture thread: one Ethernet frame of `length` captured bytes.
    void handleFrame(const std::uint8_t* bytes, std::size_t length);
    /// Interface thread: the frames handled since the last call, in order.
    std::vector<TraceEvent> takeEvents();
    /// Interface thread: one second passes. The slots of removed peers, or
    /// nullopt when the table was busy and nothing aged.
    std::optional<std::vector<int>> age() { return m_table.age(); }

    SideNodeTable& table() { return m_table; }
    const SideNodeTable& table() const { return m_table; }

    /// Frames handed to the handler, frames of the monitored node it took
    /// for drawing, and frames not drawn, since the last resetCounts().
    std::uint64_t seen() const { return m_seen.load(std::memory_order_relaxed); }
    std::uint64_t handled() const { return m_handled.load(std::memory_order_relaxed); }
    TraceDropCounts drops() const;
    void resetCounts();

private:
    SideNodeTable m_table;
    std::atomic<MacAddress> m_monitored{0};
    std::atomic<int> m_layer{0};
    std::atomic<int> m_nodeLife{5};
    std::atomic<bool> m_showPackets{true};
    std::atomic<bool> m_allowed{true};
    std::atomic<int> m_animations{0};
    bool m_queueEvents = true;

    std::mutex m_queueLock;
    std::vector<TraceEvent> m_queue;
    std::atomic<std::size_t> m_queued{0}; ///< m_queue's size, for the capture thread's room test

    std::atomic<std::uint64_t> m_seen{0};
    std::atomic<std::uint64_t> m_handled{0};
    std::atomic<std::uint64_t> m_dropBound{0};
    std::atomic<std::uint64_t> m_dropBusy{0};
    std::atomic<std::uint64_t> m_dropNoSlot{0};
    std::atomic<std::uint64_t> m_dropQueue{0};
};

/// The packet animations of one board, stepped by one timer on the interface
/// thread. Each animation moves its square one step per path life: it draws
/// the square, and at the next step erases it, repairs the path and, while
/// animations are allowed, moves on.
class TraceAnimator {
public:
    TraceAnimator(TraceBoard& board, TraceModel& model)
        : m_board(board)
        , m_model(model) {}

    /// Starts an animation at `nowMs` (any steady millisecond clock). When
    /// animations are not allowed it ends at once.
    void start(int slot, TraceDirection direction, std::uint32_t rgb, int pathLifeMs, qint64 nowMs);
    /// Runs every step due at `nowMs`. Returns the number of steps run.
    int advance(qint64 nowMs);
    /// Ends every animation now (the board is going away).
    void endAll();
    int running() const { return static_cast<int>(m_running.size()); }
    /// The time of the earliest step due, or -1 when none runs.
    qint64 nextDue() const;
    /// Steps run since the start, and how late they ran in total (ms).
    std::uint64_t steps() const { return m_steps; }
    qint64 lateness() const { return m_lateMs; }

private:
    struct Animation {
        int slot;
        std::uint32_t rgb;
        int pathLife;
        QPoint point;
        TraceMotion motion;
        int run;  // index into motion.runs
        int left; // steps left in that run
        qint64 due;
    };
    bool moveAndDraw(Animation& a);

    TraceBoard& m_board;
    TraceModel& m_model;
    std::vector<Animation> m_running;
    std::uint64_t m_steps = 0;
    qint64 m_lateMs = 0;
};

} // namespace qarsilo
