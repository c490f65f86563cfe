// Autodiscovery without a window: NetBIOS decoding and frame layouts, the
// local-range selection, the linear duplicate pass against a plain quadratic
// one, the buffer's compaction, and compare and save over a real database.

#include "core/discovery/discovery_database.h"
#include "core/discovery/discovery_store.h"
#include "core/discovery/discovery_tables.h"
#include "core/discovery/oui_table.h"
#include "core/discovery/reverse_lookup.h"
#include "support/address_test_util.h"
#include "support/discovery_test_util.h"
#include "support/duplicate_oracle.h"
#include "support/test_util.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>
#include <memory>

using namespace qarsilo;
using namespace qarsilo::test;

Q_DECLARE_METATYPE(qarsilo::NodeRecord)
Q_DECLARE_METATYPE(qarsilo::DiscoveredNode)

namespace {

// A label's bytes as a MAC: distinct labels of up to six characters give
// distinct MACs; a label of six hex pairs is that MAC.
MacBytes macOf(const char* label) {
    MacBytes mac{};
    const QByteArray text(label);
    if (text.count(':') == 5) {
        const QList<QByteArray> pairs = text.split(':');
        for (int i = 0; i < 6; ++i)
            mac[static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(pairs[i].toUInt(nullptr, 16));
        return mac;
    }
    for (qsizetype i = 0; i < text.size() && i < 6; ++i)
        mac[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(text[i]);
    return mac;
}

// A dotted address, or a short label as an address of its own; "-" is unknown.
std::optional<std::uint32_t> ipOfLabel(const char* label) {
    const QByteArray text(label);
    if (text == "-")
        return std::nullopt;
    std::uint32_t ip = 0;
    if (text.count('.') == 3) {
        for (const QByteArray& part : text.split('.'))
            ip = (ip << 8) | part.toUInt();
        return ip;
    }
    ip = 10;
    for (qsizetype i = 0; i < text.size() && i < 3; ++i)
        ip = (ip << 8) | static_cast<std::uint8_t>(text[i]);
    return ip;
}

std::optional<QString> fieldOf(const char* text) {
    if (QByteArray(text) == "-")
        return std::nullopt;
    return QString::fromUtf8(text);
}

// Local time as the "DATE" column shows it.
std::int64_t at(int y, int mo, int d, int h) {
    return QDateTime(QDate(y, mo, d), QTime(h, 0)).toSecsSinceEpoch();
}

// A node row; "-" is an unknown field.
DiscoveredNode row(const char* mac, const char* ip, const char* name = "-", const char* wg = "-",
                   std::int64_t time = 0, const char* domain = "-",
                   NodeMark mark = NodeMark::None) {
    DiscoveredNode n;
    n.mac = macOf(mac);
    n.ip = ipOfLabel(ip);
    n.name = fieldOf(name);
    n.workgroup = fieldOf(wg);
    n.domainName = fieldOf(domain);
    n.time = time;
    n.mark = mark;
    return n;
}

// An owned buffer of exactly the frame's length, so that a read past it is caught.
std::unique_ptr<std::uint8_t[]> exact(const QByteArray& f) {
    auto b = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(f.size()));
    std::memcpy(b.get(), f.constData(), static_cast<std::size_t>(f.size()));
    return b;
}

NodeRecord rec(std::initializer_list<const char*> texts) {
    return NodeRecord::fromTexts(words(texts));
}

IpEnd end(std::uint8_t macLast, std::uint32_t ip) {
    IpEnd e;
    e.mac = {0, 1, 2, 3, 4, macLast};
    e.ip = ip;
    e.time = 1000;
    return e;
}

constexpr std::uint32_t ipOf(int a, int b, int c, int d) {
    return (std::uint32_t(a) << 24) | (std::uint32_t(b) << 16) | (std::uint32_t(c) << 8) |
           std::uint32_t(d);
}

} // namespace

class TestDiscoveryCore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { DiscoveryStore::instance().resetForTests(); }

    void netbiosNames_data() {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QByteArray>("decoded");
        QTest::newRow("padded") << encodeNetbiosName("DJP95S0J", 0x00) << QByteArray("DJP95S0J");
        QTest::newRow("15 chars keep suffix")
            << encodeNetbiosName("ABCDEFGHIJKLMNO", 0x1e) << QByteArray("ABCDEFGHIJKLMNO\x1e");
        QTest::newRow("15 chars suffix 0")
            << encodeNetbiosName("ABCDEFGHIJKLMNO", 0x00) << QByteArray("ABCDEFGHIJKLMNO");
        QTest::newRow("blank inside stops") << encodeNetbiosName("MY PC", 0x20) << QByteArray("MY");
        // Letters outside A-P still decode by the 8-bit rule: 'Q','B' gives 0x01.
        QTest::newRow("outside A-P")
            << QByteArray("QB").append(encodeNetbiosName("", 0).mid(2)) << QByteArray("\x01");
    }
    void netbiosNames() {
        QFETCH(QByteArray, encoded);
        QFETCH(QByteArray, decoded);
        QCOMPARE(encoded.size(), 32);
        QCOMPARE(decodeNetbiosName(reinterpret_cast<const std::uint8_t*>(encoded.constData())),
                 decoded);
    }

