// The decode tree of crafted frames: whole trees written out by hand, every
// row of the suffix, summary and application tables, the flag texts, the node
// images, and frames cut at every length (in buffers of exactly the captured
// size, so that AddressSanitizer sees any read past them).
#include "core/analysis/decode_tree.h"
#include "support/capture_frames.h"
#include "support/test_paths.h"

#include <QDir>

#include <QTest>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>

using namespace qarsilo;

namespace {

// A frame of `size` zero bytes with the Ethernet header filled in.
QByteArray ether(quint16 typeOrLength, int size = 60) {
    QByteArray f(size, '\0');
    f.replace(0, 12, QByteArray::fromHex("0011223344556677889900aa"));
    f[12] = static_cast<char>(typeOrLength >> 8);
    f[13] = static_cast<char>(typeOrLength & 0xFF);
    return f;
}

QByteArray put(QByteArray f, int offset, std::initializer_list<quint8> bytes) {
    for (quint8 b : bytes)
        f[offset++] = static_cast<char>(b);
    return f;
}

QByteArray put16(QByteArray f, int offset, quint16 v) {
    return put(std::move(f), offset, {static_cast<quint8>(v >> 8), static_cast<quint8>(v)});
}

QByteArray llc(quint8 dsap, quint8 ssap, int size = 60) {
    return put(ether(static_cast<quint16>(size - 14), size), 14, {dsap, ssap, 0x03});
}

QByteArray ipv4(quint8 protocol, int size = 60) {
    return put(put(ether(0x0800, size), 14, {0x45}), 23, {protocol});
}

QByteArray ipv6(quint8 nextHeader, int size = 80) {
    return put(put(ether(0x86DD, size), 14, {0x60}), 20, {nextHeader});
}

QByteArray ports(QByteArray f, int start, quint16 source, quint16 destination) {
    return put16(put16(std::move(f), start, source), start + 2, destination);
}

// The frame decoded from a heap block of exactly its length. On the wire it
// had at least the 60 bytes of a minimum Ethernet frame.
DecodeNode decode(const QByteArray& frame, quint32 wireLen = 0, qint64 usec = 0) {
    const auto size = static_cast<std::size_t>(frame.size());
    if (wireLen == 0)
        wireLen = std::max<quint32>(60, static_cast<quint32>(size));
    const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
    std::memcpy(bytes.get(), frame.constData(), size);
    return decodeFrame(FrameHeader{1000, usec, static_cast<quint32>(size), wireLen}, bytes.get());
}

QStringList texts(const std::vector<DecodeNode>& nodes) {
    QStringList out;
    for (const DecodeNode& n : nodes)
        out << n.text;
    return out;
}

QStringList layers(const DecodeNode& root) {
    return texts(root.children);
}

// The field texts of the first layer called `layer`.
QStringList fields(const DecodeNode& root, const QString& layer) {
    for (const DecodeNode& n : root.children) {
        if (n.text == layer)
            return texts(n.children);
    }
    return {QStringLiteral("<no layer %1>").arg(layer)};
}

QString field(const DecodeNode& root, const QString& layer, int index) {
    return fields(root, layer).value(index, QStringLiteral("<no field %1>").arg(index));
}

QStringList lines(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char('\n'));
}

QString str(const char* s) {
    return QString::fromLatin1(s);
}

// "%.4X" and "%.2X".
QString hex(uint v, int digits) {
    return QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper();
}

QStringList strs(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* i : items)
        out << str(i);
    return out;
}

} // namespace

class TestDecodeTree : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wholeTrees_data();
    void wholeTrees();
    void etherTypes_data();
    void etherTypes();
    void ssaps_data();
    void ssaps();
    void ipxSockets_data();
    void ipxSockets();
    void netbiosCommands_data();
    void netbiosCommands();
    void ipv4Protocols_data();
    void ipv4Protocols();
    void ipv6NextHeaders_data();
    void ipv6NextHeaders();
    void applications_data();
    void applications();
    void tcpFlags_data();
    void tcpFlags();
    void arpOperations_data();
    void arpOperations();
    void valueFormats_data();
    void valueFormats();
    void nodeKindsAndImages();
    void cutFrames_data();
    void cutFrames();
    void nodesKnowTheirBytes();
};

namespace {
// Every node with bytes lies within the captured bytes and inside its parent,
// and each byte of a field finds a field, not its layer.
void checkSpans(const DecodeNode& root, const DecodeNode& node, const DecodeNode* parent,
                int capLen, int& fields) {
    if (node.offset >= 0) {
        ++fields;
        QVERIFY2(node.length > 0 && node.offset + node.length <= capLen, qPrintable(node.text));
        if (parent && parent->offset >= 0)
            QVERIFY2(parent->offset <= node.offset &&
                         node.offset + node.length <= parent->offset + parent->length,
                     qPrintable(node.text));
        // A byte of a leaf finds that leaf (or a field sharing its bytes), not
        // the wider layer around it.
        const bool leaf = std::none_of(node.children.begin(), node.children.end(),
                                       [](const DecodeNode& c) { return c.offset >= 0; });
        for (int b = node.offset; leaf && b < node.offset + node.length; ++b) {
            const DecodeNode* found = nodeAtByte(root, b);
            QVERIFY2(found && found->length <= node.length, qPrintable(node.text));
        }
    }
    for (const DecodeNode& child : node.children)
        checkSpans(root, child, &node, capLen, fields);
}
} // namespace

// Over every frame of the project's captures, crafted and cut ones included.
void TestDecodeTree::nodesKnowTheirBytes() {
    const QDir dir(test::pcapDir());
    const QStringList files =
        dir.entryList({QStringLiteral("*.pcap"), QStringLiteral("*.pcapng")}, QDir::Files);
    QVERIFY(!files.isEmpty());
    int fields = 0;
    for (const QString& name : files) {
        std::vector<test::CapturedFrame> frames;
        QVERIFY2(test::readCaptureFile(dir.filePath(name), frames).isEmpty(), qPrintable(name));
        for (const test::CapturedFrame& f : frames) {
            const DecodeNode root = decodeFrame(f.header, f.bytes.get());
            checkSpans(root, root, nullptr, int(f.header.capLen), fields);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(name));
        }
    }
    QVERIFY(fields > 10000);
    QCOMPARE(nodeAtByte(DecodeNode{}, 0), nullptr);
}

