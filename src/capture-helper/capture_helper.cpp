// qarsilo-capture: the only program that holds the capture rights
// (cap_net_raw, cap_net_admin). It opens one adapter, gives up every right,
// sets the filter and writes the frames as a pcap stream on its standard
// output; the window process reads that stream and holds no right itself.
//
// Its status channel (the descriptor named by --status-fd, else the standard
// error stream) carries one line each:
//   ok                      the adapter is open and filtered; the stream follows
//   fail STATUS TEXT        the open failed at STATUS (see live_open.h)
//   drops N                 frames the kernel dropped so far
//   error TEXT              the adapter failed during the capture
// TEXT has its line breaks and backslashes escaped. Anything else on the
// standard error stream (libpcap's warnings) is no status.
//
//   qarsilo-capture --device NAME [--snaplen N] [--buffer BYTES] [--timeout MS]
//                   [--immediate 0|1] [--optimize 0|1] [--filter EXPR]
//                   [--netmask VALUE] [--netmask-required] [--status-fd FD]
//
// --immediate 0 reads the kernel's block ring: frames come in batches, a
// block when it is full or --timeout after its first frame. The default, 1,
// hands each frame over as it arrives.

#include "core/capture/live_open.h"

#include <pcap/pcap.h>

#include <linux/capability.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>

extern char** environ;

using namespace qarsilo;

namespace {

// The kernel ring is pinned memory: a caller may not ask for more than this.
constexpr long long kMaxBufferBytes = 256ll << 20;
// libpcap's largest snapshot length.
constexpr long long kMaxSnapLen = 262144;
constexpr long long kMaxTimeoutMs = 60000;
// libpcap's optimiser grows much faster than the filter text; a few hundred
// terms already take seconds.
constexpr std::size_t kMaxFilterBytes = 8192;
// The longest the loop sleeps without looking at its stop flag and its parent.
constexpr int kWakeMs = 200;

pcap_t* g_handle = nullptr;
volatile std::sig_atomic_t g_stop = 0;
int g_statusFd = 2;

extern "C" void onStop(int) {
    g_stop = 1;
    if (g_handle)
        pcap_breakloop(g_handle);
}

void status(const std::string& line) {
    const std::string out = line + "\n";
    // One write per line: the reader never sees half a line from us.
    [[maybe_unused]] const ssize_t n = ::write(g_statusFd, out.data(), out.size());
}

int fail(const char* step, const std::string& text) {
    status(std::string("fail ") + step + " " + escapeStatusText(text));
    return 2;
}

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int usage() {
    return fail("OpenFailed", "usage: qarsilo-capture --device NAME [--snaplen N] [--buffer BYTES] "
                              "[--timeout MS] [--immediate 0|1] [--optimize 0|1] [--filter EXPR] "
                              "[--netmask VALUE] [--netmask-required] [--status-fd FD]");
}

// A whole number in [low, high] written in `base` (0: C notation), nothing
// else; the text of the refusal in `error` otherwise.
bool parseNumber(const std::string& option, const char* text, long long low, long long high,
                 int base, long long* value, std::string* error) {
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, base);
    // strtoll takes leading blanks and a sign; neither belongs in a count.
    const bool digits = *text >= '0' && *text <= '9';
    if (!digits || end == text || *end != '\0') {
        *error = option + ": \"" + text + "\" is not a whole number";
        return false;
    }
    if (errno == ERANGE || v < low || v > high) {
        *error = option + ": " + text + " is out of range (" + std::to_string(low) + " to " +
                 std::to_string(high) + ")";
        return false;
    }
    *value = v;
    return true;
}

// Leaves the process no capability at all, none to regain (not through exec
// either), and none for any program it could start. The open socket keeps
// what it was granted: promiscuous mode and the ring stay.
std::string dropRights() {
    // The bounding set shrinks only with cap_setpcap (a helper started by root).
    for (int cap = 0; cap < 64; ++cap)
        if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0)
            break; // EINVAL past the last one, EPERM without the right
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return std::string("no_new_privs: ") + std::strerror(errno);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, data) != 0)
        return std::string("capset: ") + std::strerror(errno);
    if (::syscall(SYS_capget, &header, data) != 0)
        return std::string("capget: ") + std::strerror(errno);
    for (const auto& d : data)
        if (d.effective || d.permitted || d.inheritable)
            return "capabilities remain after capset";
    return {};
}

// Ends the helper with its parent (the window or qarsilo-cli, also when that
// is killed): the adapter must not stay open and promiscuous for nobody.
bool followParent(pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);
    // A parent that died before the line above sent nothing.
    return ::getppid() == parent;
}

// The environment steers libraries (a message bus address, for one) and
// nothing here needs it; its strings are wiped too, so /proc shows none.
void dropEnvironment() {
    for (char** entry = environ; entry && *entry; ++entry)
        std::memset(*entry, 0, std::strlen(*entry));
    ::clearenv();
}

} // namespace

