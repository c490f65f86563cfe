// Naming of crafted frames: every row of the name tables, the framing and
// port rules, the time and address texts, and frames cut short.
#include "core/analysis/classify.h"
#include "core/analysis/frame_reader.h"
#include "support/test_paths.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>

using namespace qarsilo;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kDestinationMac = QByteArray::fromHex("0180c2000000");
const QByteArray kSourceMac = QByteArray::fromHex("00a0c90b7e2f");

// A frame of `size` zero bytes with the Ethernet header filled in.
QByteArray ether(quint16 typeOrLength, int size = 60) {
    QByteArray f(size, '\0');
    f.replace(0, 6, kDestinationMac);
    f.replace(6, 6, kSourceMac);
    f[12] = static_cast<char>(typeOrLength >> 8);
    f[13] = static_cast<char>(typeOrLength & 0xFF);
    return f;
}

QByteArray& put(QByteArray& f, int offset, std::initializer_list<quint8> bytes) {
    for (quint8 b : bytes)
        f[offset++] = static_cast<char>(b);
    return f;
}

QByteArray& put16(QByteArray& f, int offset, quint16 v) {
    return put(f, offset, {static_cast<quint8>(v >> 8), static_cast<quint8>(v & 0xFF)});
}

QByteArray llc(quint8 dsap, quint8 ssap, int size = 60) {
    QByteArray f = ether(static_cast<quint16>(size - 14), size);
    return put(f, 14, {dsap, ssap, 0x03});
}

QByteArray ipv4(quint8 protocol, int size = 60) {
    QByteArray f = ether(0x0800, size);
    put(f, 14, {0x45});
    put(f, 23, {protocol});
    put(f, 26, {192, 168, 1, 20});
    return put(f, 30, {10, 0, 0, 255});
}

QByteArray transport(quint8 protocol, quint16 sourcePort, quint16 destinationPort) {
    QByteArray f = ipv4(protocol);
    put16(f, 34, sourcePort);
    return put16(f, 36, destinationPort);
}

FrameHeader headerFor(const QByteArray& frame, qint64 sec = 1000, qint64 usec = 1) {
    const auto n = static_cast<quint32>(frame.size());
    return FrameHeader{sec, usec, n, n < 60 ? 60 : n};
}

// The frame in a heap block of exactly its length, so that AddressSanitizer
// catches any read past the captured bytes.
struct ExactFrame {
    explicit ExactFrame(const QByteArray& frame)
        : header(headerFor(frame))
        , bytes(new std::uint8_t[static_cast<std::size_t>(frame.size())]) {
        std::memcpy(bytes.get(), frame.constData(), static_cast<std::size_t>(frame.size()));
    }
    Classification classify() const { return classifyFrame(header, bytes.get()); }
    FrameTexts texts() const { return frameTexts(header, bytes.get()); }

    FrameHeader header;
    std::unique_ptr<std::uint8_t[]> bytes;
};

QString str(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

void addNamed(const char* tag, const QByteArray& frame, const char* protocol, const char* info) {
    QTest::newRow(tag) << frame << QString::fromLatin1(protocol) << QString::fromLatin1(info);
}

} // namespace

class TestClassify : public QObject {
    Q_OBJECT

private:
    void namedColumns() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QString>("info");
    }
    void checkNamed() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, protocol);
        QFETCH(QString, info);
        const ExactFrame f(frame);
        const FrameTexts t = f.texts();
        QCOMPARE(t.protocol, protocol);
        QCOMPARE(t.info, info);
        QVERIFY(!f.classify().truncated);
    }

private Q_SLOTS:
    void ieee8023BySsap_data();
    void ieee8023BySsap() { checkNamed(); }
    void ipxSockets_data();
    void ipxSockets() { checkNamed(); }
    void netbiosCommands_data();
    void netbiosCommands() { checkNamed(); }
    void etherTypes_data();
    void etherTypes() { checkNamed(); }
    void ipv4Protocols_data();
    void ipv4Protocols() { checkNamed(); }
    void ports_data();
    void ports() { checkNamed(); }

    void ipv4OptionsAreNotSkipped();
    void timeText_data();
    void timeText();
    void addressTexts_data();
    void addressTexts();
    void shortFrames_data();
    void shortFrames();
    void everyPrefixIsBoundedAndConsistent();
    void frameLine();
    void frameLineCapacity();
    void cutToReachNamesAlike_data();
    void cutToReachNamesAlike();
    void readerBounds();
};