void TestDecodeTree::wholeTrees_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<qint64>("usec");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("ipv4 tcp") << QByteArray::fromHex(
                                     "001122334455 66778899aabb 0800"
                                     "45 10 0034 1c46 5fa3 40 06 b1e6 c0a80114 0a0000ff"
                                     "0401 0050 80000000 ffffffff 80 12 ffff 0a0b 0000"
                                     "000000000000")
                              << qint64(0) << lines(R"(-----Packet Detail-----
  General Infomation
    Time   1000:      
    Length 60
  Ethernet II
    Destination Address 00:11:22:33:44:55
    Source Address      66:77:88:99:AA:BB
    Ethertype           0800h (IPv4)
  IP version 4
    Version 4
    Header Length 20 bytes
    Type of Service 10h
    Total Length 52 bytes
    Identification 1C46h
    Flag 02h
    Fragment Offset 1FA3h
    Time to Live 64
    Protocol 06h (TCP)
    Header Checksum B1E6h
    Source Address 192.168.1.20
    Destination Address 10.0.0.255
  Transport Control Protocol
    Source Port 1025
    Destination Port 80
    Sequence Number 2147483648
    Acknoledgement Number 4294967295
    Header Length 32 bytes
    Flag 12h
      Cogestion Windows Reduced (Not Set)
      ECN-ECHO (Not Set)
      Urgent (Not Set)
      Acknoledgement (Set)
      Push (Not Set)
      Reset (Not Set)
      Synchronize (Set)
      Finish (Not Set)
    Windows Size 65535 bytes
    Checksum 0A0Bh
  Hyper Text Transfer Protocol
)");

    QTest::newRow("ipv6 udp") << QByteArray::fromHex(
                                     "333300000001 00042357a57a 86dd"
                                     "6abcdef1 0010 11 ff 20010db8000000000000000000000001 "
                                     "00000000000000000000000000000000"
                                     "0222 0223 0010 ffff")
                              << qint64(42) << lines(R"(-----Packet Detail-----
  General Infomation
    Time   1000:    42
    Length 62
  Ethernet II
    Destination Address 33:33:00:00:00:01
    Source Address      00:04:23:57:A5:7A
    Ethertype           86DDh (IPv6)
  Internet Protocol version 6
    Version 6
    Traffic Class ABh
    Flow Label CDEF1h
    Next Header 11h (UDP)
    Hop Limit 255
    Source Address 2001:0DB8:0000:0000:0000:0000:0000:0001
    Destination Address 0000:0000:0000:0000:0000:0000:0000:0000
  User Datagram Protocol
    Source Port 546
    Destination Port 547
    Header Length 16 bytes
    Checksum FFFFh
  Dynamic Host Configuration Protocol for IPv6
)");

    // An ARP frame ends with its own layer: no summary.
    QTest::newRow("arp request")
        << QByteArray::fromHex("ffffffffffff 000423 57a57a 0806"
                               "0001 0800 06 04 0001 00042357a57a c0a801f9 000000000000 c0a80101")
        << qint64(999999) << lines(R"(-----Packet Detail-----
  General Infomation
    Time   1000:999999
    Length 60
  Ethernet II
    Destination Address FF:FF:FF:FF:FF:FF
    Source Address      00:04:23:57:A5:7A
    Ethertype           0806h (ARP)
  Address Resolution Protocol
    Hardware Type 0001h (Ethernet)
    Protocol Type 0800h (IPv4)
    Hardware Address Length 6
    Protocol Address Length 4
    Operation 0001h (request)
    Sender Hardware Address 00:04:23:57:A5:7A
    Sender Protocol Address 192.168.1.249
    Target Hardware Address 00:00:00:00:00:00
    Target Protocol Address 192.168.1.1
)");

    // Both sockets carry the destination socket's suffix; no summary.
    QTest::newRow("802.3 ipx rip")
        << QByteArray::fromHex(
               "ffffffffffff 00a0c90b7e2f 0030 e0 e0 03"
               "ffff 0028 00 04 00000000 ffffffffffff 0453 0000abcd 00a0c90b7e2f 4000")
        << qint64(0) << lines(R"(-----Packet Detail-----
  General Infomation
    Time   1000:      
    Length 60
  Ethernet 802.3
    Destination Address FF:FF:FF:FF:FF:FF
    Source Address      00:A0:C9:0B:7E:2F
    length              48 bytes
  Ethernet 802.2
    DSAP    E0h (IPX)
    SSAP    E0h (IPX)
    Control 03h
  IPX Netware
    Checksum FFFFh (IPX)
    Length 40 bytes
    Transport Control 0 hops
    Packet Type 4
    Destination Network 00000000h
    Destination Node FF:FF:FF:FF:FF:FF
    Destination Socket 0453h (IPX RIP)
    Source Network 0000ABCDh
    Source Node 00:A0:C9:0B:7E:2F
    Source Socket 4000h (IPX RIP)
)");

    QTest::newRow("802.3 netbios")
        << QByteArray::fromHex("030000000001 00a0c90b7e2f 002f f0 f0 03 002c effe 0e") << qint64(0)
        << lines(R"(-----Packet Detail-----
  General Infomation
    Time   1000:      
    Length 60
  Ethernet 802.3
    Destination Address 03:00:00:00:00:01
    Source Address      00:A0:C9:0B:7E:2F
    length              47 bytes
  Ethernet 802.2
    DSAP    F0h (NetBIOS)
    SSAP    F0h (NetBIOS)
    Control 03h
  NetBIOS
    length 44 bytes
    Delimiter EFFEh
    Command 0Eh (NetBIOS name recognized)
)");

    QTest::newRow("802.3 snap cdp")
        << QByteArray::fromHex("01000ccccccc 00a0c90b7e2f 0100 aa aa 03 00000c 2000") << qint64(0)
        << lines(R"(-----Packet Detail-----
  General Infomation
    Time   1000:      
    Length 60
  Ethernet 802.3
    Destination Address 01:00:0C:CC:CC:CC
    Source Address      00:A0:C9:0B:7E:2F
    length              256 bytes
  Ethernet 802.2
    DSAP    AAh (SNAP)
    SSAP    AAh (SNAP)
    Control 03h
  Ethernet SNAP
    Organization Code 00000Ch (Cisco)
    Protocol ID       2000h (CDP)
  Cisco Discovery Protocol
)");
}

