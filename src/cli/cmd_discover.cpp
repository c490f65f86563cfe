#include "cli/cli_commands.h"
#include "cli/session_wait.h"

#include "core/capture/adapter_list.h"
#include "core/capture/capture_session.h"
#include "core/discovery/discovery_store.h"
#include "core/discovery/discovery_tables.h"
#include "core/lists/tab_separated.h"

#include <QFileInfo>

#include <cstdio>
#include <string>

using namespace qarsilo;

namespace {

constexpr const char* kUsage =
    "usage: qarsilo-cli discover SOURCE --mode netbios|ip [--ranges R1,R2,...]\n"
    "  SOURCE    a capture file (pcap or pcapng) or a capture device (read until interrupted)\n"
    "  --ranges  the local IP ranges of IP mode, e.g. 192.168.1.0,10.0.0.0\n";

int usageError(const char* what, const QString& arg) {
    std::fprintf(stderr, "qarsilo-cli discover: %s '%s'\n%s", what, qPrintable(arg), kUsage);
    return 2;
}

// Names come from the network: a control character in one must not split a
// row or start a line of its own.
void printLine(const QString& line) {
    const QByteArray bytes = tabSeparatedField(line).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
}

void printFields(const QStringList& fields) {
    const QByteArray bytes = tabSeparatedLine(fields).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
}

// Appends `text` as tabSeparatedField and toUtf8 make it, when every
// character is below 256 (names decode to such characters); false otherwise.
bool appendLatin1Field(std::string& out, const QString& text) {
    const std::size_t start = out.size();
    out.resize(start + 2 * static_cast<std::size_t>(text.size()));
    char* p = out.data() + start;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80) {
            // The control characters (category Cc) below 256: 0-0x1f, 0x7f-0x9f.
            *p++ = u < 0x20 || u == 0x7f ? ' ' : static_cast<char>(u);
        } else if (u <= 0x9f) {
            *p++ = ' ';
        } else if (u <= 0xff) {
            *p++ = static_cast<char>(0xc0 | (u >> 6));
            *p++ = static_cast<char>(0x80 | (u & 0x3f));
        } else {
            return false;
        }
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return true;
}

// printFields, without a copy of each text.
void printRow(const QStringList& fields, std::string& line) {
    line.clear();
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line.push_back('\t');
        if (!appendLatin1Field(line, fields[i])) {
            printFields(fields);
            return;
        }
    }
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
}

// printLine, without a copy of the text.
void printText(const QString& text, std::string& line) {
    line.clear();
    if (!appendLatin1Field(line, text)) {
        printLine(text);
        return;
    }
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
}

} // namespace

