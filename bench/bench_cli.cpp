// Every qarsilo-cli command that reads a capture file, beside a plain libpcap
// read loop over the same file. Each is a process of its own with its output
// thrown away, the rounds interleaved (loop, command, loop, command ...) so
// that a busy machine weighs on both alike. Per capture and command it prints
// the first (cold) run over the first loop, the median over the loop's median,
// the slowest run over the loop's median, and the largest resident size of the
// command and of the loop. A command whose slowest run is over the bound is
// marked "missed".
//
//   qarsilo-bench-cli [--runs N] [--commands NAME,...] [--node MAC] [--top K]
//                     [--bound X] [--cli PATH] [--tshark [RUNS]] [--per-row] CAPTURE...
//
// NAME: list, stats, stats-top, stats-node, trace, netbios, ip, chart (every
// view) or one view as chart-size, chart-network, chart-ipv4, chart-ipv6,
// chart-app, chart-v4v6, conversations or endpoints (every type) or one type
// as conversations-tcp, endpoints-ip (eth, ip, ipv6, tcp, udp). Without
// --node, stats-node and trace follow the station that sends the most frames
// among the capture's first 100,000.
//
// --tshark also runs tshark's table of the same type (-z conv,TYPE or
// -z endpoints,TYPE) beside each conversations and endpoints command, RUNS
// times (1 by default: it is slow), interleaved with the first rounds, and
// prints how many times faster the command's slowest run is than tshark's
// fastest ("missed" under 10x). --per-row counts the command's output lines
// once and prints its peak memory above the read loop's per row, in bytes.

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
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using qarsilo::bench::Clock;

using Run = qarsilo::bench::ChildRun;
constexpr auto runProcess = qarsilo::bench::runChild;

std::vector<std::string> splitList(const std::string& list) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        if (comma > at)
            out.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    return out;
}

const char* const kChartViews[] = {"size", "network", "ipv4", "ipv6", "app", "v4v6"};
const char* const kTalkTypes[] = {"eth", "ip", "ipv6", "tcp", "udp"};

// "conversations-tcp" -> {"conversations", "tcp"}; empty for other names.
std::pair<std::string, std::string> talkCommand(const std::string& name) {
    for (const char* command : {"conversations", "endpoints"}) {
        const std::string prefix = std::string(command) + '-';
        if (name.rfind(prefix, 0) == 0)
            for (const char* type : kTalkTypes)
                if (name.substr(prefix.size()) == type)
                    return {command, type};
    }
    return {};
}

// A program found on the PATH, as posix_spawn needs it; empty when none is.
std::string onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "";
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t colon = std::min(list.find(':', at), list.size());
        const std::string candidate = list.substr(at, colon - at) + '/' + program;
        if (colon > at && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        at = colon + 1;
    }
    return {};
}

// The lines a command writes (its rows), or -1 when it fails.
long outputLines(const std::vector<std::string>& line) {
    std::string text;
    for (const std::string& a : line)
        text += "'" + a + "' ";
    FILE* p = popen(text.c_str(), "r");
    if (!p)
        return -1;
    long lines = 0;
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        lines += std::count(buffer, buffer + n, '\n');
    return pclose(p) == 0 ? lines : -1;
}

// The station sending the most frames among the first ones: one the trace and
// the single node view have something to show for. Empty when none.
std::string busiestStation(const std::string& file) {
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(file.c_str(), errbuf);
    if (!p)
        return {};
    std::map<std::string, long> counts;
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    for (int i = 0; i < 100000 && pcap_next_ex(p, &h, &bytes) == 1; ++i) {
        if (h->caplen < 12 || (bytes[6] & 1))
            continue;
        char mac[18];
        std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[6], bytes[7],
                      bytes[8], bytes[9], bytes[10], bytes[11]);
        ++counts[mac];
    }
    pcap_close(p);
    std::string best;
    long most = 0;
    for (const auto& [mac, n] : counts)
        if (n > most) {
            most = n;
            best = mac;
        }
    return best;
}

