#include "cli/cli_commands.h"
#include "cli/output_writer.h"
#include "cli/session_wait.h"

#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "core/capture/link_speed.h"
#include "core/stats/general_stats.h"
#include "core/stats/single_node_stats.h"

#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

using namespace qarsilo;

namespace {

// A gap in the capture up to this long is printed second by second.
constexpr qint64 kFullGapSeconds = 3600;

constexpr const char* kUsage =
    "usage: qarsilo-cli stats SOURCE [--node MAC] [--top K] [--link-speed BPS]\n"
    "  SOURCE           a capture file (pcap or pcapng) or a capture device\n"
    "  --node MAC       the single node view's figures for that station\n"
    "  --top K          after each second, the first K rows of its Top Users list\n"
    "  --link-speed BPS the link speed in bits per second (a file: 10000000)\n"
    "Quiet seconds are printed for up to an hour, then until their figures stop\n"
    "changing, not beyond.\n";

int usageError(const QString& message) {
    std::fprintf(stderr, "qarsilo-cli stats: %s\n%s", qPrintable(message), kUsage);
    return 2;
}

// Runs the views' handlers and ticks on the capture thread, one tick per
// second of the frames' time stamps, and writes a line per tick. A frame
// stamped earlier than the second being counted (a file out of order) counts
// in that second, as it would have live.
class StatsPrinter {
public:
    StatsPrinter(qint64 linkSpeed, std::optional<MacBytes> node, int top, OutputWriter& out)
        : m_general(linkSpeed)
        , m_node(node)
        , m_nodeStats(std::make_unique<SingleNodeStats>(linkSpeed, 0))
        , m_top(top)
        , m_out(out) {
        m_general.setGraphs(false); // nothing is drawn
        // Without --top no row is listed: the frames are only counted, as
        // the view counts them while stopped, with no row kept or sorted.
        if (m_top <= 0)
            m_general.setStopped(true);
        else // only the rows printed are kept
            m_general.setRowLimit(static_cast<std::size_t>(m_top));
    }

    void frame(const pcap_pkthdr& h, const std::uint8_t* bytes) {
        const qint64 second = h.ts.tv_sec;
        if (!m_started) {
            m_started = true;
            m_current = second;
            if (m_node) // the minute runs from the capture's first second
                m_nodeStats = std::make_unique<SingleNodeStats>(m_nodeStats->linkSpeed(), second);
        } else if (m_current < second) {
            tick(m_current, false);
            // Quiet seconds are printed as the window shows them for up to
            // an hour; beyond, only until a line would repeat the one before
            // (the averages then barely move, and a capture may jump by years).
            qint64 quiet = 0;
            while (++m_current < second && tick(m_current, ++quiet > kFullGapSeconds)) {
            }
            m_current = second;
            m_out.flush();
        }
        if (!m_node) {
            // This thread also ticks.
            m_general.countFrameOnTickThread(h, bytes);
            return;
        }
        // The "To" and "From" filters: destination or source is the station.
        if (h.caplen >= 6 && std::memcmp(bytes, m_node->data(), 6) == 0)
            m_nodeStats->countReceived(h, bytes);
        if (h.caplen >= 12 && std::memcmp(bytes + 6, m_node->data(), 6) == 0)
            m_nodeStats->countSent(h, bytes);
    }

    // After the last frame: ends the last second. Nothing when no frame came.
    void finish() {
        if (m_started)
            tick(m_current, false);
        m_started = false;
        m_out.flush();
    }

private:
    // Ends `second` and writes its line; a quiet second whose figures are
    // those of the line before is not written (false).
    bool tick(qint64 second, bool quiet) {
        if (!m_node)
            return tickGeneral(second, quiet);
        // Two buffers take turns, so a line costs no allocation.
        QByteArray& figures = m_figures;
        figures.resize(0);
        tickNode(second, figures);
        if (quiet && figures == m_lastFigures)
            return false;
        std::string& out = m_out.text();
        char number[24];
        out.append(number, static_cast<std::size_t>(
                               std::to_chars(number, number + sizeof number, second).ptr - number));
        out.append(figures.constData(), static_cast<std::size_t>(figures.size()));
        m_lastFigures.swap(figures);
        return true;
    }

