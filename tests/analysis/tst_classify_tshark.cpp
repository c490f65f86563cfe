// Cross-checks classification against tshark on every stored capture: the
// addresses, time and the header fields the naming was decided on must be
// what an independent decoder finds at the same place in the same frame.
// Where our fixed offsets knowingly read something else (VLAN tags, IPv4
// options, fragments, truncated frames ...) the frames are counted and listed;
// any other disagreement fails.
#include "core/analysis/classify.h"
#include "core/analysis/frame_layout.h"
#include "core/analysis/frame_reader.h"
#include "support/capture_frames.h"
#include "support/test_paths.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <pcap/pcap.h>

#include <cstring>
#include <map>
#include <memory>
#include <vector>

using namespace qarsilo;

namespace {

// tshark fields, in the order of the -e arguments.
enum Field {
    Number,
    CapLen,
    WireLen,
    Epoch,
    Protocols,
    EthDst,
    EthSrc,
    EthType,
    EthLen,
    LlcDsap,
    LlcSsap,
    LlcOui,
    StpType,
    IpxDstSocket,
    NetbiosCommand,
    IpSrc,
    IpDst,
    IpProto,
    TcpSrcPort,
    TcpDstPort,
    UdpSrcPort,
    UdpDstPort,
    ArpSrcIpv4,
    ArpDstIpv4,
    FieldCount
};
const char* const kFieldNames[FieldCount] = {
    "frame.number", "frame.cap_len", "frame.len",          "frame.time_epoch",  "frame.protocols",
    "eth.dst",      "eth.src",       "eth.type",           "eth.len",           "llc.dsap",
    "llc.ssap",     "llc.oui",       "stp.type",           "ipx.dst.socket",    "netbios.command",
    "ip.src",       "ip.dst",        "ip.proto",           "tcp.srcport",       "tcp.dstport",
    "udp.srcport",  "udp.dstport",   "arp.src.proto_ipv4", "arp.dst.proto_ipv4"};

struct TsharkFrame {
    QStringList values; // all occurrences, comma-joined

    // The outermost occurrence: the header at our fixed offsets.
    QString first(Field f) const { return values.value(f).section(u',', 0, 0); }
    int occurrences(Field f) const {
        return values.value(f).isEmpty() ? 0 : int(values.value(f).count(u',')) + 1;
    }
    std::optional<quint32> number(Field f) const {
        const QString s = first(f);
        if (s.isEmpty())
            return std::nullopt;
        bool ok = false;
        const uint v = s.startsWith(u"0x") ? s.mid(2).toUInt(&ok, 16) : s.toUInt(&ok, 10);
        if (!ok)
            return std::nullopt;
        return v;
    }
};

QString runTshark(const QString& tshark, const QString& path, QList<TsharkFrame>& out) {
    QStringList args{QStringLiteral("-r"), path,
                     // no name look-ups, no reassembly: one frame, its own bytes
                     QStringLiteral("-n"), QStringLiteral("-o"),
                     QStringLiteral("ip.defragment:FALSE"), QStringLiteral("-T"),
                     QStringLiteral("fields"), QStringLiteral("-E"), QStringLiteral("separator=/t"),
                     QStringLiteral("-E"), QStringLiteral("occurrence=a"), QStringLiteral("-E"),
                     QStringLiteral("aggregator=,")};
    for (const char* name : kFieldNames)
        args << QStringLiteral("-e") << QString::fromLatin1(name);
    QProcess proc;
    proc.start(tshark, args);
    if (!proc.waitForFinished(120000) || proc.exitStatus() != QProcess::NormalExit ||
        proc.exitCode() != 0) {
        return QStringLiteral("tshark failed on %1: %2")
            .arg(path, QString::fromLocal8Bit(proc.readAllStandardError()));
    }
    const QList<QByteArray> lines = proc.readAllStandardOutput().split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        TsharkFrame f;
        f.values = QString::fromUtf8(line).split(u'\t');
        if (f.values.size() != FieldCount)
            return QStringLiteral("unexpected tshark line: %1").arg(QString::fromUtf8(line));
        out << f;
    }
    return {};
}

