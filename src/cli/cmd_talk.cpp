// qarsilo-cli conversations and endpoints: one table's rows after the end of
// the source, tab-separated, largest total first.

#include "cli/cli_commands.h"
#include "cli/session_wait.h"

#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "core/stats/talk_tables.h"

#include <charconv>
#include <cstdio>
#include <string>

using namespace qarsilo;

namespace {

struct TypeName {
    const char* name;
    TalkType type;
};
constexpr TypeName kTypes[] = {{"eth", TalkType::Ethernet},
                               {"ip", TalkType::IPv4},
                               {"ipv6", TalkType::IPv6},
                               {"tcp", TalkType::Tcp},
                               {"udp", TalkType::Udp}};

void appendNumber(std::string& out, std::uint64_t value) {
    char text[24];
    out.append(text,
               static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text));
}

// Seconds with six decimals: 1700000000.012345.
void appendStamp(std::string& out, qint64 usec) {
    qint64 seconds = usec / 1'000'000;
    qint64 fraction = usec % 1'000'000;
    if (fraction < 0) {
        fraction += 1'000'000;
        --seconds;
    }
    char text[32];
    out.append(text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, seconds).ptr -
                                              text));
    char digits[7] = {'.', '0', '0', '0', '0', '0', '0'};
    for (int i = 6; i > 0; --i, fraction /= 10)
        digits[i] = static_cast<char>('0' + fraction % 10);
    out.append(digits, 7);
}

void appendAddress(std::string& out, const TalkAddress& a, TalkType type) {
    char text[kMaxTalkAddressText];
    out.append(text, static_cast<std::size_t>(writeTalkAddress(text, a, type)));
}

// The text is written out in pieces of this size.
constexpr std::size_t kFlushSize = 1 << 16;

bool writeOut(std::string& out) {
    if (!out.empty() && std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) {
        rememberOutputError();
        return false;
    }
    out.clear();
    return true;
}