// The command line of `name` over `file`; empty for an unknown name.
std::vector<std::string> commandLine(const std::string& cli, const std::string& name,
                                     const std::string& file, const std::string& node,
                                     const std::string& top) {
    if (name == "list")
        return {cli, "list", file};
    if (name == "stats")
        return {cli, "stats", file};
    if (name == "stats-top")
        return {cli, "stats", file, "--top", top};
    if (name == "stats-node")
        return {cli, "stats", file, "--node", node};
    if (name == "trace")
        return {cli, "trace", file, "--node", node};
    if (name == "netbios" || name == "ip")
        return {cli, "discover", file, "--mode", name};
    if (name.rfind("chart-", 0) == 0)
        for (const char* view : kChartViews)
            if (name.substr(6) == view)
                return {cli, "chart", view, file};
    if (const auto [command, type] = talkCommand(name); !command.empty())
        return {cli, command, file, "--type", type};
    return {};
}

double largest(const std::vector<double>& v) {
    double m = 0;
    for (double x : v)
        m = std::max(m, x);
    return m;
}

int usage() {
    std::fprintf(
        stderr, "usage: qarsilo-bench-cli [--runs N] [--commands NAME,...] [--node MAC] [--top K]\n"
                "                         [--bound X] [--cli PATH] [--tshark [RUNS]] [--per-row]\n"
                "                         CAPTURE...\n"
                "  NAME: list stats stats-top stats-node trace netbios ip chart\n"
                "        chart-size chart-network chart-ipv4 chart-ipv6 chart-app chart-v4v6\n"
                "        conversations endpoints conversations-TYPE endpoints-TYPE\n"
                "        (TYPE: eth ip ipv6 tcp udp)\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--pcap-loop") == 0)
        return qarsilo::bench::pcapLoop(argv[2]);
    int runs = 5;
    double bound = 1.5;
    std::string cli = QARSILO_CLI;
    std::string node;
    std::string top = "10";
    int tsharkRuns = 0;
    bool perRow = false;
    std::vector<std::string> names{"list",    "stats", "stats-top", "stats-node",    "trace",
                                   "netbios", "ip",    "chart",     "conversations", "endpoints"};
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--runs" && hasValue)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--bound" && hasValue)
            bound = std::atof(argv[++i]);
        else if (a == "--cli" && hasValue)
            cli = argv[++i];
        else if (a == "--node" && hasValue)
            node = argv[++i];
        else if (a == "--top" && hasValue)
            top = argv[++i];
        else if (a == "--commands" && hasValue)
            names = splitList(argv[++i]);
        else if (a == "--tshark")
            tsharkRuns = hasValue && std::atoi(argv[i + 1]) > 0 ? std::atoi(argv[++i]) : 1;
        else if (a == "--per-row")
            perRow = true;
        else if (!a.empty() && a[0] != '-')
            files.push_back(a);
        else
            return usage();
    }
    // "chart" is every view.
    std::vector<std::string> commands;
    for (const std::string& n : names) {
        if (n == "chart")
            for (const char* view : kChartViews)
                commands.push_back(std::string("chart-") + view);
        else if (n == "conversations" || n == "endpoints")
            for (const char* type : kTalkTypes)
                commands.push_back(n + '-' + type);
        else
            commands.push_back(n);
    }
    for (const std::string& c : commands)
        if (commandLine(cli, c, "f", "n", "1").empty()) {
            std::fprintf(stderr, "unknown command '%s'\n", c.c_str());
            return usage();
        }
    if (files.empty() || bound <= 0)
        return usage();
    const std::string tshark = tsharkRuns ? onPath("tshark") : std::string();
    if (tsharkRuns && tshark.empty()) {
        std::fprintf(stderr, "--tshark: no tshark on the PATH\n");
        return 2;
    }
    // The chart command draws; without a display it draws offscreen.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 1;
    self[n] = '\0';

    std::printf("%s; %d runs after a cold one, interleaved with the read loop; bound %.2fx on the "
                "slowest run\n",
                cli.c_str(), runs, bound);
    std::printf("%-24s %-18s %8s %8s %7s %7s %7s %9s %9s\n", "capture", "command", "loop s",
                "cmd s", "cold x", "med x", "slow x", "peak MiB", "loop MiB");
    int missed = 0;
    for (const std::string& file : files) {
        std::string station = node;
        if (station.empty())
            station = busiestStation(file);
        const std::string name = file.substr(file.find_last_of('/') + 1);
        if (!station.empty())
            std::printf("%s: stats-node and trace follow %s\n", name.c_str(), station.c_str());
        for (const std::string& command : commands) {
            const bool needsNode = command == "stats-node" || command == "trace";
            if (needsNode && station.empty()) {
                std::printf("%-24s %-18s (no station to follow)\n", name.c_str(), command.c_str());
                continue;
            }
            const std::vector<std::string> line = commandLine(cli, command, file, station, top);
            const auto [talk, talkType] = talkCommand(command);
            const bool withTshark = tsharkRuns > 0 && !talk.empty();
            std::vector<double> loop, cmd, reference;
            double coldLoop = 0, coldCmd = 0;
            long peak = 0, loopPeak = 0;
            bool failed = false;
            // Round 0 is the cold one; it is not in the medians.
            for (int r = 0; r <= runs && !failed; ++r) {
                const Run l = runProcess({self, "--pcap-loop", file});
                const Run c = runProcess(line);
                if (l.seconds < 0 || c.seconds < 0) {
                    failed = true;
                    break;
                }
                if (withTshark && r < tsharkRuns) {
                    const std::string table =
                        (talk == "conversations" ? "conv," : "endpoints,") + talkType;
                    const Run t = runProcess({tshark, "-n", "-q", "-z", table, "-r", file});
                    if (t.seconds < 0) {
                        failed = true;
                        break;
                    }
                    reference.push_back(t.seconds);
                }
                peak = std::max(peak, c.peakKiB);
                loopPeak = std::max(loopPeak, l.peakKiB);
                if (r == 0) {
                    coldLoop = l.seconds;
                    coldCmd = c.seconds;
                } else {
                    loop.push_back(l.seconds);
                    cmd.push_back(c.seconds);
                }
            }
            if (failed) {
                std::string text;
                for (const std::string& a : line)
                    text += a + ' ';
                std::printf("%-24s %-18s failed: %s\n", name.c_str(), command.c_str(),
                            text.c_str());
                ++missed;
                continue;
            }
            const double mLoop = qarsilo::bench::median(loop);
            const double mCmd = qarsilo::bench::median(cmd);
            const double slow = largest(cmd) / mLoop;
            const bool miss = slow > bound;
            missed += miss;
            std::string extra;
            char text[160];
            if (withTshark) {
                // The command's slowest run against tshark's fastest.
                const double fastest = *std::min_element(reference.begin(), reference.end());
                const double faster = fastest / largest(cmd);
                const bool tsharkMiss = faster < 10;
                missed += tsharkMiss;
                std::snprintf(text, sizeof text, "  tshark %.3f s, %.1fx faster%s", fastest, faster,
                              tsharkMiss ? " missed" : "");
                extra += text;
            }
            if (perRow && !talk.empty()) {
                const long rows = outputLines(line);
                if (rows > 0) {
                    std::snprintf(text, sizeof text, "  %ld rows, %.0f bytes/row", rows,
                                  double(peak - loopPeak) * 1024 / double(rows));
                    extra += text;
                }
            }
            std::printf("%-24s %-18s %8.3f %8.3f %7.2f %7.2f %7.2f %9.1f %9.1f%s%s\n", name.c_str(),
                        command.c_str(), mLoop, mCmd, coldCmd / coldLoop, mCmd / mLoop, slow,
                        double(peak) / 1024, double(loopPeak) / 1024, miss ? "  missed" : "",
                        extra.c_str());
            std::fflush(stdout);
        }
    }
    std::printf("(x: the command's time over the read loop's median; cold: the first run over the "
                "first loop; %d missed)\n",
                missed);
    return missed ? 3 : 0;
}
