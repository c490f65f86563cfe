// The autodiscovery's frame parsers: NetBIOS datagrams and IPv4 ends.
#include "fuzz_input.h"

#include "core/discovery/discovery_frame.h"

using namespace qarsilo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FrameRecords records(data, size);
    fuzz::FuzzFrame f;
    while (records.next(f)) {
        const std::uint8_t* bytes = f.bytes.get();
        const std::size_t length = f.header.caplen;
        if (const auto s = parseNetbiosFrame(bytes, length)) {
            QARSILO_FUZZ_CHECK(length >= kNetbiosFrameMinimum);
            QARSILO_FUZZ_CHECK(!discoveryMacText(s->mac).isEmpty());
            QARSILO_FUZZ_CHECK(!discoverySubnetText(s->ip).isEmpty());
        }
        if (const auto s = parseIpFrame(bytes, length)) {
            QARSILO_FUZZ_CHECK(length >= kIpFrameMinimum);
            QARSILO_FUZZ_CHECK(!discoveryIpText(s->dstIp).isEmpty());
        }
        if (length >= 32)
            QARSILO_FUZZ_CHECK(decodeNetbiosName(bytes).size() <= 16);
    }
    return 0;
}
