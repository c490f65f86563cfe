#include "cli/cli_commands.h"

#include "core/analysis/classify.h"
#include "core/analysis/frame.h"
#include "core/analysis/text_format.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"

#include "core/capture/native_path.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

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

// The decimal text of the next frame number and its tab, counted up in place.
class FrameNumber {
public:
    FrameNumber() {
        m_text[kEnd - 1] = '1';
        m_text[kEnd] = '\t';
    }

    // Writes the text at `out`, which has room for kWrites bytes, and counts up.
    char* appendAndCountUp(char* out) noexcept {
        // A fixed-size copy: the bytes past the tab are written over later.
        std::memcpy(out, m_text + m_first, kWrites);
        out += kEnd + 1 - m_first;
        int i = kEnd - 1;
        while (m_text[i] == '9')
            m_text[i--] = '0';
        if (i < m_first) {
            m_text[i] = '1';
            m_first = i;
        } else {
            ++m_text[i];
        }
        return out;
    }

    static constexpr std::size_t kWrites = 25;

private:
    static constexpr int kEnd = 24; // digits in [m_first, kEnd), room for any long long
    char m_text[kEnd + kWrites] = {};
    int m_first = kEnd - 1;
};

// The list's time text; the seconds' text is made once per second of the file.
class TimeText {
public:
    // Writes at `out`, which has room for kWrites bytes.
    char* append(char* out, qint64 seconds, qint64 microseconds) noexcept {
        if (seconds != m_seconds || m_length == 0) {
            char* end = text::appendDecimal(m_text, seconds);
            *end++ = ':';
            m_length = static_cast<std::size_t>(end - m_text);
            m_seconds = seconds;
        }
        std::memcpy(out, m_text, sizeof m_text);
        return text::appendMicroseconds(out + m_length, microseconds);
    }

    static constexpr std::size_t kWrites = text::kMaxTimeLength + 11;

private:
    char m_text[text::kMaxDecimalLength + 1 + 11] = {};
    std::size_t m_length = 0;
    qint64 m_seconds = 0;
};

// Writes one line per frame into a large buffer that goes out in big writes.
// Runs on the command's thread; nothing is allocated per frame.
class LinePrinter {
public:
    explicit LinePrinter(long long limit)
        : m_buffer(std::make_unique<char[]>(kBufferSize))
        , m_limit(limit) {}

    void frame(const FrameHeader& frame, const std::uint8_t* bytes) {
        if (done())
            return;
        if (kBufferSize - m_used < kMaxLine)
            flush();
        char* out = m_buffer.get() + m_used;
        char* const start = out;
        // The fields of formatFrameLine, with the number and the time made faster.
        const Classification c = classifyFrame(frame, bytes);
        out = m_number.appendAndCountUp(out);
        out = m_time.append(out, frame.tsSec, frame.tsUsec);
        *out++ = '\t';
        out = appendSourceText(out, c);
        *out++ = '\t';
        out = appendDestinationText(out, c);
        *out++ = '\t';
        out = text::appendText(out, c.protocol);
        *out++ = '\t';
        out = text::appendText(out, c.info());
        *out++ = '\n';
        m_used += static_cast<std::size_t>(out - start);
        ++m_count;
    }

    void flush() {
        // After a failed write the rest is not read: the command fails anyway.
        if (m_used && !m_failed && std::fwrite(m_buffer.get(), 1, m_used, stdout) != m_used) {
            rememberOutputError();
            m_failed = true;
        }
        m_used = 0;
    }

    bool done() const { return (m_limit > 0 && m_count >= m_limit) || m_failed; }

private:
    static constexpr std::size_t kBufferSize = 1 << 18;
    // The longest line, and the fixed-size copies of its first fields.
    static constexpr std::size_t kMaxLine = 24 + 1 + kMaxFrameLineLength + 1;
    static_assert(FrameNumber::kWrites <= kMaxLine && 24 + 1 + TimeText::kWrites <= kMaxLine);
    FrameNumber m_number;
    TimeText m_time;

    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
    bool m_failed = false;
    long long m_count = 0;
    const long long m_limit;
};

// Frames as the capture thread copied them: each a FrameHeader, then the
// bytes the naming reads (capLen lowered to match), padded to the header's
// alignment.
constexpr std::size_t recordSize(std::size_t capLen) {
    return sizeof(FrameHeader) +
           (capLen + alignof(FrameHeader) - 1) / alignof(FrameHeader) * alignof(FrameHeader);
}

struct FrameBatch {
    static constexpr std::size_t kBytes = 1 << 18;
    static constexpr std::size_t kLargestRecord = recordSize(kClassifyReach);

    std::unique_ptr<std::uint8_t[]> bytes = std::make_unique<std::uint8_t[]>(kBytes);
    std::size_t used = 0;

    template <typename Visit> void forEach(Visit&& visit) const {
        for (std::size_t at = 0; at < used;) {
            FrameHeader header;
            std::memcpy(&header, bytes.get() + at, sizeof header);
            visit(header, bytes.get() + at + sizeof header);
            at += recordSize(header.capLen);
        }
    }
};

