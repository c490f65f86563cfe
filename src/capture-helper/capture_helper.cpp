// qarsilo-capture: the only program that holds the capture rights
// (cap_net_raw, cap_net_admin). It opens one adapter, sets the filter and
// writes the frames as a pcap stream on its standard output; the window
// process reads that stream and holds no right itself.
//
// Its standard error stream is the status channel, one line each:
//   ok                      the adapter is open and filtered; the stream follows
//   fail STATUS TEXT        the open failed at STATUS (see live_open.h)
//   drops N                 frames the kernel dropped so far
//   error TEXT              the adapter failed during the capture
// TEXT has its line breaks and backslashes escaped.
//
//   qarsilo-capture --device NAME [--snaplen N] [--buffer BYTES] [--timeout MS]
//                   [--optimize 0|1] [--filter EXPR] [--netmask VALUE]
//                   [--netmask-required]

#include "core/capture/live_open.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

using namespace qarsilo;

namespace {

pcap_t* g_handle = nullptr;
volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStop(int) {
    g_stop = 1;
    if (g_handle)
        pcap_breakloop(g_handle);
}

void status(const std::string& line) {
    const std::string out = line + "\n";
    // One write per line: the reader never sees half a line from us.
    [[maybe_unused]] const ssize_t n = ::write(2, out.data(), out.size());
}

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int usage() {
    status("fail OpenFailed " +
           escapeStatusText("usage: qarsilo-capture --device NAME [--snaplen N] [--buffer BYTES] "
                            "[--timeout MS] [--optimize 0|1] [--filter EXPR] [--netmask VALUE] "
                            "[--netmask-required]"));
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    LiveOpenRequest request;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--netmask-required") {
            request.netmaskRequired = true;
        } else if (!hasValue) {
            return usage();
        } else if (arg == "--device") {
            request.device = argv[++i];
        } else if (arg == "--snaplen") {
            request.snapLen = std::atoi(argv[++i]);
        } else if (arg == "--buffer") {
            request.bufferBytes = std::atoi(argv[++i]);
        } else if (arg == "--timeout") {
            request.readTimeoutMs = std::atoi(argv[++i]);
        } else if (arg == "--optimize") {
            request.optimize = std::atoi(argv[++i]);
        } else if (arg == "--filter") {
            request.filter = argv[++i];
        } else if (arg == "--netmask") {
            request.fixedNetmask = true;
            request.netmask = static_cast<bpf_u_int32>(std::strtoul(argv[++i], nullptr, 0));
        } else {
            return usage();
        }
    }
    if (request.device.empty())
        return usage();

    // A reader that went away shows as a failed write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    const pid_t parent = ::getppid();

    LiveOpenResult opened = openLive(request);
    if (opened.status != LiveOpenStatus::Ok) {
        const std::string text = opened.status == LiveOpenStatus::NotEthernet
                                     ? std::to_string(opened.linkType)
                                     : opened.error;
        status(std::string("fail ") + liveOpenStatusName(opened.status) + " " +
               escapeStatusText(text));
        return 2;
    }
    g_handle = opened.handle;

    // Large writes: the reader takes whole batches at a time.
    static char outBuffer[1 << 18];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    pcap_dumper_t* dumper = pcap_dump_fopen(g_handle, stdout);
    if (!dumper || pcap_dump_flush(dumper) != 0) {
        status("fail OpenFailed " +
               escapeStatusText(std::string("cannot write the stream: ") + std::strerror(errno)));
        return 2;
    }

    struct sigaction action {};
    action.sa_handler = &onStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    status("ok");

    unsigned lastDrops = 0;
    double lastReport = now();
    int code = 0;
    const auto reportDrops = [&](bool always) {
        pcap_stat stats{};
        if (pcap_stats(g_handle, &stats) == 0 && (always || stats.ps_drop != lastDrops)) {
            lastDrops = stats.ps_drop;
            status("drops " + std::to_string(lastDrops));
        }
    };
    while (!g_stop) {
        const int n = pcap_dispatch(g_handle, -1, &pcap_dump, reinterpret_cast<u_char*>(dumper));
        if (n == PCAP_ERROR_BREAK)
            continue; // the flag decides
        if (n < 0) {
            status("error " + escapeStatusText(pcap_geterr(g_handle)));
            code = 1;
            break;
        }
        if (n > 0 && pcap_dump_flush(dumper) != 0)
            break; // the reader is gone
        // The read timeout wakes the loop now and then, so an orphaned helper ends.
        if (::getppid() != parent)
            break;
        const double t = now();
        if (t - lastReport >= 0.25) {
            lastReport = t;
            reportDrops(false);
        }
    }
    reportDrops(true);
    pcap_close(g_handle);
    return code;
}
