// qarsilo-cli discover beside a plain libpcap read loop over the same capture,
// each a process of its own with its output thrown away, rounds interleaved
// (loop, CLI, loop, CLI ...) so that a busy machine weighs on both alike. For
// each capture and mode prints the first (cold) run, the median and the
// slowest of the later runs, each as a ratio to the loop's, and the CLI's
// peak memory.
//
//   qarsilo-bench-discover-cli [--runs 5] [--modes netbios,ip] [--cli PATH] CAPTURE...
//
// e.g. with qarsilo-gen-netbios -n 1000000 netbios.pcap and
// qarsilo-gen-capture -n 1000000 mixed.pcap.

#include "bench_util.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

using qarsilo::bench::Clock;

struct Run {
    double seconds = -1;
    long peakKiB = 0;
};

// Start to exit of `argv`, its output to /dev/null; seconds -1 when it fails.
Run runProcess(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return run;
    run.seconds = qarsilo::bench::seconds(start);
    run.peakKiB = usage.ru_maxrss;
    return run;
}

double slowest(const std::vector<double>& v) {
    double m = 0;
    for (double x : v)
        m = std::max(m, x);
    return m;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--pcap-loop") == 0)
        return qarsilo::bench::pcapLoop(argv[2]);
    int runs = 5;
    std::string cli = QARSILO_CLI;
    std::vector<std::string> modes{"netbios", "ip"};
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--cli" && i + 1 < argc) {
            cli = argv[++i];
        } else if (a == "--modes" && i + 1 < argc) {
            modes.clear();
            std::string list = argv[++i];
            for (std::size_t at = 0; at <= list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                modes.push_back(list.substr(at, comma - at));
                at = comma + 1;
            }
        } else if (!a.empty() && a[0] != '-') {
            files.push_back(a);
        } else {
            files.clear();
            break;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: qarsilo-bench-discover-cli [--runs N] [--modes netbios,ip] "
                             "[--cli PATH] CAPTURE...\n");
        return 2;
    }
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 1;
    self[n] = '\0';

    std::printf("%-40s %-8s %9s %9s %9s %9s %9s %9s %10s\n", "capture", "mode", "loop s", "cli s",
                "cold x", "median x", "slowest x", "cli max s", "peak MiB");
    for (const std::string& file : files) {
        for (const std::string& mode : modes) {
            std::vector<double> loop, disc;
            double coldLoop = 0, coldCli = 0;
            long peak = 0;
            // Round 0 is the cold one; it is not in the medians.
            for (int r = 0; r <= runs; ++r) {
                const Run l = runProcess({self, "--pcap-loop", file});
                const Run c = runProcess({cli, "discover", file, "--mode", mode});
                if (l.seconds < 0 || c.seconds < 0) {
                    std::fprintf(stderr, "a run failed on %s (%s)\n", file.c_str(), mode.c_str());
                    return 1;
                }
                peak = std::max(peak, c.peakKiB);
                if (r == 0) {
                    coldLoop = l.seconds;
                    coldCli = c.seconds;
                } else {
                    loop.push_back(l.seconds);
                    disc.push_back(c.seconds);
                }
            }
            const double mLoop = qarsilo::bench::median(loop);
            const double mCli = qarsilo::bench::median(disc);
            std::string name = file.substr(file.find_last_of('/') + 1);
            std::printf("%-40s %-8s %9.3f %9.3f %9.2f %9.2f %9.2f %9.3f %10.1f\n", name.c_str(),
                        mode.c_str(), mLoop, mCli, coldCli / coldLoop, mCli / mLoop,
                        slowest(disc) / mLoop, slowest(disc), double(peak) / 1024);
            std::fflush(stdout);
        }
    }
    std::printf("(medians of %d runs after a cold first run; x: the CLI's time over the read "
                "loop's median, the cold one over the cold loop)\n",
                runs);
    return 0;
}