void TestDecodeTree::wholeTrees() {
    QFETCH(QByteArray, frame);
    QFETCH(qint64, usec);
    QFETCH(QStringList, expected);
    const QString text = decodeTreeText(decode(frame, 0, usec));
    QCOMPARE(text.split(QLatin1Char('\n')), expected);
}

void TestDecodeTree::etherTypes_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("ethertype");
    QTest::addColumn<QStringList>("layers");

    const auto row = [](const char* tag, const QByteArray& frame, const char* ethertype,
                        QStringList after) {
        QStringList all = strs({"General Infomation", "Ethernet II"});
        QTest::newRow(tag) << frame << str(ethertype) << (all << after);
    };
    row("0800 ipv4", ipv4(0xFF), "Ethertype           0800h (IPv4)",
        strs({"IP version 4", "IPV4 (Unknown)"}));
    row("0801 x.75", ether(0x0801), "Ethertype           0801h (X.75)",
        strs({"X.75 Internet packet"}));
    row("0806 arp", put(ether(0x0806), 21, {1}), "Ethertype           0806h (ARP)",
        strs({"Address Resolution Protocol"}));
    row("8035 rarp", put(ether(0x8035), 21, {3}), "Ethertype           8035h (RARP)",
        strs({"Reverse Address Resolution Protocol"}));
    row("8038 dec stp hello", put(ether(0x8038), 15, {0x19}), "Ethertype           8038h (DEC_STP)",
        strs({"DEC Bridge Spanning Tree Protocol (hello)"}));
    row("8038 dec stp other", put(ether(0x8038), 15, {0x02}), "Ethertype           8038h (DEC_STP)",
        strs({"DEC Bridge Spanning Tree Protocol"}));
    row("809b appletalk", ether(0x809B), "Ethertype           809Bh (AppleTalk)",
        strs({"AppleTalk"}));
    row("80f3 aarp", ether(0x80F3), "Ethertype           80F3h (AARP)",
        strs({"AppleTalk Address Resoluton Protocol"}));
    row("86dd ipv6", ipv6(0), "Ethertype           86DDh (IPv6)",
        strs({"Internet Protocol version 6", "IPv6 Hop-by-Hop Options"}));
    row("8847 mpls", ether(0x8847), "Ethertype           8847h (MPLS)",
        strs({"Multi Protocol Label Switching"}));
    row("8848 mpls", ether(0x8848), "Ethertype           8848h (MPLS)",
        strs({"Multi Protocol Label Switching"}));
    row("8100 vlan is unknown", ether(0x8100), "Ethertype           8100h (?]", strs({"Data"}));
    row("1501 is a type", ether(1501), "Ethertype           05DDh (?]", strs({"Data"}));
    row("ffff", ether(0xFFFF), "Ethertype           FFFFh (?]", strs({"Data"}));
}

void TestDecodeTree::etherTypes() {
    QFETCH(QByteArray, frame);
    QFETCH(QString, ethertype);
    QFETCH(QStringList, layers);
    const DecodeNode root = decode(frame);
    QCOMPARE(::layers(root), layers);
    QCOMPARE(field(root, str("Ethernet II"), 2), ethertype);
}

void TestDecodeTree::ssaps_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QStringList>("saps");
    QTest::addColumn<QStringList>("after"); // layers after "Ethernet 802.2"

    QTest::newRow("00 null") << llc(0x00, 0x00)
                             << strs({"DSAP    00h (LSAP)", "SSAP    00h (LSAP)"})
                             << strs({"Link Service Advertising Protocol (null)"});
    // The tree names every BPDU type alike.
    QTest::newRow("42 stp config")
        << llc(0x42, 0x42) << strs({"DSAP    42h (STP)", "SSAP    42h (STP)"})
        << strs({"Spanning Tree Protocol"});
    QTest::newRow("42 stp tcn") << put(llc(0x42, 0x42), 20, {0x80})
                                << strs({"DSAP    42h (STP)", "SSAP    42h (STP)"})
                                << strs({"Spanning Tree Protocol"});
    QTest::newRow("aa snap other org") << put(llc(0xAA, 0xAA), 17, {0x00, 0x80, 0xC2, 0x00, 0x07})
                                       << strs({"DSAP    AAh (SNAP)", "SSAP    AAh (SNAP)"})
                                       << strs({"Ethernet SNAP", "Undecoded"});
    QTest::newRow("e0 ipx") << llc(0xE0, 0xE0) << strs({"DSAP    E0h (IPX)", "SSAP    E0h (IPX)"})
                            << strs({"IPX Netware"});
    QTest::newRow("f0 netbios") << llc(0xF0, 0xF0)
                                << strs({"DSAP    F0h (NetBIOS)", "SSAP    F0h (NetBIOS)"})
                                << strs({"NetBIOS"});
    QTest::newRow("ff global") << llc(0xFF, 0xFF) << strs({"DSAP    FFh LSAP", "SSAP    FFh LSAP"})
                               << strs({"Link Service Advertising Protocol (Global)"});
    QTest::newRow("06 unknown") << llc(0x06, 0x06) << strs({"DSAP    06h (?]", "SSAP    06h (?]"})
                                << strs({"Undecoded Data"});
    // Only the SSAP counts, for both suffixes.
    QTest::newRow("dsap 42 ssap 06")
        << llc(0x42, 0x06) << strs({"DSAP    42h (?]", "SSAP    06h (?]"})
        << strs({"Undecoded Data"});
    QTest::newRow("dsap 06 ssap 42")
        << llc(0x06, 0x42) << strs({"DSAP    06h (STP)", "SSAP    42h (STP)"})
        << strs({"Spanning Tree Protocol"});
    QTest::newRow("length 1500 is 802.3") << put(ether(1500), 14, {0xFF, 0xFF, 0x03})
                                          << strs({"DSAP    FFh LSAP", "SSAP    FFh LSAP"})
                                          << strs({"Link Service Advertising Protocol (Global)"});
}

