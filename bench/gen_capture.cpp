// Writes a deterministic capture of mixed Ethernet traffic for benchmarks:
// IPv4 TCP/UDP over many connections and ports, ICMP and other IPv4
// protocols, ARP, IPv6, IEEE 802.3 LLC (STP, IPX, NetBIOS, SNAP, LSAP),
// other EtherTypes and some runts. The same seed always gives the same file.
//
//   qarsilo-gen-capture [-n FRAMES] [-s SEED] [--snaplen BYTES] OUTPUT.pcap
//   qarsilo-gen-capture --conversations N OUTPUT.pcap
//
// --conversations writes N TCP frames instead, each of a 4-tuple of its own
// (10.0.0.0 upwards to 192.168.1.1:80), for the conversation tables' memory.

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: portable, so a seed means the same frames everywhere (the
// standard distributions are not specified bit for bit).
struct Rng {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint32_t n) {
        return static_cast<std::uint32_t>(((next() >> 32) * n) >> 32);
    }
    std::uint32_t range(std::uint32_t lo, std::uint32_t hi) { return lo + below(hi - lo + 1); }
    bool chance(std::uint32_t perMille) { return below(1000) < perMille; }
    template <typename T, std::size_t N> const T& pick(const T (&items)[N]) {
        return items[below(N)];
    }
};

struct Host {
    std::array<std::uint8_t, 6> mac;
    std::array<std::uint8_t, 4> ipv4;
    std::array<std::uint8_t, 16> ipv6;
};

struct Connection {
    std::uint16_t client, server; // host indexes
    std::uint16_t clientPort, serverPort;
    std::uint32_t seq;
};

constexpr std::size_t kMaxFrame = 1514;

class Frame {
public:
    std::array<std::uint8_t, kMaxFrame> b{};
    std::size_t length = 60;

    void u8(std::size_t at, std::uint8_t v) { b[at] = v; }
    void be16(std::size_t at, std::uint16_t v) {
        b[at] = static_cast<std::uint8_t>(v >> 8);
        b[at + 1] = static_cast<std::uint8_t>(v);
    }
    void be32(std::size_t at, std::uint32_t v) {
        be16(at, static_cast<std::uint16_t>(v >> 16));
        be16(at + 2, static_cast<std::uint16_t>(v));
    }
    template <std::size_t N> void bytes(std::size_t at, const std::array<std::uint8_t, N>& v) {
        std::memcpy(&b[at], v.data(), N);
    }
    void start(std::size_t frameLength, Rng& rng) {
        length = std::clamp<std::size_t>(frameLength, 60, kMaxFrame);
        // Payload filler: cheap, but not constant.
        std::uint64_t x = rng.next();
        for (std::size_t i = 0; i < length; i += 8) {
            x = x * 6364136223846793005ULL + 1442695040888963407ULL;
            std::memcpy(&b[i], &x, std::min<std::size_t>(8, length - i));
        }
    }
    void ethernet(const std::array<std::uint8_t, 6>& dst, const std::array<std::uint8_t, 6>& src,
                  std::uint16_t typeOrLength) {
        bytes(0, dst);
        bytes(6, src);
        be16(12, typeOrLength);
    }
};

const std::array<std::uint8_t, 6> kBroadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const std::array<std::uint8_t, 6> kStpGroup{0x01, 0x80, 0xC2, 0x00, 0x00, 0x00};
const std::array<std::uint8_t, 6> kCdpGroup{0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC};
const std::array<std::uint8_t, 6> kNetbiosGroup{0x03, 0x00, 0x00, 0x00, 0x00, 0x01};

