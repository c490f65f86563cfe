// Cross-checks the decode tree against tshark on every stored capture: for
// every frame whose tree has an IPv4, ARP, IPv6, TCP or UDP layer, each value
// the tree shows must be the one tshark reads for the same field. Where our
// fixed offsets knowingly read something else (IPv4 options, fragments,
// invalid headers, frames cut short ...) the frames are counted and listed by
// reason; any other disagreement fails. Frames whose IP or ARP header lies
// behind a header the tree does not follow (VLAN tags, MPLS, tunnels) are
// counted and listed too.
#include "core/analysis/decode_tree.h"
#include "support/capture_frames.h"
#include "support/test_paths.h"

#include <QDir>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

using namespace qarsilo;

namespace {

// What a value is compared as.
enum class Kind {
    Number,  // decimal or hex on either side ("12h", "0x0c", "12")
    LowByte, // ours: one byte; tshark: a wider field whose low byte it is
    Mac,
    Ipv4,
    Ipv6,
    Bit, // a flag child: "(Set)" / "(Not Set)" against tshark's 1 / 0
};

// Which part of a frame a value belongs to; reasons explain only some parts.
enum Group : unsigned {
    General = 1 << 0,
    Ethernet = 1 << 1,
    Ipv4Version = 1 << 2,
    Ipv4Head = 1 << 3, // header length
    Ipv4Length = 1 << 4,
    Ipv4Rest = 1 << 5,
    ArpHead = 1 << 6,
    ArpAddresses = 1 << 7,
    Ipv6Version = 1 << 8,
    Ipv6 = 1 << 9,
    TcpHead = 1 << 10, // ports, sequence number, header length
    TcpRest = 1 << 11,
    Udp = 1 << 12,
};
constexpr unsigned kTransport = TcpHead | TcpRest | Udp;

struct Check {
    const char* layer;
    const char* label;  // the field node's label, trailing blanks included
    const char* tshark; // the tshark field
    Kind kind;
    Group group;
    int child = -1; // for Kind::Bit: which child of the node
};

const char* const kGeneral = "General Infomation";
const char* const kEthernet = "Ethernet II";
const char* const kIpv4 = "IP version 4";
const char* const kArp = "Address Resolution Protocol";
const char* const kIpv6 = "Internet Protocol version 6";
const char* const kTcp = "Transport Control Protocol";
const char* const kUdp = "User Datagram Protocol";

const Check kChecks[] = {
    {kGeneral, "Length ", "frame.len", Kind::Number, General},
    {kEthernet, "Destination Address ", "eth.dst", Kind::Mac, Ethernet},
    {kEthernet, "Source Address      ", "eth.src", Kind::Mac, Ethernet},
    {kEthernet, "Ethertype           ", "eth.type", Kind::Number, Ethernet},
    {kIpv4, "Version ", "ip.version", Kind::Number, Ipv4Version},
    {kIpv4, "Header Length ", "ip.hdr_len", Kind::Number, Ipv4Head},
    {kIpv4, "Type of Service ", "ip.dsfield", Kind::Number, Ipv4Rest},
    {kIpv4, "Total Length ", "ip.len", Kind::Number, Ipv4Length},
    {kIpv4, "Identification ", "ip.id", Kind::Number, Ipv4Rest},
    {kIpv4, "Flag ", "ip.flags", Kind::Number, Ipv4Rest},
    {kIpv4, "Fragment Offset ", "ip.frag_offset", Kind::Number, Ipv4Rest},
    {kIpv4, "Time to Live ", "ip.ttl", Kind::Number, Ipv4Rest},
    {kIpv4, "Protocol ", "ip.proto", Kind::Number, Ipv4Rest},
    {kIpv4, "Header Checksum ", "ip.checksum", Kind::Number, Ipv4Rest},
    {kIpv4, "Source Address ", "ip.src", Kind::Ipv4, Ipv4Rest},
    {kIpv4, "Destination Address ", "ip.dst", Kind::Ipv4, Ipv4Rest},
    {kArp, "Hardware Type ", "arp.hw.type", Kind::Number, ArpHead},
    {kArp, "Protocol Type ", "arp.proto.type", Kind::Number, ArpHead},
    {kArp, "Hardware Address Length ", "arp.hw.size", Kind::Number, ArpHead},
    {kArp, "Protocol Address Length ", "arp.proto.size", Kind::Number, ArpHead},
    {kArp, "Operation ", "arp.opcode", Kind::Number, ArpHead},
    {kArp, "Sender Hardware Address ", "arp.src.hw_mac", Kind::Mac, ArpAddresses},
    {kArp, "Sender Protocol Address ", "arp.src.proto_ipv4", Kind::Ipv4, ArpAddresses},
    {kArp, "Target Hardware Address ", "arp.dst.hw_mac", Kind::Mac, ArpAddresses},
    {kArp, "Target Protocol Address ", "arp.dst.proto_ipv4", Kind::Ipv4, ArpAddresses},
    {kIpv6, "Version ", "ipv6.version", Kind::Number, Ipv6Version},
    {kIpv6, "Traffic Class ", "ipv6.tclass", Kind::Number, Ipv6},
    {kIpv6, "Flow Label ", "ipv6.flow", Kind::Number, Ipv6},
    {kIpv6, "Next Header ", "ipv6.nxt", Kind::Number, Ipv6},
    {kIpv6, "Hop Limit ", "ipv6.hlim", Kind::Number, Ipv6},
    {kIpv6, "Source Address ", "ipv6.src", Kind::Ipv6, Ipv6},
    {kIpv6, "Destination Address ", "ipv6.dst", Kind::Ipv6, Ipv6},
    {kTcp, "Source Port ", "tcp.srcport", Kind::Number, TcpHead},
    {kTcp, "Destination Port ", "tcp.dstport", Kind::Number, TcpHead},
    {kTcp, "Sequence Number ", "tcp.seq_raw", Kind::Number, TcpHead},
    {kTcp, "Acknoledgement Number ", "tcp.ack_raw", Kind::Number, TcpRest},
    {kTcp, "Header Length ", "tcp.hdr_len", Kind::Number, TcpHead},
    {kTcp, "Flag ", "tcp.flags", Kind::LowByte, TcpRest},
    {kTcp, "Flag ", "tcp.flags.cwr", Kind::Bit, TcpRest, 0},
    {kTcp, "Flag ", "tcp.flags.ece", Kind::Bit, TcpRest, 1},
    {kTcp, "Flag ", "tcp.flags.urg", Kind::Bit, TcpRest, 2},
    {kTcp, "Flag ", "tcp.flags.ack", Kind::Bit, TcpRest, 3},
    {kTcp, "Flag ", "tcp.flags.push", Kind::Bit, TcpRest, 4},
    {kTcp, "Flag ", "tcp.flags.reset", Kind::Bit, TcpRest, 5},
    {kTcp, "Flag ", "tcp.flags.syn", Kind::Bit, TcpRest, 6},
    {kTcp, "Flag ", "tcp.flags.fin", Kind::Bit, TcpRest, 7},
    {kTcp, "Windows Size ", "tcp.window_size_value", Kind::Number, TcpRest},
    {kTcp, "Checksum ", "tcp.checksum", Kind::Number, TcpRest},
    {kUdp, "Source Port ", "udp.srcport", Kind::Number, Udp},
    {kUdp, "Destination Port ", "udp.dstport", Kind::Number, Udp},
    {kUdp, "Header Length ", "udp.length", Kind::Number, Udp},
    {kUdp, "Checksum ", "udp.checksum", Kind::Number, Udp},
};

// Fields read for the reasons and the time, besides those of the checks.
const char* const kExtraFields[] = {"frame.time_epoch", "frame.protocols", "ip.version",
                                    "ipv6.version", "arp.opcode"};

// Frames on which our fixed offsets knowingly read other bytes than tshark.
struct Reason {
    const char* text;
    unsigned groups; // the parts it explains
    enum Explains { OursMissing, TheirsMissing, AnyDifference } explains;
};
enum ReasonId { // in the order they are tried: the first that explains a difference counts
    Truncated,
    Ipv4Invalid,
    Ipv6Invalid,
    Ipv4Fragment,
    Ipv4Options,
    Ipv4LengthZero,
    TcpHeaderTooShort,
    LengthEndsInTransport,
    AtmArp,
    ArpNotEthernetIpv4,
    ReasonCount
};
const Reason kReasons[ReasonCount] = {
    {"cut short: a header the tree reads was not captured in full", ~(General | Ethernet),
     Reason::OursMissing},
    {"IPv4 version not 4, header length below 20 or total length below it: tshark stops at the "
     "bad field",
     Ipv4Head | Ipv4Length | Ipv4Rest | kTransport, Reason::TheirsMissing},
    {"IPv6 version not 6: tshark stops after it", Ipv6 | kTransport, Reason::TheirsMissing},
    {"IPv4 fragment after the first: tshark shows no transport header", kTransport,
     Reason::TheirsMissing},
    {"IPv4 options: the transport header is not at byte 34", kTransport, Reason::AnyDifference},
    {"IPv4 total length 0 (segmentation offload): tshark shows the length it presumes", Ipv4Length,
     Reason::AnyDifference},
    {"TCP header length below 20: tshark stops after it", TcpRest, Reason::TheirsMissing},
    {"IP length ends inside the transport header: tshark reads no further than it", kTransport,
     Reason::TheirsMissing},
    {"ARP hardware type 19: tshark decodes ATM ARP with fields of its own", ArpHead | ArpAddresses,
     Reason::TheirsMissing},
    {"ARP not Ethernet/IPv4 or lengths not 6/4: tshark places the addresses by the lengths",
     ArpAddresses, Reason::AnyDifference},
};

// Frames with no layer to compare although tshark finds IPv4, ARP or IPv6 in them.
const char* const kBehindOtherHeader = "IP, ARP or IPv6 behind a header the tree does not follow";
const char* const kInnerHeaders = "tunnel or embedded header: only the outermost IP header shown";

struct Tshark {
    QStringList names;
    QHash<QString, int> index;
    QList<QStringList> frames; // per frame, per field: every occurrence joined by ','