    // The second and its figures in the views' formats (utilizationText,
    // countText, averageText), printed straight into one line.
    bool tickGeneral(qint64 second, bool quiet) {
        GeneralStats& g = m_general;
        g.tickOnCountingThread(second);
        char line[24 + 9 * (2 * kMaxFigureText + 1) + 1];
        char* const figures = std::to_chars(line, line + 24, second).ptr;
        char* end = putFixed(figures, g.currentUtilization(), 2);
        end = putFixed(end, g.averageUtilization(), 2);
        // A peak stays for many lines: its texts are kept until it changes.
        char text[2 * kMaxFigureText + 2];
        if (!m_peakTexts || g.peakBits() != m_peakBits ||
            g.peakUtilization() != m_peakUtilization) {
            m_peakBits = g.peakBits();
            m_peakUtilization = g.peakUtilization();
            m_peakUtilizationText.assign(text, putFixed(text, m_peakUtilization, 2));
            m_peakBitsText.assign(text, putCount(text, m_peakBits));
        }
        if (!m_peakTexts || g.peakPackets() != m_peakPackets) {
            m_peakPackets = g.peakPackets();
            m_peakPacketsText.assign(text, putCount(text, m_peakPackets));
        }
        m_peakTexts = true;
        end = put(end, m_peakUtilizationText);
        end = putCount(end, g.currentPackets());
        end = putFixed(end, g.averagePackets(), 0);
        end = put(end, m_peakPacketsText);
        end = putCount(end, g.currentBits());
        end = putFixed(end, g.averageBits(), 0);
        end = put(end, m_peakBitsText);
        *end++ = '\n';
        const std::string_view now(figures, static_cast<std::size_t>(end - figures));
        if (quiet && now == m_lastGeneral)
            return false;
        m_lastGeneral.assign(now);
        m_out.text().append(line, static_cast<std::size_t>(end - line));
        appendRows();
        return true;
    }

    // A tab and the figure at `out`, as appendFixed and appendCount write them.
    char* putFixed(char* out, double value, int precision) const {
        *out++ = '\t';
        char* end = writeFixed(out, value, precision, m_plainPoint);
        if (m_plainPoint ||
            std::all_of(static_cast<const char*>(out), static_cast<const char*>(end),
                        [](char c) { return (c & 0x80) == 0; }))
            return end; // the "C" locale's digits are ASCII
        // Each Latin-1 character takes at most two bytes in UTF-8.
        const QByteArray local =
            QString::fromLatin1(out, static_cast<qsizetype>(end - out)).toLocal8Bit();
        const auto n =
            std::min<std::size_t>(static_cast<std::size_t>(local.size()), 2 * kMaxFigureText);
        std::memcpy(out, local.constData(), n);
        return out + n;
    }
    static char* putCount(char* out, std::uint64_t value) {
        *out++ = '\t';
        return writeCount(out, value);
    }
    static char* put(char* out, const std::string& text) {
        std::memcpy(out, text.data(), text.size());
        return out + text.size();
    }

    // A tab and the figure as the views print it (writeFixed, writeCount).
    // ASCII text is the same in the local encoding; a locale's other decimal
    // point takes the views' way through QString.
    void appendFixed(QByteArray& line, double value, int precision) const {
        char text[kMaxFigureText];
        const char* end = writeFixed(text, value, precision, m_plainPoint);
        const auto length = static_cast<qsizetype>(end - text);
        line += '\t';
        if (std::all_of(static_cast<const char*>(text), end,
                        [](char c) { return (c & 0x80) == 0; }))
            line.append(text, length);
        else
            line += QString::fromLatin1(text, length).toLocal8Bit();
    }
    static void appendCount(QByteArray& line, std::uint64_t value) {
        char text[kMaxFigureText];
        line += '\t';
        line.append(text, static_cast<qsizetype>(writeCount(text, value) - text));
    }

    void appendRows() {
        const GeneralStats& g = m_general;
        const std::size_t rows = std::min<std::size_t>(g.rows().size(), std::size_t(m_top));
        char line[8 + 5 * (kMaxTopUserCell + 1)];
        for (std::size_t r = 0; r < rows; ++r) {
            char* out = line;
            *out++ = ' ';
            *out++ = ' ';
            for (int c = 0; c < TopUserColumn::Count; ++c) {
                if (c)
                    *out++ = '\t';
                out += formatTopUserCell(g.rows()[r], c, out);
            }
            *out++ = '\n';
            m_out.text().append(line, static_cast<std::size_t>(out - line));
        }
    }

    void tickNode(qint64 second, QByteArray& line) {
        SingleNodeStats& n = *m_nodeStats;
        n.tick(second);
        for (int d : {SingleNodeStats::Total, SingleNodeStats::Receive, SingleNodeStats::Send})
            appendCount(line, n.bitsPerSecond(d));
        // nodeUtilizationText's format
        for (int d : {SingleNodeStats::Total, SingleNodeStats::Receive, SingleNodeStats::Send})
            for (double v : {n.current(d), n.average(d), n.peak(d)})
                appendFixed(line, v, 6);
        for (const QString* text : {&n.lastSentToMac(), &n.lastSentToIp(), &n.lastReceivedFromMac(),
                                    &n.lastReceivedFromIp()})
            line += '\t' + text->toLocal8Bit();
        line += '\n';
    }