void TestDecodeTree::ssaps() {
    QFETCH(QByteArray, frame);
    QFETCH(QStringList, saps);
    QFETCH(QStringList, after);
    const DecodeNode root = decode(frame);
    QCOMPARE(layers(root),
             strs({"General Infomation", "Ethernet 802.3", "Ethernet 802.2"}) + after);
    QCOMPARE(fields(root, str("Ethernet 802.2")), saps << str("Control 03h"));
    if (after.first() == str("Ethernet SNAP"))
        QCOMPARE(fields(root, str("Ethernet SNAP")),
                 strs({"Organization Code 0080C2h (?]", "Protocol ID       0007h (?]"}));
}

void TestDecodeTree::ipxSockets_data() {
    QTest::addColumn<quint16>("socket");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("0452 sap") << quint16(0x0452) << str(" (IPX SAP)");
    QTest::newRow("0453 rip") << quint16(0x0453) << str(" (IPX RIP)");
    QTest::newRow("0455 nbipx") << quint16(0x0455) << str(" (NBIPX)");
    QTest::newRow("9001 war") << quint16(0x9001) << str(" (IPX WAR)");
    QTest::newRow("0451 other") << quint16(0x0451) << str(" (IPX)");
    QTest::newRow("5304 swapped rip") << quint16(0x5304) << str(" (IPX)");
}

void TestDecodeTree::ipxSockets() {
    QFETCH(quint16, socket);
    QFETCH(QString, suffix);
    // The source socket is a known one: its own name is never used.
    const DecodeNode root = decode(put16(put16(llc(0xE0, 0xE0), 33, socket), 45, 0x0455));
    const QStringList ipx = fields(root, str("IPX Netware"));
    QCOMPARE(ipx.size(), 10);
    QCOMPARE(ipx[6], str("Destination Socket ") + hex(socket, 4) + str("h") + suffix);
    QCOMPARE(ipx[9], str("Source Socket 0455h") + suffix);
    QCOMPARE(layers(root).last(), str("IPX Netware"));
}

void TestDecodeTree::netbiosCommands_data() {
    QTest::addColumn<quint8>("command");
    QTest::addColumn<QString>("text");
    const struct {
        quint8 command;
        const char* text;
    } cases[] = {
        {0x00, "Command 00h (NetBIOS add group)"},
        {0x01, "Command 01h (NetBIOS add name)"},
        {0x02, "Command 02h (NetBIOS name in conflict)"},
        {0x03, "Command 03h (NetBIOS status query)"},
        {0x07, "Command 07h (NetBIOS terminate trace)"},
        {0x08, "Command 08h (NetBIOS Datagram)"},
        {0x09, "Command 09h (NetBIOS Datagram broadcast)"},
        {0x0A, "Command 0Ah (NetBIOS name query)"},
        {0x0D, "Command 0Dh (NetBIOS add name response)"},
        {0x0E, "Command 0Eh (NetBIOS name recognized)"},
        {0x0F, "Command 0Fh (NetBIOS status response)"},
        {0x13, "Command 13h (NetBIOS terminate trace)"},
        {0x14, "Command 14h (NetBIOS data acknowlegment)"},
        {0x15, "Command 15h (NetBIOS data first middle)"},
        {0x16, "Command 16h (NetBIOS data only last)"},
        {0x17, "Command 17h (NetBIOS session confirmation)"},
        {0x18, "Command 18h (NetBIOS session end)"},
        {0x19, "Command 19h (NetBIOS session Initialize)"},
        {0x1A, "Command 1Ah (NetBIOS no receive)"},
        {0x1B, "Command 1Bh (NetBIOS receive outstanding)"},
        {0x1C, "Command 1Ch (NetBIOS receive continue)"},
        {0x1F, "Command 1Fh (NetBIOS session alive)"},
        {0x04, "Command 04h (NetBIOS unknown)"},
        {0x1E, "Command 1Eh (NetBIOS unknown)"},
        {0xFF, "Command FFh (NetBIOS unknown)"},
    };
    for (const auto& c : cases)
        QTest::newRow(c.text) << c.command << str(c.text);
}

void TestDecodeTree::netbiosCommands() {
    QFETCH(quint8, command);
    QFETCH(QString, text);
    const DecodeNode root = decode(put(llc(0xF0, 0xF0), 21, {command}));
    QCOMPARE(field(root, str("NetBIOS"), 2), text);
    QCOMPARE(layers(root).last(), str("NetBIOS"));
}

void TestDecodeTree::ipv4Protocols_data() {
    QTest::addColumn<quint8>("protocol");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("after"); // layers after "IP version 4"
    const struct {
        quint8 protocol;
        const char* text;
        const char* summary;
    } cases[] = {
        {1, "Protocol 01h (ICMP)", "ICMP version 4"},
        {2, "Protocol 02h (IGMP)", "Internet Group Managment Protocol"},
        {8, "Protocol 08h (EGP)", "Exterior Gateway Protocol"},
        {9, "Protocol 09h (IGRP)", "Interior Gateway Routing Protocol"},
        {46, "Protocol 2Eh (RSVP)", "Resource ReSerVation setup Protocol"},
        {47, "Protocol 2Fh (GRE)", "Generic Routing Encapsulation"},
        {50, "Protocol 32h (ESP)", "Encapsulating Security Payload"},
        {83, "Protocol 53h (VINES)", "Vines over raw IP"},
        {89, "Protocol 59h (OSPF)", "Open Shortest Path First"},
        {132, "Protocol 84h (STCP)", "Stream Control Transmission Protocol"},
        {0, "Protocol 00h (?]", "IPV4 (Unknown)"},
        {4, "Protocol 04h (?]", "IPV4 (Unknown)"},
        {41, "Protocol 29h (?]", "IPV4 (Unknown)"},
        {58, "Protocol 3Ah (?]", "IPV4 (Unknown)"},
    };
    for (const auto& c : cases)
        QTest::newRow(c.text) << c.protocol << str(c.text) << strs({c.summary});
    QTest::newRow("6 tcp") << quint8(6) << str("Protocol 06h (TCP)")
                           << strs({"Transport Control Protocol", "Undecoded"});
    QTest::newRow("17 udp") << quint8(17) << str("Protocol 11h (UDP)")
                            << strs({"User Datagram Protocol", "Undecoded"});
}

