// Frame classification: the analyzer's list row of every frame.
#include "fuzz_input.h"

#include "core/analysis/classify.h"

#include <array>

using namespace qarsilo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FrameRecords records(data, size);
    fuzz::FuzzFrame f;
    while (records.next(f)) {
        const FrameHeader h = frameHeaderFrom(f.header);
        const Classification c = classifyFrame(h, f.bytes.get());
        QARSILO_FUZZ_CHECK(c.infoTextLength <= c.infoText.size());
        const FrameTexts texts = frameTexts(h, c);
        QARSILO_FUZZ_CHECK(!texts.protocol.isEmpty());

        // The documented room always suffices, and both overloads agree.
        std::array<char, kMaxFrameLineLength> line{};
        std::array<char, kMaxFrameLineLength> again{};
        const std::size_t n = formatFrameLine(h, c, line.data(), line.size());
        QARSILO_FUZZ_CHECK(n > 0 && n <= line.size());
        QARSILO_FUZZ_CHECK(formatFrameLine(h, f.bytes.get(), again.data(), again.size()) == n);
        QARSILO_FUZZ_CHECK(line == again);

        std::array<char, 64> cell{};
        QARSILO_FUZZ_CHECK(appendSourceText(cell.data(), c) - cell.data() <= 15);
        QARSILO_FUZZ_CHECK(appendDestinationText(cell.data(), c) - cell.data() <= 15);
    }
    return 0;
}
