// Conversation and endpoint tables: which frames count in which table, the
// order of A and B, address texts, the "other" row, rates and the changes a
// window picks up, and capture threads adding while a reader takes changes.

#include "core/stats/talk_tables.h"

#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

using namespace qarsilo;

namespace {

QByteArray be16(int v) {
    QByteArray b(2, 0);
    b[0] = static_cast<char>(v >> 8);
    b[1] = static_cast<char>(v);
    return b;
}

// The hex bytes with the last one set to n.
QByteArray lastByte(const char* hex, int n) {
    QByteArray b = QByteArray::fromHex(hex);
    b[b.size() - 1] = static_cast<char>(n);
    return b;
}

QByteArray mac(int n) {
    return lastByte("020000000000", n);
}

// An Ethernet frame from MAC n=1 to n=2 with these VLAN tag types before `type`.
QByteArray ether(int type, const QByteArray& payload, const QList<int>& tags = {}) {
    QByteArray f = mac(2) + mac(1);
    for (int tag : tags)
        f += be16(tag) + be16(7);
    return f + be16(type) + payload;
}

QByteArray ipv4(int proto, const QByteArray& rest, int src = 1, int dst = 2, int words = 5,
                int fragment = 0, int version = 4) {
    QByteArray h(words * 4, 0);
    h[0] = static_cast<char>(version << 4 | words);
    h.replace(2, 2, be16(int(h.size() + rest.size())));
    h.replace(6, 2, be16(fragment));
    h[8] = 64;
    h[9] = static_cast<char>(proto);
    h.replace(12, 4, lastByte("0a000000", src));
    h.replace(16, 4, lastByte("0a000000", dst));
    return h + rest;
}

QByteArray v6addr(int n) {
    return lastByte("20010db8000000000000000000000000", n);
}

QByteArray ipv6(int next, const QByteArray& rest, int src = 1, int dst = 2, int version = 6) {
    QByteArray h(8, 0);
    h[0] = static_cast<char>(version << 4);
    h.replace(4, 2, be16(int(rest.size())));
    h[6] = static_cast<char>(next);
    h[7] = 64;
    return h + v6addr(src) + v6addr(dst) + rest;
}

// Hop-by-hop, routing or destination options of 8 * (units + 1) bytes.
QByteArray ext(int next, int units) {
    QByteArray e((units + 1) * 8, 0);
    e[0] = static_cast<char>(next);
    e[1] = static_cast<char>(units);
    return e;
}

QByteArray fragment6(int next, int offset) {
    QByteArray e(8, 0);
    e[0] = static_cast<char>(next);
    e.replace(2, 2, be16(offset << 3 | 1));
    return e;
}

QByteArray ports(int source = 1024, int destination = 80) {
    return be16(source) + be16(destination) + QByteArray(16, 0);
}

const char* const kTypeNames[] = {"eth", "ip", "ipv6", "tcp", "udp"};

// Every conversation of every table, a line each: "type A B framesAB/bytesAB framesBA/bytesBA".
QStringList conversationLines(const TalkTables& t) {
    QStringList lines;
    for (int i = 0; i < kTalkTypeCount; ++i) {
        const auto type = static_cast<TalkType>(i);
        for (const ConversationRow& r : t.conversations(type))
            lines << QStringLiteral("%1 %2 %3 %4/%5 %6/%7")
                         .arg(QLatin1String(kTypeNames[i]),
                              r.isOther() ? QStringLiteral("other") : talkAddressText(r.a, type),
                              r.isOther() ? QString() : talkAddressText(r.b, type))
                         .arg(r.framesAB)
                         .arg(r.bytesAB)
                         .arg(r.framesBA)
                         .arg(r.bytesBA);
    }
    return lines;
}

QStringList endpointLines(const TalkTables& t) {
    QStringList lines;
    for (int i = 0; i < kTalkTypeCount; ++i) {
        const auto type = static_cast<TalkType>(i);
        for (const EndpointRow& r : t.endpoints(type))
            lines << QStringLiteral("%1 %2 %3/%4 %5/%6")
                         .arg(QLatin1String(kTypeNames[i]), r.isOther()
                                                                ? QStringLiteral("other")
                                                                : talkAddressText(r.address, type))
                         .arg(r.framesSent)
                         .arg(r.bytesSent)
                         .arg(r.framesReceived)
                         .arg(r.bytesReceived);
    }
    return lines;
}

void addFrame(TalkTables& t, const QByteArray& f, qint64 second, int wire = 0, int usec = 0) {
    pcap_pkthdr h{};
    h.ts.tv_sec = static_cast<time_t>(second);
    h.ts.tv_usec = usec;
    h.caplen = static_cast<bpf_u_int32>(f.size());
    h.len = static_cast<bpf_u_int32>(wire ? wire : f.size());
    t.add(h, reinterpret_cast<const std::uint8_t*>(f.constData()));
}

TalkAddress v6(const char* hex) {
    TalkAddress a;
    a.family = 6;
    const QByteArray b = QByteArray::fromHex(hex);
    std::memcpy(a.bytes.data(), b.constData(), 16);
    return a;
}

} // namespace