void TestDecodeTree::ipv4Protocols() {
    QFETCH(quint8, protocol);
    QFETCH(QString, text);
    QFETCH(QStringList, after);
    const DecodeNode root = decode(ipv4(protocol));
    QCOMPARE(layers(root), strs({"General Infomation", "Ethernet II", "IP version 4"}) + after);
    QCOMPARE(field(root, str("IP version 4"), 8), text);
}

void TestDecodeTree::ipv6NextHeaders_data() {
    QTest::addColumn<quint8>("nextHeader");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("after"); // layers after the IPv6 layer
    const struct {
        quint8 nextHeader;
        const char* text;
        const char* summary;
    } cases[] = {
        {0, "Next Header 00h IPv6 hop-by-hop options", "IPv6 Hop-by-Hop Options"},
        {1, "Next Header 01h (ICMPv4)", "Internet Control Message Protocol v4"},
        {2, "Next Header 02h (IGMP)", "Internet Group Managment Protocol"},
        {8, "Next Header 08h (EGP)", "Exterior Gateway Protocol"},
        {9, "Next Header 09h (IGRP)", "Interior Gateway Routing Protocol"},
        {46, "Next Header 2Eh (RSVP)", "Resource ReSerVation setup Protocol"},
        {47, "Next Header 2Fh (GRE)", "Generic Routing Encapsulation"},
        {50, "Next Header 32h (ESP)", "Encapsulating Security Payload"},
        {58, "Next Header 3Ah (ICMPv6)", "Internet Control Message Protocol v6"},
        {83, "Next Header 53h (Vines)", "Vines over raw IP"},
        {89, "Next Header 59h (OSPF)", "Open Shortest Path First"},
        {132, "Next Header 84h (SCTP)", "Stream Control Transmission Protocol"},
        {43, "Next Header 2Bh (?]", "IPv6 (Unknown)"},
        {44, "Next Header 2Ch (?]", "IPv6 (Unknown)"},
        {59, "Next Header 3Bh (?]", "IPv6 (Unknown)"},
    };
    for (const auto& c : cases)
        QTest::newRow(c.text) << c.nextHeader << str(c.text) << strs({c.summary});
    QTest::newRow("6 tcp") << quint8(6) << str("Next Header 06h (TCP)")
                           << strs({"Transport Control Protocol", "Undecoded"});
    QTest::newRow("17 udp") << quint8(17) << str("Next Header 11h (UDP)")
                            << strs({"User Datagram Protocol", "Undecoded"});
}

void TestDecodeTree::ipv6NextHeaders() {
    QFETCH(quint8, nextHeader);
    QFETCH(QString, text);
    QFETCH(QStringList, after);
    const DecodeNode root = decode(ipv6(nextHeader));
    QCOMPARE(layers(root),
             strs({"General Infomation", "Ethernet II", "Internet Protocol version 6"}) + after);
    QCOMPARE(field(root, str("Internet Protocol version 6"), 3), text);
}

void TestDecodeTree::applications_data() {
    QTest::addColumn<quint16>("source");
    QTest::addColumn<quint16>("destination");
    QTest::addColumn<QString>("tcp");
    QTest::addColumn<QString>("udp");
    const struct {
        quint16 port;
        const char* tcp;
        const char* udp;
    } rows[] = {
        {80, "Hyper Text Transfer Protocol", "Hyper Text Transfer Protocol"},
        {443, "Secure Hyper Text Transfer Protocol", "Secure Hyper Text Transfer Protocol"},
        {21, "File Transfer Protocol", "File Transfer Protocol"},
        {110, "Post Office Protocol - version 3", "Post Office Protocol - version 3"},
        {25, "Simple Mail Transport Protocol", "Simple Mail Transport Protocol"},
        {995, "POP 3 using SSL", "POP 3 using SSL"},
        {993, "IMAP", "Internet Message Access Protocol"},
        {465, "SMTP using SSL", "SMTP using SSL"},
        {23, "Telnet", "Telnet"},
        {22, "SSL Remote Login Protocol", "SSL Remote Login Protocol"},
        {137, "NetBIOS over IP Name Service", "NetBIOS over IP Name Service"},
        {138, "NetBIOS over IP Datagram Service", "NetBIOS over IP Datagram Service"},
        {139, "NetBIOS over IP Session Service", "NetBIOS over IP Session Service"},
        {161, "Simple Network Management Protocol", "Simple Network Management Protocol"},
        {162, "Simple Network Management Protocol (Trap)",
         "Simple Network Management Protocol (Trap)"},
        {53, "Domain Name Service", "Domain Name Service"},
        {163, "CMIP  TCP/Manager", "Common Management Information Protocol Manager"},
        {164, "CMIP  TCP/Agent", "Common Management Information Protocol Agent"},
        {179, "Border Gateway Protocol", "Border Gateway Protocol"},
        {67, "DHCP", "Dynamic Host Configuration Protocol"},
        {68, "DHCP", "Dynamic Host Configuration Protocol"},
        {546, "DHCPv6", "Dynamic Host Configuration Protocol for IPv6"},
        {547, "DHCPv6", "Dynamic Host Configuration Protocol for IPv6"},
        {1080, "SOCKS", "SOCKS"},
        {1300, "H.323 Host Call Secure", "H.323 Host Call Secure"},
        {1718, "H.323 Gateway Discovery", "H.323 Gateway Discovery"},
        {1719, "H.323 Gateway Status", "H.323 Gateway Status"},
        {1720, "H.323 Host Call", "H.323 Host Call"},
        {11720, "H.323 Call Signal Alternate", "H.323 Call Signal Alternate"},
    };
    // Either port may match.
    for (const auto& r : rows) {
        QTest::addRow("%u from", r.port) << r.port << quint16(40000) << str(r.tcp) << str(r.udp);
        QTest::addRow("%u to", r.port) << quint16(40000) << r.port << str(r.tcp) << str(r.udp);
    }
    // The first row of the table wins, whichever side its port is on.
    QTest::newRow("21 to 80") << quint16(21) << quint16(80) << str("Hyper Text Transfer Protocol")
                              << str("Hyper Text Transfer Protocol");
    QTest::newRow("53 to 110") << quint16(53) << quint16(110)
                               << str("Post Office Protocol - version 3")
                               << str("Post Office Protocol - version 3");
    QTest::newRow("68 to 67") << quint16(68) << quint16(67) << str("DHCP")
                              << str("Dynamic Host Configuration Protocol");
    QTest::newRow("unknown") << quint16(1025) << quint16(1026) << str("Undecoded")
                             << str("Undecoded");
    QTest::newRow("port 0") << quint16(0) << quint16(0) << str("Undecoded") << str("Undecoded");
    QTest::newRow("port 65535") << quint16(65535) << quint16(65535) << str("Undecoded")
                                << str("Undecoded");
    QTest::newRow("byte-swapped 80")
        << quint16(0x5000) << quint16(0x5000) << str("Undecoded") << str("Undecoded");
}

