// The trace window's frame handler, its queue and its ageing. The first
// frame names the monitored node (its source when its time stamp is odd, else
// its destination) and, by the time stamp's next bits, the colouring layer;
// a change of time stamp ages the side node table by one second.
#include "fuzz_input.h"

#include "core/trace/trace_colours.h"
#include "core/trace/trace_model.h"

using namespace qarsilo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TraceModel model;
    fuzz::FrameRecords records(data, size);
    fuzz::FuzzFrame f;
    bool first = true;
    time_t second = 0;
    std::uint64_t frames = 0;
    while (records.next(f)) {
        if (first) {
            first = false;
            second = f.header.ts.tv_sec;
            if (f.header.caplen >= 12)
                model.setMonitored(macAddressAt(f.bytes.get() + (second & 1 ? 6 : 0)));
            model.setLayer(static_cast<int>((second >> 1) % kTraceLayerCount));
            model.setNodeLife(1 + static_cast<int>((second >> 3) % 8));
        } else if (f.header.ts.tv_sec != second) {
            second = f.header.ts.tv_sec;
            model.age();
        }
        model.handleFrame(f.bytes.get(), f.header.caplen);
        ++frames;
        for (const TraceEvent& e : model.takeEvents()) {
            QARSILO_FUZZ_CHECK(e.slot >= -1 && e.slot < 16);
            if (e.animate)
                model.animationEnded();
        }
    }
    QARSILO_FUZZ_CHECK(model.seen() == frames);
    QARSILO_FUZZ_CHECK(model.animations() == 0);
    return 0;
}
