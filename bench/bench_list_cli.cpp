// qarsilo-cli list beside a plain libpcap read loop over the same capture,
// each a process of its own with its output thrown away, rounds interleaved
// (loop, list[, other list], loop, list ...) so that a busy machine weighs on
// all alike. For each capture prints the first (cold) run, the median and the
// slowest of the later runs, each as a ratio to the loop's median (the cold
// one to the loop's cold run), the peak memory, and the processor time
// (user + system) as a ratio to the loop's. The bound is judged on the
// slowest run: "missed" when any run of list is above it.
//
//   qarsilo-bench-list-cli [--runs 5] [--bound 1.5] [--cli PATH] [--other PATH]
//                          [--args "--filter tcp"] CAPTURE...
//
// --other times a second build of qarsilo-cli in the same rounds (e.g. the
// one before a change). Captures: qarsilo-gen-capture -n 1000000 mixed.pcap,
// qarsilo-gen-netbios -n 1000000 netbios.pcap, or real captures merged.

#include "bench_util.h"
#include "child_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Run = qarsilo::bench::ChildRun;
constexpr auto runProcess = qarsilo::bench::runChild;

// One program's runs over one capture.
struct Series {
    Run cold;
    std::vector<double> times, cpu;
    long peakKiB = 0;

    void add(const Run& r, bool first) {
        peakKiB = std::max(peakKiB, r.peakKiB);
        if (first) {
            cold = r;
            return;
        }
        times.push_back(r.seconds);
        cpu.push_back(r.cpuSeconds);
    }
    double median() const { return qarsilo::bench::median(times); }
    double slowest() const { return *std::max_element(times.begin(), times.end()); }
    double cpuMedian() const { return qarsilo::bench::median(cpu); }
};

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

void printRow(const char* who, const Series& s, const Series& loop, double bound) {
    const double mLoop = loop.median();
    const double slowestRatio = s.slowest() / mLoop;
    std::printf("  %-6s %8.3f s  cold %5.2fx  median %5.2fx  slowest %5.2fx  cpu %5.2fx  "
                "peak %7.1f MiB",
                who, s.median(), s.cold.seconds / loop.cold.seconds, s.median() / mLoop,
                slowestRatio, s.cpuMedian() / loop.cpuMedian(), double(s.peakKiB) / 1024);
    if (bound > 0)
        std::printf("  (bound %.2fx: %s)", bound, slowestRatio <= bound ? "met" : "missed");
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--pcap-loop") == 0)
        return qarsilo::bench::pcapLoop(argv[2]);
    int runs = 5;
    double bound = 1.5;
    std::string cli = QARSILO_CLI;
    std::string other;
    std::vector<std::string> extra;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--bound" && i + 1 < argc) {
            bound = std::atof(argv[++i]);
        } else if (a == "--cli" && i + 1 < argc) {
            cli = argv[++i];
        } else if (a == "--other" && i + 1 < argc) {
            other = argv[++i];
        } else if (a == "--args" && i + 1 < argc) {
            extra = splitWords(argv[++i]);
        } else if (!a.empty() && a[0] != '-') {
            files.push_back(a);
        } else {
            files.clear();
            break;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: qarsilo-bench-list-cli [--runs N] [--bound X] [--cli PATH] "
                             "[--other PATH] [--args \"ARGS\"] CAPTURE...\n");
        return 2;
    }
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 1;
    self[n] = '\0';

    for (const std::string& file : files) {
        Series loop, list, previous;
        std::vector<std::string> listArgs{cli, "list", file};
        listArgs.insert(listArgs.end(), extra.begin(), extra.end());
        std::vector<std::string> otherArgs = listArgs;
        otherArgs[0] = other;
        // Round 0 is the cold one; it is not in the medians.
        for (int r = 0; r <= runs; ++r) {
            const Run l = runProcess({self, "--pcap-loop", file});
            const Run c = runProcess(listArgs);
            const Run o = other.empty() ? Run{} : runProcess(otherArgs);
            if (l.seconds < 0 || c.seconds < 0 || (!other.empty() && o.seconds < 0)) {
                std::fprintf(stderr, "a run failed on %s\n", file.c_str());
                return 1;
            }
            loop.add(l, r == 0);
            list.add(c, r == 0);
            if (!other.empty())
                previous.add(o, r == 0);
        }
        std::printf("%s: loop median %.3f s (cold %.3f s), peak %.1f MiB\n",
                    file.substr(file.find_last_of('/') + 1).c_str(), loop.median(),
                    loop.cold.seconds, double(loop.peakKiB) / 1024);
        printRow("list", list, loop, bound);
        if (!other.empty())
            printRow("other", previous, loop, 0);
        std::fflush(stdout);
    }
    std::printf("(%d runs after a cold first run; x: over the read loop's median, cold over the "
                "loop's cold run; cpu: user + system time over the loop's)\n",
                runs);
    return 0;
}