void TestClassify::ieee8023BySsap_data() {
    namedColumns();
    addNamed("ssap 00 null", llc(0x00, 0x00), "LSAP", "Link Service Advertising Protocol (null)");
    addNamed("ssap FF global", llc(0xFF, 0xFF), "LSAP",
             "Link Service Advertising Protocol (Global)");

    QByteArray config = llc(0x42, 0x42);
    addNamed("stp configuration", put(config, 20, {0x00}), "STP",
             "Spanning Tree Protocol (Configuration)");
    QByteArray tcn = llc(0x42, 0x42);
    addNamed("stp topology change", put(tcn, 20, {0x80}), "STP", "Spanning Tree Protocol");
    QByteArray rst = llc(0x42, 0x42);
    addNamed("stp rapid", put(rst, 20, {0x02}), "STP", "Spanning Tree Protocol");
    // Only the SSAP counts.
    addNamed("dsap 42 ssap 06", llc(0x42, 0x06), "???", "Unknown");
    QByteArray ssapOnly = llc(0x06, 0x42);
    addNamed("dsap 06 ssap 42", put(ssapOnly, 20, {0x00}), "STP",
             "Spanning Tree Protocol (Configuration)");
    addNamed("ssap 43 (response bit)", llc(0x42, 0x43), "???", "Unknown");

    // SNAP: the organization code decides; the protocol ID is not looked at.
    QByteArray cdp = llc(0xAA, 0xAA);
    addNamed("snap cisco cdp", put(put(cdp, 17, {0x00, 0x00, 0x0C}), 20, {0x20, 0x00}), "CDP",
             "Cisco Discovery Protocol");
    QByteArray dtp = llc(0xAA, 0xAA);
    addNamed("snap cisco other pid", put(put(dtp, 17, {0x00, 0x00, 0x0C}), 20, {0x20, 0x04}), "CDP",
             "Cisco Discovery Protocol");
    QByteArray encapsulated = llc(0xAA, 0xAA);
    addNamed("snap oui 000000", put(put(encapsulated, 17, {0, 0, 0}), 20, {0x08, 0x00}), "???",
             "Unknown");
    QByteArray nearCisco = llc(0xAA, 0xAA);
    addNamed("snap oui 00000D", put(nearCisco, 17, {0x00, 0x00, 0x0D}), "???", "Unknown");
    QByteArray swapped = llc(0xAA, 0xAA);
    addNamed("snap oui 0C0000", put(swapped, 17, {0x0C, 0x00, 0x00}), "???", "Unknown");

    addNamed("ssap E0 ipx, socket 0", llc(0xE0, 0xE0), "IPX", "IPX (Unknowns)");
    addNamed("ssap F0 netbios, command 0", llc(0xF0, 0xF0), "NetBIOS", "NetBIOS add group");
    addNamed("ssap 04", llc(0x04, 0x04), "???", "Unknown");
    addNamed("ssap 06", llc(0x06, 0x06), "???", "Unknown");
    addNamed("ssap E1", llc(0xE0, 0xE1), "???", "Unknown");

    // Framing: 1500 is still a length, 1501 a type.
    QByteArray at1500 = ether(1500);
    addNamed("length 1500 is 802.3", put(at1500, 14, {0xFF, 0xFF, 0x03}), "LSAP",
             "Link Service Advertising Protocol (Global)");
    QByteArray at0 = ether(0);
    addNamed("length 0 is 802.3", put(at0, 14, {0xF0, 0xF0, 0x03}), "NetBIOS", "NetBIOS add group");
}

void TestClassify::ipxSockets_data() {
    namedColumns();
    struct Case {
        const char* tag;
        quint16 socket;
        const char* protocol;
        const char* info;
    };
    const Case cases[] = {
        {"0452 sap", 0x0452, "IPX SAP", "Internetwork Packet Exchange (SAP)"},
        {"0453 rip", 0x0453, "IPX RIP", "Internetwork Packet Exchange (RIP)"},
        {"0455 nbipx", 0x0455, "NBIPX", "NetBIOS over IPX"},
        {"9001 war", 0x9001, "IPX", "IPX (Wide Area Router)"},
        {"0451 ncp", 0x0451, "IPX", "IPX (Unknowns)"},
        {"0454", 0x0454, "IPX", "IPX (Unknowns)"},
        {"5204 swapped sap", 0x5204, "IPX", "IPX (Unknowns)"},
        {"ffff", 0xFFFF, "IPX", "IPX (Unknowns)"},
    };
    for (const Case& c : cases) {
        QByteArray f = llc(0xE0, 0xE0);
        put16(f, 33, c.socket);
        put16(f, 45, 0x0452); // the source socket does not count
        addNamed(c.tag, f, c.protocol, c.info);
    }
}