class Generator {
public:
    explicit Generator(std::uint64_t seed)
        : rng_{seed} {
        hosts_.resize(512);
        for (std::size_t i = 0; i < hosts_.size(); ++i) {
            Host& h = hosts_[i];
            const std::uint64_t r = rng_.next();
            h.mac = {0x00,
                     0x1B,
                     static_cast<std::uint8_t>(r),
                     static_cast<std::uint8_t>(r >> 8),
                     static_cast<std::uint8_t>(r >> 16),
                     static_cast<std::uint8_t>(i)};
            h.ipv4 =
                i < 256 ? std::array<std::uint8_t, 4>{192, 168, 1, static_cast<std::uint8_t>(i)}
                        : std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(rng_.range(1, 223)),
                                                      static_cast<std::uint8_t>(r >> 24),
                                                      static_cast<std::uint8_t>(r >> 32),
                                                      static_cast<std::uint8_t>(r >> 40)};
            h.ipv6 = {0xFE, 0x80};
            for (std::size_t k = 8; k < 16; ++k)
                h.ipv6[k] = static_cast<std::uint8_t>(rng_.next());
        }
        static constexpr std::uint16_t kServerPorts[] = {
            80,  80,   80,   443,  443,  443,  443,  22,   21,   23,  25,   110,  139,
            179, 1080, 1300, 1720, 3306, 5432, 8080, 8443, 6667, 993, 3389, 11720};
        connections_.resize(4096);
        for (Connection& c : connections_) {
            c.client = static_cast<std::uint16_t>(rng_.below(256));
            c.server = static_cast<std::uint16_t>(rng_.below(512));
            c.clientPort = static_cast<std::uint16_t>(rng_.range(1024, 65535));
            c.serverPort = rng_.chance(850) ? rng_.pick(kServerPorts)
                                            : static_cast<std::uint16_t>(rng_.range(1, 65535));
            c.seq = static_cast<std::uint32_t>(rng_.next());
        }
    }

    // Frame n of the --conversations capture: a TCP segment of a 4-tuple of its own.
    void distinctTcp(Frame& f, std::uint64_t n) {
        f.start(60, rng_);
        Host client = hosts_[2];
        client.ipv4 = {static_cast<std::uint8_t>(10 + (n >> 24)),
                       static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                       static_cast<std::uint8_t>(n)};
        ipv4Header(f, 6, client, hosts_[1]);
        tcpHeader(f, 34, static_cast<std::uint16_t>(1024 + n % 60000), 80,
                  static_cast<std::uint32_t>(n));
    }

    // One frame; returns the captured length (below the frame length for runts).
    std::size_t next(Frame& f) {
        const std::uint32_t kind = rng_.below(1000);
        if (kind < 520)
            tcp(f);
        else if (kind < 690)
            udp(f);
        else if (kind < 720)
            otherIpv4(f);
        else if (kind < 730)
            ipv4WithOptions(f);
        else if (kind < 780)
            arp(f);
        else if (kind < 860)
            ipv6(f);
        else if (kind < 960)
            ieee8023(f);
        else if (kind < 980)
            otherEtherType(f);
        else {
            // A runt: any kind of frame, cut short before its headers end.
            next(f);
            return rng_.below(54);
        }
        return f.length;
    }

