#include "core/stats/file_seconds.h"

#include <algorithm>

namespace qarsilo {

namespace {
constexpr long long kNothing = std::numeric_limits<long long>::min();
constexpr long long kEverything = std::numeric_limits<long long>::max();
} // namespace

void FileSeconds::reset(int slots) {
    std::lock_guard lock(m_lock);
    m_slotCount = std::clamp(slots, 1, kSlots);
    m_slots = {};
    m_finishedUpTo.fill(kNothing);
    m_pending.clear();
    m_cancelled = false;
}

long long FileSeconds::slowest() const {
    long long up = kEverything;
    for (int i = 0; i < m_slotCount; ++i)
        up = std::min(up, m_finishedUpTo[static_cast<std::size_t>(i)]);
    return up;
}

void FileSeconds::handOver(Slot& s) {
    const auto at = std::lower_bound(m_pending.begin(), m_pending.end(), s.second,
                                     [](const Second& p, long long sec) { return p.second < sec; });
    if (at != m_pending.end() && at->second == s.second) {
        for (std::size_t i = 0; i < s.bytes.size(); ++i)
            at->bytes[i] += s.bytes[i];
    } else {
        m_pending.insert(at, Second{s.second, s.bytes});
    }
    s.bytes = {};
}

void FileSeconds::moveTo(int slot, long long second) {
    const auto at = static_cast<std::size_t>(slot & 1);
    Slot& s = m_slots[at];
    std::unique_lock lock(m_lock);
    if (s.started) {
        handOver(s);
        m_finishedUpTo[at] = second - 1;
        // Ahead of another capture and too much pending: wait for the
        // interface, which takes what the slowest has finished.
        m_taken.wait(lock, [&] {
            return m_cancelled || m_pending.size() < kMaxPending || m_finishedUpTo[at] <= slowest();
        });
    } else if (m_finishedUpTo[at] == kNothing) {
        m_finishedUpTo[at] = second - 1;
    }
    s.started = true;
    s.second = second;
}

void FileSeconds::finish(int slot) {
    const auto at = static_cast<std::size_t>(slot & 1);
    Slot& s = m_slots[at];
    std::lock_guard lock(m_lock);
    if (s.started)
        handOver(s);
    m_finishedUpTo[at] = kEverything;
}

void FileSeconds::cancel() {
    {
        std::lock_guard lock(m_lock);
        m_cancelled = true;
    }
    m_taken.notify_all();
}

std::vector<FileSeconds::Second> FileSeconds::take() {
    std::vector<Second> out;
    {
        std::lock_guard lock(m_lock);
        const long long up = slowest();
        const auto end = std::find_if(m_pending.begin(), m_pending.end(),
                                      [up](const Second& p) { return p.second > up; });
        out.assign(m_pending.begin(), end);
        m_pending.erase(m_pending.begin(), end);
    }
    m_taken.notify_all();
    return out;
}

bool FileSeconds::done() const {
    std::lock_guard lock(m_lock);
    return slowest() == kEverything && m_pending.empty();
}

std::size_t FileSeconds::pending() const {
    std::lock_guard lock(m_lock);
    return m_pending.size();
}

} // namespace qarsilo