void TestClassify::netbiosCommands_data() {
    namedColumns();
    struct Case {
        quint8 command;
        const char* info;
    };
    const Case cases[] = {
        {0x00, "NetBIOS add group"},
        {0x01, "NetBIOS add name"},
        {0x02, "NetBIOS name in conflict"},
        {0x03, "NetBIOS status query"},
        {0x07, "NetBIOS terminate trace"},
        {0x08, "NetBIOS Datagram"},
        {0x09, "NetBIOS Datagram broadcast"},
        {0x0A, "NetBIOS name query"},
        {0x0D, "NetBIOS add name response"},
        {0x0E, "NetBIOS name recognized"},
        {0x0F, "NetBIOS status response"},
        {0x13, "NetBIOS terminate trace"},
        {0x14, "NetBIOS data acknowlegment"},
        {0x15, "NetBIOS data first middle"},
        {0x16, "NetBIOS data only last"},
        {0x17, "NetBIOS session confirmation"},
        {0x18, "NetBIOS session end"},
        {0x19, "NetBIOS session Initialize"},
        {0x1A, "NetBIOS no receive"},
        {0x1B, "NetBIOS receive outstanding"},
        {0x1C, "NetBIOS receive continue"},
        {0x1F, "NetBIOS session alive"},
        {0x04, "NetBIOS unknown"},
        {0x0B, "NetBIOS unknown"},
        {0x12, "NetBIOS unknown"},
        {0x1D, "NetBIOS unknown"},
        {0x20, "NetBIOS unknown"},
        {0xFF, "NetBIOS unknown"},
    };
    for (const Case& c : cases) {
        QByteArray f = llc(0xF0, 0xF0);
        put(f, 17, {0x2C, 0x00, 0xEF, 0xFF}); // length and delimiter
        put(f, 21, {c.command});
        const QByteArray tag = QByteArray("command ") + QByteArray::number(c.command, 16);
        addNamed(tag.constData(), f, "NetBIOS", c.info);
    }
}

void TestClassify::etherTypes_data() {
    namedColumns();
    addNamed("0801 x.75", ether(0x0801), "X.75", "X.75 Internet packet");
    addNamed("8035 rarp", ether(0x8035), "RARP", "Reverse Address Resolution Protocol");
    QByteArray hello = ether(0x8038);
    addNamed("8038 dec hello", put(hello, 15, {0x19}), "DSTP",
             "DEC Bridge Spanning Tree Protocol (hello)");
    QByteArray other = ether(0x8038);
    addNamed("8038 dec other", put(other, 15, {0x02}), "DSTP", "DEC Bridge Spanning Tree Protocol");
    QByteArray codeNotType = ether(0x8038);
    addNamed("8038 hello in code byte", put(codeNotType, 14, {0x19, 0x00}), "DSTP",
             "DEC Bridge Spanning Tree Protocol");
    addNamed("809b appletalk", ether(0x809B), "AT", "AppleTalk");
    addNamed("80f3 aarp", ether(0x80F3), "AARP", "AppleTalk Address Resolution Protocol");
    addNamed("86dd ipv6", ether(0x86DD), "IPv6", "Internet Protocol version 6");
    addNamed("8847 mpls", ether(0x8847), "MPLS", "Multi Protocol Label Switching (unicast)");
    addNamed("8848 mpls", ether(0x8848), "MPLS", "Multi Protocol Label Switching (multicast)");

    QByteArray request = ether(0x0806);
    put(request, 20, {0x00, 0x01});
    put(request, 28, {192, 168, 0, 1});
    put(request, 38, {192, 168, 0, 254});
    addNamed("0806 arp request", request, "ARP", "Who is 192.168.0.254 ? Tell 192.168.0.1");
    // A reply reads the same way: target first, then sender.
    QByteArray reply = ether(0x0806);
    put(reply, 20, {0x00, 0x02});
    put(reply, 28, {10, 1, 2, 3});
    put(reply, 38, {255, 255, 255, 255});
    addNamed("0806 arp reply", reply, "ARP", "Who is 255.255.255.255 ? Tell 10.1.2.3");
    QByteArray zeros = ether(0x0806);
    addNamed("0806 arp zero addresses", zeros, "ARP", "Who is 0.0.0.0 ? Tell 0.0.0.0");

    QByteArray at1501 = ether(1501);
    addNamed("1501 is a type", put(at1501, 14, {0xFF, 0xFF, 0x03}), "???", "Unknown");
    addNamed("0600", ether(0x0600), "???", "Unknown");
    addNamed("814C has a row the list leaves unnamed", ether(0x814C), "???", "Unknown");
    addNamed("8100 vlan tag", ether(0x8100), "???", "Unknown");
    addNamed("0008 is a length", ether(0x0008), "LSAP", "Link Service Advertising Protocol (null)");
    addNamed("ffff", ether(0xFFFF), "???", "Unknown");
}

