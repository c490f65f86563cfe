#pragma once

#include "core/analysis/display_filter.h"
#include "core/analysis/frame_store.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace qarsilo {

/// The display filter's first pass: tests the frames stored so far against a
/// compiled filter on a thread of its own. The owner starts it, polls done()
/// and finished() (e.g. on a timer of its interface thread) and takes the
/// result; the worker touches nothing but the store and its own members.
/// Stopping sets a flag and joins; so does the destructor.
class DisplayFilterScan {
public:
    /// A finished pass: the filter, the store indices that match it (in
    /// order) and how many frames it looked at.
    struct Result {
        std::unique_ptr<DisplayFilter> filter;
        std::vector<std::uint32_t> matches;
        std::size_t end = 0;
    };

    DisplayFilterScan() = default;
    ~DisplayFilterScan();
    DisplayFilterScan(const DisplayFilterScan&) = delete;
    DisplayFilterScan& operator=(const DisplayFilterScan&) = delete;

    /// Tests frames [0, store.size()) against `filter` (which must not be
    /// null; an empty one matches every frame). A pass still running is
    /// cancelled first. `store` must outlive the pass and not be cleared
    /// while it runs; appends may go on.
    void start(const FrameStore& store, std::unique_ptr<DisplayFilter> filter);
    /// Started and not yet taken or cancelled.
    bool running() const { return m_thread.joinable(); }
    /// Frames looked at so far, of end().
    std::size_t done() const { return m_done.load(); }
    std::size_t end() const { return m_end; }
    /// Every frame of the pass has been looked at (or none runs).
    bool finished() const { return !running() || done() >= m_end; }
    /// Waits for the pass and hands over its result; an empty one (no
    /// filter) when none runs.
    Result take();
    /// Stops the pass and drops its result; the filter it ran, or null when
    /// none ran.
    std::unique_ptr<DisplayFilter> cancel();

private:
    std::unique_ptr<DisplayFilter> m_filter;
    std::vector<std::uint32_t> m_matches; ///< written by the worker, read after the join
    std::size_t m_end = 0;
    std::atomic<std::size_t> m_done{0};
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

} // namespace qarsilo
