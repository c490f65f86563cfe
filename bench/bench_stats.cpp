// The statistics views' costs, in one run:
//   - each view's frame handler in ns per frame (median of runs): the general
//     view's (counters and the Top Users row) and the single node view's two;
//   - the general view's tick with a second of 1,000,000 frames: the rows'
//     hand-over and sort, and the list model's reset;
//   - qarsilo-cli stats FILE beside a plain libpcap read loop and
//     tshark -q -z io,stat,1 -r FILE, each timed as a process of its own, start
//     to exit, rounds interleaved so that a busy machine weighs on all alike.
// Prints medians and the ratios the project watches.
//
//   qarsilo-bench-stats [--runs N] [--tshark-runs N] [--frames N] CAPTURE.pcap

#include "bench_util.h"
#include "core/stats/general_stats.h"
#include "core/stats/single_node_stats.h"
#include "core/stats/top_users_model.h"
#include "support/chart_frames.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <pcap/pcap.h>
#include <vector>

using namespace qarsilo;
using namespace qarsilo::bench;

namespace {

// A mix of frames as a busy segment carries them.
std::vector<QByteArray> sampleFrames() {
    return {test::ipv4Frame(6, 443, 52000, 1514), test::ipv4Frame(6, 52000, 443, 60),
            test::ipv4Frame(17, 53, 53, 90),      test::etherFrame(0x0806, 60),
            test::ipv6Frame(6, 50000, 443, 1294), test::ipv4Frame(6, 51000, 80, 590)};
}

template <class Handler> double nsPerFrame(int frames, Handler&& handler) {
    const std::vector<QByteArray> mix = sampleFrames();
    std::vector<pcap_pkthdr> headers;
    for (const QByteArray& f : mix)
        headers.push_back(test::snapHeader(f));
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        const std::size_t k = static_cast<std::size_t>(i) % mix.size();
        handler(headers[k], test::bytesOf(mix[k]));
    }
    return seconds(start) * 1e9 / frames;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--pcap-loop") == 0)
        return pcapLoop(argv[2]);
    QCoreApplication app(argc, argv);
    int runs = 5;
    int tsharkRuns = 3;
    int frames = 1'000'000;
    QString file;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == u"--tshark-runs" && i + 1 < args.size())
            tsharkRuns = args[++i].toInt();
        else if (args[i] == u"--frames" && i + 1 < args.size())
            frames = std::max(1000, args[++i].toInt());
        else
            file = args[i];
    }

    // Handlers: one core fed a second's worth of frames per run, then ticked,
    // as a window is. The first three seconds are not timed: by then the
    // buffers the rows go round in have grown to a second's worth.
    std::vector<double> general, received, sent, tickMs, resetMs;
    GeneralStats stats(1'000'000'000);
    TopUsersModel model(stats);
    SingleNodeStats node(1'000'000'000, 0);
    const auto feedGeneral = [&stats](const pcap_pkthdr& h, const std::uint8_t* b) {
        stats.countFrame(h, b);
    };
    for (int r = 0; r < runs + 3; ++r) {
        const double ns = nsPerFrame(frames, feedGeneral);
        const auto t0 = Clock::now();
        stats.tick(r + 1);
        const double tick = seconds(t0) * 1e3;
        const auto t1 = Clock::now();
        model.beginUpdate();
        model.endUpdate();
        (void)model.index(0, 0).data(); // the first row as the list draws it
        const double reset = seconds(t1) * 1e3;
        if (stats.rows().size() != static_cast<std::size_t>(frames)) {
            std::fprintf(stderr, "rows lost: %zu of %d\n", stats.rows().size(), frames);
            return 1;
        }
        const double to = nsPerFrame(frames, [&node](const pcap_pkthdr& h, const std::uint8_t* b) {
            node.countReceived(h, b);
        });
        const double from = nsPerFrame(
            frames, [&node](const pcap_pkthdr& h, const std::uint8_t* b) { node.countSent(h, b); });
        node.tick(r + 1);
        if (r < 3)
            continue;
        general.push_back(ns);
        tickMs.push_back(tick);
        resetMs.push_back(reset);
        received.push_back(to);
        sent.push_back(from);
    }
    std::printf("frame handlers, median of %d runs of %d frames:\n", runs, frames);
    std::printf("  general view                 %6.1f ns/frame\n", median(general));
    std::printf("  single node view, To         %6.1f ns/frame\n", median(received));
    std::printf("  single node view, From       %6.1f ns/frame\n", median(sent));
    std::printf("general view tick with %d rows: hand-over and sort %.2f ms, model reset "
                "%.2f ms (median)\n",
                frames, median(tickMs), median(resetMs));

    if (file.isEmpty())
        return 0;
    if (!QFile::exists(file)) {
        std::fprintf(stderr, "no capture '%s'\n", qPrintable(file));
        return 2;
    }
    const QString self = app.applicationFilePath();
    const QString cli = QStringLiteral(QARSILO_CLI);
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    std::vector<double> loop, statsRuns, top, shark;
    for (int r = 0; r < runs; ++r) {
        loop.push_back(timeCommand(self, {QStringLiteral("--pcap-loop"), file}));
        statsRuns.push_back(timeCommand(cli, {QStringLiteral("stats"), file}));
        top.push_back(timeCommand(
            cli, {QStringLiteral("stats"), file, QStringLiteral("--top"), QStringLiteral("10")}));
        if (!tshark.isEmpty() && r < tsharkRuns)
            shark.push_back(
                timeCommand(tshark, {QStringLiteral("-q"), QStringLiteral("-z"),
                                     QStringLiteral("io,stat,1"), QStringLiteral("-r"), file}));
        std::fprintf(stderr, "round %d done\n", r + 1);
    }
    const double mLoop = median(loop), mStats = median(statsRuns), mTop = median(top),
                 mShark = median(shark);
    std::printf("capture: %s; medians of %d runs (tshark %zu)\n", qPrintable(file), runs,
                shark.size());
    std::printf("plain libpcap loop              %8.3f s\n", mLoop);
    std::printf("qarsilo-cli stats               %8.3f s\n", mStats);
    std::printf("qarsilo-cli stats --top 10      %8.3f s\n", mTop);
    std::printf("tshark -q -z io,stat,1 -r       %8.3f s\n", mShark);
    std::printf("stats vs plain loop: %.2fx the time (target <= 3)\n", mStats / mLoop);
    if (mShark > 0)
        std::printf("stats vs tshark: %.1fx faster (target >= 10)\n", mShark / mStats);
    return 0;
}