void TestClassify::ipv4Protocols_data() {
    namedColumns();
    struct Case {
        quint8 protocol;
        const char* name;
        const char* info;
    };
    const Case cases[] = {
        {1, "ICMP", "Internet Control Message Protocol"},
        {2, "IGMP", "Internet Group Managment Protocol"},
        {8, "EGP", "Exterior Gateway Protocol"},
        {9, "IGRP", "Interior Gateway Routing Protocol"},
        {46, "RSVP", "Resource ReSerVation setup Protocol"},
        {47, "GRE", "Generic Routing Encapsulation"},
        {50, "ESP", "Encapsulating Security Payload"},
        {83, "VINES", "Vines over raw IP"},
        {89, "OSPF", "Open Shortest Path First"},
        {132, "STCP", "Stream Control Transmission Protocol"},
        {0, "IPv4", "IPV4 (Unknown)"},
        {4, "IPv4", "IPV4 (Unknown)"},
        {41, "IPv4", "IPV4 (Unknown)"},
        {51, "IPv4", "IPV4 (Unknown)"},
        {255, "IPv4", "IPV4 (Unknown)"},
    };
    for (const Case& c : cases) {
        const QByteArray tag = QByteArray("protocol ") + QByteArray::number(c.protocol);
        addNamed(tag.constData(), ipv4(c.protocol), c.name, c.info);
    }
    addNamed("tcp unknown ports", transport(6, 1025, 1026), "TCP",
             "Source port: 1025 Destination port: 1026");
    addNamed("udp unknown ports", transport(17, 40000, 5353), "UDP",
             "Source port: 40000 Destination port: 5353");
    addNamed("tcp ports 0 and 65535", transport(6, 0, 65535), "TCP",
             "Source port: 0 Destination port: 65535");
    // The ports are read from byte 34 for TCP and UDP only.
    addNamed("icmp bytes look like port 80", transport(1, 80, 80), "ICMP",
             "Internet Control Message Protocol");
}

void TestClassify::ports_data() {
    namedColumns();
    struct Case {
        quint16 port;
        const char* name;
        const char* info;
    };
    const Case cases[] = {
        {21, "FTP", "File Transfer Protocol"},
        {22, "SSH", "SSH Remote Login Protocol"},
        {23, "Telnet", "Telnet"},
        {25, "SMTP", "Simple Mail Transport Protocol"},
        {53, "DNS", "Domain Name Service"},
        {67, "DHCP", "DHCP server"},
        {68, "DHCP", "DHCP client"},
        {80, "HTTP", "Hyper Text Transfer Protocol"},
        {110, "POP3", "Post Office Protocol - Version 3"},
        {137, "NetBIOS-NS", "NetBIOS Over IP Name Service"},
        {138, "NetBIOS-DATA", "NetBIOS Over IP Datagram Service"},
        {139, "NetBIOS-SS", "NetBIOS Over IP Session Service"},
        {161, "SNMP", "Simple Network Management Protocol"},
        {162, "SNMP-trap", "Simple Network Management Protocol (Trap)"},
        {163, "CMIP-man", "CMIP TCP/Manager"},
        {164, "CMIP-agt", "CMIP TCP/Agent"},
        {179, "BGP", "Border Gateway Protocol"},
        {443, "S-HTTP", "Secure Hyper Text Transfer Protocol"},
        {546, "DHCPv6", "DHCP version 6 client"},
        {547, "DHCPv6", "DHCP version 6 server"},
        {1080, "SOCKS", "SOCKS"},
        {1300, "h323hostcallsc", "H323 Host Call Secure"},
        {1718, "h323gatedisc", "H323 Gatekeeper Discovery"},
        {1719, "h323gatestat", "H323 Gatekeeper Status"},
        {1720, "h323hostcall", "H323 Host Call"},
        {11720, "h323callsigalt", "H323 Call Signal Alternate"},
    };
    // Every port both ways, over TCP and UDP alike.
    for (const Case& c : cases) {
        for (quint8 protocol : {quint8{6}, quint8{17}}) {
            const QByteArray kind = protocol == 6 ? "tcp " : "udp ";
            const QByteArray port = QByteArray::number(c.port);
            addNamed((kind + port + " as destination").constData(),
                     transport(protocol, 40000, c.port), c.name, c.info);
            addNamed((kind + port + " as source").constData(), transport(protocol, c.port, 40000),
                     c.name, c.info);
        }
    }
    addNamed("80 to 1025", transport(6, 80, 1025), "HTTP", "Hyper Text Transfer Protocol");
    addNamed("1025 to 80", transport(6, 1025, 80), "HTTP", "Hyper Text Transfer Protocol");
    addNamed("80 to 21: destination wins", transport(6, 80, 21), "FTP", "File Transfer Protocol");
    addNamed("21 to 80: destination wins", transport(6, 21, 80), "HTTP",
             "Hyper Text Transfer Protocol");
    addNamed("68 to 67", transport(17, 68, 67), "DHCP", "DHCP server");
    addNamed("67 to 68", transport(17, 67, 68), "DHCP", "DHCP client");
    addNamed("546 to 547", transport(17, 546, 547), "DHCPv6", "DHCP version 6 server");
    addNamed("20 is not listed", transport(6, 20, 1026), "TCP",
             "Source port: 20 Destination port: 1026");
    addNamed("11721 is not listed", transport(6, 11721, 1026), "TCP",
             "Source port: 11721 Destination port: 1026");
    // Rows the decoder names but the list does not.
    addNamed("995 is left unnamed", transport(6, 995, 1026), "TCP",
             "Source port: 995 Destination port: 1026");
    addNamed("unnamed 993 as destination: the source names", transport(6, 80, 993), "HTTP",
             "Hyper Text Transfer Protocol");
    addNamed("unnamed 465 both ways", transport(17, 465, 465), "UDP",
             "Source port: 465 Destination port: 465");
}

