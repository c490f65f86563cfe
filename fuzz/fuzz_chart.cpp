// The six chart windows' frame handler: each frame is counted by every kind
// of chart (by capture 0 or 1, after the time stamp's lowest bit, for the
// windows of two captures), then the tick takes the counts.
#include "fuzz_input.h"

#include "core/capture/capture_session.h"
#include "core/stats/distribution_chart.h"

#include <array>
#include <memory>

using namespace qarsilo;

namespace {

constexpr std::array<CaptureWindow, kChartKinds> kWindows{
    CaptureWindow::PacketSizeView, CaptureWindow::PDL2View,  CaptureWindow::PDL3View,
    CaptureWindow::PDv6L3View,     CaptureWindow::PDAppView, CaptureWindow::PDv4v6L3View};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Built once (their pictures are costly); every input's take empties the counters.
    static std::array<std::unique_ptr<DistributionChart>, kChartKinds> charts = [] {
        std::array<std::unique_ptr<DistributionChart>, kChartKinds> c;
        for (int k = 0; k < kChartKinds; ++k)
            c[static_cast<std::size_t>(k)] = std::make_unique<DistributionChart>(ChartKind(k));
        return c;
    }();
    std::array<std::uint64_t, kChartKinds> expected{};
    fuzz::FrameRecords records(data, size);
    fuzz::FuzzFrame f;
    while (records.next(f)) {
        for (int k = 0; k < kChartKinds; ++k) {
            DistributionChart& chart = *charts[static_cast<std::size_t>(k)];
            const int slot =
                captureWindowParams(kWindows[static_cast<std::size_t>(k)]).sessions == 2
                    ? static_cast<int>(f.header.ts.tv_sec & 1)
                    : 0;
            const FrameShare share = chartFrameShare(chart.kind(), slot, f.header, f.bytes.get());
            QARSILO_FUZZ_CHECK(share.count <= share.category.size());
            for (std::uint8_t i = 0; i < share.count; ++i)
                QARSILO_FUZZ_CHECK(share.category[i] < chart.categoryCount());
            expected[static_cast<std::size_t>(k)] += std::uint64_t{share.bytes} * share.count;
            chart.countFrame(slot, f.header, f.bytes.get());
        }
    }
    for (int k = 0; k < kChartKinds; ++k) {
        DistributionChart& chart = *charts[static_cast<std::size_t>(k)];
        const DistributionChart::Bytes taken = chart.counters().take();
        std::uint64_t sum = 0;
        for (const std::uint64_t b : taken)
            sum += b;
        QARSILO_FUZZ_CHECK(sum == expected[static_cast<std::size_t>(k)]);
    }
    return 0;
}
