// qarsilo-cli chart beside a plain libpcap read loop, every chart view, in one
// run with the rounds interleaved (loop, view, loop, view, ...) so that a busy
// machine weighs on both alike. Each is timed as a process of its own, start
// to exit, output thrown away. Prints per view the medians, the slowest run
// and the first run (before anything of the file was read in this run) as
// ratios to the read loop's, and the largest resident size of the command.
//
//   qarsilo-bench-chart-cli [--runs 5] [--views app,v4v6] [--cli PROGRAM] CAPTURE.pcap
//
// --cli times another build of qarsilo-cli (an earlier one, to compare).

#include "bench_util.h"

#include <QCoreApplication>
#include <QFile>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

using namespace qarsilo::bench;

namespace {

struct Run {
    double seconds = -1;
    long maxRssKiB = 0;
};

// Wall time and peak resident size of one command, output to /dev/null.
Run runCommand(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    const auto start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s\n", argv[0].c_str());
        return run;
    }
    run.seconds = seconds(start);
    run.maxRssKiB = usage.ru_maxrss;
    return run;
}

struct Series {
    std::vector<double> times;
    long maxRssKiB = 0;
    void add(const Run& r) {
        times.push_back(r.seconds);
        maxRssKiB = std::max(maxRssKiB, r.maxRssKiB);
    }
    double slowest() const { return *std::max_element(times.begin(), times.end()); }
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--pcap-loop") == 0)
        return pcapLoop(argv[2]);
    QCoreApplication app(argc, argv);
    int runs = 5;
    QString file;
    std::string cli = QARSILO_CLI;
    QStringList views{QStringLiteral("size"), QStringLiteral("network"), QStringLiteral("ipv4"),
                      QStringLiteral("ipv6"), QStringLiteral("app"),     QStringLiteral("v4v6")};
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == u"--cli" && i + 1 < args.size())
            cli = args[++i].toStdString();
        else if (args[i] == u"--views" && i + 1 < args.size())
            views = args[++i].split(u',');
        else
            file = args[i];
    }
    if (file.isEmpty() || !QFile::exists(file)) {
        std::fprintf(stderr,
                     "usage: qarsilo-bench-chart-cli [--runs N] [--views V,...] [--cli PROGRAM] "
                     "CAPTURE\n");
        return 2;
    }
    const std::string self = app.applicationFilePath().toStdString();
    const std::string path = file.toStdString();
    std::printf("%s on %s; %d runs per view, interleaved with the read loop\n", cli.c_str(),
                path.c_str(), runs);
    std::printf("%-8s %9s %9s %7s %9s %7s %9s %7s %10s\n", "view", "loop med", "chart med", "ratio",
                "slowest", "ratio", "first", "ratio", "peak KiB");
    for (const QString& view : views) {
        Series loop, chart;
        const std::vector<std::string> loopCmd{self, "--pcap-loop", path};
        const std::vector<std::string> chartCmd{cli, "chart", view.toStdString(), path};
        for (int r = 0; r < runs; ++r) {
            loop.add(runCommand(loopCmd));
            chart.add(runCommand(chartCmd));
        }
        const double l = median(loop.times);
        std::printf("%-8s %8.3fs %8.3fs %6.2fx %8.3fs %6.2fx %8.3fs %6.2fx %10ld\n",
                    qPrintable(view), l, median(chart.times), median(chart.times) / l,
                    chart.slowest(), chart.slowest() / l, chart.times.front(),
                    chart.times.front() / loop.times.front(), chart.maxRssKiB);
    }
    return 0;
}