QString str(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// "00:a0:c9:0b:7e:2f" as the list writes it: "00A0C9-0B7E2F".
QString listMac(const QString& colonMac) {
    if (colonMac.isEmpty())
        return QStringLiteral("-");
    QString hex = colonMac.toUpper().remove(u':');
    return hex.left(6) + u'-' + hex.mid(6);
}

QString ipv4Text(const std::array<std::uint8_t, 4>& a) {
    return QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
}

QString shown(const std::optional<quint32>& v) {
    return v ? QString::number(*v) : QStringLiteral("absent");
}

// Frames on which our fixed offsets knowingly read other bytes than tshark.
enum class Reason {
    None,
    SnapshotCut,
    CiscoIsl,
    ZeroLength,
    VlanTag,
    Ipv4Invalid,
    Ipv4Options,
    Ipv4Fragment,
    ArpNotEthernetIpv4,
    NovellRaw8023,
    LlcNotUnnumbered,
    NotABpdu,
    Tunnel,
    Truncated
};

// What a disagreement is about; each reason explains only some of these.
enum Group : unsigned {
    Always = 0, // time, wire length: nothing explains a difference
    CapturedLength = 1 << 0,
    EthernetHeader = 1 << 1, // MAC addresses, type or length
    Ipv4Addresses = 1 << 2,
    Ipv4Protocol = 1 << 3,
    Ports = 1 << 4,
    LlcSaps = 1 << 5,
    LlcPayload = 1 << 6, // BPDU type, SNAP organization, IPX socket, NetBIOS command
    ArpAddresses = 1 << 7,
};
constexpr unsigned kAllButAlways = 0xFFFF;
constexpr unsigned kAfterEthernet =
    Ipv4Addresses | Ipv4Protocol | Ports | LlcSaps | LlcPayload | ArpAddresses;

unsigned explains(Reason r) {
    switch (r) {
    case Reason::None:
        return 0;
    case Reason::SnapshotCut:
        return CapturedLength;
    case Reason::CiscoIsl:
        return EthernetHeader | kAfterEthernet;
    case Reason::ZeroLength:
        return EthernetHeader | LlcSaps | LlcPayload;
    case Reason::VlanTag:
    case Reason::Tunnel:
        return kAfterEthernet;
    case Reason::Ipv4Invalid:
        return Ipv4Addresses | Ipv4Protocol | Ports;
    case Reason::Ipv4Options:
    case Reason::Ipv4Fragment:
        return Ports;
    case Reason::ArpNotEthernetIpv4:
        return ArpAddresses;
    case Reason::NovellRaw8023:
        return LlcSaps | LlcPayload;
    case Reason::LlcNotUnnumbered:
    case Reason::NotABpdu:
        return LlcPayload;
    case Reason::Truncated:
        return kAllButAlways & ~CapturedLength;
    }
    return 0;
}

const char* reasonText(Reason r) {
    switch (r) {
    case Reason::None:
        return "none";
    case Reason::SnapshotCut:
        return "record longer than the file's snapshot length (libpcap cuts it, tshark does not)";
    case Reason::CiscoIsl:
        return "Cisco ISL encapsulation (tshark decodes the inner frame)";
    case Reason::ZeroLength:
        return "type-or-length 0 (802.3 length here, an unknown type for tshark)";
    case Reason::LlcNotUnnumbered:
        return "LLC information or supervisory frame (4-byte LLC header, we take 3)";
    case Reason::VlanTag:
        return "VLAN tag (named by the tag's type, tshark decodes inside)";
    case Reason::Ipv4Invalid:
        return "IPv4 header invalid (version not 4, header or total length below 20)";
    case Reason::Ipv4Options:
        return "IPv4 options (ports read at 34, tshark after the options)";
    case Reason::Ipv4Fragment:
        return "IPv4 non-first fragment (no transport header at 34)";
    case Reason::ArpNotEthernetIpv4:
        return "ARP not Ethernet/IPv4 (addresses at other offsets)";
    case Reason::NovellRaw8023:
        return "Novell raw 802.3 (no LLC header, SSAP read from IPX checksum)";
    case Reason::NotABpdu:
        return "SAP 0x42 carrying GARP, not a BPDU";
    case Reason::Tunnel:
        return "tunnel (tshark also decodes inner headers)";
    case Reason::Truncated:
        return "truncated (captured length below what a header needs)";
    }
    return "?";
}

Reason reasonFor(const FrameHeader& h, const std::uint8_t* bytes, const Classification& c,
                 const TsharkFrame& t) {
    const FrameReader r(h, bytes);
    namespace L = layout;
    if (t.number(CapLen).value_or(0) > h.capLen)
        return Reason::SnapshotCut;
    const auto isl = r.bytes<5>(L::kEthDestination);
    if (isl && ((*isl)[0] == 0x01 || (*isl)[0] == 0x0C) && (*isl)[1] == 0x00 && (*isl)[2] == 0x0C &&
        (*isl)[3] == 0x00 && (*isl)[4] == 0x00)
        return Reason::CiscoIsl;
    if (c.typeOrLength == 0)
        return Reason::ZeroLength;
    const quint16 type = c.typeOrLength.value_or(0);
    if (type == 0x8100 || type == 0x88A8 || type == 0x9100)
        return Reason::VlanTag;
    if (c.framing == Framing::EthernetII && type == 0x0800) {
        if (const auto vihl = r.u8(L::kIpv4VersionIhl)) {
            if ((*vihl >> 4) != 4 || (*vihl & 0x0F) < 5 ||
                r.be16(L::kIpv4TotalLength).value_or(20) < 20)
                return Reason::Ipv4Invalid;
            if ((*vihl & 0x0F) > 5)
                return Reason::Ipv4Options;
        }
        if (const auto frag = r.be16(L::kIpv4FlagsFragment); frag && (*frag & 0x1FFF) != 0)
            return Reason::Ipv4Fragment;
    }
    if (c.framing == Framing::EthernetII && type == 0x0806) {
        const bool ethernetIpv4 =
            r.be16(L::kArpHardwareType) == 1 && r.be16(L::kArpProtocolType) == 0x0800 &&
            r.u8(L::kArpHardwareLength) == 6 && r.u8(L::kArpProtocolLength) == 4;
        if (!ethernetIpv4)
            return Reason::ArpNotEthernetIpv4;
    }
    if (c.framing == Framing::Ieee8023 && r.be16(L::kLlcDsap) == 0xFFFF)
        return Reason::NovellRaw8023;
    // Only U-format control fields end in binary 11; I and S formats take two bytes.
    if (c.ssap && (r.u8(L::kLlcControl).value_or(0x03) & 0x03) != 0x03)
        return Reason::LlcNotUnnumbered;
    if (c.ssap == 0x42 && r.be16(L::kBpduProtocolId).value_or(0) != 0)
        return Reason::NotABpdu;
    if (t.occurrences(IpSrc) > 1 || t.occurrences(EthSrc) > 1)
        return Reason::Tunnel;
    if (c.truncated || h.capLen < h.wireLen)
        return Reason::Truncated;
    return Reason::None;
}

struct Mismatch {
    QString field, ours, theirs;
    Group group;
};

// Compares one frame; returns its disagreements.
QList<Mismatch> compare(const FrameHeader& h, const std::uint8_t* bytes, const Classification& c,
                        const TsharkFrame& t) {
    QList<Mismatch> out;
    auto check = [&](Group group, const char* field, const QString& ours, const QString& theirs) {
        if (ours != theirs)
            out.append({QString::fromLatin1(field), ours, theirs, group});
    };
    auto checkNumber = [&](Group group, const char* field, auto ours, Field tf) {
        using V = typename decltype(ours)::value_type;
        const auto theirs = t.number(tf);
        const std::optional<quint32> ours32 =
            ours ? std::optional<quint32>(static_cast<V>(*ours)) : std::nullopt;
        check(group, field, shown(ours32), shown(theirs));
    };
    const FrameTexts texts = frameTexts(h, c);

    // Time: tshark gives nanoseconds; libpcap hands us microseconds, truncated.
    const QString epoch = t.first(Epoch);
    const QString fraction = epoch.section(u'.', 1).leftJustified(6, u'0').left(6);
    char expectedTime[64];
    std::snprintf(expectedTime, sizeof expectedTime, "%lld:%6.0lld",
                  epoch.section(u'.', 0, 0).toLongLong(), fraction.toLongLong());
    check(Always, "time", texts.time, QString::fromLatin1(expectedTime));
    check(CapturedLength, "captured length", QString::number(h.capLen), t.first(CapLen));
    check(Always, "wire length", QString::number(h.wireLen), t.first(WireLen));

    // Type or length, as tshark tells 802.3 lengths from Ethernet II types.
    const auto type = t.number(EthType);
    const auto length = t.number(EthLen);
    const QString theirFraming = type     ? QStringLiteral("type %1").arg(*type, 4, 16, QChar(u'0'))
                                 : length ? QStringLiteral("length %1").arg(*length)
                                          : QStringLiteral("absent");
    QString ourFraming = QStringLiteral("absent");
    if (c.typeOrLength) {
        ourFraming = c.framing == Framing::Ieee8023
                         ? QStringLiteral("length %1").arg(*c.typeOrLength)
                         : QStringLiteral("type %1").arg(uint(*c.typeOrLength), 4, 16, QChar(u'0'));
    }
    check(EthernetHeader, "type or length", ourFraming, theirFraming);

    // Addresses: MACs unless the frame was named as IPv4.
    const bool tsharkIpv4 = t.first(Protocols).startsWith(u"eth:ethertype:ip:") ||
                            t.first(Protocols) == u"eth:ethertype:ip";
    const bool ourIpv4 = c.addressForm == Classification::AddressForm::Ipv4;
    const Group addressGroup = ourIpv4 || tsharkIpv4 ? Ipv4Addresses : EthernetHeader;
    check(addressGroup, "source", texts.source,
          tsharkIpv4 ? t.first(IpSrc) : listMac(t.first(EthSrc)));
    check(addressGroup, "destination", texts.destination,
          tsharkIpv4 ? t.first(IpDst) : listMac(t.first(EthDst)));

    // The fields the naming was decided on, where it read them.
    if (c.ssap) {
        checkNumber(LlcSaps, "llc ssap", c.ssap, LlcSsap);
        checkNumber(LlcSaps, "llc dsap", FrameReader(h, bytes).u8(layout::kLlcDsap), LlcDsap);
    }
    if (c.bpduType)
        checkNumber(LlcPayload, "bpdu type", c.bpduType, StpType);
    if (c.snapOrganization)
        checkNumber(LlcPayload, "snap organization", c.snapOrganization, LlcOui);
    if (c.ipxDestinationSocket)
        checkNumber(LlcPayload, "ipx destination socket", c.ipxDestinationSocket, IpxDstSocket);
    if (c.netbiosCommand)
        checkNumber(LlcPayload, "netbios command", c.netbiosCommand, NetbiosCommand);
    if (c.ipProtocol || tsharkIpv4)
        checkNumber(Ipv4Protocol, "ip protocol", c.ipProtocol, IpProto);
    if (c.sourcePort || c.destinationPort) {
        const bool tcp = c.ipProtocol == 6;
        checkNumber(Ports, "source port", c.sourcePort, tcp ? TcpSrcPort : UdpSrcPort);
        checkNumber(Ports, "destination port", c.destinationPort, tcp ? TcpDstPort : UdpDstPort);
    }
    if (c.arpSenderIpv4 || c.arpTargetIpv4) {
        check(ArpAddresses, "arp sender", c.arpSenderIpv4 ? ipv4Text(*c.arpSenderIpv4) : QString(),
              t.first(ArpSrcIpv4));
        check(ArpAddresses, "arp target", c.arpTargetIpv4 ? ipv4Text(*c.arpTargetIpv4) : QString(),
              t.first(ArpDstIpv4));
    }
    return out;
}

} // namespace

