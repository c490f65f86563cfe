#pragma once

#include "core/analysis/frame_store.h"

#include <QString>
#include <pcap/pcap.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace qarsilo {

/// A capture filter expression (libpcap's language) applied to stored
/// Ethernet frames instead of the wire: the analyzer's display filter.
/// Matching is a pure function of the frame, safe from any thread once
/// compiled.
class DisplayFilter {
public:
    DisplayFilter() = default;
    ~DisplayFilter();
    DisplayFilter(const DisplayFilter&) = delete;
    DisplayFilter& operator=(const DisplayFilter&) = delete;

    /// Compiles `expression` for Ethernet frames; an empty one matches every
    /// frame. On failure the previous program is gone and `error` holds
    /// libpcap's text.
    bool compile(const QString& expression, QString* error = nullptr);
    bool isEmpty() const { return !m_compiled; }
    QString expression() const { return m_expression; }

    bool matches(const FrameHeader& header, const std::uint8_t* bytes) const;

    /// Indices in [begin, end) of the frames of `store` that match, in order.
    /// `done` (when given) counts the frames looked at; a set `cancel` ends the
    /// scan early with what was found so far.
    std::vector<std::uint32_t> scan(const FrameStore& store, std::size_t begin, std::size_t end,
                                    std::atomic<std::size_t>* done = nullptr,
                                    const std::atomic<bool>* cancel = nullptr) const;

private:
    void release();
    bpf_program m_program{};
    bool m_compiled = false;
    QString m_expression;
};

} // namespace qarsilo
