// The conversation and endpoint tables, every type, with a small row limit so
// that folding into the "other" row runs too. Whatever the frames, each table's
// endpoints add up to its conversations: every counted frame is sent by one
// endpoint and received by one (a station's frame to itself both ways).
#include "fuzz_input.h"

#include "core/stats/talk_tables.h"

using namespace qarsilo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TalkTables::Options options;
    options.rowLimit = 4;
    TalkTables tables(options);
    fuzz::FrameRecords records(data, size);
    fuzz::FuzzFrame f;
    int n = 0;
    while (records.next(f)) {
        tables.add(f.header, f.bytes.get());
        tables.advanceTo(f.header.ts.tv_sec);
        if (++n % 3 == 0)
            (void)tables.conversationChanges(TalkType(n % kTalkTypeCount), 2);
    }
    for (int t = 0; t < kTalkTypeCount; ++t) {
        const auto type = TalkType(t);
        std::uint64_t frames = 0, bytes = 0;
        for (const ConversationRow& c : tables.conversations(type)) {
            frames += c.framesAB + c.framesBA;
            bytes += c.bytesAB + c.bytesBA;
            QARSILO_FUZZ_CHECK(c.isOther() || !(c.b < c.a));
        }
        std::uint64_t sent = 0, sentBytes = 0, received = 0, receivedBytes = 0;
        for (const EndpointRow& e : tables.endpoints(type)) {
            sent += e.framesSent;
            sentBytes += e.bytesSent;
            received += e.framesReceived;
            receivedBytes += e.bytesReceived;
        }
        QARSILO_FUZZ_CHECK(sent == frames && received == frames);
        QARSILO_FUZZ_CHECK(sentBytes == bytes && receivedBytes == bytes);
        QARSILO_FUZZ_CHECK(tables.rowCount(type, true) <= options.rowLimit + 1);
    }
    return 0;
}