void TestClassify::ipv4OptionsAreNotSkipped() {
    // Header length 24: a router-alert option occupies 34-37, the real
    // TCP header starts at 38. The list still reads its ports at 34.
    QByteArray f = ipv4(6, 64);
    put(f, 14, {0x46});
    put(f, 34, {0x94, 0x04, 0x00, 0x00});
    put16(f, 38, 1025);
    put16(f, 40, 80);
    const ExactFrame frame(f);
    const FrameTexts t = frame.texts();
    QCOMPARE(t.protocol, QStringLiteral("TCP"));
    QCOMPARE(t.info, QStringLiteral("Source port: 37892 Destination port: 0"));
    QCOMPARE(t.source, QStringLiteral("192.168.1.20"));
    QCOMPARE(t.destination, QStringLiteral("10.0.0.255"));
    const Classification c = frame.classify();
    QCOMPARE(c.sourcePort, std::optional<std::uint16_t>(37892));
    QCOMPARE(c.destinationPort, std::optional<std::uint16_t>(0));
}

void TestClassify::timeText_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<qint64>("microseconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0 microseconds: six blanks") << qint64{1000} << qint64{0} << u"1000:      "_s;
    QTest::newRow("1 microsecond") << qint64{1000} << qint64{1} << u"1000:     1"_s;
    QTest::newRow("5 digits") << qint64{1000} << qint64{12345} << u"1000: 12345"_s;
    QTest::newRow("6 digits") << qint64{1458121398} << qint64{39582} << u"1458121398: 39582"_s;
    QTest::newRow("full width") << qint64{1} << qint64{999999} << u"1:999999"_s;
    QTest::newRow("epoch") << qint64{0} << qint64{0} << u"0:      "_s;
    QTest::newRow("wider than six") << qint64{7} << qint64{1000000} << u"7:1000000"_s;
    QTest::newRow("negative") << qint64{-1} << qint64{-20} << u"-1:   -20"_s;
    QTest::newRow("past 2038") << qint64{4102444800} << qint64{100} << u"4102444800:   100"_s;
    QTest::newRow("2 digits") << qint64{5} << qint64{10} << u"5:    10"_s;
    QTest::newRow("inner zeros") << qint64{5} << qint64{100000} << u"5:100000"_s;
    QTest::newRow("4 digits, zeros") << qint64{5} << qint64{9000} << u"5:  9000"_s;
    QTest::newRow("negative, 6 digits") << qint64{5} << qint64{-999999} << u"5:-999999"_s;
}

void TestClassify::timeText() {
    QFETCH(qint64, seconds);
    QFETCH(qint64, microseconds);
    QFETCH(QString, expected);
    QByteArray f = ether(0x86DD);
    FrameHeader h = headerFor(f, seconds, microseconds);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(f.constData());
    QCOMPARE(frameTexts(h, bytes).time, expected);
    // Where the values fit printf's int, they agree with the C library's printf.
    if (seconds >= INT_MIN && seconds <= INT_MAX) {
        char reference[64];
        std::snprintf(reference, sizeof reference, "%d:%6.0d", int(seconds), int(microseconds));
        QCOMPARE(frameTexts(h, bytes).time, QString::fromLatin1(reference));
    }
}

void TestClassify::addressTexts_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::newRow("ipv4 addresses") << transport(6, 1, 2) << u"192.168.1.20"_s << u"10.0.0.255"_s;
    QByteArray wide = ipv4(1);
    put(wide, 26, {255, 254, 100, 9});
    put(wide, 30, {0, 10, 99, 200});
    QTest::newRow("ipv4 widths") << wide << u"255.254.100.9"_s << u"0.10.99.200"_s;
    QByteArray noIhl = ipv4(1);
    QTest::newRow("ipv4 whatever the version byte")
        << put(noIhl, 14, {0x00}) << u"192.168.1.20"_s << u"10.0.0.255"_s;
    QTest::newRow("arp keeps macs") << ether(0x0806) << u"00A0C9-0B7E2F"_s << u"0180C2-000000"_s;
    QTest::newRow("ipv6 keeps macs") << ether(0x86DD) << u"00A0C9-0B7E2F"_s << u"0180C2-000000"_s;
    QTest::newRow("802.3 keeps macs")
        << llc(0x42, 0x42) << u"00A0C9-0B7E2F"_s << u"0180C2-000000"_s;
    QByteArray hex = ether(0x9000);
    hex.replace(0, 12, QByteArray::fromHex("ffffffffffff0a1bfce9d87f"));
    QTest::newRow("upper-case hex") << hex << u"0A1BFC-E9D87F"_s << u"FFFFFF-FFFFFF"_s;
}

