// qarsilo-cli chart beside a plain libpcap read loop, every chart view, in one
// run with the rounds interleaved (loop, view, loop, view, ...) so that a busy
// machine weighs on both alike. Each is timed as a process of its own, start
// to exit, output thrown away. Prints per view and variant (plain, cumulative,
// and with --png the bar and the pie pictures) the first run (before anything
// of the file was read in this run), the median and the slowest run as ratios
// to the read loop's (the first to the loop's first, the others to the loop's
// median), and the largest resident size of the command. A variant whose
// slowest run is above --bound times the loop's median is marked "missed".
//
//   qarsilo-bench-chart-cli [--runs 5] [--views app,v4v6] [--bound 1.5] [--png]
//                           [--cli PROGRAM] CAPTURE.pcap...
//
// --cli times another build of qarsilo-cli (an earlier one, to compare).
// Several captures (e.g. 1M and 8M frames) show whether the memory is flat.

#include "bench_util.h"
#include "child_run.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace qarsilo::bench;

namespace {

using Run = qarsilo::bench::ChildRun;
constexpr auto runCommand = qarsilo::bench::runChild;

struct Series {
    std::vector<double> times;
    long peakKiB = 0;
    void add(const Run& r) {
        times.push_back(r.seconds);
        peakKiB = std::max(peakKiB, r.peakKiB);
    }
    double slowest() const { return *std::max_element(times.begin(), times.end()); }
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--pcap-loop") == 0)
        return pcapLoop(argv[2]);
    QCoreApplication app(argc, argv);
    int runs = 5;
    double bound = 1.5;
    bool png = false;
    QStringList files;
    std::string cli = QARSILO_CLI;
    QStringList views{QStringLiteral("size"), QStringLiteral("network"), QStringLiteral("ipv4"),
                      QStringLiteral("ipv6"), QStringLiteral("app"),     QStringLiteral("v4v6")};
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == u"--bound" && i + 1 < args.size())
            bound = args[++i].toDouble();
        else if (args[i] == u"--png")
            png = true;
        else if (args[i] == u"--cli" && i + 1 < args.size())
            cli = args[++i].toStdString();
        else if (args[i] == u"--views" && i + 1 < args.size())
            views = args[++i].split(u',');
        else
            files << args[i];
    }
    if (files.isEmpty() || !std::all_of(files.begin(), files.end(),
                                        [](const QString& f) { return QFile::exists(f); })) {
        std::fprintf(stderr,
                     "usage: qarsilo-bench-chart-cli [--runs N] [--views V,...] [--bound B] "
                     "[--png] [--cli PROGRAM] CAPTURE...\n");
        return 2;
    }
    // The variants timed per view: the options after the source.
    std::vector<std::pair<const char*, std::vector<std::string>>> variants{
        {"plain", {}}, {"cumul", {"--cumulative"}}};
    if (png) {
        variants.push_back({"png", {"--png"}});
        variants.push_back({"png-pie", {"--cumulative", "--pie", "--png"}});
    }
    const std::string self = app.applicationFilePath().toStdString();
    int missed = 0;
    for (const QString& file : files) {
        const std::string path = file.toStdString();
        std::printf("%s on %s; %d runs per view, interleaved with the read loop; bound %.2fx\n",
                    cli.c_str(), path.c_str(), runs, bound);
        std::printf("%-8s %-8s %9s %9s %7s %7s %7s %10s\n", "view", "variant", "loop med",
                    "chart med", "first", "median", "slowest", "peak KiB");
        for (const QString& view : views) {
            for (const auto& [name, options] : variants) {
                Series loop, chart;
                const std::vector<std::string> loopCmd{self, "--pcap-loop", path};
                for (int r = 0; r < runs; ++r) {
                    std::vector<std::string> chartCmd{cli, "chart", view.toStdString(), path};
                    chartCmd.insert(chartCmd.end(), options.begin(), options.end());
                    // Pictures go to a folder of their own, removed after the run.
                    QTemporaryDir pictures;
                    if (!options.empty() && options.back() == "--png")
                        chartCmd.push_back(pictures.path().toStdString());
                    loop.add(runCommand(loopCmd));
                    chart.add(runCommand(chartCmd));
                }
                const double l = median(loop.times);
                const double slowest = chart.slowest() / l;
                const bool miss =
                    slowest > bound || std::any_of(chart.times.begin(), chart.times.end(),
                                                   [](double t) { return t < 0; });
                missed += miss;
                std::printf("%-8s %-8s %8.3fs %8.3fs %6.2fx %6.2fx %6.2fx %10ld%s\n",
                            qPrintable(view), name, l, median(chart.times),
                            chart.times.front() / loop.times.front(), median(chart.times) / l,
                            slowest, chart.peakKiB, miss ? "  missed" : "");
                std::fflush(stdout);
            }
        }
    }
    std::printf("%s\n",
                missed ? "some variants missed the bound" : "every variant within the bound");
    return 0;
}