void TestDecodeTree::applications() {
    QFETCH(quint16, source);
    QFETCH(quint16, destination);
    QFETCH(QString, tcp);
    QFETCH(QString, udp);
    // After IPv4 the transport header is at 34, after IPv6 at 54.
    QCOMPARE(layers(decode(ports(ipv4(6), 34, source, destination))).last(), tcp);
    QCOMPARE(layers(decode(ports(ipv4(17), 34, source, destination))).last(), udp);
    QCOMPARE(layers(decode(ports(ipv6(6), 54, source, destination))).last(), tcp);
    QCOMPARE(layers(decode(ports(ipv6(17), 54, source, destination))).last(), udp);
}

void TestDecodeTree::tcpFlags_data() {
    QTest::addColumn<quint8>("bits");
    QTest::addColumn<QStringList>("children");
    const char* const set[] = {"Cogestion Windows Reduced (Set)",
                               "ECN-ECHO (Set)",
                               "Urgent (Set)",
                               "Acknoledgement (Set)",
                               "Push (Set)",
                               "Reset (Set)",
                               "Synchronize (Set)",
                               "Finish (Set)"};
    const char* const notSet[] = {"Cogestion Windows Reduced (Not Set)",
                                  "ECN-ECHO (Not Set)",
                                  "Urgent (Not Set)",
                                  "Acknowledgement (Not Set)",
                                  "Push (Not Set)",
                                  "Reset (Not Set)",
                                  "Synchronize (Not Set)",
                                  "Finish (Not Set)"};
    const auto children = [&](quint8 bits) {
        QStringList out;
        for (int i = 0; i < 8; ++i)
            out << str((bits & (0x80 >> i)) ? set[i] : notSet[i]);
        return out;
    };
    QTest::newRow("none") << quint8(0x00) << children(0x00);
    QTest::newRow("all") << quint8(0xFF) << children(0xFF);
    for (int bit = 0; bit < 8; ++bit) {
        const auto bits = static_cast<quint8>(1 << bit);
        QTest::addRow("bit %02X", bits) << bits << children(bits);
    }
    // The fourth child, spelt differently when set and when not.
    QCOMPARE(children(0xFF)[3], str("Acknoledgement (Set)"));
    QCOMPARE(children(0x00)[3], str("Acknowledgement (Not Set)"));
}

void TestDecodeTree::tcpFlags() {
    QFETCH(quint8, bits);
    QFETCH(QStringList, children);
    for (const QByteArray& frame : {put(ipv4(6), 47, {bits}), put(ipv6(6), 67, {bits})}) {
        const DecodeNode root = decode(frame);
        const DecodeNode& tcp = root.children.at(3);
        QCOMPARE(tcp.text, str("Transport Control Protocol"));
        const DecodeNode& flag = tcp.children.at(5);
        QCOMPARE(flag.text, str("Flag ") + hex(bits, 2) + str("h"));
        QCOMPARE(texts(flag.children), children);
        for (const DecodeNode& child : flag.children) {
            QCOMPARE(child.kind, DecodeNodeKind::Field);
            QVERIFY(child.children.empty());
        }
    }
}

void TestDecodeTree::arpOperations_data() {
    QTest::addColumn<quint16>("operation");
    QTest::addColumn<QString>("node"); // empty: none
    QTest::newRow("1 request") << quint16(1) << str("Operation 0001h (request)");
    QTest::newRow("2 reply") << quint16(2) << str("Operation 0002h (reply)");
    QTest::newRow("3 rarp request") << quint16(3) << QString();
    QTest::newRow("0") << quint16(0) << QString();
    QTest::newRow("0100 swapped") << quint16(0x0100) << QString();
}

void TestDecodeTree::arpOperations() {
    QFETCH(quint16, operation);
    QFETCH(QString, node);
    // Hardware and protocol types are named whatever their values.
    const QByteArray frame = put16(
        put(ether(0x0806), 14, {0x00, 0x06, 0x86, 0xDD, 0x06, 0x04, 0, 0,  1,  2,  3,  4, 5, 6,
                                10,   0,    0,    1,    7,    8,    9, 10, 11, 12, 10, 0, 0, 2}),
        20, operation);
    QStringList expected = strs({"Hardware Type 0006h (Ethernet)", "Protocol Type 86DDh (IPv4)",
                                 "Hardware Address Length 6", "Protocol Address Length 4"});
    if (!node.isEmpty())
        expected << node;
    expected << strs(
        {"Sender Hardware Address 01:02:03:04:05:06", "Sender Protocol Address 10.0.0.1",
         "Target Hardware Address 07:08:09:0A:0B:0C", "Target Protocol Address 10.0.0.2"});
    const DecodeNode root = decode(frame);
    QCOMPARE(fields(root, str("Address Resolution Protocol")), expected);
    QCOMPARE(layers(root).last(), str("Address Resolution Protocol"));
}