void TestClassify::addressTexts() {
    QFETCH(QByteArray, frame);
    QFETCH(QString, source);
    QFETCH(QString, destination);
    const FrameTexts t = ExactFrame(frame).texts();
    QCOMPARE(t.source, source);
    QCOMPARE(t.destination, destination);
}

void TestClassify::shortFrames_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("info");
    QTest::addColumn<bool>("truncated");

    const QString mac1 = QStringLiteral("00A0C9-0B7E2F");
    const QString mac0 = QStringLiteral("0180C2-000000");
    const QString none = QStringLiteral("-");
    const QString ip1 = QStringLiteral("192.168.1.20");
    const QString ip0 = QStringLiteral("10.0.0.255");
    auto row = [&](const char* tag, const QByteArray& full, int length, const QString& source,
                   const QString& destination, const char* protocol, const char* info) {
        QTest::newRow(tag) << full.left(length) << source << destination
                           << QString::fromLatin1(protocol) << QString::fromLatin1(info)
                           << (QByteArrayView(info) == "Truncated");
    };
    QByteArray v4 = transport(6, 1025, 80);
    row("empty", v4, 0, none, none, "???", "Truncated");
    row("5 bytes", v4, 5, none, none, "???", "Truncated");
    row("destination only", v4, 6, none, mac0, "???", "Truncated");
    row("11 bytes", v4, 11, none, mac0, "???", "Truncated");
    row("both macs, no type", v4, 12, mac1, mac0, "???", "Truncated");
    row("half a type", v4, 13, mac1, mac0, "???", "Truncated");
    row("ipv4 without protocol", v4, 23, mac1, mac0, "IPv4", "Truncated");
    row("ipv4 protocol, no addresses", v4, 24, mac1, mac0, "TCP", "Truncated");
    row("ipv4 one address", v4, 33, mac1, mac0, "TCP", "Truncated");
    row("ipv4 no ports", v4, 34, ip1, ip0, "TCP", "Truncated");
    row("ipv4 source port only", v4, 36, ip1, ip0, "TCP", "Truncated");
    row("ipv4 ports", v4, 38, ip1, ip0, "HTTP", "Hyper Text Transfer Protocol");
    row("icmp needs no ports", ipv4(1), 34, ip1, ip0, "ICMP", "Internet Control Message Protocol");
    row("icmp without addresses", ipv4(1), 24, mac1, mac0, "ICMP",
        "Internet Control Message Protocol");
    row("ipv6 header only", ether(0x86DD), 14, mac1, mac0, "IPv6", "Internet Protocol version 6");
    row("unknown type", ether(0x9000), 14, mac1, mac0, "???", "Unknown");

    QByteArray arp = ether(0x0806);
    put(arp, 28, {1, 2, 3, 4});
    put(arp, 38, {5, 6, 7, 8});
    row("arp without target", arp, 41, mac1, mac0, "ARP", "Truncated");
    row("arp", arp, 42, mac1, mac0, "ARP", "Who is 5.6.7.8 ? Tell 1.2.3.4");
    QByteArray dec = ether(0x8038);
    put(dec, 15, {0x19});
    row("dec without message type", dec, 15, mac1, mac0, "DSTP", "Truncated");
    row("dec hello", dec, 16, mac1, mac0, "DSTP", "DEC Bridge Spanning Tree Protocol (hello)");

    row("802.3 without ssap", llc(0xFF, 0xFF), 15, mac1, mac0, "???", "Truncated");
    row("lsap needs no more", llc(0xFF, 0xFF), 16, mac1, mac0, "LSAP",
        "Link Service Advertising Protocol (Global)");
    row("unknown sap", llc(0x06, 0x06), 16, mac1, mac0, "???", "Unknown");
    row("stp without bpdu type", llc(0x42, 0x42), 20, mac1, mac0, "STP", "Truncated");
    row("stp bpdu type", llc(0x42, 0x42), 21, mac1, mac0, "STP",
        "Spanning Tree Protocol (Configuration)");
    QByteArray cdp = llc(0xAA, 0xAA);
    put(cdp, 17, {0x00, 0x00, 0x0C});
    row("snap without organization", cdp, 19, mac1, mac0, "???", "Truncated");
    row("snap organization", cdp, 20, mac1, mac0, "CDP", "Cisco Discovery Protocol");
    QByteArray ipx = llc(0xE0, 0xE0);
    put16(ipx, 33, 0x0453);
    row("ipx without socket", ipx, 34, mac1, mac0, "IPX", "Truncated");
    row("ipx socket", ipx, 35, mac1, mac0, "IPX RIP", "Internetwork Packet Exchange (RIP)");
    QByteArray nb = llc(0xF0, 0xF0);
    put(nb, 21, {0x0A});
    row("netbios without command", nb, 21, mac1, mac0, "NetBIOS", "Truncated");
    row("netbios command", nb, 22, mac1, mac0, "NetBIOS", "NetBIOS name query");
}

