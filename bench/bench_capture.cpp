// Frames per second through a CaptureSession reading a capture file as fast as
// possible (the analyzer's and the command-line tool's path): the file read,
// the filter, the capture thread and the handler call, with a handler that
// only counts and one that copies every frame as the analyzer's store does.
// Median of several runs; the file comes from the page cache after the first.
// The same file read as a "pipe:cat" stream runs beside it.
//
//   qarsilo-bench-capture [--runs N] [--filter EXPR] CAPTURE.pcap

#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace qarsilo;

namespace {

struct Run {
    long long frames = 0;
    double seconds = 0;
};

Run readOnce(const QString& adapter, const QString& filter, bool copy) {
    std::vector<std::uint8_t> store(262144);
    long long frames = 0;
    CaptureSession session(CaptureWindow::CommandLine);
    session.setFilter(filter);
    session.setFileReplay(FileReplay::AsFastAsPossible);
    session.setHandler([&](const pcap_pkthdr& h, const std::uint8_t* bytes) {
        if (copy)
            std::memcpy(store.data(), bytes, std::min<std::size_t>(h.caplen, store.size()));
        ++frames;
    });
    const auto t0 = std::chrono::steady_clock::now();
    const CaptureStartResult r = session.start(adapter);
    if (!r.ok()) {
        std::fprintf(stderr, "cannot read %s: %s\n", qPrintable(adapter), qPrintable(r.error));
        std::exit(1);
    }
    while (session.loopEnd() == LoopEnd::Running)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    const auto t1 = std::chrono::steady_clock::now();
    session.stop();
    if (session.loopEnd() == LoopEnd::Error) {
        std::fprintf(stderr, "reading failed: %s\n", qPrintable(session.loopError()));
        std::exit(1);
    }
    return {frames, std::chrono::duration<double>(t1 - t0).count()};
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    QString filter;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--filter" && i + 1 < argc) {
            filter = QString::fromLocal8Bit(argv[++i]);
        } else if (!path && arg.rfind("--", 0) != 0) {
            path = argv[i];
        } else {
            std::fprintf(stderr,
                         "usage: qarsilo-bench-capture [--runs N] [--filter EXPR] CAPTURE.pcap\n");
            return 2;
        }
    }
    if (!path) {
        std::fprintf(stderr,
                     "usage: qarsilo-bench-capture [--runs N] [--filter EXPR] CAPTURE.pcap\n");
        return 2;
    }
    // The file read in process, and the same bytes as a command's stream
    // (the "pipe:" source: a child process, a pipe, no pacing); runs of the
    // two alternate, so both see the same machine load.
    const QString file = QString::fromLocal8Bit(path);
    const QString adapters[2] = {captureFileAdapterName(file),
                                 QStringLiteral("pipe:cat '%1'").arg(file)};
    const char* names[2] = {"file", "pipe:cat"};
    for (const bool copy : {false, true}) {
        std::vector<double> rates[2];
        long long frames[2] = {0, 0};
        for (int i = 0; i < runs; ++i) {
            for (int a = 0; a < 2; ++a) {
                const Run r = readOnce(adapters[a], filter, copy);
                frames[a] = r.frames;
                rates[a].push_back(static_cast<double>(r.frames) / r.seconds);
            }
        }
        double medians[2] = {0, 0};
        for (int a = 0; a < 2; ++a) {
            std::sort(rates[a].begin(), rates[a].end());
            medians[a] = rates[a][rates[a].size() / 2];
            std::printf("%-9s %-14s %lld frames, median %.0f frames/s (min %.0f, max %.0f) over %d "
                        "runs\n",
                        names[a], copy ? "copy frames" : "count frames", frames[a], medians[a],
                        rates[a].front(), rates[a].back(), runs);
        }
        std::printf("pipe:cat / file (%s): %.2f%s\n", copy ? "copy" : "count",
                    medians[1] / medians[0],
                    frames[0] == frames[1] ? "" : "  (frame counts differ!)");
    }
    return 0;
}
