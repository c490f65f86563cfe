// The autodiscovery's frame handler and what Stop makes of its buffer: the
// node rows, the local range selection and the duplicate pass. The first
// frame's time stamp picks the mode (odd: IP listening) and, in IP
// listening, whether only the first frame's subnet is watched.
#include "fuzz_input.h"

#include "core/discovery/discovery_store.h"
#include "core/discovery/discovery_tables.h"

using namespace qarsilo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DiscoveryStore store;
    fuzz::FrameRecords records(data, size);
    fuzz::FuzzFrame f;
    bool first = true;
    QStringList ranges;
    long long ipFrames = 0;
    std::size_t datagrams = 0;
    while (records.next(f)) {
        if (first) {
            first = false;
            const time_t t = f.header.ts.tv_sec;
            store.setMode(t & 1 ? DiscoveryMode::Ip : DiscoveryMode::NetBios);
            if (const auto ends = parseIpFrame(f.bytes.get(), f.header.caplen))
                ranges << discoverySubnetText(ends->srcIp);
            if (t & 2)
                store.setWatchedRanges(ranges);
        }
        if (store.mode() == DiscoveryMode::Ip && parseIpFrame(f.bytes.get(), f.header.caplen))
            ++ipFrames;
        // A datagram from a group address names no station and is not kept.
        if (store.mode() == DiscoveryMode::NetBios)
            if (const auto s = parseNetbiosFrame(f.bytes.get(), f.header.caplen);
                s && !isGroupMac(s->mac))
                ++datagrams;
        store.handleFrame(f.bytes.get(), f.header.caplen, f.header.ts.tv_sec);
    }
    QList<DiscoveredNode> rows;
    if (store.mode() == DiscoveryMode::NetBios) {
        const std::vector<NetbiosRecord> records = store.takeNetbios();
        QARSILO_FUZZ_CHECK(records.size() == datagrams);
        for (const NetbiosRecord& r : records)
            rows.append(netbiosNode(r));
    } else {
        QARSILO_FUZZ_CHECK(store.ipFrames() == ipFrames);
        const IpBuffer buffer = store.takeIp();
        QARSILO_FUZZ_CHECK(buffer.droppedEnds == 0);
        rows = selectLocalNodes(buffer.ends, ranges);
    }
    const qsizetype before = rows.size();
    for (const DiscoveryConflict& c : clearDuplicates(rows, store.mode(), {}))
        QARSILO_FUZZ_CHECK(c.earlier < c.later && c.later < rows.size());
    QARSILO_FUZZ_CHECK(rows.size() <= before);
    return 0;
}