void TestDecodeTree::valueFormats_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("layer");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    const QString ip4 = str("IP version 4");
    const QString ip6 = str("Internet Protocol version 6");
    const QString tcp = str("Transport Control Protocol");
    const QString udp = str("User Datagram Protocol");
    QTest::newRow("version from the high nibble")
        << put(ipv4(0), 14, {0xF5}) << ip4 << 0 << str("Version 15");
    QTest::newRow("header length, low nibble times 4")
        << put(ipv4(0), 14, {0x4F}) << ip4 << 1 << str("Header Length 60 bytes");
    QTest::newRow("header length 0")
        << put(ipv4(0), 14, {0x40}) << ip4 << 1 << str("Header Length 0 bytes");
    QTest::newRow("total length 65535")
        << put(ipv4(0), 16, {0xFF, 0xFF}) << ip4 << 3 << str("Total Length 65535 bytes");
    QTest::newRow("identification, frame order")
        << put(ipv4(0), 18, {0x00, 0x0A}) << ip4 << 4 << str("Identification 000Ah");
    QTest::newRow("flag, top 3 bits")
        << put(ipv4(0), 20, {0xFF, 0xFF}) << ip4 << 5 << str("Flag 07h");
    QTest::newRow("fragment offset, low 13 bits")
        << put(ipv4(0), 20, {0xFF, 0xFF}) << ip4 << 6 << str("Fragment Offset 1FFFh");
    QTest::newRow("ttl 255") << put(ipv4(0), 22, {0xFF}) << ip4 << 7 << str("Time to Live 255");
    QTest::newRow("ipv4 addresses") << put(ipv4(0), 26, {255, 255, 255, 255, 0, 0, 0, 0}) << ip4
                                    << 10 << str("Source Address 255.255.255.255");
    QTest::newRow("ipv4 destination 0") << put(ipv4(0), 26, {255, 255, 255, 255, 0, 0, 0, 0}) << ip4
                                        << 11 << str("Destination Address 0.0.0.0");
    QTest::newRow("traffic class and flow label")
        << put(ipv6(0), 14, {0x6A, 0xBC, 0xDE, 0xF1}) << ip6 << 1 << str("Traffic Class ABh");
    QTest::newRow("flow label") << put(ipv6(0), 14, {0x6A, 0xBC, 0xDE, 0xF1}) << ip6 << 2
                                << str("Flow Label CDEF1h");
    QTest::newRow("flow label leading zeros")
        << put(ipv6(0), 14, {0x60, 0x00, 0x00, 0x01}) << ip6 << 2 << str("Flow Label 00001h");
    QTest::newRow("hop limit") << put(ipv6(0), 21, {0x40}) << ip6 << 4 << str("Hop Limit 64");
    QTest::newRow("ipv6 all ones")
        << put(ipv6(0), 22,
               {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                0xFF, 0xFF})
        << ip6 << 5 << str("Source Address FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF");
    QTest::newRow("ipv6 zero")
        << ipv6(0) << ip6 << 6
        << str("Destination Address 0000:0000:0000:0000:0000:0000:0000:0000");
    QTest::newRow("sequence 0x80000000")
        << put(ipv4(6), 38, {0x80, 0, 0, 0}) << tcp << 2 << str("Sequence Number 2147483648");
    QTest::newRow("acknowledgement max") << put(ipv4(6), 42, {0xFF, 0xFF, 0xFF, 0xFF}) << tcp << 3
                                         << str("Acknoledgement Number 4294967295");
    QTest::newRow("tcp header length 60")
        << put(ipv4(6), 46, {0xFF}) << tcp << 4 << str("Header Length 60 bytes");
    QTest::newRow("tcp header length 20")
        << put(ipv4(6), 46, {0x5F}) << tcp << 4 << str("Header Length 20 bytes");
    QTest::newRow("window 0") << ipv4(6) << tcp << 6 << str("Windows Size 0 bytes");
    QTest::newRow("tcp checksum") << put(ipv4(6), 50, {0x00, 0x01}) << tcp << 7
                                  << str("Checksum 0001h");
    QTest::newRow("tcp after ipv6 at 54")
        << put(ipv6(6), 54, {0x01, 0xBB}) << tcp << 0 << str("Source Port 443");
    QTest::newRow("udp length") << put(ipv4(17), 38, {0x05, 0xDC}) << udp << 2
                                << str("Header Length 1500 bytes");
    QTest::newRow("udp checksum") << put(ipv4(17), 40, {0xAB, 0xCD}) << udp << 3
                                  << str("Checksum ABCDh");
    QTest::newRow("802.3 length 0")
        << llc(0xFF, 0xFF) << str("Ethernet 802.3") << 2 << str("length              46 bytes");
    QTest::newRow("llc control") << put(llc(0xFF, 0xFF), 16, {0xF3}) << str("Ethernet 802.2") << 2
                                 << str("Control F3h");
    QTest::newRow("ipx hops") << put(llc(0xE0, 0xE0), 21, {15}) << str("IPX Netware") << 2
                              << str("Transport Control 15 hops");
    QTest::newRow("ipx packet type")
        << put(llc(0xE0, 0xE0), 22, {0x11}) << str("IPX Netware") << 3 << str("Packet Type 17");
}

void TestDecodeTree::valueFormats() {
    QFETCH(QByteArray, frame);
    QFETCH(QString, layer);
    QFETCH(int, index);
    QFETCH(QString, text);
    QCOMPARE(field(decode(frame), layer, index), text);
}