class TestClassifyTshark : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void agreesWithTshark();
};

void TestClassifyTshark::agreesWithTshark() {
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty())
        QSKIP("tshark is not installed (Debian package tshark); the cross-check needs it");

    const QDir dir(test::pcapDir());
    const QStringList files = dir.entryList({QStringLiteral("*.pcap"), QStringLiteral("*.pcapng")},
                                            QDir::Files, QDir::Name);
    QVERIFY2(!files.isEmpty(), qPrintable(dir.path()));

    int compared = 0;
    int agreed = 0;
    std::map<Reason, int> withReason;      // frames with the property
    std::map<Reason, int> disagreeing;     // of which disagree on something
    std::map<Reason, QStringList> listing; // "file: frame numbers"
    QStringList unexplained;

    for (const QString& name : files) {
        const QString path = dir.filePath(name);
        std::vector<test::CapturedFrame> frames;
        const QString readError = test::readCaptureFile(path, frames);
        QVERIFY2(readError.isEmpty(), qPrintable(name + QStringLiteral(": ") + readError));
        QList<TsharkFrame> tsharkFrames;
        const QString tsharkError = runTshark(tshark, path, tsharkFrames);
        QVERIFY2(tsharkError.isEmpty(), qPrintable(tsharkError));
        QVERIFY2(qsizetype(frames.size()) == tsharkFrames.size(),
                 qPrintable(QStringLiteral("%1: libpcap read %2 frames, tshark %3")
                                .arg(name)
                                .arg(frames.size())
                                .arg(tsharkFrames.size())));

        std::map<Reason, QStringList> numbersInFile;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const test::CapturedFrame& f = frames[i];
            const TsharkFrame& t = tsharkFrames[qsizetype(i)];
            const Classification c = classifyFrame(f.header, f.bytes.get());
            const QList<Mismatch> mismatches = compare(f.header, f.bytes.get(), c, t);
            const Reason reason = reasonFor(f.header, f.bytes.get(), c, t);
            ++compared;
            if (reason != Reason::None) {
                ++withReason[reason];
                numbersInFile[reason] << QString::number(i + 1);
            }
            if (mismatches.isEmpty()) {
                ++agreed;
                continue;
            }
            QStringList details;
            bool excused = true;
            for (const Mismatch& m : mismatches) {
                details << QStringLiteral("%1 ours=%2 tshark=%3").arg(m.field, m.ours, m.theirs);
                excused = excused && (explains(reason) & m.group) != 0;
            }
            const QString line = QStringLiteral("%1 #%2 [%3 / %4] tshark %5: %6")
                                     .arg(name)
                                     .arg(i + 1)
                                     .arg(str(c.protocol), str(c.info()), t.first(Protocols),
                                          details.join(QStringLiteral("; ")));
            if (excused) {
                ++disagreeing[reason];
                qInfo("knowingly different, %s: %s", reasonText(reason), qPrintable(line));
            } else {
                unexplained << line;
            }
        }
        for (const auto& [reason, numbers] : numbersInFile)
            listing[reason] << QStringLiteral("%1: %2").arg(name, numbers.join(u','));
    }

    qInfo("%d capture files, %d frames compared with tshark, %d agree on every field",
          int(files.size()), compared, agreed);
    for (const auto& [reason, count] : withReason) {
        qInfo("%s: %d frames, %d of them disagree on a field", reasonText(reason), count,
              disagreeing[reason]);
        for (const QString& l : listing[reason])
            qInfo("    %s", qPrintable(l));
    }
    for (const QString& line : unexplained)
        qWarning("unexplained: %s", qPrintable(line));
    QVERIFY2(unexplained.isEmpty(),
             qPrintable(QStringLiteral("%1 frames disagree with tshark").arg(unexplained.size())));
    QVERIFY(compared > 1000);
}

QTEST_GUILESS_MAIN(TestClassifyTshark)
#include "tst_classify_tshark.moc"