    QString first(int frame, const char* field) const {
        return frames[frame].value(index.value(QString::fromLatin1(field))).section(u',', 0, 0);
    }
    int occurrences(int frame, const char* field) const {
        const QString all = frames[frame].value(index.value(QString::fromLatin1(field)));
        return all.isEmpty() ? 0 : int(all.count(u',')) + 1;
    }
};

QString runTshark(const QString& tshark, const QString& path, Tshark& out) {
    for (const char* f : kExtraFields)
        out.names << QString::fromLatin1(f);
    for (const Check& c : kChecks)
        out.names << QString::fromLatin1(c.tshark);
    out.names.removeDuplicates();
    for (int i = 0; i < out.names.size(); ++i)
        out.index.insert(out.names[i], i);

    // No name look-ups and no reassembly: every frame stands on its own bytes.
    QStringList args{QStringLiteral("-r"),
                     path,
                     QStringLiteral("-n"),
                     QStringLiteral("-o"),
                     QStringLiteral("ip.defragment:FALSE"),
                     QStringLiteral("-o"),
                     QStringLiteral("ipv6.defragment:FALSE"),
                     QStringLiteral("-T"),
                     QStringLiteral("fields"),
                     QStringLiteral("-E"),
                     QStringLiteral("separator=/t"),
                     QStringLiteral("-E"),
                     QStringLiteral("occurrence=a"),
                     QStringLiteral("-E"),
                     QStringLiteral("aggregator=,")};
    for (const QString& n : out.names)
        args << QStringLiteral("-e") << n;
    QProcess proc;
    proc.start(tshark, args);
    if (!proc.waitForFinished(300000) || proc.exitStatus() != QProcess::NormalExit ||
        proc.exitCode() != 0) {
        return QStringLiteral("tshark failed on %1: %2")
            .arg(path, QString::fromLocal8Bit(proc.readAllStandardError()));
    }
    for (const QByteArray& line : proc.readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        const QStringList values = QString::fromUtf8(line).split(u'\t');
        if (values.size() != out.names.size())
            return QStringLiteral("unexpected tshark line: %1").arg(QString::fromUtf8(line));
        out.frames << values;
    }
    return {};
}

const DecodeNode* layerOf(const DecodeNode& root, const char* text) {
    const QString t = QString::fromLatin1(text);
    for (const DecodeNode& n : root.children) {
        if (n.text == t)
            return &n;
    }
    return nullptr;
}

const DecodeNode* fieldOf(const DecodeNode* layer, const char* label) {
    if (!layer)
        return nullptr;
    const QString l = QString::fromLatin1(label);
    for (const DecodeNode& n : layer->children) {
        if (n.text.startsWith(l))
            return &n;
    }
    return nullptr;
}

// The value of a field node: what follows the label up to the suffix's blank.
QString valueOf(const DecodeNode& field, const char* label) {
    return field.text.mid(qsizetype(std::strlen(label))).section(u' ', 0, 0);
}

std::optional<quint64> number(const QString& s) {
    bool ok = false;
    quint64 v = 0;
    if (s.endsWith(u'h'))
        v = s.chopped(1).toULongLong(&ok, 16);
    else if (s.startsWith(QLatin1String("0x")))
        v = s.mid(2).toULongLong(&ok, 16);
    else
        v = s.toULongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return v;
}

QByteArray ipv6Bytes(const QString& tshark) {
    QByteArray out(16, '\0');
    if (inet_pton(AF_INET6, tshark.toLatin1().constData(), out.data()) != 1)
        return {};
    return out;
}

// Ours and tshark's value, as one text each when they agree.
bool agree(Kind kind, const QString& ours, const QString& theirs) {
    switch (kind) {
    case Kind::Number:
        return number(ours) && number(ours) == number(theirs);
    case Kind::LowByte: {
        const auto o = number(ours);
        const auto t = number(theirs);
        return o && t && *o == (*t & 0xFF);
    }
    case Kind::Mac:
        return ours.toLower() == theirs;
    case Kind::Ipv4:
        return ours == theirs;
    case Kind::Ipv6:
        return QByteArray::fromHex(ours.toLatin1()).size() == 16 &&
               QByteArray::fromHex(ours.toLatin1()) == ipv6Bytes(theirs);
    case Kind::Bit:
        return (ours.endsWith(QLatin1String("(Set)")) && theirs == QLatin1String("1")) ||
               (ours.endsWith(QLatin1String("(Not Set)")) && theirs == QLatin1String("0"));
    }
    return false;
}

// "Time   1000:    42" against tshark's "1000.000042000"; pcapng may hold
// nanoseconds, which libpcap hands over cut to microseconds.
bool sameTime(const DecodeNode* general, const QString& epoch) {
    const DecodeNode* time = fieldOf(general, "Time   ");
    if (!time)
        return false;
    const QString value = time->text.mid(7);
    const QString seconds = value.section(u':', 0, 0);
    const QString micro = value.section(u':', 1).trimmed();
    const QString fraction = epoch.section(u'.', 1).leftJustified(6, u'0').left(6);
    return seconds == epoch.section(u'.', 0, 0) &&
           (micro.isEmpty() ? 0 : micro.toLongLong()) == fraction.toLongLong();
}

std::optional<std::uint8_t> byteAt(const test::CapturedFrame& f, std::size_t offset) {
    if (offset >= f.header.capLen)
        return std::nullopt;
    return f.bytes[offset];
}

std::optional<unsigned> be16At(const test::CapturedFrame& f, std::size_t offset) {
    const auto hi = byteAt(f, offset);
    const auto lo = byteAt(f, offset + 1);
    if (!hi || !lo)
        return std::nullopt;
    return (unsigned(*hi) << 8) | *lo;
}

// The reasons that apply to a frame, from its bytes and tree.
std::set<ReasonId> reasonsFor(const test::CapturedFrame& f, const DecodeNode& tree) {
    std::set<ReasonId> out;
    if (tree.children.back().text == QString::fromLatin1(kTruncatedNodeText))
        out.insert(Truncated);
    // The transport fields the tree shows: TCP through the checksum, UDP's 8 bytes.
    const unsigned transportBytes = layerOf(tree, kTcp) ? 18 : layerOf(tree, kUdp) ? 8 : 0;
    if (layerOf(tree, kIpv4)) {
        const auto vihl = byteAt(f, 14);
        const auto total = be16At(f, 16);
        const unsigned headerLength = vihl ? (*vihl & 0x0Fu) * 4 : 20;
        if (headerLength > 20)
            out.insert(Ipv4Options);
        if (vihl && (headerLength < 20 || (*vihl >> 4) != 4))
            out.insert(Ipv4Invalid);
        if (total && *total != 0 && *total < headerLength)
            out.insert(Ipv4Invalid);
        if (total && *total == 0)
            out.insert(Ipv4LengthZero);
        if (total && *total != 0 && *total < 20 + transportBytes)
            out.insert(LengthEndsInTransport);
        const auto flags = be16At(f, 20);
        if (flags && (*flags & 0x1FFF) != 0)
            out.insert(Ipv4Fragment);
    }
    if (layerOf(tree, kIpv6)) {
        const auto version = byteAt(f, 14);
        if (version && (*version >> 4) != 6)
            out.insert(Ipv6Invalid);
        const auto payload = be16At(f, 18);
        if (payload && *payload != 0 && *payload < transportBytes)
            out.insert(LengthEndsInTransport);
    }
    if (layerOf(tree, kArp)) {
        if (be16At(f, 14) != 1u || be16At(f, 16) != 0x0800u || byteAt(f, 18) != 6 ||
            byteAt(f, 19) != 4)
            out.insert(ArpNotEthernetIpv4);
        if (be16At(f, 14) == 19u)
            out.insert(AtmArp);
    }
    if (layerOf(tree, kTcp)) {
        const auto offset = byteAt(f, (layerOf(tree, kIpv4) ? 34 : 54) + 12);
        if (offset && (*offset >> 4) < 5)
            out.insert(TcpHeaderTooShort);
    }
    return out;
}

struct Tally {
    int framesCompared = 0;
    int valuesCompared = 0;
    // reason -> file -> frame numbers
    std::map<QString, std::map<QString, QStringList>> knowinglyDifferent;
    QStringList failures;