int main(int argc, char** argv) {
    const pid_t parent = ::getppid();
    if (!followParent(parent))
        return 2;
    dropEnvironment();

    LiveOpenRequest request;
    std::string error;
    const auto number = [&](const std::string& option, const char* text, long long low,
                            long long high, long long* value, int base = 10) {
        return error.empty() && parseNumber(option, text, low, high, base, value, &error);
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long long v = 0;
        if (arg == "--netmask-required") {
            request.netmaskRequired = true;
        } else if (!hasValue) {
            return usage();
        } else if (arg == "--device") {
            request.device = argv[++i];
        } else if (arg == "--snaplen") {
            if (number(arg, argv[++i], 1, kMaxSnapLen, &v))
                request.snapLen = static_cast<int>(v);
        } else if (arg == "--buffer") {
            if (number(arg, argv[++i], 0, INT_MAX, &v)) {
                if (v > kMaxBufferBytes)
                    error = "--buffer: " + std::to_string(v) + " bytes is over the limit of " +
                            std::to_string(kMaxBufferBytes) + " bytes (256 MiB)";
                else
                    request.bufferBytes = static_cast<int>(v);
            }
        } else if (arg == "--timeout") {
            if (number(arg, argv[++i], 0, kMaxTimeoutMs, &v))
                request.readTimeoutMs = static_cast<int>(v);
        } else if (arg == "--immediate") {
            if (number(arg, argv[++i], 0, 1, &v))
                request.immediate = v != 0;
        } else if (arg == "--optimize") {
            if (number(arg, argv[++i], 0, 1, &v))
                request.optimize = static_cast<int>(v);
        } else if (arg == "--filter") {
            request.filter = argv[++i];
        } else if (arg == "--netmask") {
            request.fixedNetmask = true;
            if (number(arg, argv[++i], 0, 0xFFFFFFFFll, &v, 0))
                request.netmask = static_cast<bpf_u_int32>(v);
        } else if (arg == "--status-fd") {
            long long fd = 0;
            std::string why;
            if (parseNumber(arg, argv[++i], 0, INT_MAX, 10, &fd, &why) &&
                ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC) == 0)
                g_statusFd = static_cast<int>(fd);
            else if (error.empty())
                error = why.empty() ? "--status-fd: " + std::string(argv[i]) + " is not open" : why;
        } else {
            return usage();
        }
    }
    if (!error.empty())
        return fail("OpenFailed", error);
    if (request.device.empty())
        return usage();
    if (request.filter.size() > kMaxFilterBytes)
        return fail("CompileFailed", "the filter is " + std::to_string(request.filter.size()) +
                                         " bytes long; the capture helper compiles at most " +
                                         std::to_string(kMaxFilterBytes));

    // A reader that went away shows as a failed write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);

    LiveOpenResult opened = openLiveDevice(request);
    if (opened.status == LiveOpenStatus::Ok) {
        // The socket is open and promiscuous: nothing further needs a right,
        // not even the filter (the compile may take long on a large one).
        if (const std::string why = dropRights(); !why.empty()) {
            pcap_close(opened.handle);
            return fail("OpenFailed", "cannot give up the capture rights: " + why);
        }
        if (!followParent(parent))
            return 2;
        opened = setLiveFilter(opened.handle, request);
    }
    if (opened.status != LiveOpenStatus::Ok) {
        const std::string text = opened.status == LiveOpenStatus::NotEthernet
                                     ? std::to_string(opened.linkType)
                                     : opened.error;
        return fail(liveOpenStatusName(opened.status), text);
    }
    g_handle = opened.handle;

    // The loop waits in poll() with a timeout of its own; libpcap's blocking
    // read would wait for the next frame however long that takes.
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    if (pcap_setnonblock(g_handle, 1, errbuf) != 0) {
        pcap_close(g_handle);
        return fail("OpenFailed", errbuf);
    }
    const int captureFd = pcap_get_selectable_fd(g_handle);

    // Large writes: the reader takes whole batches at a time.
    static char outBuffer[1 << 18];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    pcap_dumper_t* dumper = pcap_dump_fopen(g_handle, stdout);
    if (!dumper || pcap_dump_flush(dumper) != 0)
        return fail("OpenFailed", std::string("cannot write the stream: ") + std::strerror(errno));

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
        // The standard output reports an error once its reader closed the pipe.
        pollfd fds[2] = {{captureFd, POLLIN, 0}, {1, 0, 0}};
        if (::poll(fds, 2, kWakeMs) < 0 && errno != EINTR) {
            status("error " + escapeStatusText(std::string("poll: ") + std::strerror(errno)));
            code = 1;
            break;
        }
        if (g_stop || (fds[1].revents & (POLLERR | POLLHUP)) || ::getppid() != parent)
            break;
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