void TestClassify::shortFrames() {
    QFETCH(QByteArray, frame);
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(QString, protocol);
    QFETCH(QString, info);
    QFETCH(bool, truncated);
    const ExactFrame f(frame);
    const FrameTexts t = f.texts();
    QCOMPARE(t.time, QStringLiteral("1000:     1"));
    QCOMPARE(t.source, source);
    QCOMPARE(t.destination, destination);
    QCOMPARE(t.protocol, protocol);
    QCOMPARE(t.info, info);
    QCOMPARE(f.classify().truncated, truncated);
}

void TestClassify::everyPrefixIsBoundedAndConsistent() {
    // Every prefix of frames from each branch, each in an exactly-sized heap
    // block: no read past it (AddressSanitizer), and the result is either the
    // full frame's naming or marked as truncated.
    QByteArray arp = ether(0x0806, 60);
    put(arp, 28, {1, 2, 3, 4});
    QByteArray stp = llc(0x42, 0x42);
    QByteArray cdp = llc(0xAA, 0xAA);
    put(cdp, 17, {0x00, 0x00, 0x0C});
    QByteArray ipx = llc(0xE0, 0xE0);
    put16(ipx, 33, 0x0452);
    QByteArray dec = ether(0x8038);
    put(dec, 15, {0x19});
    const QByteArray frames[] = {transport(6, 1025, 1026),
                                 transport(17, 137, 53),
                                 ipv4(47),
                                 arp,
                                 stp,
                                 cdp,
                                 ipx,
                                 llc(0xF0, 0xF0),
                                 llc(0x00, 0x00),
                                 dec,
                                 ether(0x86DD, 80),
                                 ether(0x1234)};
    for (const QByteArray& full : frames) {
        const Classification whole = ExactFrame(full).classify();
        QVERIFY(!whole.truncated);
        bool wasTruncated = true;
        for (int n = 0; n <= full.size(); ++n) {
            const ExactFrame part(full.left(n));
            const Classification c = part.classify();
            const bool same = c.protocol == whole.protocol && c.info() == whole.info();
            QVERIFY2(same || c.truncated, qPrintable(QStringLiteral("%1 bytes of %2: %3 / %4")
                                                         .arg(n)
                                                         .arg(str(whole.protocol))
                                                         .arg(str(c.protocol), str(c.info()))));
            QCOMPARE(c.truncated, c.info() == "Truncated");
            // Once complete, longer captures do not change the name.
            QVERIFY2(wasTruncated || !c.truncated, qPrintable(QString::number(n)));
            wasTruncated = c.truncated;
        }
    }
}

void TestClassify::frameLine() {
    // The line holds the five list texts joined by tabs, nothing more.
    const QByteArray frames[] = {transport(6, 1025, 1026), transport(17, 68, 67), ether(0x0806),
                                 llc(0x42, 0x42),          ether(0x86DD).left(9), QByteArray()};
    const qint64 times[][2] = {{1000, 0},
                               {1458121398, 39582},
                               {-5, -3},
                               {9223372036854775807LL, -9223372036854775807LL - 1}};
    for (const QByteArray& frame : frames) {
        for (const auto& time : times) {
            FrameHeader h = headerFor(frame, time[0], time[1]);
            const ExactFrame exact(frame);
            const FrameTexts t = frameTexts(h, exact.bytes.get());
            const QString expected =
                QStringList{t.time, t.source, t.destination, t.protocol, t.info}.join(u'\t');
            char line[kMaxFrameLineLength];
            const std::size_t n = formatFrameLine(h, exact.bytes.get(), line, sizeof line);
            QCOMPARE(QString::fromLatin1(line, static_cast<qsizetype>(n)), expected);
        }
    }
}

void TestClassify::frameLineCapacity() {
    const QByteArray frame = transport(6, 1025, 1026);
    const ExactFrame exact(frame);
    char full[kMaxFrameLineLength];
    const std::size_t length = formatFrameLine(exact.header, exact.bytes.get(), full, sizeof full);
    QVERIFY(length > 0);

    // Exactly enough room works; one byte less writes nothing.
    QByteArray room(static_cast<qsizetype>(length) + 1, '#');
    QCOMPARE(formatFrameLine(exact.header, exact.bytes.get(), room.data(), length), length);
    QCOMPARE(room.left(static_cast<qsizetype>(length)),
             QByteArray(full, static_cast<qsizetype>(length)));
    QCOMPARE(room.back(), '#');
    QByteArray tooSmall(static_cast<qsizetype>(length), '#');
    QCOMPARE(formatFrameLine(exact.header, exact.bytes.get(), tooSmall.data(), length - 1),
             std::size_t{0});
    QCOMPARE(tooSmall, QByteArray(static_cast<qsizetype>(length), '#'));
}