    void note(const char* reason, const QString& file, int n, const QString& detail = {}) {
        knowinglyDifferent[QString::fromLatin1(reason)][file] << QString::number(n + 1) + detail;
    }
};

void compareFrame(const QString& file, int n, const test::CapturedFrame& f, const Tshark& ts,
                  Tally& tally) {
    const DecodeNode tree = decodeFrame(f.header, f.bytes.get());
    const QString where = QStringLiteral("%1 #%2").arg(file).arg(n + 1);
    const bool decoded = layerOf(tree, kIpv4) || layerOf(tree, kArp) || layerOf(tree, kIpv6) ||
                         layerOf(tree, kTcp) || layerOf(tree, kUdp);
    const bool tsharkSeesIp = ts.occurrences(n, "ip.version") + ts.occurrences(n, "ipv6.version") +
                                  ts.occurrences(n, "arp.opcode") >
                              0;
    if (!decoded) {
        if (tsharkSeesIp) {
            tally.note(kBehindOtherHeader, file, n,
                       QStringLiteral(" (%1)").arg(ts.first(n, "frame.protocols")));
        }
        return;
    }
    ++tally.framesCompared;
    if (ts.occurrences(n, "ip.version") + ts.occurrences(n, "ipv6.version") > 1)
        tally.note(kInnerHeaders, file, n);

    const std::set<ReasonId> reasons = reasonsFor(f, tree);
    std::set<ReasonId> used;
    if (!sameTime(layerOf(tree, kGeneral), ts.first(n, "frame.time_epoch")))
        tally.failures << where + QStringLiteral(": time differs from %1")
                                      .arg(ts.first(n, "frame.time_epoch"));
    for (const Check& c : kChecks) {
        const DecodeNode* layer = layerOf(tree, c.layer);
        if (!layer)
            continue;
        const DecodeNode* node = fieldOf(layer, c.label);
        if (node && c.kind == Kind::Bit)
            node = node->children.size() == 8 ? &node->children[std::size_t(c.child)] : nullptr;
        const QString theirs = ts.first(n, c.tshark);
        // Only requests and replies get an Operation node.
        if (!node && QLatin1String(c.label) == QLatin1String("Operation ") &&
            theirs != QLatin1String("1") && theirs != QLatin1String("2") &&
            fieldOf(layer, "Sender Hardware Address "))
            continue;
        const QString ours =
            node ? (c.kind == Kind::Bit ? node->text : valueOf(*node, c.label)) : QString();
        if (!node && theirs.isEmpty())
            continue;
        ++tally.valuesCompared;
        if (node && !theirs.isEmpty() && agree(c.kind, ours, theirs))
            continue;
        // The first reason that explains this difference is the one counted.
        const Reason::Explains difference = !node              ? Reason::OursMissing
                                            : theirs.isEmpty() ? Reason::TheirsMissing
                                                               : Reason::AnyDifference;
        bool explained = false;
        for (ReasonId r : reasons) {
            const Reason& reason = kReasons[r];
            if ((reason.groups & c.group) &&
                (reason.explains == difference || reason.explains == Reason::AnyDifference)) {
                used.insert(r);
                explained = true;
                break;
            }
        }
        if (!explained) {
            tally.failures << where +
                                  QStringLiteral(": %1 %2: ours '%3', tshark %4 '%5'")
                                      .arg(QLatin1String(c.layer), QLatin1String(c.label),
                                           node ? ours : QStringLiteral("<absent>"),
                                           QLatin1String(c.tshark),
                                           theirs.isEmpty() ? QStringLiteral("<absent>") : theirs);
        }
    }
    for (ReasonId r : used)
        tally.note(kReasons[r].text, file, n);
}

} // namespace

