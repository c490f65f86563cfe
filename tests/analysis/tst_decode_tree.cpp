// The decode tree of crafted frames: whole trees written out by hand, value
// formats, the node images, and frames cut at every length (in buffers of exactly the captured
// size, so that AddressSanitizer sees any read past them).
#include "analysis/decode_test_util.h"
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

using namespace qarsilo::test;

class TestDecodeTree : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wholeTrees_data();
    void wholeTrees();
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
