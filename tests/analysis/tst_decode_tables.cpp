// Every row of the decoder's suffix, summary and application tables and the
// flag texts, on crafted frames.
#include "analysis/decode_test_util.h"

#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;

class TestDecodeTables : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
};

void TestDecodeTables::etherTypes_data() {
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

void TestDecodeTables::etherTypes() {
    QFETCH(QByteArray, frame);
    QFETCH(QString, ethertype);
    QFETCH(QStringList, layers);
    const DecodeNode root = decode(frame);
    QCOMPARE(::layers(root), layers);
    QCOMPARE(field(root, str("Ethernet II"), 2), ethertype);
}

void TestDecodeTables::ssaps_data() {
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

void TestDecodeTables::ssaps() {
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

void TestDecodeTables::ipxSockets_data() {
    QTest::addColumn<quint16>("socket");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("0452 sap") << quint16(0x0452) << str(" (IPX SAP)");
    QTest::newRow("0453 rip") << quint16(0x0453) << str(" (IPX RIP)");
    QTest::newRow("0455 nbipx") << quint16(0x0455) << str(" (NBIPX)");
    QTest::newRow("9001 war") << quint16(0x9001) << str(" (IPX WAR)");
    QTest::newRow("0451 other") << quint16(0x0451) << str(" (IPX)");
    QTest::newRow("5304 swapped rip") << quint16(0x5304) << str(" (IPX)");
}

void TestDecodeTables::ipxSockets() {
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

void TestDecodeTables::netbiosCommands_data() {
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

void TestDecodeTables::netbiosCommands() {
    QFETCH(quint8, command);
    QFETCH(QString, text);
    const DecodeNode root = decode(put(llc(0xF0, 0xF0), 21, {command}));
    QCOMPARE(field(root, str("NetBIOS"), 2), text);
    QCOMPARE(layers(root).last(), str("NetBIOS"));
}

void TestDecodeTables::ipv4Protocols_data() {
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

void TestDecodeTables::ipv4Protocols() {
    QFETCH(quint8, protocol);
    QFETCH(QString, text);
    QFETCH(QStringList, after);
    const DecodeNode root = decode(ipv4(protocol));
    QCOMPARE(layers(root), strs({"General Infomation", "Ethernet II", "IP version 4"}) + after);
    QCOMPARE(field(root, str("IP version 4"), 8), text);
}

void TestDecodeTables::ipv6NextHeaders_data() {
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

void TestDecodeTables::ipv6NextHeaders() {
    QFETCH(quint8, nextHeader);
    QFETCH(QString, text);
    QFETCH(QStringList, after);
    const DecodeNode root = decode(ipv6(nextHeader));
    QCOMPARE(layers(root),
             strs({"General Infomation", "Ethernet II", "Internet Protocol version 6"}) + after);
    QCOMPARE(field(root, str("Internet Protocol version 6"), 3), text);
}

void TestDecodeTables::applications_data() {
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

void TestDecodeTables::applications() {
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

void TestDecodeTables::tcpFlags_data() {
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

void TestDecodeTables::tcpFlags() {
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

void TestDecodeTables::arpOperations_data() {
    QTest::addColumn<quint16>("operation");
    QTest::addColumn<QString>("node"); // empty: none
    QTest::newRow("1 request") << quint16(1) << str("Operation 0001h (request)");
    QTest::newRow("2 reply") << quint16(2) << str("Operation 0002h (reply)");
    QTest::newRow("3 rarp request") << quint16(3) << QString();
    QTest::newRow("0") << quint16(0) << QString();
    QTest::newRow("0100 swapped") << quint16(0x0100) << QString();
}

void TestDecodeTables::arpOperations() {
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

QTEST_APPLESS_MAIN(TestDecodeTables)
#include "tst_decode_tables.moc"
