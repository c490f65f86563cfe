#include "cli/cli_commands.h"
#include "cli/output_writer.h"
#include "cli/session_wait.h"

#include "core/addressbook/address_database.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "core/trace/trace_colours.h"
#include "core/trace/trace_model.h"

#include <QFileInfo>

#include <cstdio>
#include <string>

using namespace qarsilo;

namespace {

constexpr const char* kUsage =
    "usage: qarsilo-cli trace SOURCE --node MAC [--layer 0|1|2] [--node-life S]\n"
    "  SOURCE       a capture file (pcap or pcapng)\n"
    "               ('-' reads a pcap stream from the standard input, 'pipe:COMMAND' from a "
    "command)\n"
    "  --node MAC   the monitored node, e.g. 00:11:22:33:44:55\n"
    "  --layer N    colour by 0 network layer (default), 1 IP-based, 2 application protocol\n"
    "  --node-life S  seconds a silent peer stays, 2 to 10 (default 5)\n"
    "Names come from the address book in the working directory when there is one.\n"
    "After each second of the capture: the second, then per side node in slot order\n"
    "two blanks and slot, MAC, label, life and colour (RRGGBB) separated by tabs.\n"
    "Quiet seconds are printed until the table is empty, not beyond.\n";

int usageError(const QString& message) {
    std::fprintf(stderr, "qarsilo-cli trace: %s\n%s", qPrintable(message), kUsage);
    return 2;
}

int fail(const QString& message) {
    std::fprintf(stderr, "qarsilo-cli trace: %s\n", qPrintable(message));
    return 1;
}

// Runs the window's handler over the file's frames and its one-second ageing
// once per second of the file's time stamps, quiet seconds included; after
// each tick the side node table is written out, as each second ends.
class TraceReplay {
public:
    TraceReplay(TraceModel& model, OutputWriter& out)
        : m_model(model)
        , m_out(out) {}

    void frame(const pcap_pkthdr& h, const std::uint8_t* bytes) {
        const long long second = h.ts.tv_sec;
        if (!m_started) {
            m_started = true;
            m_second = second;
        }
        // A stamp that goes back counts in the current second. After a
        // second with frames, quiet seconds are ticked until the table is
        // empty; the rest of a gap would only print empty tables (a capture
        // may jump by years).
        if (m_second < second) {
            tick();
            while (m_second < second && !m_model.table().entries().empty())
                tick();
            m_second = second;
            m_out.flush();
        }
        m_model.handleFrame(bytes, h.caplen);
    }

    void finish() {
        if (m_started)
            tick();
        m_out.flush();
    }

private:
    void tick() {
        m_model.age();
        std::string& out = m_out.text();
        out += std::to_string(m_second);
        out += '\n';
        for (const SideNode& n : m_model.table().bySlot()) {
            // Joined, not formatted: a name may hold "%1" itself.
            const QString line = QStringLiteral("  ") + QString::number(n.slot) + u'\t' +
                                 macAddressText(n.mac) + u'\t' + n.label + u'\t' +
                                 QString::number(n.life) + u'\t' + traceColourText(n.rgb) + u'\n';
            out += line.toStdString();
        }
        ++m_second;
    }

    TraceModel& m_model;
    bool m_started = false;
    long long m_second = 0;
    OutputWriter& m_out;
};

} // namespace

int runTrace(const QStringList& args) {
    QString source;
    QString node;
    int layer = 0;
    int nodeLife = 5;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const auto value = [&](QString& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        QString text;
        bool ok = false;
        if (a == QLatin1String("--node")) {
            if (!value(node))
                return usageError(QStringLiteral("--node needs a MAC address"));
        } else if (a == QLatin1String("--layer")) {
            if (!value(text) || (layer = text.toInt(&ok), !ok) || layer < 0 ||
                layer >= kTraceLayerCount)
                return usageError(QStringLiteral("--layer takes 0, 1 or 2"));
        } else if (a == QLatin1String("--node-life")) {
            if (!value(text) || (nodeLife = text.toInt(&ok), !ok) || nodeLife < 2 || nodeLife > 10)
                return usageError(QStringLiteral("--node-life takes 2 to 10 seconds"));
        } else if (a.startsWith(QLatin1String("--")) || !source.isEmpty()) {
            return usageError(QStringLiteral("unexpected argument '%1'").arg(a));
        } else {
            source = a;
        }
    }
    if (source.isEmpty() || node.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::optional<MacAddress> mac = parseMacAddress(node);
    if (!mac)
        return usageError(QStringLiteral("'%1' is not a MAC address").arg(node));

    TraceModel model;
    model.setQueueEvents(false);
    model.setMonitored(*mac);
    model.setLayer(layer);
    model.setNodeLife(nodeLife);
    model.setShowPackets(false);
    // The address book is read when there is one; none is made here, and
    // the book is not changed (no tables, indexes or journal mode added).
    if (QFileInfo::exists(AddressDatabase::defaultFileName())) {
        AddressDatabase db;
        AddressNames names;
        if (!db.openForReading())
            return fail(QStringLiteral("cannot open the address book: %1").arg(db.lastError()));
        if (!db.forEachNode([&names](const NodeRecord& n) { names.add(n.mac, n.name); }))
            return fail(QStringLiteral("cannot read the address book: %1").arg(db.lastError()));
        model.table().setNames(std::move(names));
    }

    const AdapterName picked = fileOrStreamSource(source);
    const bool stream = picked.isStream();
    const QString adapter = adapterNameText(picked);
    // A file is named by its path, a stream as given.
    const QString name = stream ? source : captureFilePath(adapter);
    OutputWriter out;
    TraceReplay replay(model, out);
    CaptureSession session(CaptureWindow::TrafficTraceSingle);
    session.setFileReplay(FileReplay::AsFastAsPossible);
    session.setStreamHeaderInStart(true);
    session.setFilter(QStringLiteral("ether host ") + macAddressText(*mac));
    session.setHandler(
        [&replay](const pcap_pkthdr& h, const std::uint8_t* bytes) { replay.frame(h, bytes); });
    SessionEndWait end(session, stream);
    const CaptureStartResult started = session.start(adapter);
    if (!started.ok())
        return fail(QStringLiteral("cannot read '%1': %2").arg(name, started.error));
    // A stream may run until interrupted; the seconds so far are still written.
    end.wait();
    session.stop();
    end.release();
    // A source cut short mid-record (a broken connection) keeps what it gave.
    replay.finish();
    if (session.loopEnd() == LoopEnd::Error)
        return fail(QStringLiteral("reading '%1' failed: %2").arg(name, session.loopError()));
    if (out.abandoned())
        return fail(QStringLiteral("interrupted while the output was not read"));
    return out.failed() ? 1 : 0; // finishOutput says why
}