int runTalk(const QStringList& args, bool conversations) {
    const char* command = conversations ? "conversations" : "endpoints";
    const QByteArray usage =
        QStringLiteral(
            "usage: qarsilo-cli %1 SOURCE --type eth|ip|ipv6|tcp|udp [--max-rows N]\n"
            "  SOURCE       a capture file (pcap or pcapng), - (the standard input),\n"
            "               pipe:COMMAND, or a capture device (read until interrupted)\n"
            "  --type       the table: Ethernet, IPv4, IPv6, TCP or UDP addresses\n"
            "  --max-rows N at most N rows; the least recently active ones beyond go into\n"
            "               one \"other\" row, printed last\n")
            .arg(QLatin1String(command))
            .toLocal8Bit();
    const auto usageError = [&](const QString& message) {
        std::fprintf(stderr, "qarsilo-cli %s: %s\n%s", command, qPrintable(message),
                     usage.constData());
        return 2;
    };

    QString source;
    QString typeText;
    std::size_t maxRows = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString a = args[i];
        QString value;
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        if (a.startsWith(QLatin1String("--")) && eq > 0) {
            value = a.mid(eq + 1);
            a = a.left(eq);
        } else if (a == QLatin1String("--type") || a == QLatin1String("--max-rows")) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("%1 needs a value").arg(a));
            value = args[++i];
        }
        if (a == QLatin1String("--type")) {
            typeText = value;
        } else if (a == QLatin1String("--max-rows")) {
            bool ok = false;
            const qulonglong n = value.toULongLong(&ok);
            if (!ok || n == 0 || n > 0x7fffffffu)
                return usageError(
                    QStringLiteral("--max-rows needs a number of rows above 0, not '%1'")
                        .arg(value));
            maxRows = static_cast<std::size_t>(n);
        } else if (a.startsWith(QLatin1String("--")) || !source.isEmpty()) {
            return usageError(QStringLiteral("unexpected argument '%1'").arg(args[i]));
        } else {
            source = a;
        }
    }
    if (source.isEmpty()) {
        std::fputs(usage.constData(), stderr);
        return 2;
    }
    if (typeText.isEmpty())
        return usageError(QStringLiteral("--type is missing"));
    const TypeName* type = nullptr;
    for (const TypeName& t : kTypes)
        if (typeText == QLatin1String(t.name))
            type = &t;
    if (!type)
        return usageError(
            QStringLiteral("the type is eth, ip, ipv6, tcp or udp, not '%1'").arg(typeText));

    // One table, one thread, no rates nor change records: only the totals.
    TalkTables::Options options;
    options.types = 1u << unsigned(type->type);
    options.conversations = conversations;
    options.endpoints = !conversations;
    options.rowLimit = maxRows;
    options.threadSafe = false;
    options.rates = false;
    options.changes = false;
    TalkTables tables(options);

    const QString adapter = sourceAdapter(source);
    const bool isFile = isCaptureFileAdapter(adapter);
    CaptureSession session(CaptureWindow::CommandLine);
    session.setFileReplay(FileReplay::AsFastAsPossible);
    session.setHandler(
        [&tables](const pcap_pkthdr& h, const std::uint8_t* bytes) { tables.add(h, bytes); });
    // A device runs until interrupted, and so may a stream.
    SessionEndWait end(session, true);
    const CaptureStartResult started = session.start(adapter);
    if (!started.ok()) {
        std::fprintf(stderr, "qarsilo-cli %s: %s '%s': %s\n", command,
                     isFile ? "cannot open capture file" : "cannot capture from",
                     qPrintable(isFile ? captureFilePath(adapter) : adapter),
                     qPrintable(started.error));
        return 1;
    }
    end.wait();
    session.stop();
    end.release();

    // The capture thread has ended: the tables are read here.
    const std::vector<std::uint32_t> ids = tables.sortedIds(type->type, conversations);
    std::string out;
    out.reserve(kFlushSize + 512);
    std::uint64_t foldedRows = 0;
    bool written = true;
    for (const std::uint32_t id : ids) {
        std::uint64_t counts[4] = {};
        qint64 first = 0, last = 0;
        if (conversations) {
            const ConversationRow r = tables.conversation(type->type, id);
            if (r.isOther()) {
                foldedRows = r.foldedRows;
                out += "other\t";
            } else {
                appendAddress(out, r.a, type->type);
                out += '\t';
                appendAddress(out, r.b, type->type);
            }
            counts[0] = r.framesAB, counts[1] = r.bytesAB, counts[2] = r.framesBA,
            counts[3] = r.bytesBA;
            first = r.firstUsec, last = r.lastUsec;
        } else {
            const EndpointRow r = tables.endpoint(type->type, id);
            if (r.isOther()) {
                foldedRows = r.foldedRows;
                out += "other";
            } else {
                appendAddress(out, r.address, type->type);
            }
            counts[0] = r.framesSent, counts[1] = r.bytesSent, counts[2] = r.framesReceived,
            counts[3] = r.bytesReceived;
        }
        for (const std::uint64_t c : counts) {
            out += '\t';
            appendNumber(out, c);
        }
        if (conversations) {
            out += '\t';
            appendStamp(out, first);
            out += '\t';
            appendStamp(out, last);
        }
        out += '\n';
        if (out.size() >= kFlushSize && !(written = writeOut(out)))
            break;
    }
    if (written && !writeOut(out))
        return 1;
    if (!written)
        return 1; // finishOutput says why
    if (foldedRows)
        std::fprintf(stderr,
                     "qarsilo-cli %s: %llu rows beyond --max-rows %zu were folded into the "
                     "\"other\" row\n",
                     command, static_cast<unsigned long long>(foldedRows), maxRows);
    if (session.droppedFrames() > 0)
        std::fprintf(stderr, "qarsilo-cli %s: %u frames were dropped before they could be read\n",
                     command, session.droppedFrames());
    if (session.loopEnd() == LoopEnd::Error) {
        std::fprintf(stderr, "qarsilo-cli %s: reading failed for '%s': %s\n", command,
                     qPrintable(source), qPrintable(session.loopError()));
        return 1;
    }
    // For a device the interrupt is the end; a file or a stream had more.
    const bool device = !isFile && !isStreamAdapter(adapter);
    if (sessionInterrupted() && session.loopEnd() != LoopEnd::EndOfFile && !device) {
        std::fprintf(stderr, "qarsilo-cli %s: interrupted before the end of '%s'\n", command,
                     qPrintable(source));
        return 1;
    }
    return 0;
}

} // namespace

int runConversations(const QStringList& args) {
    return runTalk(args, true);
}
int runEndpoints(const QStringList& args) {
    return runTalk(args, false);
}
