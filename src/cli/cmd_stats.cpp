#include "cli/cli_commands.h"
#include "cli/session_wait.h"

#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "core/capture/link_speed.h"
#include "core/stats/general_stats.h"
#include "core/stats/single_node_stats.h"
#include "core/stats/tick_clock.h"

#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

using namespace qarsilo;

namespace {

constexpr const char* kUsage =
    "usage: qarsilo-cli stats SOURCE [--node MAC] [--top K] [--link-speed BPS]\n"
    "  SOURCE           a capture file (pcap or pcapng) or a capture device\n"
    "  --node MAC       the single node view's figures for that station\n"
    "  --top K          after each second, the first K rows of its Top Users list\n"
    "  --link-speed BPS the link speed in bits per second (a file: 10000000)\n";

int usageError(const QString& message) {
    std::fprintf(stderr, "qarsilo-cli stats: %s\n%s", qPrintable(message), kUsage);
    return 2;
}

// Runs the views' handlers and ticks on the capture thread, one tick per
// second of the frames' time stamps, and prints a line per tick.
class StatsPrinter {
public:
    StatsPrinter(qint64 linkSpeed, std::optional<MacBytes> node, int top)
        : m_general(linkSpeed)
        , m_node(node)
        , m_nodeStats(std::make_unique<SingleNodeStats>(linkSpeed, 0))
        , m_top(top) {}

    void frame(const pcap_pkthdr& h, const std::uint8_t* bytes) {
        const qint64 second = h.ts.tv_sec;
        const bool first = !m_clock.started();
        m_clock.frame(second, [this](qint64 s) { tick(s); });
        if (first && m_node) // the minute runs from the capture's first second
            m_nodeStats = std::make_unique<SingleNodeStats>(m_nodeStats->linkSpeed(), second);
        if (!m_node) {
            m_general.countFrame(h, bytes);
            return;
        }
        // The "To" and "From" filters: destination or source is the station.
        if (h.caplen >= 6 && std::memcmp(bytes, m_node->data(), 6) == 0)
            m_nodeStats->countReceived(h, bytes);
        if (h.caplen >= 12 && std::memcmp(bytes + 6, m_node->data(), 6) == 0)
            m_nodeStats->countSent(h, bytes);
    }

    void finish() {
        m_clock.finish([this](qint64 s) { tick(s); });
        std::fflush(stdout);
    }

private:
    void tick(qint64 second) {
        if (m_node)
            tickNode(second);
        else
            tickGeneral(second);
    }

    void tickGeneral(qint64 second) {
        GeneralStats& g = m_general;
        g.tick(second);
        std::printf("%lld\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", static_cast<long long>(second),
                    qPrintable(utilizationText(g.currentUtilization())),
                    qPrintable(utilizationText(g.averageUtilization())),
                    qPrintable(utilizationText(g.peakUtilization())),
                    qPrintable(countText(g.currentPackets())),
                    qPrintable(averageText(g.averagePackets())),
                    qPrintable(countText(g.peakPackets())), qPrintable(countText(g.currentBits())),
                    qPrintable(averageText(g.averageBits())), qPrintable(countText(g.peakBits())));
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
            std::fwrite(line, 1, static_cast<std::size_t>(out - line), stdout);
        }
    }

    void tickNode(qint64 second) {
        SingleNodeStats& n = *m_nodeStats;
        n.tick(second);
        std::printf("%lld\t%llu\t%llu\t%llu", static_cast<long long>(second),
                    static_cast<unsigned long long>(n.bitsPerSecond(SingleNodeStats::Total)),
                    static_cast<unsigned long long>(n.bitsPerSecond(SingleNodeStats::Receive)),
                    static_cast<unsigned long long>(n.bitsPerSecond(SingleNodeStats::Send)));
        for (int d : {SingleNodeStats::Total, SingleNodeStats::Receive, SingleNodeStats::Send})
            std::printf("\t%s\t%s\t%s", qPrintable(nodeUtilizationText(n.current(d))),
                        qPrintable(nodeUtilizationText(n.average(d))),
                        qPrintable(nodeUtilizationText(n.peak(d))));
        std::printf("\t%s\t%s\t%s\t%s\n", qPrintable(n.lastSentToMac()),
                    qPrintable(n.lastSentToIp()), qPrintable(n.lastReceivedFromMac()),
                    qPrintable(n.lastReceivedFromIp()));
    }

    TickClock m_clock;
    GeneralStats m_general;
    std::optional<MacBytes> m_node;
    std::unique_ptr<SingleNodeStats> m_nodeStats;
    int m_top;
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

    StatsPrinter printer(linkSpeed, node, static_cast<int>(std::min<long long>(top, 1 << 30)));
    CaptureSession session(CaptureWindow::CommandLine);
    // The station's frames only: both of the view's captures in one.
    if (node)
        session.setFilter(QStringLiteral("ether host ") + macText(*node));
    session.setFileReplay(FileReplay::AsFastAsPossible);
    session.setHandler(
        [&printer](const pcap_pkthdr& h, const std::uint8_t* bytes) { printer.frame(h, bytes); });
    SessionEndWait end(session);

    const CaptureStartResult started = session.start(adapter);
    if (!started.ok()) {
        std::fprintf(stderr, "qarsilo-cli stats: %s '%s': %s\n",
                     isFile ? "cannot open capture file" : "cannot capture from",
                     qPrintable(isFile ? captureFilePath(adapter) : adapter),
                     qPrintable(started.error));
        return 1;
    }

    end.wait(true);
    session.stop();

    // The thread has ended: the last second is ticked here.
    printer.finish();
    if (std::ferror(stdout))
        return 1;
    if (session.droppedFrames() > 0)
        std::fprintf(stderr,
                     "qarsilo-cli stats: %u frames were dropped before they could be read\n",
                     session.droppedFrames());
    if (session.loopEnd() == LoopEnd::Error) {
        std::fprintf(stderr, "qarsilo-cli stats: reading failed for '%s': %s\n", qPrintable(source),
                     qPrintable(session.loopError()));
        return 1;
    }
    return 0;
}
