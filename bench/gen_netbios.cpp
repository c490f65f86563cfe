// Writes a deterministic capture of NetBIOS datagrams (UDP port 138) for the
// autodiscovery benchmarks: STATIONS stations in turn announce their name to
// their workgroup. A few stations change address or name halfway through (the
// duplicate pass's conflicts), some datagrams come from a group MAC or go to
// the browser name (neither gives a row). The capture starts half an hour
// before the spring clock change in central Europe, so that with
// TZ=Europe/Berlin the dates cross a change of offset.
//
//   qarsilo-gen-netbios [-n DATAGRAMS] [--stations N] [--rate PER_SECOND] OUTPUT.pcap

#include <pcap/pcap.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kFrameLength = 243;

// The first-level encoding of a 16-byte NetBIOS name: blank padded, `suffix` last.
void encodeName(std::uint8_t* out, const std::string& name, std::uint8_t suffix) {
    std::array<std::uint8_t, 16> raw;
    raw.fill(' ');
    std::memcpy(raw.data(), name.data(), std::min<std::size_t>(name.size(), 15));
    raw[15] = suffix;
    for (std::size_t i = 0; i < 16; ++i) {
        out[2 * i] = static_cast<std::uint8_t>('A' + (raw[i] >> 4));
        out[2 * i + 1] = static_cast<std::uint8_t>('A' + (raw[i] & 15));
    }
}

void be16(std::uint8_t* at, std::uint16_t v) {
    at[0] = static_cast<std::uint8_t>(v >> 8);
    at[1] = static_cast<std::uint8_t>(v);
}

void be32(std::uint8_t* at, std::uint32_t v) {
    be16(at, static_cast<std::uint16_t>(v >> 16));
    be16(at + 2, static_cast<std::uint16_t>(v));
}

void datagram(std::uint8_t* b, std::uint32_t station, std::uint32_t ip, const std::string& name,
              const std::string& workgroup, bool groupMac) {
    std::memset(b, 0, kFrameLength);
    std::memset(b, 0xFF, 6); // to everyone
    const std::uint8_t mac[6] = {static_cast<std::uint8_t>(groupMac ? 0x03 : 0x02),
                                 0x00,
                                 0x5E,
                                 static_cast<std::uint8_t>(station >> 16),
                                 static_cast<std::uint8_t>(station >> 8),
                                 static_cast<std::uint8_t>(station)};
    std::memcpy(b + 6, mac, 6);
    be16(b + 12, 0x0800);
    // IPv4, 20-byte header, UDP, to the subnet's broadcast address.
    b[14] = 0x45;
    be16(b + 16, static_cast<std::uint16_t>(kFrameLength - 14));
    b[22] = 128;
    b[23] = 17;
    be32(b + 26, ip);
    be32(b + 30, ip | 0xFFu);
    be16(b + 34, 138);
    be16(b + 36, 138);
    be16(b + 38, static_cast<std::uint16_t>(kFrameLength - 34));
    // The datagram header: direct group datagram from the station.
    b[42] = 0x11;
    b[43] = 0x0A;
    be16(b + 44, static_cast<std::uint16_t>(station));
    be32(b + 46, ip);
    be16(b + 50, 138);
    be16(b + 52, static_cast<std::uint16_t>(kFrameLength - 56));
    b[56] = 0x20;
    encodeName(b + 57, name, 0x00);
    b[90] = 0x20;
    encodeName(b + 91, workgroup, 0x1D);
}

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "%s\nusage: qarsilo-gen-netbios [-n DATAGRAMS] [--stations N] "
                 "[--rate PER_SECOND] OUTPUT.pcap\n",
                 why);
    std::exit(2);
}

std::uint64_t number(const char* text) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (!end || *end || end == text)
        usage("not a number");
    return v;
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t count = 1000000;
    std::uint32_t stations = 5000;
    std::uint64_t rate = 100;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "-n" || arg == "--stations" || arg == "--rate") && i + 1 < argc) {
            const std::uint64_t v = number(argv[++i]);
            if (arg == "-n")
                count = v;
            else if (arg == "--stations")
                stations = static_cast<std::uint32_t>(v);
            else
                rate = v;
        } else if (!output && arg.size() > 0 && arg[0] != '-') {
            output = argv[i];
        } else {
            usage("unexpected argument");
        }
    }
    if (!output)
        usage("no output file");
    if (stations == 0 || stations > 0xFFFFFF || rate == 0)
        usage("stations are 1 to 16777215, the rate at least 1");

    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* out = pcap_dump_open(dead, output);
    if (!out) {
        std::fprintf(stderr, "%s\n", pcap_geterr(dead));
        return 1;
    }
    // 2026-03-29 00:30:00 UTC: the clocks of central Europe go forward at 01:00 UTC.
    constexpr std::int64_t kStart = 1774744200;
    std::uint8_t frame[kFrameLength];
    char text[32];
    for (std::uint64_t k = 0; k < count; ++k) {
        const auto station = static_cast<std::uint32_t>(k % stations);
        const bool late = k >= count / 2;
        // 10.x.y.z, 254 stations to a /24 network.
        std::uint32_t ip = (10u << 24) | ((station / 254) << 8) | (station % 254 + 1);
        if (late && station % 1000 == 7)
            ip = (169u << 24) | (254u << 16) | (station & 0xFFFF); // no DHCP answer
        else if (late && station % 1000 == 8)
            ip += 1u << 16; // moved
        std::snprintf(text, sizeof text, "HOST%05u%s", station,
                      late && station % 1000 == 9 ? "-R" : "");
        const std::string name = text;
        std::snprintf(text, sizeof text, "WG%02u", station % 20);
        std::string workgroup = text;
        const bool groupMac = station % 997 == 3;
        if (k % 101 == 50)
            workgroup = "\x01\x02__MSBROWSE__\x02"; // browser traffic: no workgroup
        datagram(frame, station, ip, name, workgroup, groupMac);
        if (k % 101 == 50) {
            frame[91] = 'A';
            frame[92] = 'B';
        }
        pcap_pkthdr h{};
        const std::int64_t micros = static_cast<std::int64_t>(k * 1000000 / rate);
        h.ts.tv_sec = static_cast<time_t>(kStart + micros / 1000000);
        h.ts.tv_usec = static_cast<suseconds_t>(micros % 1000000);
        h.caplen = h.len = kFrameLength;
        pcap_dump(reinterpret_cast<u_char*>(out), &h, frame);
    }
    pcap_dump_close(out);
    pcap_close(dead);
    return 0;
}
