// The general statistics window's frame handler, its tick and the Top Users cells.
#include "fuzz_input.h"

#include "core/stats/general_stats.h"

#include <array>

using namespace qarsilo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    GeneralStats stats(100'000'000);
    fuzz::FrameRecords records(data, size);
    fuzz::FuzzFrame f;
    std::uint64_t frames = 0;
    qint64 last = 0;
    while (records.next(f)) {
        stats.countFrame(f.header, f.bytes.get());
        ++frames;
        last = f.header.ts.tv_sec;
    }
    stats.tick(last);
    QARSILO_FUZZ_CHECK(stats.currentPackets() == frames);
    QARSILO_FUZZ_CHECK(stats.rows().size() == frames);
    std::array<char, kMaxTopUserCell> cell{};
    for (const TopUser& row : stats.rows())
        for (int column = 0; column < TopUserColumn::Count; ++column)
            QARSILO_FUZZ_CHECK(formatTopUserCell(row, column, cell.data()) <= cell.size());
    return 0;
}
