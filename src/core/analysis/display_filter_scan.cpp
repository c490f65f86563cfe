#include "core/analysis/display_filter_scan.h"

#include <utility>

namespace qarsilo {

DisplayFilterScan::~DisplayFilterScan() {
    cancel();
}

void DisplayFilterScan::start(const FrameStore& store, std::unique_ptr<DisplayFilter> filter) {
    cancel();
    m_filter = std::move(filter);
    m_end = store.size();
    m_done.store(0);
    m_cancel.store(false);
    m_matches.clear();
    m_thread = std::thread([this, &store, filter = m_filter.get(), end = m_end] {
        m_matches = filter->scan(store, 0, end, &m_done, &m_cancel);
    });
}

DisplayFilterScan::Result DisplayFilterScan::take() {
    Result result;
    if (!m_thread.joinable())
        return result;
    m_thread.join();
    result.filter = std::move(m_filter);
    result.matches = std::move(m_matches);
    result.end = m_end;
    m_matches.clear();
    return result;
}

std::unique_ptr<DisplayFilter> DisplayFilterScan::cancel() {
    if (m_thread.joinable()) {
        m_cancel.store(true);
        m_thread.join();
    }
    m_matches.clear();
    return std::move(m_filter);
}

} // namespace qarsilo