private:
    const Host& host(std::uint32_t i) const { return hosts_[i]; }

    void ipv4Header(Frame& f, std::uint8_t protocol, const Host& src, const Host& dst,
                    std::uint8_t ihl = 5) {
        f.ethernet(dst.mac, src.mac, 0x0800);
        f.u8(14, static_cast<std::uint8_t>(0x40 | ihl));
        f.u8(15, 0);
        f.be16(16, static_cast<std::uint16_t>(f.length - 14));
        f.be16(18, static_cast<std::uint16_t>(rng_.next()));
        f.be16(20, 0x4000);
        f.u8(22, static_cast<std::uint8_t>(rng_.pick({64, 128, 255, 32})));
        f.u8(23, protocol);
        f.be16(24, 0);
        f.bytes(26, src.ipv4);
        f.bytes(30, dst.ipv4);
        std::uint32_t sum = 0;
        for (std::size_t i = 14; i < 14 + 4u * ihl; i += 2)
            sum += (std::uint32_t{f.b[i]} << 8) | f.b[i + 1];
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        f.be16(24, static_cast<std::uint16_t>(~sum));
    }

    void tcpHeader(Frame& f, std::size_t at, std::uint16_t sport, std::uint16_t dport,
                   std::uint32_t seq) {
        f.be16(at, sport);
        f.be16(at + 2, dport);
        f.be32(at + 4, seq);
        f.be32(at + 8, static_cast<std::uint32_t>(rng_.next()));
        f.u8(at + 12, 0x50);
        f.u8(at + 13,
             static_cast<std::uint8_t>(rng_.pick({0x10, 0x18, 0x18, 0x02, 0x12, 0x11, 0x04})));
        f.be16(at + 14, static_cast<std::uint16_t>(rng_.range(512, 65535)));
        f.be16(at + 16, static_cast<std::uint16_t>(rng_.next()));
        f.be16(at + 18, 0);
    }

    std::size_t tcpPayload() {
        const std::uint32_t r = rng_.below(100);
        if (r < 40)
            return 0; // pure acknowledgements
        if (r < 70)
            return rng_.range(1, 200);
        return rng_.range(1000, 1460);
    }

    void tcp(Frame& f) {
        Connection& c = connections_[rng_.below(static_cast<std::uint32_t>(connections_.size()))];
        const std::size_t payload = tcpPayload();
        f.start(54 + payload, rng_);
        const bool fromClient = rng_.chance(500);
        const Host& client = host(c.client);
        const Host& server = host(c.server);
        ipv4Header(f, 6, fromClient ? client : server, fromClient ? server : client);
        tcpHeader(f, 34, fromClient ? c.clientPort : c.serverPort,
                  fromClient ? c.serverPort : c.clientPort, c.seq);
        c.seq += static_cast<std::uint32_t>(payload);
    }

    void udp(Frame& f) {
        static constexpr std::uint16_t kUdpPorts[] = {53,  53,  53,  67,  68,   137,  138, 161,
                                                      162, 546, 547, 123, 5353, 1900, 514, 1719};
        f.start(42 + rng_.range(20, 500), rng_);
        const Host& a = host(rng_.below(256));
        const Host& b = host(rng_.below(512));
        ipv4Header(f, 17, a, b);
        const std::uint16_t service = rng_.pick(kUdpPorts);
        const auto ephemeral = static_cast<std::uint16_t>(rng_.range(1024, 65535));
        const bool request = rng_.chance(500);
        f.be16(34, request ? ephemeral : service);
        f.be16(36, request ? service : ephemeral);
        if (rng_.chance(100)) // both ends unknown
            f.be16(36, static_cast<std::uint16_t>(rng_.range(1024, 65535)));
        f.be16(38, static_cast<std::uint16_t>(f.length - 34));
        f.be16(40, 0);
    }

    void otherIpv4(Frame& f) {
        static constexpr std::uint8_t kProtocols[] = {1,  1,  1,  1,   2, 2,  8,   9,   46, 47,
                                                      50, 83, 89, 132, 4, 41, 103, 112, 115};
        f.start(rng_.range(60, 200), rng_);
        ipv4Header(f, rng_.pick(kProtocols), host(rng_.below(512)), host(rng_.below(512)));
    }

    void ipv4WithOptions(Frame& f) {
        Connection& c = connections_[rng_.below(static_cast<std::uint32_t>(connections_.size()))];
        f.start(58 + tcpPayload(), rng_);
        ipv4Header(f, 6, host(c.client), host(c.server), 6);
        f.be32(34, 0x94040000); // router alert; the TCP header follows at 38
        tcpHeader(f, 38, c.clientPort, c.serverPort, c.seq);
    }

    void arp(Frame& f) {
        f.start(60, rng_);
        const Host& sender = host(rng_.below(256));
        const Host& target = host(rng_.below(256));
        const bool reply = rng_.chance(400);
        f.ethernet(reply ? target.mac : kBroadcast, sender.mac, 0x0806);
        f.be16(14, 1);
        f.be16(16, 0x0800);
        f.u8(18, 6);
        f.u8(19, 4);
        f.be16(20, reply ? 2 : 1);
        f.bytes(22, sender.mac);
        f.bytes(28, sender.ipv4);
        f.bytes(32, reply ? target.mac : std::array<std::uint8_t, 6>{});
        f.bytes(38, target.ipv4);
    }

    void ipv6(Frame& f) {
        f.start(54 + rng_.range(8, 400), rng_);
        const Host& a = host(rng_.below(256));
        const Host& b = host(rng_.below(512));
        f.ethernet(b.mac, a.mac, 0x86DD);
        f.be32(14, 0x60000000);
        f.be16(18, static_cast<std::uint16_t>(f.length - 54));
        f.u8(20, static_cast<std::uint8_t>(rng_.pick({6, 17, 58, 0})));
        f.u8(21, 64);
        f.bytes(22, a.ipv6);
        f.bytes(38, b.ipv6);
    }

    void llc(Frame& f, const std::array<std::uint8_t, 6>& dst, std::uint8_t dsap,
             std::uint8_t ssap) {
        f.ethernet(dst, host(rng_.below(512)).mac, static_cast<std::uint16_t>(f.length - 14));
        f.u8(14, dsap);
        f.u8(15, ssap);
        f.u8(16, 0x03);
    }

    void ieee8023(Frame& f) {
        const std::uint32_t kind = rng_.below(100);
        if (kind < 25) { // spanning tree: configuration, topology change, rapid
            f.start(60, rng_);
            llc(f, kStpGroup, 0x42, 0x42);
            f.be16(17, 0);
            f.u8(19, rng_.chance(500) ? 0 : 2);
            f.u8(20, static_cast<std::uint8_t>(rng_.pick({0x00, 0x00, 0x80, 0x02})));
        } else if (kind < 50) { // IPX by socket
            static constexpr std::uint16_t kSockets[] = {0x0452, 0x0453, 0x0455,
                                                         0x9001, 0x0451, 0x4000};
            f.start(rng_.range(60, 300), rng_);
            llc(f, kBroadcast, 0xE0, 0xE0);
            f.be16(17, 0xFFFF);
            f.be16(19, static_cast<std::uint16_t>(f.length - 17));
            f.be16(33, rng_.pick(kSockets));
            f.be16(45, rng_.pick(kSockets));
        } else if (kind < 70) { // NetBIOS frames
            static constexpr std::uint8_t kCommands[] = {
                0x00, 0x01, 0x02, 0x03, 0x07, 0x08, 0x09, 0x0A, 0x0D, 0x0E, 0x0F, 0x13,
                0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1F, 0x05, 0x20};
            f.start(rng_.range(60, 200), rng_);
            llc(f, kNetbiosGroup, 0xF0, 0xF0);
            // Header length and delimiter are little-endian in NetBIOS frames.
            f.be16(17, 0x2C00);
            f.be16(19, 0xFFEF);
            f.u8(21, rng_.pick(kCommands));
        } else if (kind < 85) { // SNAP: CDP, or another organization
            f.start(rng_.range(60, 400), rng_);
            llc(f, kCdpGroup, 0xAA, 0xAA);
            const bool cisco = rng_.chance(700);
            f.u8(17, 0);
            f.u8(18, 0);
            f.u8(19, cisco ? 0x0C : 0x00);
            f.be16(20, cisco ? 0x2000 : 0x0800);
        } else if (kind < 90) { // LSAP null and global
            f.start(60, rng_);
            const std::uint8_t sap = rng_.chance(500) ? 0x00 : 0xFF;
            llc(f, kBroadcast, sap, sap);
        } else { // SAPs without a name
            f.start(60, rng_);
            const auto sap = static_cast<std::uint8_t>(rng_.pick({0x04, 0x06, 0x7E, 0xFE, 0x43}));
            llc(f, kBroadcast, sap, sap);
        }
    }

    void otherEtherType(Frame& f) {
        static constexpr std::uint16_t kTypes[] = {0x0801, 0x8035, 0x8038, 0x809B, 0x80F3,
                                                   0x8847, 0x8848, 0x8100, 0x88CC, 0x888E,
                                                   0x9000, 0x05DC, 0x05DD};
        f.start(rng_.range(60, 120), rng_);
        const std::uint16_t type = rng_.pick(kTypes);
        f.ethernet(kBroadcast, host(rng_.below(512)).mac, type);
        if (type == 0x8038)
            f.u8(15, rng_.chance(700) ? 0x19 : 0x02);
    }

    Rng rng_;
    std::vector<Host> hosts_;
    std::vector<Connection> connections_;
};

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "%s\nusage: qarsilo-gen-capture [-n FRAMES] [-s SEED] [--snaplen BYTES] "
                 "OUTPUT.pcap\n"
                 "       qarsilo-gen-capture --conversations N OUTPUT.pcap\n",
                 why);
    std::exit(2);
}

