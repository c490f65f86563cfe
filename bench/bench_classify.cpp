// Frames per second of the analyzer's row texts on one core, over a capture
// loaded into memory: classification alone, the five texts written into a
// char buffer (formatFrameLine, as the command-line tool prints them) and the
// five QStrings of the list (frameTexts). Median of several runs.
//
//   qarsilo-bench-classify [--runs N] [--cpu N] CAPTURE.pcap

#include "core/analysis/classify.h"

#include <QString>
#include <QStringList>

#include <pcap/pcap.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

using namespace qarsilo;

namespace {

struct Capture {
    std::vector<FrameHeader> headers;
    std::vector<std::size_t> offsets;
    std::vector<std::uint8_t> bytes; // all frames back to back
    const std::uint8_t* frame(std::size_t i) const { return bytes.data() + offsets[i]; }
};

bool load(const char* path, Capture& c) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_open_offline(path, errbuf);
    if (!p) {
        std::fprintf(stderr, "%s\n", errbuf);
        return false;
    }
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(p, &h, &data) == 1) {
        c.headers.push_back(frameHeaderFrom(*h));
        c.offsets.push_back(c.bytes.size());
        c.bytes.insert(c.bytes.end(), data, data + h->caplen);
    }
    pcap_close(p);
    return true;
}

// Both text paths must give the same five texts before either is timed.
std::size_t verify(const Capture& c) {
    std::size_t mismatches = 0;
    char line[kMaxFrameLineLength];
    for (std::size_t i = 0; i < c.headers.size(); ++i) {
        const FrameTexts t = frameTexts(c.headers[i], c.frame(i));
        const QString joined =
            QStringList{t.time, t.source, t.destination, t.protocol, t.info}.join(u'\t');
        const std::size_t n = formatFrameLine(c.headers[i], c.frame(i), line, sizeof line);
        if (joined != QString::fromLatin1(line, static_cast<qsizetype>(n)) && mismatches++ < 5) {
            std::fprintf(stderr, "frame %zu: \"%.*s\" against \"%s\"\n", i + 1, int(n), line,
                         qPrintable(joined));
        }
    }
    return mismatches;
}

volatile std::uint64_t g_sink; // keeps the work from being optimised away

using Pass = std::function<std::uint64_t(const Capture&)>;

std::uint64_t classifyOnly(const Capture& c) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < c.headers.size(); ++i) {
        const Classification k = classifyFrame(c.headers[i], c.frame(i));
        sum += k.protocol.size() + k.info().size() + k.sourceIpv4[3];
    }
    return sum;
}

std::uint64_t lines(const Capture& c) {
    // Lines go into an output buffer as a stdout buffer would take them.
    static char out[1 << 16];
    std::size_t used = 0;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < c.headers.size(); ++i) {
        if (sizeof out - used < kMaxFrameLineLength + 1) {
            sum += static_cast<unsigned char>(out[used / 2]) + used;
            used = 0;
        }
        used += formatFrameLine(c.headers[i], c.frame(i), out + used, sizeof out - used);
        out[used++] = '\n';
    }
    return sum + used;
}

std::uint64_t qstrings(const Capture& c) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < c.headers.size(); ++i) {
        const FrameTexts t = frameTexts(c.headers[i], c.frame(i));
        sum += static_cast<std::uint64_t>(t.time.size() + t.source.size() + t.destination.size() +
                                          t.protocol.size() + t.info.size());
    }
    return sum;
}

void measure(const char* name, const Pass& pass, const Capture& c, int runs) {
    std::vector<double> fps;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        g_sink = g_sink + pass(c);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        fps.push_back(static_cast<double>(c.headers.size()) / took.count());
    }
    std::vector<double> sorted = fps;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    std::printf("%-34s median %12.0f frames/s  (%6.1f ns/frame)  runs:", name, median,
                1e9 / median);
    for (double v : fps)
        std::printf(" %.0f", v);
    std::printf("\n");
}

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: qarsilo-bench-classify [--runs N] [--cpu N] CAPTURE.pcap\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    int cpu = -1;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (arg == "--cpu" && i + 1 < argc)
            cpu = std::atoi(argv[++i]);
        else if (arg[0] != '-' && !path)
            path = argv[i];
        else
            usage();
    }
    if (!path || runs < 1)
        usage();
    if (cpu >= 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        if (sched_setaffinity(0, sizeof set, &set) != 0)
            std::perror("sched_setaffinity");
    }

    Capture capture;
    if (!load(path, capture))
        return 1;
    if (capture.headers.empty()) {
        std::fprintf(stderr, "%s holds no frames\n", path);
        return 1;
    }
    std::map<std::string_view, std::size_t> protocols;
    std::size_t truncated = 0;
    for (std::size_t i = 0; i < capture.headers.size(); ++i) {
        const Classification k = classifyFrame(capture.headers[i], capture.frame(i));
        ++protocols[k.protocol];
        truncated += k.truncated;
    }
    std::printf("%s: %zu frames, %zu bytes captured, %zu truncated, %zu protocol names\n", path,
                capture.headers.size(), capture.bytes.size(), truncated, protocols.size());
    std::vector<std::pair<std::size_t, std::string_view>> common;
    for (const auto& [name, count] : protocols)
        common.emplace_back(count, name);
    std::sort(common.rbegin(), common.rend());
    std::printf("most common:");
    for (std::size_t i = 0; i < common.size() && i < 12; ++i)
        std::printf(" %.*s %zu", int(common[i].second.size()), common[i].second.data(),
                    common[i].first);
    std::printf("\n");

    if (const std::size_t bad = verify(capture)) {
        std::fprintf(stderr, "%zu frames differ between the two text paths\n", bad);
        return 1;
    }
    std::printf("one thread, %d runs each%s\n", runs,
                cpu >= 0 ? (", pinned to CPU " + std::to_string(cpu)).c_str() : "");
    measure("classifyFrame only", classifyOnly, capture, runs);
    measure("formatFrameLine (5 texts, chars)", lines, capture, runs);
    measure("frameTexts (5 QStrings)", qstrings, capture, runs);
    return 0;
}