void TestDecodeTree::nodeKindsAndImages() {
    const DecodeNode root = decode(ipv4(6), 1514, 5);
    QCOMPARE(root.kind, DecodeNodeKind::Root);
    QCOMPARE(root.text, str("-----Packet Detail-----"));
    QCOMPARE(int(root.image()), 0);
    QCOMPARE(int(root.selectedImage()), 1);
    QVERIFY(root.expandedInitially());
    QCOMPARE(fields(root, str("General Infomation")), strs({"Time   1000:     5", "Length 1514"}));

    int flagChildren = 0;
    for (const DecodeNode& layer : root.children) {
        QCOMPARE(layer.kind, DecodeNodeKind::Layer);
        QCOMPARE(int(layer.image()), 4);
        QCOMPARE(int(layer.selectedImage()), 5);
        QVERIFY(!layer.expandedInitially());
        for (const DecodeNode& f : layer.children) {
            QCOMPARE(f.kind, DecodeNodeKind::Field);
            QCOMPARE(int(f.image()), 2);
            QCOMPARE(int(f.selectedImage()), 3);
            QVERIFY(!f.expandedInitially());
            for (const DecodeNode& bit : f.children) {
                QCOMPARE(int(bit.image()), 2);
                QCOMPARE(int(bit.selectedImage()), 3);
                ++flagChildren;
            }
        }
    }
    QCOMPARE(flagChildren, 8);
    // The closing summary is a layer node too.
    QCOMPARE(root.children.back().text, str("Undecoded"));
    QVERIFY(root.children.back().children.empty());

    // Two blanks of indent per level.
    const QStringList text = decodeTreeText(root).split(QLatin1Char('\n'));
    QCOMPARE(text[0], str("-----Packet Detail-----"));
    QCOMPARE(text[1], str("  General Infomation"));
    QCOMPARE(text[2], str("    Time   1000:     5"));
    QVERIFY(text.contains(str("      Cogestion Windows Reduced (Not Set)")));
    QCOMPARE(text.last(), QString()); // every line ends with "\n"
}

void TestDecodeTree::cutFrames_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("needed"); // the first captured length that decodes in full

    QTest::newRow("ipv4 tcp") << ports(ipv4(6), 34, 1025, 80)
                              << 52; // the urgent pointer is not shown
    QTest::newRow("ipv4 udp") << ports(ipv4(17), 34, 67, 68) << 42;
    QTest::newRow("ipv4 icmp") << ipv4(1) << 34;
    QTest::newRow("ipv6 tcp") << ports(ipv6(6), 54, 1025, 80) << 72;
    QTest::newRow("ipv6 udp") << ports(ipv6(17), 54, 1025, 80) << 62;
    QTest::newRow("ipv6 hop-by-hop") << ipv6(0) << 54;
    QTest::newRow("arp") << put(ether(0x0806), 21, {2}) << 42;
    QTest::newRow("arp operation 3") << put(ether(0x0806), 21, {3}) << 42;
    QTest::newRow("dec stp") << put(ether(0x8038), 15, {0x19}) << 16;
    QTest::newRow("x.75") << ether(0x0801) << 14;
    QTest::newRow("unknown type") << ether(0x9000) << 14;
    QTest::newRow("802.3 stp") << llc(0x42, 0x42) << 17;
    QTest::newRow("802.3 snap") << put(llc(0xAA, 0xAA), 17, {0, 0, 0x0C, 0x20, 0}) << 22;
    QTest::newRow("802.3 ipx") << put16(llc(0xE0, 0xE0), 33, 0x0452) << 47;
    QTest::newRow("802.3 netbios") << put(llc(0xF0, 0xF0), 21, {0x19}) << 22;
}

// Every captured length from 0 up: nothing past the buffer is read, what is
// shown is what the whole frame shows, and a cut frame says so at the end.
void TestDecodeTree::cutFrames() {
    QFETCH(QByteArray, frame);
    QFETCH(int, needed);
    const auto wire = static_cast<quint32>(frame.size());
    const DecodeNode whole = decode(frame, wire);
    QVERIFY(whole.children.back().text != str(kTruncatedNodeText));
    int previousFields = -1;
    for (int length = 0; length <= frame.size(); ++length) {
        const DecodeNode cut = decode(frame.left(length), wire);
        const QStringList cutLayers = layers(cut);
        QCOMPARE(cutLayers.first(), str("General Infomation"));
        QCOMPARE(fields(cut, str("General Infomation")), fields(whole, str("General Infomation")));
        if (length >= needed) {
            QCOMPARE(decodeTreeText(cut), decodeTreeText(whole));
            continue;
        }
        QCOMPARE(cutLayers.last(), str(kTruncatedNodeText));
        QVERIFY(cut.children.back().children.empty());
        if (length < 14)
            QCOMPARE(cutLayers, strs({"General Infomation", "Truncated"}));
        // Every layer but the closing one is the whole frame's, in the same
        // place, with a leading part of its fields.
        int fieldCount = 0;
        for (std::size_t i = 0; i + 1 < cut.children.size(); ++i) {
            const DecodeNode& part = cut.children[i];
            const DecodeNode& full = whole.children.at(i);
            QCOMPARE(part.text, full.text);
            QVERIFY(part.children.size() <= full.children.size());
            for (std::size_t j = 0; j < part.children.size(); ++j) {
                QCOMPARE(part.children[j].text, full.children[j].text);
                QCOMPARE(texts(part.children[j].children), texts(full.children[j].children));
            }
            // Only the last decoded layer may be cut.
            if (i + 2 < cut.children.size())
                QCOMPARE(part.children.size(), full.children.size());
            fieldCount += int(part.children.size());
        }
        QVERIFY2(fieldCount >= previousFields, qPrintable(QString::number(length)));
        previousFields = fieldCount;
    }
    // One byte short of what the branch needs is a cut frame.
    QCOMPARE(layers(decode(frame.left(needed - 1), wire)).last(), str(kTruncatedNodeText));
}

QTEST_APPLESS_MAIN(TestDecodeTree)
#include "tst_decode_tree.moc"