std::uint64_t number(const char* text) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (!end || *end != '\0')
        usage("not a number");
    return v;
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t frames = 1'000'000;
    std::uint64_t seed = 1;
    std::uint64_t snaplen = kMaxFrame;
    std::uint64_t conversations = 0;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--conversations" && i + 1 < argc) {
            conversations = number(argv[++i]);
            frames = conversations;
        } else if ((arg == "-n" || arg == "-s" || arg == "--snaplen") && i + 1 < argc) {
            const std::uint64_t v = number(argv[++i]);
            (arg == "-n" ? frames : arg == "-s" ? seed : snaplen) = v;
        } else if (!arg.empty() && arg[0] != '-' && !output) {
            output = argv[i];
        } else {
            usage("unexpected argument");
        }
    }
    if (!output)
        usage("no output file");
    if (snaplen < 1 || snaplen > kMaxFrame)
        usage("the snapshot length must be 1 to 1514");

    pcap_t* dead = pcap_open_dead(DLT_EN10MB, static_cast<int>(snaplen));
    pcap_dumper_t* dumper = dead ? pcap_dump_open(dead, output) : nullptr;
    if (!dumper) {
        std::fprintf(stderr, "cannot write %s: %s\n", output, dead ? pcap_geterr(dead) : "");
        return 1;
    }
    Generator generator(seed);
    Rng clock{seed ^ 0x5DEECE66DULL};
    std::int64_t usec = 0;
    Frame frame;
    for (std::uint64_t n = 0; n < frames; ++n) {
        std::size_t captured;
        if (conversations) {
            generator.distinctTcp(frame, n);
            captured = std::min<std::size_t>(frame.length, snaplen);
        } else {
            captured = std::min<std::size_t>(generator.next(frame), snaplen);
        }
        // Now and then a time stamp on a whole second, whose microseconds print as blanks.
        usec += clock.chance(10) ? 1'000'000 - usec % 1'000'000 : clock.range(1, 2000);
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(1'700'000'000 + usec / 1'000'000);
        h.ts.tv_usec = static_cast<suseconds_t>(usec % 1'000'000);
        h.caplen = static_cast<bpf_u_int32>(captured);
        h.len = static_cast<bpf_u_int32>(frame.length);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, frame.b.data());
    }
    const bool ok = pcap_dump_flush(dumper) == 0;
    pcap_dump_close(dumper);
    pcap_close(dead);
    if (!ok) {
        std::fprintf(stderr, "cannot write %s\n", output);
        return 1;
    }
    std::printf("%s: %llu frames, seed %llu\n", output, static_cast<unsigned long long>(frames),
                static_cast<unsigned long long>(seed));
    return 0;
}
