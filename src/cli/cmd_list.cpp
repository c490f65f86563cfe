#include "cli/cli_commands.h"

#include "core/analysis/classify.h"
#include "core/analysis/frame.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"

#include "core/capture/native_path.h"

#include <sys/stat.h>

#include <charconv>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>

using namespace qarsilo;

namespace {

constexpr const char* kUsage = "usage: qarsilo-cli list SOURCE [--filter EXPR] [--count N]\n"
                               "  SOURCE  a capture file (pcap or pcapng) or a capture device\n"
                               "          (also pipe:COMMAND, a command's pcap output, and -, the\n"
                               "          standard input)\n";

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int) {
    g_interrupted = 1;
}

// Writes one line per frame into a large buffer that goes out in big writes.
// Runs on the capture thread; nothing is allocated per frame.
class LinePrinter {
public:
    explicit LinePrinter(long long limit)
        : m_buffer(std::make_unique<char[]>(kBufferSize))
        , m_limit(limit) {}

    void frame(const pcap_pkthdr& header, const std::uint8_t* bytes) {
        if ((m_limit > 0 && m_count >= m_limit) || m_failed)
            return;
        if (kBufferSize - m_used < kMaxLine)
            flush();
        char* out = m_buffer.get() + m_used;
        char* const start = out;
        out = std::to_chars(out, out + 24, m_count + 1).ptr;
        *out++ = '\t';
        out += formatFrameLine(frameHeaderFrom(header), bytes, out, kMaxFrameLineLength);
        *out++ = '\n';
        m_used += static_cast<std::size_t>(out - start);
        ++m_count;
        if (m_limit > 0 && m_count == m_limit)
            finish();
    }

    void flush() {
        // After a failed write the rest is not read: the command fails anyway.
        if (m_used && !m_failed && std::fwrite(m_buffer.get(), 1, m_used, stdout) != m_used) {
            rememberOutputError();
            m_failed = true;
            finish();
        }
        m_used = 0;
    }

    // Wakes the waiting command: the count is reached or the source ended.
    void finish() {
        {
            std::lock_guard lock(m_lock);
            m_done = true;
        }
        m_wake.notify_all();
    }

    // Until finish() or an interrupt.
    void wait() {
        std::unique_lock lock(m_lock);
        while (!m_done && !g_interrupted)
            m_wake.wait_for(lock, std::chrono::milliseconds(50));
    }

private:
    static constexpr std::size_t kBufferSize = 1 << 18;
    static constexpr std::size_t kMaxLine = 24 + 1 + kMaxFrameLineLength + 1;

    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
    bool m_failed = false;
    long long m_count = 0;
    const long long m_limit;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_done = false;
};

int fail(const char* what, const QString& name, const QString& reason) {
    std::fprintf(stderr, "qarsilo-cli list: %s '%s': %s\n", what, qPrintable(displayFileName(name)),
                 qPrintable(reason));
    return 1;
}

} // namespace

// One line per frame of SOURCE: No. (from 1), Time, Source, Destination,
// Protocol and Info, tab separated, as the analyzer's list shows them. A file
// is read as fast as possible; a device until --count frames or an interrupt.
int runList(const QStringList& args) {
    QString source;
    QString filter;
    long long count = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        QString value;
        bool isFilter = false;
        bool isCount = false;
        if (a == QLatin1String("--filter") || a == QLatin1String("--count")) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "qarsilo-cli list: %s needs a value\n%s", qPrintable(a),
                             kUsage);
                return 2;
            }
            isFilter = a == QLatin1String("--filter");
            isCount = !isFilter;
            value = args[++i];
        } else if (a.startsWith(QLatin1String("--filter="))) {
            isFilter = true;
            value = a.mid(9);
        } else if (a.startsWith(QLatin1String("--count="))) {
            isCount = true;
            value = a.mid(8);
        } else if (a.startsWith(QLatin1String("--")) || !source.isEmpty()) {
            std::fprintf(stderr, "qarsilo-cli list: unexpected argument '%s'\n%s", qPrintable(a),
                         kUsage);
            return 2;
        } else {
            source = a;
        }
        if (isFilter)
            filter = value;
        if (isCount) {
            bool ok = false;
            count = value.toLongLong(&ok);
            if (!ok || count <= 0) {
                std::fprintf(stderr, "qarsilo-cli list: --count needs a number above 0, not '%s'\n",
                             qPrintable(value));
                return 2;
            }
        }
    }
    if (source.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    const QString adapter = sourceAdapter(source);
    const bool isFile = isCaptureFileAdapter(adapter);
    LinePrinter printer(count);
    CaptureSession session(CaptureWindow::CommandLine);
    session.setFilter(filter);
    session.setFileReplay(FileReplay::AsFastAsPossible);
    // The session refuses sources whose frames are not Ethernet.
    session.setHandler(
        [&printer](const pcap_pkthdr& h, const std::uint8_t* bytes) { printer.frame(h, bytes); });
    session.setEndHandler([&printer](LoopEnd) { printer.finish(); });

    const CaptureStartResult started = session.start(adapter);
    switch (started.status) {
    case CaptureStatus::Started:
        break;
    case CaptureStatus::OpenFailed:
        if (isStreamAdapter(adapter))
            return fail("cannot read", source, started.error);
        return fail(isFile ? "cannot open capture file" : "cannot open device",
                    isFile ? captureFilePath(adapter) : adapter, started.error);
    case CaptureStatus::NotEthernet:
        return fail("cannot list", source, started.error);
    case CaptureStatus::CompileFailed:
    case CaptureStatus::SetFilterFailed:
        return fail("bad filter", filter, started.error);
    default:
        return fail("cannot capture from", source, started.error);
    }
    // A device runs until interrupted; the frames so far are still written.
    struct sigaction action {};
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
    action.sa_handler = &onInterrupt;
    sigaction(SIGINT, &action, &oldInt);
    sigaction(SIGTERM, &action, &oldTerm);
    printer.wait();
    session.stop();
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);

    printer.flush();
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return 1; // the message comes from finishOutput
    if (session.droppedFrames() > 0)
        std::fprintf(stderr, "qarsilo-cli list: %u frames were dropped before they could be read\n",
                     session.droppedFrames());
    if (session.loopEnd() == LoopEnd::Error)
        return fail("reading failed for", source, session.loopError());
    return 0;
}
