#include "core/analysis/display_filter.h"

#include <algorithm>

namespace qarsilo {

DisplayFilter::~DisplayFilter() {
    release();
}

void DisplayFilter::release() {
    if (m_compiled)
        pcap_freecode(&m_program);
    m_compiled = false;
    m_program = {};
}

bool DisplayFilter::compile(const QString& expression, QString* error) {
    release();
    m_expression = expression.trimmed();
    if (m_expression.isEmpty())
        return true;
    // A dead handle of the stored frames' link type: nothing is opened.
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 262144);
    if (!dead) {
        if (error)
            *error = QStringLiteral("libpcap could not set up the filter");
        return false;
    }
    const QByteArray text = m_expression.toUtf8();
    const bool ok = pcap_compile(dead, &m_program, text.constData(), 1, PCAP_NETMASK_UNKNOWN) == 0;
    if (!ok && error)
        *error = QString::fromLocal8Bit(pcap_geterr(dead));
    pcap_close(dead);
    m_compiled = ok;
    return ok;
}

bool DisplayFilter::matches(const FrameHeader& header, const std::uint8_t* bytes) const {
    if (!m_compiled)
        return true;
    pcap_pkthdr h{};
    h.caplen = header.capLen;
    h.len = header.wireLen;
    return pcap_offline_filter(&m_program, &h, bytes) != 0;
}

std::vector<std::uint32_t> DisplayFilter::scan(const FrameStore& store, std::size_t begin,
                                               std::size_t end, std::atomic<std::size_t>* done,
                                               const std::atomic<bool>* cancel) const {
    std::vector<std::uint32_t> out;
    end = std::min(end, store.size());
    constexpr std::size_t kBatch = 16384;
    for (std::size_t i = begin; i < end; i += kBatch) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            break;
        const std::size_t stop = std::min(end, i + kBatch);
        for (std::size_t k = i; k < stop; ++k) {
            const FrameStore::Frame f = store.at(k);
            if (matches(f.header, f.bytes))
                out.push_back(static_cast<std::uint32_t>(k));
        }
        if (done)
            done->store(stop - begin, std::memory_order_relaxed);
    }
    return out;
}

} // namespace qarsilo