    // Frames the NetBIOS parser must take or leave, each in a buffer of its own length.
    void netbiosFrames_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("name"); // empty: ignored
        QTest::addColumn<QString>("workgroup");
        const QByteArray src = encodeNetbiosName("HOST1", 0);
        const QByteArray wg = encodeNetbiosName("WORKGROUP", 0x1e);
        const QByteArray good = netbiosFrame(1, ipOf(192, 168, 1, 5), src, wg);
        QTest::newRow("datagram") << good << QStringLiteral("HOST1") << QStringLiteral("WORKGROUP");
        QByteArray browse = good;
        browse[91] = 'A';
        browse[92] = 'B';
        QTest::newRow("AB rule") << browse << QString() << QString();
        QTest::newRow("one byte short") << good.left(122) << QString() << QString();
        QTest::newRow("exactly 123")
            << good.left(123) << QStringLiteral("HOST1") << QStringLiteral("WORKGROUP");
        QByteArray options = good;
        options[14] = '\x46';
        QTest::newRow("ipv4 options") << options << QString() << QString();
        QByteArray tcp = good;
        tcp[23] = 6;
        QTest::newRow("tcp port 138") << tcp << QString() << QString();
        QByteArray vlan = good;
        vlan.insert(12, QByteArray("\x81\x00\x00\x05", 4));
        QTest::newRow("vlan tag") << vlan << QString() << QString();
        QTest::newRow("tiny") << good.left(20) << QString() << QString();
    }
    void netbiosFrames() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, name);
        QFETCH(QString, workgroup);
        const auto bytes = exact(frame);
        const auto s = parseNetbiosFrame(bytes.get(), static_cast<std::size_t>(frame.size()));
        QCOMPARE(s.has_value(), !name.isEmpty());
        if (s) {
            QCOMPARE(s->name, name);
            QCOMPARE(s->workgroup, workgroup);
            QCOMPARE(discoveryIpText(s->ip), QStringLiteral("192.168.1.5"));
        }
        // IP listening reads the same frame's addresses unless it is no IPv4 frame.
        const bool ipv4 = frame.size() >= 34 && frame[12] == '\x08' && frame[13] == '\x00';
        QCOMPARE(parseIpFrame(bytes.get(), static_cast<std::size_t>(frame.size())).has_value(),
                 ipv4);
    }

    void localRanges_data() {
        QTest::addColumn<quint32>("src");
        QTest::addColumn<quint32>("dst");
        QTest::addColumn<QStringList>("ranges");
        QTest::addColumn<QStringList>("ips");
        const QStringList local = words({"192.168.1.0"});
        QTest::newRow("both local") << ipOf(192, 168, 1, 5) << ipOf(192, 168, 1, 9) << local
                                    << words({"192.168.1.5", "192.168.1.9"});
        QTest::newRow("remote end")
            << ipOf(192, 168, 1, 5) << ipOf(10, 0, 0, 1) << local << words({"192.168.1.5"});
        QTest::newRow("both remote")
            << ipOf(10, 0, 0, 1) << ipOf(10, 0, 0, 2) << local << QStringList();
        QTest::newRow("broadcast end") << ipOf(192, 168, 1, 5) << ipOf(192, 168, 1, 255) << local
                                       << words({"192.168.1.5", "192.168.1.255"});
        QTest::newRow("range twice")
            << ipOf(10, 0, 0, 1) << ipOf(192, 168, 1, 7) << words({"192.168.1.0", "192.168.1.0"})
            << words({"192.168.1.7", "192.168.1.7"});
        QTest::newRow("other form") << ipOf(192, 168, 1, 5) << ipOf(192, 168, 1, 6)
                                    << words({"192.168.1.1", "192.168.001.0"}) << QStringList();
    }
    void localRanges() {
        QFETCH(quint32, src);
        QFETCH(quint32, dst);
        QFETCH(QStringList, ranges);
        QFETCH(QStringList, ips);
        const QList<DiscoveredNode> nodes = selectLocalNodes({end(1, src), end(2, dst)}, ranges);
        QStringList got;
        for (const DiscoveredNode& n : nodes) {
            const QStringList r = discoveredNodeTexts(n);
            QCOMPARE(r.size(), 9);
            QCOMPARE(r[CellSubnet],
                     r[CellIp].section(QLatin1Char('.'), 0, 2) + QStringLiteral(".0"));
            got << r[CellIp];
        }
        QCOMPARE(got, ips);
    }

    // The linear pass against the quadratic one: rows left, marks, and the
    // questions in the same order with the same rows.
    void passAgainstOracle_data() {
        QTest::addColumn<QList<DiscoveredNode>>("rows");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("left");
        QList<DiscoveredNode> five;
        for (int i = 0; i < 5; ++i)
            five << row("m", "1.1.1.1", "N", "W", 7);
        const int nb = int(DiscoveryMode::NetBios);
        const int ip = int(DiscoveryMode::Ip);
        QTest::newRow("five identical") << five << nb << true << 1;
        const QList<DiscoveredNode> maa{row("M", "a"), row("M", "a"), row("M", "b")};
        QTest::newRow("(M,a),(M,a),(M,b) marked") << maa << ip << true << 2;
        QTest::newRow("(M,a),(M,a),(M,b) answered No") << maa << ip << false << 2;
        QTest::newRow("two names")
            << QList<DiscoveredNode>{row("M", "a", "N1", "W"), row("M", "a", "N2", "W")} << nb
            << true << 2;
        QTest::newRow("name on two MACs")
            << QList<DiscoveredNode>{row("M1", "a", "N", "W"), row("M2", "b", "N", "W")} << nb
            << true << 2;
        QTest::newRow("a b a") << QList<DiscoveredNode>{row("M", "a"), row("X", "q"), row("M", "b"),
                                                        row("M", "a"), row("M", "a")}
                               << ip << true << 4;
        QTest::newRow("empty") << QList<DiscoveredNode>{} << nb << true << 0;
        // An unknown name is no empty name: the second row is another sighting.
        QTest::newRow("unknown and empty name")
            << QList<DiscoveredNode>{row("M", "a", "-", "W"), row("M", "a", "", "W"),
                                     row("M", "a", "", "W")}
            << nb << true << 2;
    }
    void passAgainstOracle() {
        QFETCH(QList<DiscoveredNode>, rows);
        QFETCH(int, mode);
        QFETCH(bool, answer);
        QFETCH(int, left);
        const auto m = DiscoveryMode(mode);
        QList<DiscoveredNode> expected = rows;
        const QList<OracleQuestion> asked = oraclePass(expected, m, [answer] { return answer; });
        QList<OracleQuestion> seen;
        const QList<DiscoveryConflict> conflicts =
            clearDuplicates(rows, m, [&](const DiscoveredNode& a, const DiscoveredNode& b) {
                seen.append({a, b});
                return answer;
            });
        QCOMPARE(rows, expected);
        QCOMPARE(rows.size(), left);
        QCOMPARE(seen.size(), asked.size());
        QCOMPARE(conflicts.size(), asked.size());
        for (int i = 0; i < seen.size(); ++i) {
            QCOMPARE(seen[i].earlier.ip, asked[i].earlier.ip);
            QCOMPARE(seen[i].later.ip, asked[i].later.ip);
            QCOMPARE(seen[i].later.name, asked[i].later.name);
        }
    }

    void passRandomLists() {
        // Seeded, so that a failing list can be made again.
        QRandomGenerator generator(20261207);
        auto* rng = &generator;
        for (int round = 0; round < 300; ++round) {
            const auto m = round % 2 ? DiscoveryMode::Ip : DiscoveryMode::NetBios;
            QList<DiscoveredNode> rows;
            const int n = int(rng->bounded(60));
            for (int i = 0; i < n; ++i) {
                const QByteArray mac = QByteArray::number(rng->bounded(4));
                const QByteArray ip = QByteArray::number(rng->bounded(3));
                const QByteArray name = QByteArray::number(rng->bounded(2));
                rows << row(mac.constData(), ip.constData(), name.constData(), "W", i);
            }
            QList<DiscoveredNode> expected = rows;
            int answers = 0;
            oraclePass(expected, m, [&answers] { return ++answers % 3 != 0; });
            int mine = 0;
            clearDuplicates(rows, m, [&mine](const DiscoveredNode&, const DiscoveredNode&) {
                return ++mine % 3 != 0;
            });
            QCOMPARE(rows, expected);
            QCOMPARE(mine, answers);
        }
    }

    // The texts of the list and the CLI: unknown is "-", an empty text stays
    // empty, the marks have their words.
    void nodeTexts_data() {
        QTest::addColumn<DiscoveredNode>("node");
        QTest::addColumn<QStringList>("texts");
        NetbiosRecord r;
        r.sighting.mac = {0x00, 0x04, 0x23, 0x57, 0xa5, 0x7a};
        r.sighting.ip = ipOf(192, 168, 1, 249);
        r.sighting.name = QStringLiteral("DJP95S0J");
        r.sighting.workgroup = QStringLiteral("ARBEITSGRUPPE");
        r.time = 1080055048;
        const QString date = discoveryDateText(1080055048);
        QTest::newRow("netbios") << netbiosNode(r)
                                 << QStringList{QStringLiteral("-"),
                                                QStringLiteral("00:04:23:57:a5:7a"),
                                                QStringLiteral("192.168.1.249"),
                                                QStringLiteral("DJP95S0J"),
                                                QStringLiteral("ARBEITSGRUPPE"),
                                                QStringLiteral("-"),
                                                date,
                                                QStringLiteral("192.168.1.0"),
                                                QStringLiteral("-")};
        QTest::newRow("ip end") << ipNode(end(9, ipOf(10, 1, 2, 3)))
                                << words({"-", "00:01:02:03:04:09", "10.1.2.3", "-", "-", "-"}) +
                                       QStringList{discoveryDateText(1000)} +
                                       words({"10.1.2.0", "-"});
        r.sighting.name.clear();
        r.sighting.workgroup.clear();
        DiscoveredNode empty = netbiosNode(r);
        empty.domainName = QStringLiteral("pc.lan");
        empty.mark = NodeMark::Suspicious;
        QTest::newRow("empty names, marked") << empty
                                             << QStringList{QStringLiteral("-"),
                                                            QStringLiteral("00:04:23:57:a5:7a"),
                                                            QStringLiteral("192.168.1.249"),
                                                            QString(),
                                                            QString(),
                                                            QStringLiteral("pc.lan"),
                                                            date,
                                                            QStringLiteral("192.168.1.0"),
                                                            QStringLiteral("Virus??")};
        DiscoveredNode router = ipNode(end(9, ipOf(10, 1, 2, 3)));
        router.mark = NodeMark::Router;
        QTest::newRow("router") << router
                                << words({"-", "00:01:02:03:04:09", "10.1.2.3", "-", "-", "-"}) +
                                       QStringList{discoveryDateText(1000)} +
                                       words({"10.1.2.0", "Router/MultiIP"});
        router.ip.reset();
        QTest::newRow("unknown address")
            << router
            << words({"-", "00:01:02:03:04:09", "-", "-", "-", "-"}) +
                   QStringList{discoveryDateText(1000)} + words({"-", "Router/MultiIP"});
    }
    void nodeTexts() {
        QFETCH(DiscoveredNode, node);
        QFETCH(QStringList, texts);
        QCOMPARE(discoveredNodeTexts(node), texts);
    }

    // The log line and the two questions of a contradiction.
    void conflictTexts() {
        const DiscoveredNode a = row("00:04:23:57:a5:7a", "192.168.1.249", "PC1", "WG");
        const DiscoveredNode b = row("00:04:23:57:a5:7a", "169.254.67.194", "", "-");
        QCOMPARE(virusWarningText(a, b),
                 QStringLiteral("Suspicious activity in \n\nInfo:\n00:04:23:57:a5:7a->"
                                "00:04:23:57:a5:7a\n192.168.1.249 -> 169.254.67.194\nPC1 -> \n"
                                "WG -> -\n"));
        QCOMPARE(routerQuestionText(a, b),
                 QStringLiteral("Multiip/Router:\n00:04:23:57:a5:7a\nMark it?\n\nInfo:\n"
                                "192.168.1.249->169.254.67.194\n"));
        QCOMPARE(describeConflict(a, b, DiscoveryMode::NetBios),
                 QStringLiteral("00:04:23:57:a5:7a: address 192.168.1.249 earlier, 169.254.67.194 "
                                "now; name PC1 earlier,  now; workgroup WG earlier, - now (likely "
                                "cause: the station assigned itself an address in 169.254.0.0/16 "
                                "after its DHCP request went unanswered)"));
        const DiscoveredNode c = row("00:04:23:57:a5:7a", "192.168.1.7");
        QCOMPARE(describeConflict(a, c, DiscoveryMode::Ip),
                 QStringLiteral("00:04:23:57:a5:7a: address 192.168.1.249 earlier, 192.168.1.7 now "
                                "(likely cause: a router forwarding for other stations, or a "
                                "station with several addresses)"));
    }

    // Log lines that quote names blank their control characters: a line
    // break in a name cannot start a line of its own in the log.
    void logLinesBlankControls_data() {
        QTest::addColumn<bool>("comparison"); // compared with the book, else a contradiction
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("line");
        QTest::newRow("contradiction") << false << QStringLiteral("PC\nFORGED")
                                       << QStringLiteral("aa:00:00:00:00:01: name PC earlier, "
                                                         "PC FORGED now");
        QTest::newRow("comparison with the book")
            << true << QStringLiteral("PC\r\nFORGED") << QStringLiteral("      PC-> PC  FORGED");
    }
    void logLinesBlankControls() {
        QFETCH(bool, comparison);
        QFETCH(QString, name);
        QFETCH(QString, line);
        const DiscoveredNode before = row("aa:00:00:00:00:01", "10.0.0.7", "PC", "WG");
        DiscoveredNode now = before;
        now.name = name;
        QStringList log;
        if (comparison) {
            QTemporaryDir dir;
            const QString file = dir.filePath(QStringLiteral("address.mdb"));
            store(file, {rec({"aa:00:00:00:00:01", "10.0.0.7", "v6", "PC", "WG", "dom",
                              "01 Jan 2020, 10:00:00", "hand", "LOC", "10.0.0.0", "T"})});
            AddressDatabase db(file);
            QVERIFY(db.open());
            log = compareWithDatabase(db, DiscoveryMode::NetBios, {now}, {}, {}).log;
        } else {
            log << describeConflict(before, now, DiscoveryMode::NetBios);
        }
        QVERIFY2(log.contains(line), qPrintable(log.join(QLatin1Char('|'))));
    }

    // Compaction in IP listening: the rows after Stop are those that one
    // record per frame would have given, whatever the ranges.
    void compactBufferKeepsTheRows() {
        QRandomGenerator generator(1207);
        auto* rng = &generator;
        DiscoveryStore& store = DiscoveryStore::instance();
        store.setMode(DiscoveryMode::Ip);
        const QList<QStringList> rangeSets{words({"10.0.0.0"}), words({"10.0.1.0", "10.0.0.0"}),
                                           words({"10.0.0.0", "10.0.0.0"})};
        for (int round = 0; round < 30; ++round) {
            IpEnds full;
            QList<QByteArray> frames;
            const int n = int(rng->bounded(200));
            for (int f = 0; f < n; ++f) {
                const auto s = end(std::uint8_t(rng->bounded(4)),
                                   ipOf(10, 0, int(rng->bounded(2)), int(rng->bounded(3))));
                const auto d = end(std::uint8_t(rng->bounded(4)),
                                   ipOf(10, 0, int(rng->bounded(2)), int(rng->bounded(3))));
                full.push_back(s);
                full.push_back(d);
                QByteArray frame(60, '\0');
                for (int i = 0; i < 6; ++i) {
                    frame[i] = char(d.mac[i]);
                    frame[6 + i] = char(s.mac[i]);
                }
                frame[12] = '\x08';
                frame[14] = '\x45';
                for (int i = 0; i < 4; ++i) {
                    frame[26 + i] = char(s.ip >> (24 - 8 * i));
                    frame[30 + i] = char(d.ip >> (24 - 8 * i));
                }
                frames << frame;
            }
            // Buffered with every end watched, and with the ranges watched from the start.
            for (const QStringList& ranges : rangeSets) {
                for (bool watch : {false, true}) {
                    store.clearBuffer();
                    store.setWatchedRanges(watch ? ranges : QStringList());
                    for (const QByteArray& f : frames)
                        store.handleFrame(reinterpret_cast<const std::uint8_t*>(f.constData()), 60,
                                          1000);
                    QCOMPARE(store.ipFrames(), static_cast<long long>(n));
                    QList<DiscoveredNode> a = selectLocalNodes(full, ranges);
                    QList<DiscoveredNode> b = selectLocalNodes(store.takeIp().ends, ranges);
                    clearDuplicates(a, DiscoveryMode::Ip, {});
                    clearDuplicates(b, DiscoveryMode::Ip, {});
                    QCOMPARE(b, a);
                    QCOMPARE(store.unwatched(words({"10.0.5.0"})).size(), watch ? 1 : 0);
                }
            }
        }
        store.setWatchedRanges({});
    }

    // The seen workgroups and subnets, in the order first seen, whether
    // repeats are buffered or not. Datagrams are "STATION WORKGROUP A.B.C.D";
    // a station "gN" sends from a group address: its datagram names no
    // station, but its workgroup and subnet are seen all the same.
    void seenListsInFirstSeenOrder_data() {
        QTest::addColumn<bool>("skipRepeats");
        QTest::addColumn<QStringList>("datagrams");
        QTest::addColumn<QStringList>("workgroups");
        QTest::addColumn<QStringList>("subnets");
        const QStringList mixed = words({"1 WG1 10.0.0.5", "2 WG2 10.0.1.5", "1 WG1 10.0.0.5",
                                         "4 WG1 10.0.0.6", "1 WG3 10.0.2.5", "2 WG2 10.0.1.5"});
        const QStringList group =
            words({"g3 WGX 192.168.7.1", "1 WG1 10.0.0.5", "g3 WGX 192.168.7.1"});
        for (const bool skip : {false, true}) {
            const char* tag = skip ? "skip" : "all";
            QTest::addRow("%s mixed", tag) << skip << mixed << words({"WG1", "WG2", "WG3"})
                                           << words({"10.0.0.0", "10.0.1.0", "10.0.2.0"});
            QTest::addRow("%s group address", tag)
                << skip << group << words({"WGX", "WG1"}) << words({"192.168.7.0", "10.0.0.0"});
            QTest::addRow("%s one station moves", tag)
                << skip << words({"1 WG1 10.0.0.5", "1 WG2 10.9.0.5", "1 WG1 10.0.0.5"})
                << words({"WG1", "WG2"}) << words({"10.0.0.0", "10.9.0.0"});
        }
    }

    void seenListsInFirstSeenOrder() {
        QFETCH(bool, skipRepeats);
        QFETCH(QStringList, datagrams);
        QFETCH(QStringList, workgroups);
        QFETCH(QStringList, subnets);
        DiscoveryStore& store = DiscoveryStore::instance();
        store.setMode(DiscoveryMode::NetBios);
        store.setSkipRepeats(skipRepeats);
        store.clearBuffer();
        std::int64_t time = 1000;
        for (const QString& d : std::as_const(datagrams)) {
            const QStringList f = d.split(u' ');
            const QStringList ip = f[2].split(u'.');
            const bool group = f[0].startsWith(u'g');
            const QByteArray station = f[0].mid(group ? 1 : 0).toLatin1();
            QByteArray frame = netbiosFrame(
                std::uint8_t(station.toUInt()),
                ipOf(ip[0].toInt(), ip[1].toInt(), ip[2].toInt(), ip[3].toInt()),
                encodeNetbiosName("PC" + station, 0), encodeNetbiosName(f[1].toLatin1(), 0x1d));
            if (group)
                frame[6] = '\x03';
            store.handleFrame(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                              std::size_t(frame.size()), time++);
        }
        QCOMPARE(store.seenWorkgroups(), workgroups);
        QCOMPARE(store.seenSubnets(), subnets);
    }

    // NetBIOS datagrams that repeat their station's last one are not
    // buffered when asked: the rows after the duplicate pass, and the seen
    // workgroups and subnets, are those of buffering every datagram. Equal
    // names may come encoded differently, and a frame that is no datagram
    // may carry the names of one.
    void skipRepeatsKeepsTheRows() {
        QRandomGenerator generator(4711);
        auto* rng = &generator;
        const QList<QByteArray> names{
            encodeNetbiosName("PC1", 0), encodeNetbiosName("PC2", 0),
            encodeNetbiosName(QByteArray("PC1\0", 4), 0), // decodes as "PC1"
            encodeNetbiosName("PC1 X", 0)};               // so does this
        const QList<QByteArray> workgroups{encodeNetbiosName("WG1", 0x1d),
                                           encodeNetbiosName("WG2", 0x1d),
                                           encodeNetbiosName("\x01\x02__MSBROWSE__", 1)};
        DiscoveryStore& store = DiscoveryStore::instance();
        for (int round = 0; round < 40; ++round) {
            QList<QByteArray> frames;
            const int n = int(rng->bounded(120));
            for (int f = 0; f < n; ++f) {
                QByteArray frame = netbiosFrame(
                    std::uint8_t(rng->bounded(3)), ipOf(10, 0, int(rng->bounded(2)), 5),
                    names[rng->bounded(names.size())], workgroups[rng->bounded(workgroups.size())]);
                if (rng->bounded(8) == 0)
                    frame[6] = '\x03'; // a group MAC
                if (rng->bounded(8) == 0)
                    frame[23] = 6; // TCP
                frames << frame;
            }
            QList<DiscoveredNode> rows[2];
            QStringList seen[2];
            for (int skip = 0; skip < 2; ++skip) {
                store.resetForTests();
                store.setMode(DiscoveryMode::NetBios);
                store.setSkipRepeats(skip == 1);
                store.clearBuffer();
                std::int64_t time = 1000;
                for (const QByteArray& f : frames)
                    store.handleFrame(reinterpret_cast<const std::uint8_t*>(f.constData()),
                                      std::size_t(f.size()), time++);
                for (const NetbiosRecord& r : store.takeNetbios())
                    rows[skip].append(netbiosNode(r));
                clearDuplicates(rows[skip], DiscoveryMode::NetBios, {});
                seen[skip] = store.seenWorkgroups() + store.seenSubnets();
            }
            QCOMPARE(rows[1], rows[0]);
            QCOMPARE(seen[1], seen[0]);
        }
    }

    // With repeats kept every datagram is buffered as the frame parses, in
    // order: a datagram that repeats its station's last one byte for byte is
    // buffered from that one's names, across takes and while the table of
    // stations grows. The seen lists are those of parsing every frame.
    void everyDatagramBuffered_data() {
        QTest::addColumn<int>("stations");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("takeEvery"); // 0: one take at the end
        QTest::newRow("one station") << 1 << 300 << 0;
        QTest::newRow("few stations, takes between") << 3 << 400 << 7;
        QTest::newRow("table grows") << 3000 << 12000 << 1000;
    }
    void everyDatagramBuffered() {
        QFETCH(int, stations);
        QFETCH(int, frames);
        QFETCH(int, takeEvery);
        QRandomGenerator rng(4242);
        const QList<QByteArray> names{encodeNetbiosName("PC1", 0), encodeNetbiosName("PC2", 0),
                                      encodeNetbiosName(QByteArray("PC1\0", 4), 0),
                                      encodeNetbiosName("PC1 X", 0)};
        const QList<QByteArray> workgroups{encodeNetbiosName("WG1", 0x1d),
                                           encodeNetbiosName("WG2", 0x1d),
                                           encodeNetbiosName("\x01\x02__MSBROWSE__", 1)};
        DiscoveryStore& store = DiscoveryStore::instance();
        store.setMode(DiscoveryMode::NetBios);
        store.setSkipRepeats(false);
        store.clearBuffer();
        QList<NetbiosRecord> expected;
        QStringList workgroupsSeen;
        QStringList subnetsSeen;
        QList<NetbiosRecord> got;
        const auto take = [&] {
            for (NetbiosRecord& r : store.takeNetbios())
                got << std::move(r);
        };
        for (int i = 0; i < frames; ++i) {
            // Each station mostly repeats what it sent last.
            const int station = int(rng.bounded(stations));
            const bool change = rng.bounded(4) == 0;
            QByteArray f = netbiosFrame(0, ipOf(10, 0, change ? int(rng.bounded(2)) : 0, 5),
                                        names[change ? rng.bounded(names.size()) : station % 2],
                                        workgroups[change ? rng.bounded(workgroups.size()) : 0]);
            f[9] = char(station >> 16);
            f[10] = char(station >> 8);
            f[11] = char(station);
            if (station % 50 == 7)
                f[6] = '\x03'; // a group MAC
            if (rng.bounded(16) == 0)
                f[23] = 6; // TCP
            const std::int64_t time = 1000 + i / 3;
            if (const auto s = parseNetbiosFrame(
                    reinterpret_cast<const std::uint8_t*>(f.constData()), std::size_t(f.size()))) {
                if (!workgroupsSeen.contains(s->workgroup))
                    workgroupsSeen << s->workgroup;
                if (!subnetsSeen.contains(discoverySubnetText(s->ip)))
                    subnetsSeen << discoverySubnetText(s->ip);
                if (!isGroupMac(s->mac))
                    expected << NetbiosRecord{*s, time};
            }
            store.handleFrame(reinterpret_cast<const std::uint8_t*>(f.constData()),
                              std::size_t(f.size()), time);
            if (takeEvery > 0 && i % takeEvery == 0)
                take();
        }
        take();
        QCOMPARE(got.size(), expected.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            const NetbiosRecord& g = got[i];
            const NetbiosRecord& e = expected[i];
            QVERIFY2(g.sighting.mac == e.sighting.mac && g.sighting.ip == e.sighting.ip &&
                         g.sighting.name == e.sighting.name &&
                         g.sighting.workgroup == e.sighting.workgroup && g.time == e.time,
                     qPrintable(QStringLiteral("record %1").arg(i)));
        }
        QCOMPARE(store.seenWorkgroups(), workgroupsSeen);
        QCOMPARE(store.seenSubnets(), subnetsSeen);
    }

    // The rows of one batch share texts: they are discoveredNodeTexts's.
    void sharedRowTexts() {
        QList<DiscoveredNode> nodes;
        for (int i = 0; i < 40; ++i) {
            DiscoveredNode n;
            n.mac = {2, 0, 0, 0, std::uint8_t(i % 3), std::uint8_t(i % 5)};
            if (i % 7 != 0)
                n.ip = ipOf(10, i % 4, 0, std::uint8_t(i % 6));
            if (i % 2)
                n.name = QStringLiteral("PC%1").arg(i);
            n.mark = NodeMark(i % 3);
            n.time = 1700000000 + i / 4 - (i % 9 == 0 ? 3600 : 0);
            nodes << n;
        }
        DiscoveredNodeTexts made;
        for (const DiscoveredNode& n : std::as_const(nodes))
            QCOMPARE(made.texts(n), discoveredNodeTexts(n));
    }

    // The date texts of many rows read the zone once an hour: they are
    // discoveryDateText's around clock changes, on and off the hour.
    void dateTextsAcrossClockChanges_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<qint64>("change"); // UTC seconds
        QTest::newRow("Berlin, spring") << QByteArray("Europe/Berlin") << qint64(1774746000);
        QTest::newRow("Berlin, autumn") << QByteArray("Europe/Berlin") << qint64(1792890000);
        // Changes at half past a UTC hour.
        QTest::newRow("Lord Howe, spring")
            << QByteArray("Australia/Lord_Howe") << qint64(1791041400);
        QTest::newRow("St. John's, spring") << QByteArray("America/St_Johns") << qint64(1772947800);
        QTest::newRow("New York, spring") << QByteArray("America/New_York") << qint64(1772953200);
    }
    void dateTextsAcrossClockChanges() {
        QFETCH(QByteArray, zone);
        QFETCH(qint64, change);
        const QByteArray before = qgetenv("TZ");
        qputenv("TZ", zone);
        tzset();
        const auto restore = qScopeGuard([&] {
            qputenv("TZ", before);
            tzset();
        });
        // The zone really changes its offset there (no zone data: nothing to check).
        if (QDateTime::fromSecsSinceEpoch(change - 1).offsetFromUtc() ==
            QDateTime::fromSecsSinceEpoch(change).offsetFromUtc())
            QSKIP("no data for this zone");
        DiscoveryDateTexts dates;
        for (qint64 s = change - 7300; s < change + 7300; s += 7)
            QCOMPARE(dates.text(s), discoveryDateText(s));
        DiscoveryDateTexts close;
        for (qint64 s = change - 3; s < change + 3; ++s)
            QCOMPARE(close.text(s), discoveryDateText(s));
        // Backwards, and far apart.
        for (qint64 s : {change + 3600, change - 1, change - 86400 * 200, qint64(0), qint64(-5),
                         qint64(86400), qint64(4102444800)})
            QCOMPARE(dates.text(s), discoveryDateText(s));
    }

    // A broadcast or multicast MAC (group bit set) names no station: no end
    // or datagram of one becomes a node, whether it was buffered or handed
    // to the local-range selection.
    void groupAddressesAreNoNodes_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("throughStore");
        QTest::addColumn<QByteArray>("groupMac");
        QTest::addColumn<QStringList>("macs");
        const int ip = int(DiscoveryMode::Ip);
        const QStringList station = words({"02:00:00:00:00:01"});
        QTest::newRow("buffered broadcast end")
            << ip << true << QByteArray::fromHex("ffffffffffff") << station;
        QTest::newRow("buffered multicast end")
            << ip << true << QByteArray::fromHex("01005e0000fb") << station;
        QTest::newRow("selected broadcast end")
            << ip << false << QByteArray::fromHex("ffffffffffff") << station;
        QTest::newRow("selected multicast end")
            << ip << false << QByteArray::fromHex("333300000001") << station;
        QTest::newRow("netbios datagram from a group address")
            << int(DiscoveryMode::NetBios) << true << QByteArray::fromHex("030000000001")
            << QStringList();
    }
    void groupAddressesAreNoNodes() {
        QFETCH(int, mode);
        QFETCH(bool, throughStore);
        QFETCH(QByteArray, groupMac);
        QFETCH(QStringList, macs);
        DiscoveryStore& store = DiscoveryStore::instance();
        store.setMode(DiscoveryMode(mode));
        store.setWatchedRanges(words({"10.0.0.0"}));
        QList<DiscoveredNode> nodes;
        if (mode == int(DiscoveryMode::NetBios)) {
            QByteArray f = netbiosFrame(1, ipOf(10, 0, 0, 1), encodeNetbiosName("PC", 0),
                                        encodeNetbiosName("WG", 0));
            f.replace(6, 6, groupMac);
            store.handleFrame(reinterpret_cast<const std::uint8_t*>(f.constData()),
                              std::size_t(f.size()), 1000);
            for (const NetbiosRecord& r : store.takeNetbios())
                nodes << netbiosNode(r);
        } else if (throughStore) {
            QByteArray f(60, '\0');
            f.replace(0, 6, groupMac);
            f.replace(6, 6, QByteArray::fromHex("020000000001"));
            f[12] = '\x08';
            f[14] = '\x45';
            for (int i = 0; i < 4; ++i) {
                f[26 + i] = char(ipOf(10, 0, 0, 1) >> (24 - 8 * i));
                f[30 + i] = char(ipOf(10, 0, 0, 255) >> (24 - 8 * i));
            }
            store.handleFrame(reinterpret_cast<const std::uint8_t*>(f.constData()), 60, 1000);
            const IpBuffer b = store.takeIp();
            QCOMPARE(b.frames, 1LL);
            nodes = selectLocalNodes(b.ends, words({"10.0.0.0"}));
        } else {
            IpEnd group = end(0, ipOf(10, 0, 0, 255));
            std::copy(groupMac.cbegin(), groupMac.cend(), group.mac.begin());
            IpEnd station = end(1, ipOf(10, 0, 0, 1));
            station.mac = {2, 0, 0, 0, 0, 1};
            nodes = selectLocalNodes({station, group}, words({"10.0.0.0"}));
        }
        store.setWatchedRanges({});
        QStringList got;
        for (const DiscoveredNode& n : nodes)
            got << discoveryMacText(n.mac);
        QCOMPARE(got, macs);
    }

    void bufferBoundIsCounted() {
        DiscoveryStore& store = DiscoveryStore::instance();
        store.setMode(DiscoveryMode::Ip);
        store.setEndLimit(3);
        QByteArray frame(60, '\0');
        frame[12] = '\x08';
        frame[14] = '\x45';
        frame[5] = 1; // another station than the all-zero sender
        for (int i = 0; i < 4; ++i) {
            frame[33] = char(i); // a new destination address each time
            store.handleFrame(reinterpret_cast<const std::uint8_t*>(frame.constData()), 60, 0);
        }
        const IpBuffer b = store.takeIp();
        store.setEndLimit(DiscoveryStore::kDefaultEndLimit);
        QCOMPARE(b.frames, 4LL);
        QCOMPARE(int(b.ends.size()), 3);
        QCOMPARE(b.droppedEnds, 2LL);
    }

    // Compare and save over a real file.
    void saveAndCompare_data() {
        QTest::addColumn<QList<DiscoveredNode>>("rows");
        QTest::addColumn<int>("mode");
        QTest::addColumn<NodeRecord>("expected");
        QTest::addColumn<QString>("before"); // the mark before the save
        const std::int64_t feb2 = at(2021, 2, 2, 11);
        const std::int64_t d1 = at(2022, 3, 3, 12);
        const std::int64_t d2 = at(2022, 4, 4, 13);
        const QString d1Text = discoveryDateText(d1);
        const QString d2Text = discoveryDateText(d2);
        QTest::newRow("netbios overwrites")
            << QList<DiscoveredNode>{row("aa:00:00:00:00:01", "10.0.0.9", "NEW", "NEWWG", feb2)}
            << int(DiscoveryMode::NetBios)
            << rec({"aa:00:00:00:00:01", "10.0.0.9", "v6", "NEW", "NEWWG", "dom",
                    "02 Feb 2021, 11:00:00", "Detected Node", "LOC", "10.0.0.0", "T"})
            << QStringLiteral("Update");
        QTest::newRow("ip keeps what is -")
            << QList<DiscoveredNode>{row("aa:00:00:00:00:01", "10.0.0.8", "-", "-", d1, "-",
                                         NodeMark::Router)}
            << int(DiscoveryMode::Ip)
            << NodeRecord::fromTexts({QStringLiteral("aa:00:00:00:00:01"),
                                      QStringLiteral("10.0.0.8"), QStringLiteral("v6"),
                                      QStringLiteral("OLD"), QStringLiteral("OLDWG"),
                                      QStringLiteral("dom"), d1Text,
                                      QStringLiteral("Detected Node"), QStringLiteral("LOC"),
                                      QStringLiteral("10.0.0.0"), QStringLiteral("Router/MultiIP")})
            << QStringLiteral("Update");
        // Empty texts are values: they replace the stored ones, unlike unknown fields.
        QTest::newRow("empty texts overwrite")
            << QList<DiscoveredNode>{row("aa:00:00:00:00:01", "10.0.0.7", "", "", d1, "")}
            << int(DiscoveryMode::NetBios)
            << NodeRecord::fromTexts({QStringLiteral("aa:00:00:00:00:01"),
                                      QStringLiteral("10.0.0.7"), QStringLiteral("v6"), QString(),
                                      QString(), QString(), d1Text, QStringLiteral("Detected Node"),
                                      QStringLiteral("LOC"), QStringLiteral("10.0.0.0"),
                                      QStringLiteral("T")})
            << QStringLiteral("Update");
        QTest::newRow("last row of a MAC decides")
            << QList<DiscoveredNode>{row("bb:00:00:00:00:02", "10.0.0.1", "A", "W1", d1),
                                     row("bb:00:00:00:00:02", "10.0.0.2", "B", "W2", d2, "x.lan")}
            << int(DiscoveryMode::NetBios)
            << NodeRecord::fromTexts(
                   {QStringLiteral("bb:00:00:00:00:02"), QStringLiteral("10.0.0.2"),
                    QStringLiteral("-"), QStringLiteral("B"), QStringLiteral("W2"),
                    QStringLiteral("x.lan"), d2Text, QStringLiteral("Detected Node"),
                    QStringLiteral("-"), QStringLiteral("10.0.0.0"), QStringLiteral("-")})
            << QStringLiteral("New");
        // A new node holds "-" where nothing is known, and an empty text where it is empty.
        QTest::newRow("new node: unknown is -, empty stays empty")
            << QList<DiscoveredNode>{row("dd:00:00:00:00:04", "10.0.1.4", "-", "", d1)}
            << int(DiscoveryMode::NetBios)
            << NodeRecord::fromTexts({QStringLiteral("dd:00:00:00:00:04"),
                                      QStringLiteral("10.0.1.4"), QStringLiteral("-"),
                                      QStringLiteral("-"), QString(), QStringLiteral("-"), d1Text,
                                      QStringLiteral("Detected Node"), QStringLiteral("-"),
                                      QStringLiteral("10.0.1.0"), QStringLiteral("-")})
            << QStringLiteral("New");
        QTest::newRow("upper-case stored MAC is another node")
            << QList<DiscoveredNode>{row("cc:00:00:00:00:03", "10.0.0.3", "C", "W", d1)}
            << int(DiscoveryMode::NetBios) << NodeRecord{} << QStringLiteral("New");
    }
    void saveAndCompare() {
        QFETCH(QList<DiscoveredNode>, rows);
        QFETCH(int, mode);
        QFETCH(NodeRecord, expected);
        QFETCH(QString, before);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("address.mdb"));
        const NodeRecord old = rec({"aa:00:00:00:00:01", "10.0.0.7", "v6", "OLD", "OLDWG", "dom",
                                    "01 Jan 2020, 10:00:00", "hand", "LOC", "10.0.0.0", "T"});
        NodeRecord upper = old;
        upper.mac = QStringLiteral("CC:00:00:00:00:03");
        store(file, {old, upper});
        AddressDatabase db(file);
        QVERIFY(db.open());
        const DiscoveryMarks marks = compareWithDatabase(db, DiscoveryMode(mode), rows, {}, {});
        QCOMPARE(marks.nodes.value(0), before);
        QStringList log;
        const bool saved = saveDiscoveredNodes(db, rows, rowsToSave({}, rows.size()), log);
        if (expected.mac.isEmpty()) {
            // The engine refuses the second spelling of one MAC: nothing is stored.
            QVERIFY(!saved);
            QVERIFY(log.isEmpty());
            QCOMPARE(nodesIn(file).size(), 2);
            QCOMPARE(marks.nodes, QStringList{before});
            return;
        }
        QVERIFY2(saved, qPrintable(db.lastError()));
        QCOMPARE(log.size(), rows.size());
        NodeRecord got;
        QCOMPARE(db.findNode(expected.mac, got), AddressDatabase::Outcome::Done);
        QCOMPARE(got, expected);
        const DiscoveryMarks after =
            compareWithDatabase(db, DiscoveryMode(mode), rows.mid(rows.size() - 1), {}, {});
        QCOMPARE(after.nodes.value(0), QStringLiteral("Current"));
    }

    // The NetBIOS comparison logs the stored MAC, then name, workgroup, address.
    void compareLogAndGroups() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("address.mdb"));
        store(file, {node("aa:00:00:00:00:01", "10.0.0.7", "OLD", "WG")});
        AddressDatabase db(file);
        QVERIFY(db.open());
        QVERIFY(db.addGroupIfAbsent(GroupTable::Subnet, QStringLiteral("10.0.0.0")));
        const DiscoveryMarks m = compareWithDatabase(
            db, DiscoveryMode::NetBios, {row("aa:00:00:00:00:01", "10.0.0.7", "NEW", "WG")},
            {words({"WG", "-"}), words({"wg", "-"})}, {words({"10.0.0.0", "-"})});
        QCOMPARE(m.log.mid(1), words({"Update: aa:00:00:00:00:01", "      OLD-> NEW",
                                      "      WG-> WG", "      10.0.0.7-> 10.0.0.7"}));
        QVERIFY(m.log[0].endsWith(QLatin1String(" : Compare with database")));
        QCOMPARE(m.workgroups, words({"Current", "New"}));
        QCOMPARE(m.subnets, words({"Current"}));
        // Groups saved in one go; present ones stay single.
        QVERIFY(saveDiscoveredGroups(db, GroupTable::Workgroup, {words({"WG"}), words({"wg"})},
                                     rowsToSave({1}, 2)));
        QCOMPARE(groupsIn(file, GroupTable::Workgroup), words({"WG", "wg"}));
    }

    // Finds by MAC use an index, also on a file made before it existed.
    void macFindsUseAnIndex() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("address.mdb"));
        {
            QSqlDatabase raw =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
            raw.setDatabaseName(file);
            QVERIFY(raw.open());
            QSqlQuery q(raw);
            QVERIFY(q.exec(QStringLiteral(
                "CREATE TABLE node (MAC TEXT COLLATE NOCASE UNIQUE, IP TEXT, IPv6 TEXT, NAME TEXT, "
                "WORKGROUP TEXT, DOMAINNAME TEXT, DATE TEXT, DESCRIPTION TEXT, LOCATION TEXT, "
                "SUBNET TEXT, TYPE TEXT)")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("raw"));
        AddressDatabase db(file);
        QVERIFY(db.open());
        db.close();
        QSqlDatabase raw =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw2"));
        raw.setDatabaseName(file);
        QVERIFY(raw.open());
        {
            QSqlQuery q(raw);
            QVERIFY(q.exec(QStringLiteral(
                "EXPLAIN QUERY PLAN SELECT * FROM node WHERE MAC = 'x' COLLATE BINARY")));
            QString plan;
            while (q.next())
                plan += q.value(3).toString();
            QVERIFY2(plan.contains(QLatin1String("USING INDEX node_mac_exact")), qPrintable(plan));
        }
        raw.close();
        raw = {};
        QSqlDatabase::removeDatabase(QStringLiteral("raw2"));
    }

    void ouiAndAddresses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("maker");
        QTest::addColumn<bool>("dotted");
        QTest::newRow("known") << QStringLiteral("00:04:23:57:a5:7a")
                               << QStringLiteral("Maker: Intel Corporation") << false;
        QTest::newRow("local") << QStringLiteral("02:00:00:00:00:01")
                               << QStringLiteral(
                                      "Locally administered address: no maker registered")
                               << false;
        QTest::newRow("unknown") << QStringLiteral("00:11:22:33:44:55")
                                 << QStringLiteral("Maker unknown") << false;
        QTest::newRow("dotted") << QStringLiteral("192.168.1.1") << QString() << true;
        QTest::newRow("dash") << QStringLiteral("-") << QString() << false;
        QTest::newRow("short form") << QStringLiteral("10.1") << QString() << false;
        QTest::newRow("too large") << QStringLiteral("1.2.3.256") << QString() << false;
    }
    void ouiAndAddresses() {
        QFETCH(QString, text);
        QFETCH(QString, maker);
        QFETCH(bool, dotted);
        OuiTable t;
        t.parse(
            "00-04-23   (hex)\t\tIntel Corporation\n000423     (base 16)\t\tIntel Corporation\n");
        QCOMPARE(t.describe(text), maker);
        QCOMPARE(isDottedIpv4(text), dotted);
        if (!dotted)
            QVERIFY(!reverseLookup(text)); // no query for it
    }
};

QTEST_GUILESS_MAIN(TestDiscoveryCore)
#include "tst_discovery_core.moc"
