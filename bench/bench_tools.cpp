// Reading a capture file with this program's tools beside other tools, in one
// run, rounds interleaved so that a busy machine weighs on all alike:
//   - a plain libpcap read loop (pcap_next_ex touching every frame), the floor;
//   - qarsilo-cli list FILE > /dev/null;
//   - tcpdump -n -S -r FILE > /dev/null and tshark -r FILE > /dev/null;
//   - the analyzer's load: a CaptureSession filling the frame store and the
//     list model announcing every row.
// Each is timed as a process of its own, start to exit, as the plain loop is:
// a process that has started children before (as this one has) runs its own
// later memory-heavy work measurably slower, which would not be a fair floor.
// Then the frame store's memory per frame for 1,000,000 60-byte frames.
// Prints medians and the ratios the project watches.
//
//   qarsilo-bench-tools [--runs N] [--tshark-runs N] CAPTURE.pcap

#include "bench_util.h"
#include "core/analysis/capture_list_model.h"
#include "core/analysis/frame_store.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <pcap/pcap.h>
#include <string>
#include <thread>
#include <vector>

using namespace qarsilo;
using namespace qarsilo::bench;

namespace {

// The analyzer's path, without a window: session, store, model.
double analyzerLoad(const QString& file, std::size_t* frames) {
    FrameStore store;
    CaptureListModel model(store);
    CaptureSession session(CaptureWindow::CaptureDecodeView);
    session.setFileReplay(FileReplay::AsFastAsPossible);
    session.setHandler([&store](const pcap_pkthdr& h, const std::uint8_t* bytes) {
        store.append(frameHeaderFrom(h), bytes);
    });
    const auto start = Clock::now();
    if (!session.start(captureFileAdapterName(file)).ok())
        return -1;
    // The view refreshes its model on a timer; here as often as there is news.
    while (session.loopEnd() == LoopEnd::Running) {
        model.refresh();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    model.refresh();
    const double t = seconds(start);
    session.stop();
    *frames = std::size_t(model.rowCount());
    return t;
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

void storeMemory() {
    constexpr std::size_t kFrames = 1'000'000;
    std::uint8_t frame[60];
    for (std::size_t i = 0; i < sizeof frame; ++i)
        frame[i] = std::uint8_t(i);
    const long before = residentKiB();
    FrameStore store;
    for (std::size_t i = 0; i < kFrames; ++i) {
        frame[0] = std::uint8_t(i);
        store.append({qint64(i), 0, 60, 60}, frame);
    }
    const long after = residentKiB();
    const double perFrame = double(after - before) * 1024.0 / double(kFrames);
    std::printf("store memory: %zu frames of 60 bytes: resident +%ld KiB = %.1f bytes per frame, "
                "%.1f beyond the captured bytes (target <= 32)\n",
                kFrames, after - before, perFrame, perFrame - 60.0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--pcap-loop") == 0)
        return pcapLoop(argv[2]);
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--analyzer-load") == 0) {
        std::size_t frames = 0;
        const double t = analyzerLoad(QString::fromLocal8Bit(argv[2]), &frames);
        std::printf("%zu frames in %.3f s\n", frames, t);
        return t < 0 ? 1 : 0;
    }
    int runs = 5;
    int tsharkRuns = 3;
    QString file;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--runs" && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (args[i] == u"--tshark-runs" && i + 1 < args.size())
            tsharkRuns = args[++i].toInt();
        else
            file = args[i];
    }
    if (file.isEmpty() || !QFile::exists(file)) {
        std::fprintf(stderr, "usage: qarsilo-bench-tools [--runs N] [--tshark-runs N] CAPTURE\n");
        return 2;
    }
    const QString self = app.applicationFilePath();
    const QString cli = QStringLiteral(QARSILO_CLI);
    const QString tcpdump = QStandardPaths::findExecutable(QStringLiteral("tcpdump"));
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));

    std::vector<double> loop, list, dump, shark, load;
    std::size_t frames = 0;
    for (int r = 0; r < runs; ++r) {
        loop.push_back(timeCommand(self, {QStringLiteral("--pcap-loop"), file}));
        list.push_back(timeCommand(cli, {QStringLiteral("list"), file}));
        if (!tcpdump.isEmpty())
            dump.push_back(timeCommand(
                tcpdump, {QStringLiteral("-n"), QStringLiteral("-S"), QStringLiteral("-r"), file}));
        if (!tshark.isEmpty() && r < tsharkRuns)
            shark.push_back(timeCommand(tshark, {QStringLiteral("-r"), file}));
        load.push_back(timeCommand(self, {QStringLiteral("--analyzer-load"), file}));
        std::fprintf(stderr, "round %d done\n", r + 1);
    }
    const double mLoop = median(loop), mList = median(list), mDump = median(dump),
                 mShark = median(shark), mLoad = median(load);
    analyzerLoad(file, &frames); // the frame count, and a check that the load works
    std::printf("capture: %s, %zu frames; medians of %d runs (tshark %d)\n", qPrintable(file),
                frames, runs, int(shark.size()));
    std::printf("plain libpcap loop        %8.3f s\n", mLoop);
    std::printf("qarsilo-cli list          %8.3f s\n", mList);
    std::printf("tcpdump -n -S -r          %8.3f s\n", mDump);
    std::printf("tshark -r                 %8.3f s\n", mShark);
    std::printf("analyzer load (store+model)%7.3f s\n", mLoad);
    std::printf("list vs tcpdump: %.2fx faster (target >= 2)\n", mDump / mList);
    std::printf("list vs tshark: %.2fx faster (target >= 10)\n", mShark / mList);
    std::printf("list vs plain loop: %.2fx the time (target <= 3)\n", mList / mLoop);
    std::printf("analyzer load vs plain loop: %.2fx the time (target <= 3)\n", mLoad / mLoop);
    std::printf("analyzer load vs tshark/10: %.3f s vs %.3f s (target: below)\n", mLoad,
                mShark / 10);
    storeMemory();
    return 0;
}
