#include "core/stats/chart_capture_split.h"

namespace qarsilo {

namespace {
// Same snapshot length and same reports as the two-capture chart windows, no filter.
constexpr CaptureWindow kReader = CaptureWindow::PacketSizeView;

constexpr bool sameReader(CaptureWindow window) {
    const CaptureWindowParams& r = captureWindowParams(kReader);
    const CaptureWindowParams& w = captureWindowParams(window);
    return r.sessions == 1 && r.filterSource == FilterSource::None && r.snapLen == w.snapLen &&
           r.openFailure == w.openFailure;
}
static_assert(sameReader(CaptureWindow::PDAppView) && sameReader(CaptureWindow::PDv4v6L3View));
} // namespace

CaptureWindow ChartCaptureSplit::reader() {
    return kReader;
}

ChartCaptureSplit::ChartCaptureSplit(CaptureWindow window) {
    const CaptureWindowParams& p = captureWindowParams(window);
    if (p.sessions != 2 || p.filterSource != FilterSource::Table || !sameReader(window))
        return;
    pcap_t* compiler = pcap_open_dead(DLT_EN10MB, p.snapLen);
    if (!compiler)
        return;
    const bpf_u_int32 netmask =
        p.netmaskSource == NetmaskSource::Fixed ? p.netmask : PCAP_NETMASK_UNKNOWN;
    bool usable = true;
    for (int i = 0; i < p.sessions; ++i) {
        const char* filter = p.filters[static_cast<std::size_t>(i)];
        bpf_program& program = m_programs[static_cast<std::size_t>(i)];
        if (!filter ||
            pcap_compile(compiler, &program, filter, p.optimize, netmask) == PCAP_ERROR) {
            usable = false;
            break;
        }
        ++m_captures;
        usable = usable && readsWithin(program, p.snapLen);
    }
    pcap_close(compiler);
    m_usable = usable && m_captures == p.sessions;
}

ChartCaptureSplit::~ChartCaptureSplit() {
    for (int i = 0; i < m_captures; ++i)
        pcap_freecode(&m_programs[static_cast<std::size_t>(i)]);
}

bool ChartCaptureSplit::readsWithin(const bpf_program& program, int snapLen) {
    for (u_int i = 0; i < program.bf_len; ++i) {
        const bpf_insn& insn = program.bf_insns[i];
        const auto cls = BPF_CLASS(insn.code);
        if (cls != BPF_LD && cls != BPF_LDX)
            continue;
        const auto mode = BPF_MODE(insn.code);
        if (mode == BPF_IMM || mode == BPF_MEM || mode == BPF_LEN)
            continue;
        if (cls != BPF_LD || mode != BPF_ABS)
            return false; // indirect: the offset is known only per frame
        const std::uint64_t size = BPF_SIZE(insn.code) == BPF_W   ? 4
                                   : BPF_SIZE(insn.code) == BPF_H ? 2
                                                                  : 1;
        if (std::uint64_t{insn.k} + size > static_cast<std::uint64_t>(snapLen))
            return false;
    }
    return true;
}

} // namespace qarsilo