class TestTalkTables : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // One frame; "$" in the expected lines is its wire length.
    void frameRules_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("wire");
        QTest::addColumn<QStringList>("expected");
        const QString eth = QStringLiteral("eth 02:00:00:00:00:01 02:00:00:00:00:02 1/$ 0/0");
        const QString ip = QStringLiteral("ip 10.0.0.1 10.0.0.2 1/$ 0/0");
        const QString ip6 = QStringLiteral("ipv6 2001:db8::1 2001:db8::2 1/$ 0/0");
        const QString tcp = QStringLiteral("tcp 10.0.0.1:1024 10.0.0.2:80 1/$ 0/0");
        const QString tcp6 = QStringLiteral("tcp [2001:db8::1]:1024 [2001:db8::2]:80 1/$ 0/0");
        const QString udp6 = QStringLiteral("udp [2001:db8::1]:1024 [2001:db8::2]:80 1/$ 0/0");
        const QByteArray tcp4 = ipv4(6, ports());

        QTest::newRow("ipv4 tcp") << ether(0x0800, tcp4) << 0 << QStringList{eth, ip, tcp};
        QTest::newRow("wire above captured")
            << ether(0x0800, tcp4) << 1514 << QStringList{eth, ip, tcp};
        QTest::newRow("one tag") << ether(0x0800, tcp4, {0x8100}) << 0 << QStringList{eth, ip, tcp};
        QTest::newRow("two tags 88a8")
            << ether(0x0800, tcp4, {0x88a8, 0x8100}) << 0 << QStringList{eth, ip, tcp};
        QTest::newRow("two tags 9100")
            << ether(0x0800, tcp4, {0x9100, 0x8100}) << 0 << QStringList{eth, ip, tcp};
        QTest::newRow("three tags")
            << ether(0x0800, tcp4, {0x88a8, 0x8100, 0x8100}) << 0 << QStringList{eth};
        QTest::newRow("tag cut") << ether(0x0800, {}, {0x8100}).left(16) << 0 << QStringList{eth};
        QTest::newRow("header length 16")
            << ether(0x0800, ipv4(6, ports(), 1, 2, 4)) << 0 << QStringList{eth};
        QTest::newRow("options before tcp")
            << ether(0x0800, ipv4(6, ports(), 1, 2, 7)) << 0 << QStringList{eth, ip, tcp};
        QTest::newRow("options cut")
            << ether(0x0800, ipv4(6, {}, 1, 2, 15)).left(14 + 40) << 0 << QStringList{eth};
        QTest::newRow("version 6 in 0800")
            << ether(0x0800, ipv4(6, ports(), 1, 2, 5, 0, 6)) << 0 << QStringList{eth};
        QTest::newRow("version 4 in 86dd")
            << ether(0x86dd, ipv6(6, ports(), 1, 2, 4)) << 0 << QStringList{eth};
        QTest::newRow("ipv4 cut") << ether(0x0800, tcp4).left(14 + 19) << 60 << QStringList{eth};
        QTest::newRow("tcp ports cut")
            << ether(0x0800, tcp4).left(14 + 20 + 3) << 0 << QStringList{eth, ip};
        QTest::newRow("udp ports just there")
            << ether(0x0800, ipv4(17, ports())).left(14 + 20 + 4) << 0
            << QStringList{eth, ip, QStringLiteral("udp 10.0.0.1:1024 10.0.0.2:80 1/$ 0/0")};
        QTest::newRow("first fragment")
            << ether(0x0800, ipv4(6, ports(), 1, 2, 5, 0x2000)) << 0 << QStringList{eth, ip, tcp};
        QTest::newRow("later fragment")
            << ether(0x0800, ipv4(6, ports(), 1, 2, 5, 0x2000 | 185)) << 0 << QStringList{eth, ip};
        QTest::newRow("last fragment")
            << ether(0x0800, ipv4(17, ports(), 1, 2, 5, 3)) << 0 << QStringList{eth, ip};
        QTest::newRow("ipv6 tcp") << ether(0x86dd, ipv6(6, ports())) << 0
                                  << QStringList{eth, ip6, tcp6};
        QTest::newRow("ipv6 cut") << ether(0x86dd, ipv6(6, {})).left(14 + 39) << 0
                                  << QStringList{eth};
        QTest::newRow("ipv6 hop routing dstopts")
            << ether(0x86dd, ipv6(0, ext(43, 0) + ext(60, 2) + ext(6, 1) + ports())) << 0
            << QStringList{eth, ip6, tcp6};
        QByteArray chain;
        for (int n = 0; n < 24; ++n)
            chain += ext(n < 23 ? 60 : 17, 0);
        QTest::newRow("ipv6 24 options headers")
            << ether(0x86dd, ipv6(60, chain + ports())) << 0 << QStringList{eth, ip6, udp6};
        QTest::newRow("ipv6 options cut before ports")
            << ether(0x86dd, ipv6(0, ext(6, 1) + ports())).left(14 + 40 + 16 + 3) << 0
            << QStringList{eth, ip6};
        QByteArray ah(16, 0);
        ah[0] = 6;
        ah[1] = 2; // (2 + 2) * 4 bytes
        QTest::newRow("ipv6 ah") << ether(0x86dd, ipv6(51, ah + ports())) << 0
                                 << QStringList{eth, ip6, tcp6};
        QTest::newRow("ipv6 esp") << ether(0x86dd, ipv6(50, ports())) << 0 << QStringList{eth, ip6};
        QTest::newRow("ipv6 first fragment") << ether(0x86dd, ipv6(44, fragment6(17, 0) + ports()))
                                             << 0 << QStringList{eth, ip6, udp6};
        QTest::newRow("ipv6 later fragment")
            << ether(0x86dd, ipv6(44, fragment6(17, 100) + ports())) << 0 << QStringList{eth, ip6};
        QTest::newRow("arp") << ether(0x0806, QByteArray(28, 0)) << 0 << QStringList{eth};
        QTest::newRow("ethernet cut") << ether(0x0800, tcp4).left(13) << 0 << QStringList{};
        // B's side is lower: B to A. Same address: the lower port is A.
        QTest::newRow("higher source")
            << ether(0x0800, ipv4(6, ports(), 2, 1)) << 0
            << QStringList{eth, QStringLiteral("ip 10.0.0.1 10.0.0.2 0/0 1/$"),
                           QStringLiteral("tcp 10.0.0.1:80 10.0.0.2:1024 0/0 1/$")};
        QTest::newRow("same address, ports")
            << ether(0x0800, ipv4(17, ports(9000, 53), 1, 1)) << 0
            << QStringList{eth, QStringLiteral("ip 10.0.0.1 10.0.0.1 1/$ 0/0"),
                           QStringLiteral("udp 10.0.0.1:53 10.0.0.1:9000 0/0 1/$")};
        QTest::newRow("lower address, higher port")
            << ether(0x0800, ipv4(6, ports(65000, 80), 1, 2)) << 0
            << QStringList{eth, ip, QStringLiteral("tcp 10.0.0.1:65000 10.0.0.2:80 1/$ 0/0")};
        QByteArray self = ether(0x0800, ipv4(17, ports(53, 53), 3, 3));
        self.replace(0, 6, mac(1));
        QTest::newRow("to itself")
            << self << 0
            << QStringList{QStringLiteral("eth 02:00:00:00:00:01 02:00:00:00:00:01 1/$ 0/0"),
                           QStringLiteral("ip 10.0.0.3 10.0.0.3 1/$ 0/0"),
                           QStringLiteral("udp 10.0.0.3:53 10.0.0.3:53 1/$ 0/0")};
    }
    void frameRules() {
        QFETCH(QByteArray, frame);
        QFETCH(int, wire);
        QFETCH(QStringList, expected);
        TalkTables tables;
        addFrame(tables, frame, 1'700'000'000, wire);
        const QString length = QString::number(wire ? wire : frame.size());
        for (QString& e : expected)
            e.replace(QLatin1Char('$'), length);
        QCOMPARE(conversationLines(tables), expected);
        // The endpoints follow the same reading: a sender and a receiver per
        // counted frame (one endpoint both when it is its own receiver).
        for (int i = 0; i < kTalkTypeCount; ++i) {
            const auto type = static_cast<TalkType>(i);
            std::uint64_t sent = 0, received = 0, bytes = 0;
            for (const EndpointRow& r : tables.endpoints(type)) {
                sent += r.framesSent;
                received += r.framesReceived;
                bytes += r.bytesSent;
            }
            const bool counted = tables.rowCount(type, true) == 1;
            QCOMPARE(sent, counted ? 1u : 0u);
            QCOMPARE(received, counted ? 1u : 0u);
            QCOMPARE(bytes, counted ? length.toULongLong() : 0u);
        }
    }

    void endpoints() {
        TalkTables tables;
        QByteArray self = ether(0x0800, ipv4(17, ports(53, 53), 3, 3));
        self.replace(0, 6, mac(1));
        addFrame(tables, self, 100, 200);
        addFrame(tables, ether(0x0800, ipv4(6, ports(), 1, 2)), 101, 300);
        addFrame(tables, ether(0x0800, ipv4(6, ports(80, 1024), 2, 1)), 102, 50);
        QCOMPARE(endpointLines(tables),
                 (QStringList{QStringLiteral("eth 02:00:00:00:00:01 3/550 1/200"),
                              QStringLiteral("eth 02:00:00:00:00:02 0/0 2/350"),
                              QStringLiteral("ip 10.0.0.3 1/200 1/200"),
                              QStringLiteral("ip 10.0.0.1 1/300 1/50"),
                              QStringLiteral("ip 10.0.0.2 1/50 1/300"),
                              QStringLiteral("tcp 10.0.0.1:1024 1/300 1/50"),
                              QStringLiteral("tcp 10.0.0.2:80 1/50 1/300"),
                              QStringLiteral("udp 10.0.0.3:53 1/200 1/200")}));
        const std::vector<EndpointRow> rows = tables.endpoints(TalkType::Ethernet);
        QCOMPARE(rows[0].firstUsec, 100'000'000);
        QCOMPARE(rows[0].lastUsec, 102'000'000);
    }

    void addressText_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("text");
        const int v6 = int(TalkType::IPv6);
        QTest::newRow("one") << v6 << QByteArray("20010db8000000000000000000000001") << 0
                             << "2001:db8::1";
        QTest::newRow("all zero") << v6 << QByteArray(32, '0') << 0 << "::";
        QTest::newRow("loopback") << v6 << QByteArray("00000000000000000000000000000001") << 0
                                  << "::1";
        QTest::newRow("trailing run")
            << v6 << QByteArray("00010000000000000000000000000000") << 0 << "1::";
        QTest::newRow("one zero group stays")
            << v6 << QByteArray("20010db8000000010001000100010001") << 0 << "2001:db8:0:1:1:1:1:1";
        QTest::newRow("longest run")
            << v6 << QByteArray("20010000000000010000000000000001") << 0 << "2001:0:0:1::1";
        QTest::newRow("first of equal runs")
            << v6 << QByteArray("20010db8000000000001000000000001") << 0 << "2001:db8::1:0:0:1";
        QTest::newRow("lower case, no leading zeros")
            << v6 << QByteArray("FE80000000000000020AB0FFFE0C0D0E") << 0
            << "fe80::20a:b0ff:fe0c:d0e";
        QTest::newRow("ipv4-mapped in hex")
            << v6 << QByteArray("00000000000000000000ffff0a000001") << 0 << "::ffff:a00:1";
        QTest::newRow("mac") << int(TalkType::Ethernet) << QByteArray("000A0b0c0DfF") << 0
                             << "00:0a:0b:0c:0d:ff";
        QTest::newRow("ipv4") << int(TalkType::IPv4) << QByteArray("c0a800ff") << 0
                              << "192.168.0.255";
        QTest::newRow("tcp ipv4") << int(TalkType::Tcp) << QByteArray("0a000001") << 65535
                                  << "10.0.0.1:65535";
        QTest::newRow("udp ipv6") << int(TalkType::Udp)
                                  << QByteArray("20010db8000000000000000000000001") << 0
                                  << "[2001:db8::1]:0";
    }
    void addressText() {
        QFETCH(int, type);
        QFETCH(QByteArray, hex);
        QFETCH(int, port);
        QFETCH(QString, text);
        TalkAddress a;
        const QByteArray bytes = QByteArray::fromHex(hex);
        a.family = bytes.size() == 16 ? 6 : bytes.size() == 4 ? 4 : 0;
        std::memcpy(a.bytes.data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
        a.port = static_cast<std::uint16_t>(port);
        QCOMPARE(talkAddressText(a, static_cast<TalkType>(type)), text);
    }

    // Sorted by total bytes, then A and B in byte order, IPv4 before IPv6.
    void order() {
        TalkTables tables;
        addFrame(tables, ether(0x86dd, ipv6(6, ports(1, 2), 9, 8)), 1, 100);
        addFrame(tables, ether(0x0800, ipv4(6, ports(5, 6), 7, 3)), 1, 100);
        addFrame(tables, ether(0x0800, ipv4(6, ports(5, 6), 3, 4)), 1, 100);
        addFrame(tables, ether(0x0800, ipv4(6, ports(5, 6), 250, 4)), 1, 101);
        addFrame(tables, ether(0x0800, ipv4(6, ports(1, 2), 3, 4)), 1, 100);
        QStringList texts;
        for (const ConversationRow& r : tables.conversations(TalkType::Tcp))
            texts << talkAddressText(r.a, TalkType::Tcp) + QLatin1Char(' ') +
                         talkAddressText(r.b, TalkType::Tcp);
        QCOMPARE(texts, (QStringList{QStringLiteral("10.0.0.4:6 10.0.0.250:5"),
                                     QStringLiteral("10.0.0.3:1 10.0.0.4:2"),
                                     QStringLiteral("10.0.0.3:5 10.0.0.4:6"),
                                     QStringLiteral("10.0.0.3:6 10.0.0.7:5"),
                                     QStringLiteral("[2001:db8::8]:2 [2001:db8::9]:1")}));
        QVERIFY(v6("20010db8000000000000000000000001") < v6("20010db8000000000000000000000002"));
    }

    // Three rows at most: the least recently active one goes to "other".
    void otherRow() {
        TalkTables::Options o;
        o.rowLimit = 3;
        TalkTables tables(o);
        const auto conv = [](int src, int dst) {
            return ether(0x0800, ipv4(17, ports(), src, dst));
        };
        addFrame(tables, conv(1, 2), 10, 100);
        addFrame(tables, conv(1, 3), 11, 200);
        addFrame(tables, conv(1, 4), 12, 300);
        addFrame(tables, conv(2, 1), 13, 400); // 1-2 active again: 1-3 is the oldest
        const TalkChanges<ConversationRow> first = tables.conversationChanges(TalkType::IPv4);
        QCOMPARE(first.ids.size(), 3u);
        QVERIFY(first.folded.empty());
        std::uint32_t id13 = 0;
        for (std::size_t i = 0; i < first.ids.size(); ++i)
            if (talkAddressText(first.rows[i].b, TalkType::IPv4) == QLatin1String("10.0.0.3"))
                id13 = first.ids[i];

        addFrame(tables, conv(1, 5), 14, 50);
        QCOMPARE(tables.rowCount(TalkType::IPv4, true), 4u); // three and "other"
        QVERIFY(tables.rowCount(TalkType::Udp, false) <= 4u);
        QCOMPARE(conversationLines(tables).filter(QStringLiteral("ip ")),
                 (QStringList{QStringLiteral("ip 10.0.0.1 10.0.0.2 1/100 1/400"),
                              QStringLiteral("ip 10.0.0.1 10.0.0.4 1/300 0/0"),
                              QStringLiteral("ip 10.0.0.1 10.0.0.5 1/50 0/0"),
                              QStringLiteral("ip other  1/200 0/0")}));
        const std::vector<ConversationRow> rows = tables.conversations(TalkType::IPv4);
        QCOMPARE(rows.back().foldedRows, 1u);
        QCOMPARE(rows.back().firstUsec, 11'000'000);

        const TalkChanges<ConversationRow> second = tables.conversationChanges(TalkType::IPv4);
        QCOMPARE(second.folded, std::vector<std::uint32_t>{id13});
        QCOMPARE(second.ids.size(), 2u); // the new row and "other"
        QVERIFY(std::find(second.ids.begin(), second.ids.end(), kOtherRowId) != second.ids.end());

        // Totals stay whole past the limit: 100 more rows, four kept.
        std::uint64_t bytes = 0;
        for (int n = 0; n < 100; ++n)
            addFrame(tables, conv(20, 30 + n), 20 + n, 60);
        for (const ConversationRow& r : tables.conversations(TalkType::IPv4))
            bytes += r.bytesAB + r.bytesBA;
        QCOMPARE(bytes, 100u + 400 + 200 + 300 + 50 + 100 * 60);
        QCOMPARE(tables.conversations(TalkType::IPv4).back().foldedRows, 101u);
        QCOMPARE(tables.rowCount(TalkType::IPv4, true), 4u);
    }

    void changes() {
        TalkTables tables;
        const QByteArray a = ether(0x0800, ipv4(17, ports(), 1, 2));
        const QByteArray b = ether(0x0800, ipv4(17, ports(), 1, 3));
        addFrame(tables, a, 10);
        addFrame(tables, b, 10);
        TalkChanges<EndpointRow> c = tables.endpointChanges(TalkType::IPv4);
        QCOMPARE(c.ids.size(), 3u);
        QVERIFY(!c.cleared);
        std::map<QString, std::uint32_t> ids;
        for (std::size_t i = 0; i < c.ids.size(); ++i)
            ids[talkAddressText(c.rows[i].address, TalkType::IPv4)] = c.ids[i];
        QVERIFY(tables.endpointChanges(TalkType::IPv4).ids.empty()); // nothing since

        addFrame(tables, b, 11);
        addFrame(tables, b, 11);
        c = tables.endpointChanges(TalkType::IPv4);
        std::vector<std::uint32_t> got = c.ids;
        std::sort(got.begin(), got.end());
        std::vector<std::uint32_t> want{ids[QStringLiteral("10.0.0.1")],
                                        ids[QStringLiteral("10.0.0.3")]};
        std::sort(want.begin(), want.end());
        QCOMPARE(got, want); // same ids, each once
        for (std::size_t i = 0; i < c.ids.size(); ++i)
            if (c.ids[i] == ids[QStringLiteral("10.0.0.3")])
                QCOMPARE(c.rows[i].framesReceived, 3u);

        tables.clear();
        QCOMPARE(tables.rowCount(TalkType::IPv4, false), 0u);
        c = tables.endpointChanges(TalkType::IPv4);
        QVERIFY(c.cleared);
        QVERIFY(c.ids.empty());
        addFrame(tables, a, 12);
        c = tables.endpointChanges(TalkType::IPv4);
        QVERIFY(!c.cleared);
        QCOMPARE(c.ids.size(), 2u);
    }

    // Frames of 1000, 500 and 250 bytes at seconds 100, 101 and 105.
    void rates_data() {
        QTest::addColumn<qint64>("advance");
        QTest::addColumn<QList<qulonglong>>("bits");
        QTest::newRow("before the first second ends") << qint64(100) << QList<qulonglong>{0, 0, 0};
        QTest::newRow("one second") << qint64(101) << QList<qulonglong>{8000, 8000, 8000};
        QTest::newRow("two seconds") << qint64(102) << QList<qulonglong>{6000, 6000, 6000};
        QTest::newRow("six seconds") << qint64(106) << QList<qulonglong>{1000, 2333, 2333};
        QTest::newRow("ten seconds") << qint64(110) << QList<qulonglong>{0, 1400, 1400};
        QTest::newRow("long after") << qint64(141) << QList<qulonglong>{0, 0, 150};
        QTest::newRow("gone") << qint64(146) << QList<qulonglong>{0, 0, 0};
    }
    void rates() {
        QFETCH(qint64, advance);
        QFETCH(QList<qulonglong>, bits);
        TalkTables tables;
        const QByteArray f = ether(0x0800, ipv4(6, ports()));
        addFrame(tables, f, 100, 1000);
        addFrame(tables, f, 101, 500, 999'999);
        addFrame(tables, f, 105, 250);
        tables.conversationChanges(TalkType::Tcp);
        tables.advanceTo(advance);
        const ConversationRow row = tables.conversations(TalkType::Tcp).at(0);
        const EndpointRow end = tables.endpoints(TalkType::Ethernet).at(0);
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(row.bitsPerSecond[std::size_t(k)], bits[k]);
            QCOMPARE(end.bitsPerSecond[std::size_t(k)], bits[k]);
        }
        // A row whose rates moved is a changed row.
        const bool moved = advance > 100 && advance < 146;
        QCOMPARE(tables.conversationChanges(TalkType::Tcp).ids.size(), moved ? 1u : 0u);

        // Advanced once a second as the frames come, the sums kept from one
        // second to the next come to the same.
        TalkTables stepped;
        for (qint64 second = 100; second <= advance; ++second) {
            stepped.advanceTo(second);
            if (second == 100)
                addFrame(stepped, f, 100, 1000);
            if (second == 101)
                addFrame(stepped, f, 101, 500, 999'999);
            if (second == 105)
                addFrame(stepped, f, 105, 250);
        }
        const ConversationRow steppedRow = stepped.conversations(TalkType::Tcp).at(0);
        for (int k = 0; k < 3; ++k)
            QCOMPARE(steppedRow.bitsPerSecond[std::size_t(k)], bits[k]);
    }

    // A folded row's rate history goes with it into "other".
    void otherRates() {
        TalkTables::Options o;
        o.rowLimit = 1;
        o.types = 1u << int(TalkType::IPv4);
        TalkTables tables(o);
        addFrame(tables, ether(0x0800, ipv4(6, ports(), 1, 2)), 100, 1000);
        addFrame(tables, ether(0x0800, ipv4(6, ports(), 1, 3)), 101, 500);
        tables.advanceTo(102);
        const std::vector<ConversationRow> rows = tables.conversations(TalkType::IPv4);
        QCOMPARE(rows.size(), 2u);
        QCOMPARE(rows[0].bitsPerSecond[0], 500u * 8 / 2);
        QVERIFY(rows[1].isOther());
        QCOMPARE(rows[1].bitsPerSecond[0], 1000u * 8 / 2);
    }

    // Two capture threads add while the interface thread takes changes; the
    // rows picked up end with the full counts.
    void threads() {
        TalkTables::Options o;
        o.rowLimit = 50;
        TalkTables tables(o);
        constexpr int kFrames = 20000;
        std::atomic<int> running{2};
        const auto capture = [&](int base) {
            for (int n = 0; n < kFrames; ++n)
                addFrame(tables, ether(0x0800, ipv4(17, ports(), base, n % 40 + 100)), n / 1000,
                         100);
            --running;
        };
        std::thread a(capture, 1), b(capture, 2);
        std::map<std::uint32_t, ConversationRow> seen;
        const auto pick = [&] {
            TalkChanges<ConversationRow> c = tables.conversationChanges(TalkType::IPv4);
            for (std::uint32_t id : c.folded)
                seen.erase(id);
            for (std::size_t i = 0; i < c.ids.size(); ++i)
                seen[c.ids[i]] = c.rows[i];
            tables.advanceTo(1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        while (running)
            pick();
        a.join();
        b.join();
        pick();
        std::uint64_t frames = 0;
        for (const auto& [id, r] : seen)
            frames += r.framesAB + r.framesBA;
        QCOMPARE(frames, std::uint64_t(2 * kFrames));
        QCOMPARE(seen.size(), tables.rowCount(TalkType::IPv4, true));
    }
};

QTEST_GUILESS_MAIN(TestTalkTables)
#include "tst_talk_tables.moc"