// The autodiscovery over a capture file or device, then what Stop does (local
// ranges in IP mode, the duplicate pass with both warnings off; no database).
// Prints the node rows (nine tab-separated columns), "WORKGROUPS" and the
// workgroup names, "SUBNETS" and the subnets, "LOG" and the log lines.
int runDiscover(const QStringList& args) {
    QString source;
    QString modeText;
    QStringList ranges;
    bool rangesGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        QString value;
        QString option;
        if (a == QLatin1String("--mode") || a == QLatin1String("--ranges")) {
            if (i + 1 >= args.size())
                return usageError("a value is missing after", a);
            option = a;
            value = args[++i];
        } else if (a.startsWith(QLatin1String("--mode=")) ||
                   a.startsWith(QLatin1String("--ranges="))) {
            option = a.section(QLatin1Char('='), 0, 0);
            value = a.section(QLatin1Char('='), 1);
        } else if (a.startsWith(QLatin1String("--")) || !source.isEmpty()) {
            return usageError("unexpected argument", a);
        } else {
            source = a;
            continue;
        }
        if (option == QLatin1String("--mode")) {
            modeText = value;
        } else {
            rangesGiven = true;
            ranges = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
            for (const QString& r : std::as_const(ranges))
                if (!isRangeText(r))
                    return usageError("not an IP range like 192.168.1.0:", r);
        }
    }
    if (source.isEmpty() || modeText.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    DiscoveryMode mode;
    if (modeText == QLatin1String("netbios"))
        mode = DiscoveryMode::NetBios;
    else if (modeText == QLatin1String("ip"))
        mode = DiscoveryMode::Ip;
    else
        return usageError("the mode is netbios or ip, not", modeText);
    if (rangesGiven && mode != DiscoveryMode::Ip)
        return usageError("--ranges belongs to IP mode, not to", modeText);

    DiscoveryStore& store = DiscoveryStore::instance();
    store.setMode(mode);
    // Only the rows after the duplicate pass are printed.
    store.setSkipRepeats(true);
    store.clearBuffer();
    // The ranges are known before the capture: ends outside them are not kept
    // ("-" is no range, so without ranges nothing is).
    store.setWatchedRanges(ranges.isEmpty() ? QStringList{QStringLiteral("-")} : ranges);
    QStringList log;

    const QString adapter = sourceAdapter(source);
    CaptureSession session(CaptureWindow::CommandLine);
    session.setFilter(discoveryFilter(mode));
    session.setFileReplay(FileReplay::AsFastAsPossible);
    // The session opens Ethernet sources only.
    session.setHandler([&store](const pcap_pkthdr& h, const std::uint8_t* bytes) {
        store.handleFrame(bytes, h.caplen, h.ts.tv_sec);
    });
    SessionEndWait end(session);
    const CaptureStartResult started = session.start(adapter);
    if (!started.ok()) {
        std::fprintf(stderr, "qarsilo-cli discover: cannot capture from '%s': %s\n",
                     qPrintable(source), qPrintable(started.error));
        return 1;
    }
    log << discoveryLogLine(mode == DiscoveryMode::Ip ? QStringLiteral("Start IP capture")
                                                      : QStringLiteral("Start NetBios capture"));

    end.wait(true);
    session.stop();
    log << discoveryLogLine(QStringLiteral("Capture Stopped"));

    QList<DiscoveredNode> nodes;
    QStringList workgroups;
    QStringList subnets;
    if (mode == DiscoveryMode::NetBios) {
        for (const NetbiosRecord& r : store.takeNetbios())
            nodes.append(netbiosNode(r));
        workgroups = store.seenWorkgroups();
        subnets = store.seenSubnets();
        log << discoveryLogLine(QStringLiteral("Start Processing NetBios packets"));
    } else {
        log << discoveryLogLine(QStringLiteral("Start Processing IP packets"))
            << discoveryLogLine(QStringLiteral("Selecting Local IPs from buffer"))
            << QStringLiteral("Local IP subnet filter list: ") << ranges;
        const IpBuffer buffer = store.takeIp();
        if (buffer.droppedEnds > 0)
            log << discoveryLogLine(
                QStringLiteral("%1 sightings were not kept: the buffer was full")
                    .arg(buffer.droppedEnds));
        nodes = selectLocalNodes(buffer.ends, ranges);
    }
    log << discoveryLogLine(QStringLiteral("Clear duplicates from list"));
    for (const DiscoveryConflict& c : clearDuplicates(nodes, mode, {}))
        log << QStringLiteral("   ") + c.why;

    DiscoveredNodeTexts texts;
    std::string line;
    for (const DiscoveredNode& node : nodes)
        printRow(texts.texts(node), line);
    printLine(QStringLiteral("WORKGROUPS"));
    for (const QString& w : workgroups)
        printText(w, line);
    printLine(QStringLiteral("SUBNETS"));
    for (const QString& s : subnets)
        printText(s, line);
    printLine(QStringLiteral("LOG"));
    for (const QString& l : log)
        printText(l, line);
    if (std::fflush(stdout) != 0)
        return 1;
    if (session.droppedFrames() > 0)
        std::fprintf(stderr,
                     "qarsilo-cli discover: %u frames were dropped before they could be read\n",
                     session.droppedFrames());
    if (session.loopEnd() == LoopEnd::Error) {
        std::fprintf(stderr, "qarsilo-cli discover: reading failed for '%s': %s\n",
                     qPrintable(source), qPrintable(session.loopError()));
        return 1;
    }
    return 0;
}