void TestClassify::readerBounds() {
    const std::uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    const FrameReader r(bytes, sizeof bytes);
    QCOMPARE(r.be32(1), std::optional<std::uint32_t>(0x3456789A));
    QCOMPARE(r.be32(2), std::nullopt);
    QCOMPARE(r.be24(2), std::optional<std::uint32_t>(0x56789A));
    QCOMPARE(r.be16(3), std::optional<std::uint16_t>(0x789A));
    QCOMPARE(r.be16(4), std::nullopt);
    QCOMPARE(r.u8(4), std::optional<std::uint8_t>(0x9A));
    QCOMPARE(r.u8(5), std::nullopt);
    QVERIFY(!r.bytes<2>(std::size_t(-1)).has_value()); // no wrap-around
    QVERIFY(r.has(5, 0));
    QVERIFY(!r.has(6, 0));
    const FrameReader empty(nullptr, 40);
    QCOMPARE(empty.size(), std::size_t{0});
    QCOMPARE(empty.u8(0), std::nullopt);
}

// A frame cut to its first kClassifyReach bytes gives the same row as the
// whole frame: crafted frames with the fields read last, and every frame of
// the shared Ethernet captures (IPX, NetBIOS, spanning tree and the rest).
void TestClassify::cutToReachNamesAlike_data() {
    QTest::addColumn<QList<QByteArray>>("frames");
    const auto longer = [](QByteArray f) {
        // Bytes past the reach that would change the row if they were read.
        const qsizetype size = f.size();
        f.resize(400);
        for (qsizetype i = size; i < f.size(); ++i)
            f[i] = static_cast<char>(0x80 + i % 64);
        return f;
    };
    QByteArray arp = ether(0x0806, 42);
    put(arp, 28, {10, 1, 2, 3});
    put(arp, 38, {10, 9, 8, 7});
    QTest::newRow("arp, target address last") << QList<QByteArray>{longer(arp), arp};
    QTest::newRow("tcp ports") << QList<QByteArray>{longer(transport(6, 1025, 80)),
                                                    longer(transport(6, 40000, 40001))};
    QTest::newRow("at the reach") << QList<QByteArray>{
        transport(6, 1025, 80).leftJustified(static_cast<qsizetype>(kClassifyReach), '\x7f'),
        transport(6, 1025, 80).leftJustified(static_cast<qsizetype>(kClassifyReach) + 1, '\x7f')};

    const QDir dir(test::pcapDir());
    for (const QString& name : dir.entryList({u"*.pcap"_s, u"*.pcapng"_s}, QDir::Files)) {
        char errbuf[PCAP_ERRBUF_SIZE];
        pcap_t* p = pcap_open_offline(QFile::encodeName(dir.filePath(name)).constData(), errbuf);
        if (!p)
            continue;
        QList<QByteArray> frames;
        bool someCut = false; // captures of runts only are left out
        pcap_pkthdr* h;
        const u_char* bytes;
        while (pcap_datalink(p) == DLT_EN10MB && pcap_next_ex(p, &h, &bytes) == 1) {
            frames.append(QByteArray(reinterpret_cast<const char*>(bytes),
                                     static_cast<qsizetype>(h->caplen)));
            someCut = someCut || h->caplen > kClassifyReach;
        }
        pcap_close(p);
        if (someCut)
            QTest::newRow(qPrintable(name)) << frames;
    }
}

void TestClassify::cutToReachNamesAlike() {
    QFETCH(QList<QByteArray>, frames);
    for (qsizetype i = 0; i < frames.size(); ++i) {
        const ExactFrame whole(frames[i]);
        const QByteArray prefix = frames[i].left(static_cast<qsizetype>(kClassifyReach));
        ExactFrame cut(prefix);
        cut.header = whole.header;
        cut.header.capLen = static_cast<quint32>(prefix.size());
        char wholeLine[kMaxFrameLineLength];
        char cutLine[kMaxFrameLineLength];
        const std::size_t n =
            formatFrameLine(whole.header, whole.bytes.get(), wholeLine, sizeof wholeLine);
        const std::size_t m = formatFrameLine(cut.header, cut.bytes.get(), cutLine, sizeof cutLine);
        QCOMPARE(QByteArray(cutLine, static_cast<qsizetype>(m)),
                 QByteArray(wholeLine, static_cast<qsizetype>(n)));
        QCOMPARE(whole.classify().truncated, cut.classify().truncated);
    }
}

QTEST_GUILESS_MAIN(TestClassify)
#include "tst_classify.moc"