    bool m_started = false;
    qint64 m_current = 0;
    GeneralStats m_general;
    std::optional<MacBytes> m_node;
    std::unique_ptr<SingleNodeStats> m_nodeStats;
    int m_top;
    OutputWriter& m_out;
    QByteArray m_lastFigures;
    QByteArray m_figures;
    std::string m_lastGeneral; // the last general line's figures
    bool m_peakTexts = false;
    std::uint64_t m_peakBits = 0;
    std::uint64_t m_peakPackets = 0;
    double m_peakUtilization = 0;
    std::string m_peakUtilizationText; // with its tab, as the other two
    std::string m_peakBitsText;
    std::string m_peakPacketsText;
    // The command never changes its locale: the decimal point is judged once.
    const bool m_plainPoint = plainDecimalPoint();
};

} // namespace

// The general (or with --node the single node) statistics view's figures for
// every second of a capture file's or a device's time stamps, one
// tab-separated line per second. A device runs until interrupted.
int runStats(const QStringList& args) {
    QString source;
    QString nodeText;
    long long top = 0;
    qint64 linkSpeed = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString a = args[i];
        QString value;
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        if (a.startsWith(QLatin1String("--")) && eq > 0) {
            value = a.mid(eq + 1);
            a = a.left(eq);
        } else if (a == QLatin1String("--node") || a == QLatin1String("--top") ||
                   a == QLatin1String("--link-speed")) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("%1 needs a value").arg(a));
            value = args[++i];
        }
        if (a == QLatin1String("--node")) {
            nodeText = value;
            if (!parseMac(nodeText))
                return usageError(QStringLiteral("'%1' is not a MAC address").arg(value));
        } else if (a == QLatin1String("--top")) {
            bool ok = false;
            top = value.toLongLong(&ok);
            if (!ok || top < 0)
                return usageError(QStringLiteral("--top needs a number, not '%1'").arg(value));
        } else if (a == QLatin1String("--link-speed")) {
            bool ok = false;
            linkSpeed = value.toLongLong(&ok);
            if (!ok || linkSpeed <= 0)
                return usageError(
                    QStringLiteral("--link-speed needs bits per second above 0, not '%1'")
                        .arg(value));
        } else if (a.startsWith(QLatin1String("--")) || !source.isEmpty()) {
            return usageError(QStringLiteral("unexpected argument '%1'").arg(args[i]));
        } else {
            source = a;
        }
    }
    if (source.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!nodeText.isEmpty() && top > 0)
        return usageError(QStringLiteral("--top lists the general view's rows; not with --node"));

    const QString adapter = sourceAdapter(source);
    const bool isFile = isCaptureFileAdapter(adapter);
    if (linkSpeed == 0)
        linkSpeed = isFile ? kUnknownLinkSpeedBps : linkSpeedBps(adapter);
    const std::optional<MacBytes> node = nodeText.isEmpty() ? std::nullopt : parseMac(nodeText);

    OutputWriter out;
    StatsPrinter printer(linkSpeed, node, static_cast<int>(std::min<long long>(top, 1 << 30)), out);
    CaptureSession session(CaptureWindow::CommandLine);
    // The station's frames only: both of the view's captures in one.
    if (node)
        session.setFilter(QStringLiteral("ether host ") + macText(*node));
    session.setFileReplay(FileReplay::AsFastAsPossible);
    session.setHandler(
        [&printer](const pcap_pkthdr& h, const std::uint8_t* bytes) { printer.frame(h, bytes); });
    // A device runs until interrupted, and so may a stream.
    SessionEndWait end(session, true);

    const CaptureStartResult started = session.start(adapter);
    if (!started.ok()) {
        std::fprintf(stderr, "qarsilo-cli stats: %s '%s': %s\n",
                     isFile ? "cannot open capture file" : "cannot capture from",
                     qPrintable(isFile ? captureFilePath(adapter) : adapter),
                     qPrintable(started.error));
        return 1;
    }

    end.wait();
    session.stop();
    end.release();

    // The thread has ended: the last second is ticked here.
    printer.finish();
    if (out.failed() && !out.abandoned())
        return 1; // finishOutput says why
    if (session.droppedFrames() > 0)
        std::fprintf(stderr,
                     "qarsilo-cli stats: %u frames were dropped before they could be read\n",
                     session.droppedFrames());
    if (session.loopEnd() == LoopEnd::Error) {
        std::fprintf(stderr, "qarsilo-cli stats: reading failed for '%s': %s\n", qPrintable(source),
                     qPrintable(session.loopError()));
        return 1;
    }
    // For a device the interrupt is the end; a file or a stream had more.
    const bool device = !isFile && !isStreamAdapter(adapter);
    if (sessionInterrupted() && session.loopEnd() != LoopEnd::EndOfFile && !device) {
        std::fprintf(stderr, "qarsilo-cli stats: interrupted before the end of '%s'\n",
                     qPrintable(source));
        return 1;
    }
    if (out.abandoned()) {
        std::fputs("qarsilo-cli stats: interrupted while the output was not read\n", stderr);
        return 1;
    }
    return 0;
}
