#pragma once

#include "core/capture/capture_params.h"

#include <pcap/pcap.h>

#include <array>
#include <cstdint>

namespace qarsilo {

/// The filters of a two-capture chart window, run on frames read once for
/// both captures instead of once per capture. The frames come as the window's
/// captures get them: cut to the snapshot length. A filter that reads only
/// fixed offsets within the snapshot length (and the wire length) answers on
/// the cut frame as it did on the whole one, so the split is exact; any other
/// filter leaves the split unusable and the captures read the file in turn.
class ChartCaptureSplit {
public:
    /// Compiles the filters of `window`'s captures for Ethernet, as its
    /// sessions compile them.
    explicit ChartCaptureSplit(CaptureWindow window);
    ~ChartCaptureSplit();
    ChartCaptureSplit(const ChartCaptureSplit&) = delete;
    ChartCaptureSplit& operator=(const ChartCaptureSplit&) = delete;

    /// Every capture's filter compiled and reads only what a cut frame keeps.
    bool usable() const { return m_usable; }
    int captures() const { return m_captures; }
    /// The window whose session reads the frames for all the captures:
    /// unfiltered, with this window's snapshot length and failure reports.
    static CaptureWindow reader();

    /// Bit `slot` set when capture `slot`'s filter takes the frame.
    unsigned takenBy(const pcap_pkthdr& header, const std::uint8_t* bytes) const {
        unsigned mask = 0;
        for (int i = 0; i < m_captures; ++i)
            if (pcap_offline_filter(&m_programs[static_cast<std::size_t>(i)], &header, bytes) != 0)
                mask |= 1u << i;
        return mask;
    }

    /// A program that reads only fixed offsets below `snapLen` (or the wire
    /// length) gives the same answer on a frame cut to `snapLen`.
    static bool readsWithin(const bpf_program& program, int snapLen);

private:
    std::array<bpf_program, 2> m_programs{};
    int m_captures = 0;
    bool m_usable = false;
};

} // namespace qarsilo