class TestDecodeTshark : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void agreesOnSharedCaptures() {
        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty())
            QSKIP("tshark is not installed: the decode tree cannot be cross-checked");
        const QDir dir(qarsilo::test::pcapDir());
        const QStringList files = dir.entryList(
            {QStringLiteral("*.pcap"), QStringLiteral("*.pcapng")}, QDir::Files, QDir::Name);
        QVERIFY2(!files.isEmpty(), qPrintable(dir.path()));

        Tally tally;
        int framesRead = 0;
        for (const QString& file : files) {
            std::vector<test::CapturedFrame> frames;
            const QString readError = test::readCaptureFile(dir.filePath(file), frames);
            QVERIFY2(readError.isEmpty(), qPrintable(file + QStringLiteral(": ") + readError));
            Tshark ts;
            const QString tsError = runTshark(tshark, dir.filePath(file), ts);
            QVERIFY2(tsError.isEmpty(), qPrintable(tsError));
            QCOMPARE(qsizetype(ts.frames.size()), qsizetype(frames.size()));
            framesRead += int(frames.size());
            for (int i = 0; i < int(frames.size()); ++i)
                compareFrame(file, i, frames[std::size_t(i)], ts, tally);
        }

        qInfo("%d frames read, %d with IPv4, ARP, IPv6, TCP or UDP layers compared, %d values "
              "compared",
              framesRead, tally.framesCompared, tally.valuesCompared);
        // One line per reason and file: the message count stays small.
        for (const auto& [reason, files] : tally.knowinglyDifferent) {
            qsizetype count = 0;
            for (const auto& [file, numbers] : files)
                count += numbers.size();
            qInfo("%lld frames: %s", static_cast<long long>(count), qPrintable(reason));
            for (const auto& [file, numbers] : files)
                qInfo("    %s: %s", qPrintable(file), qPrintable(numbers.join(u' ')));
        }
        for (const QString& f : tally.failures.mid(0, 200))
            qWarning("%s", qPrintable(f));
        QVERIFY2(tally.framesCompared > 0, "no frame to compare");
        QCOMPARE(tally.failures.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDecodeTshark)
#include "tst_decode_tshark.moc"
