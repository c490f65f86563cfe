// The single node statistics window's two frame handlers (a frame goes to
// "From" when its time stamp is odd, to "To" otherwise) and its tick.
#include "fuzz_input.h"

#include "core/analysis/wire_length.h"
#include "core/stats/single_node_stats.h"

using namespace qarsilo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SingleNodeStats stats(10'000'000, 0);
    fuzz::FrameRecords records(data, size);
    fuzz::FuzzFrame f;
    qint64 last = 0;
    std::uint64_t expected = 0;
    while (records.next(f)) {
        if (f.header.ts.tv_sec & 1)
            stats.countSent(f.header, f.bytes.get());
        else
            stats.countReceived(f.header, f.bytes.get());
        last = f.header.ts.tv_sec;
        // With the framing; a wire length no frame has counts capped.
        expected += std::uint64_t{countedWireLength(f.header.len, f.header.caplen).bytes} + 24;
    }
    stats.tick(last);
    QARSILO_FUZZ_CHECK(stats.bytes(SingleNodeStats::Total) == expected);
    return 0;
}