// Hands frames from the capture thread to the command's thread in batches,
// so that reading the source and naming the frames run side by side: the
// capture thread only copies a frame's first bytes, all the naming reads.
// Batches are reused, and the capture thread waits for one when kMaxBatches
// are in use, so memory stays the same whatever the number of frames.
class FrameBatches {
public:
    explicit FrameBatches(long long limit)
        : m_limit(limit) {}

    // Capture thread.
    void frame(const pcap_pkthdr& h, const std::uint8_t* bytes) {
        if (m_limit > 0 && m_taken >= m_limit)
            return;
        FrameHeader header = frameHeaderFrom(h);
        header.capLen = std::min<quint32>(header.capLen, kClassifyReach);
        if (!m_fill || FrameBatch::kBytes - m_fill->used < FrameBatch::kLargestRecord)
            m_fill = exchange(std::move(m_fill));
        std::uint8_t* at = m_fill->bytes.get() + m_fill->used;
        std::memcpy(at, &header, sizeof header);
        std::memcpy(at + sizeof header, bytes, header.capLen);
        m_fill->used += recordSize(header.capLen);
        if (++m_taken == m_limit)
            end();
    }

    // Capture thread: the source ended, or the count is reached.
    void end() {
        {
            std::lock_guard lock(m_lock);
            if (m_fill && m_fill->used)
                m_full.push_back(std::move(m_fill));
            m_ended = true;
        }
        m_wake.notify_all();
    }

    // The next batch in order; null once the frames ended and all were
    // taken, or on an interrupt (rest() has the others then).
    std::unique_ptr<FrameBatch> next() {
        std::unique_lock lock(m_lock);
        while (m_full.empty() && !m_ended && !g_interrupted)
            m_wake.wait_for(lock, std::chrono::milliseconds(50));
        return g_interrupted ? nullptr : popFull();
    }

    void recycle(std::unique_ptr<FrameBatch> batch) {
        batch->used = 0;
        {
            std::lock_guard lock(m_lock);
            m_free.push_back(std::move(batch));
        }
        m_wake.notify_all();
    }

    // The session is about to stop: the capture thread no longer waits for
    // a free batch, so the stop cannot wait on it.
    void stopping() {
        {
            std::lock_guard lock(m_lock);
            m_stopping = true;
        }
        m_wake.notify_all();
    }

    // After the session stopped: the batches still in hand, in order.
    std::unique_ptr<FrameBatch> rest() {
        std::lock_guard lock(m_lock);
        if (!m_full.empty())
            return popFull();
        if (m_fill && m_fill->used)
            return std::move(m_fill);
        return nullptr;
    }

private:
    static constexpr std::size_t kMaxBatches = 8;

    // Hands `full` over and returns an empty batch.
    std::unique_ptr<FrameBatch> exchange(std::unique_ptr<FrameBatch> full) {
        std::unique_ptr<FrameBatch> empty;
        {
            std::unique_lock lock(m_lock);
            if (full && full->used)
                m_full.push_back(std::move(full));
            m_wake.notify_all();
            while (m_free.empty() && m_made >= kMaxBatches && !m_stopping)
                m_wake.wait(lock);
            if (!m_free.empty()) {
                empty = std::move(m_free.back());
                m_free.pop_back();
            } else {
                ++m_made;
            }
        }
        return empty ? std::move(empty) : std::make_unique<FrameBatch>();
    }

    std::unique_ptr<FrameBatch> popFull() {
        if (m_full.empty())
            return nullptr;
        std::unique_ptr<FrameBatch> b = std::move(m_full.front());
        m_full.pop_front();
        return b;
    }

    const long long m_limit;
    long long m_taken = 0;              // capture thread only
    std::unique_ptr<FrameBatch> m_fill; // capture thread, then rest()
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::unique_ptr<FrameBatch>> m_full;
    std::vector<std::unique_ptr<FrameBatch>> m_free;
    std::size_t m_made = 0;
    bool m_ended = false;
    bool m_stopping = false;
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
    FrameBatches batches(count);
    CaptureSession session(CaptureWindow::CommandLine);
    session.setFilter(filter);
    session.setFileReplay(FileReplay::AsFastAsPossible);
    // The session refuses sources whose frames are not Ethernet.
    session.setHandler(
        [&batches](const pcap_pkthdr& h, const std::uint8_t* bytes) { batches.frame(h, bytes); });
    session.setEndHandler([&batches](LoopEnd) { batches.end(); });

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
    const auto print = [&printer](const FrameBatch& batch) {
        batch.forEach([&printer](const FrameHeader& header, const std::uint8_t* bytes) {
            printer.frame(header, bytes);
        });
    };
    while (std::unique_ptr<FrameBatch> batch = batches.next()) {
        print(*batch);
        if (printer.done())
            break;
        batches.recycle(std::move(batch));
    }
    batches.stopping();
    session.stop();
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    // Frames read before the stop (an interrupt came) are still written.
    while (std::unique_ptr<FrameBatch> batch = batches.rest())
        print(*batch);

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
