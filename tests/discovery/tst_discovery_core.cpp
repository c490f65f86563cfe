// Autodiscovery without a window: NetBIOS decoding and frame layouts, the
// local-range selection, the linear duplicate pass against a plain quadratic
// one, the buffer's compaction, and compare and save over a real database.

#include "addressbook/address_test_util.h"
#include "core/discovery/discovery_database.h"
#include "core/discovery/discovery_store.h"
#include "core/discovery/discovery_tables.h"
#include "core/discovery/oui_table.h"
#include "core/discovery/reverse_lookup.h"
#include "discovery_test_util.h"
#include "duplicate_oracle.h"
#include "support/test_util.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qarsilo;
using namespace qarsilo::test;

Q_DECLARE_METATYPE(qarsilo::NodeRecord)

namespace {

QStringList row(const char* mac, const char* ip, const char* name = "-", const char* wg = "-",
                const char* date = "d") {
    return words({"-", mac, ip, name, wg, "-", date, "s", "-"});
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
        const QList<QStringList> rows = selectLocalRows({end(1, src), end(2, dst)}, ranges);
        QStringList got;
        for (const QStringList& r : rows) {
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
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("left");
        QList<QStringList> five;
        for (int i = 0; i < 5; ++i)
            five << row("m", "1.1.1.1", "N", "W", "t");
        const int nb = int(DiscoveryMode::NetBios);
        const int ip = int(DiscoveryMode::Ip);
        QTest::newRow("five identical") << five << nb << true << 1;
        const QList<QStringList> maa{row("M", "a"), row("M", "a"), row("M", "b")};
        QTest::newRow("(M,a),(M,a),(M,b) marked") << maa << ip << true << 2;
        QTest::newRow("(M,a),(M,a),(M,b) answered No") << maa << ip << false << 2;
        QTest::newRow("two names")
            << QList<QStringList>{row("M", "a", "N1", "W"), row("M", "a", "N2", "W")} << nb << true
            << 2;
        QTest::newRow("name on two MACs")
            << QList<QStringList>{row("M1", "a", "N", "W"), row("M2", "b", "N", "W")} << nb << true
            << 2;
        QTest::newRow("a b a") << QList<QStringList>{row("M", "a"), row("X", "q"), row("M", "b"),
                                                     row("M", "a"), row("M", "a")}
                               << ip << true << 4;
        QTest::newRow("empty") << QList<QStringList>{} << nb << true << 0;
    }
    void passAgainstOracle() {
        QFETCH(QList<QStringList>, rows);
        QFETCH(int, mode);
        QFETCH(bool, answer);
        QFETCH(int, left);
        const auto m = DiscoveryMode(mode);
        QList<QStringList> expected = rows;
        const QList<OracleQuestion> asked = oraclePass(expected, m, [answer] { return answer; });
        QList<OracleQuestion> seen;
        const QList<DiscoveryConflict> conflicts =
            clearDuplicates(rows, m, [&](const QStringList& a, const QStringList& b) {
                seen.append({a, b});
                return answer;
            });
        QCOMPARE(rows, expected);
        QCOMPARE(rows.size(), left);
        QCOMPARE(seen.size(), asked.size());
        QCOMPARE(conflicts.size(), asked.size());
        for (int i = 0; i < seen.size(); ++i) {
            QCOMPARE(seen[i].earlier[CellIp], asked[i].earlier[CellIp]);
            QCOMPARE(seen[i].later[CellIp], asked[i].later[CellIp]);
            QCOMPARE(seen[i].later[CellName], asked[i].later[CellName]);
        }
    }

    void passRandomLists() {
        // Seeded, so that a failing list can be made again.
        QRandomGenerator generator(20261207);
        auto* rng = &generator;
        for (int round = 0; round < 300; ++round) {
            const auto m = round % 2 ? DiscoveryMode::Ip : DiscoveryMode::NetBios;
            QList<QStringList> rows;
            const int n = int(rng->bounded(60));
            for (int i = 0; i < n; ++i) {
                const QByteArray mac = QByteArray::number(rng->bounded(4));
                const QByteArray ip = QByteArray::number(rng->bounded(3));
                const QByteArray name = QByteArray::number(rng->bounded(2));
                rows << row(mac.constData(), ip.constData(), name.constData(), "W",
                            QByteArray::number(i).constData());
            }
            QList<QStringList> expected = rows;
            int answers = 0;
            oraclePass(expected, m, [&answers] { return ++answers % 3 != 0; });
            int mine = 0;
            clearDuplicates(rows, m, [&mine](const QStringList&, const QStringList&) {
                return ++mine % 3 != 0;
            });
            QCOMPARE(rows, expected);
            QCOMPARE(mine, answers);
        }
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
                    QList<QStringList> a = selectLocalRows(full, ranges);
                    QList<QStringList> b = selectLocalRows(store.takeIp().ends, ranges);
                    clearDuplicates(a, DiscoveryMode::Ip, {});
                    clearDuplicates(b, DiscoveryMode::Ip, {});
                    QCOMPARE(b, a);
                    QCOMPARE(store.unwatched(words({"10.0.5.0"})).size(), watch ? 1 : 0);
                }
            }
        }
        store.setWatchedRanges({});
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
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<int>("mode");
        QTest::addColumn<NodeRecord>("expected");
        QTest::addColumn<QString>("before"); // the mark before the save
        QTest::newRow("netbios overwrites")
            << QList<QStringList>{words({"-", "aa:00:00:00:00:01", "10.0.0.9", "NEW", "NEWWG", "-",
                                         "02 Feb 2021, 11:00:00", "10.0.0.0", "-"})}
            << int(DiscoveryMode::NetBios)
            << rec({"aa:00:00:00:00:01", "10.0.0.9", "v6", "NEW", "NEWWG", "dom",
                    "02 Feb 2021, 11:00:00", "Detected Node", "LOC", "10.0.0.0", "T"})
            << QStringLiteral("Update");
        QTest::newRow("ip keeps what is -")
            << QList<QStringList>{words({"-", "aa:00:00:00:00:01", "10.0.0.8", "-", "-", "-", "d1",
                                         "10.0.0.0", "Router/MultiIP"})}
            << int(DiscoveryMode::Ip)
            << rec({"aa:00:00:00:00:01", "10.0.0.8", "v6", "OLD", "OLDWG", "dom", "d1",
                    "Detected Node", "LOC", "10.0.0.0", "Router/MultiIP"})
            << QStringLiteral("Update");
        QTest::newRow("last row of a MAC decides")
            << QList<QStringList>{words({"-", "bb:00:00:00:00:02", "10.0.0.1", "A", "W1", "-", "d1",
                                         "10.0.0.0", "-"}),
                                  words({"-", "bb:00:00:00:00:02", "10.0.0.2", "B", "W2", "x.lan",
                                         "d2", "10.0.0.0", "-"})}
            << int(DiscoveryMode::NetBios)
            << rec({"bb:00:00:00:00:02", "10.0.0.2", "-", "B", "W2", "x.lan", "d2", "Detected Node",
                    "-", "10.0.0.0", "-"})
            << QStringLiteral("New");
        QTest::newRow("upper-case stored MAC is another node")
            << QList<QStringList>{words(
                   {"-", "cc:00:00:00:00:03", "10.0.0.3", "C", "W", "-", "d", "10.0.0.0", "-"})}
            << int(DiscoveryMode::NetBios) << NodeRecord{} << QStringLiteral("New");
    }
    void saveAndCompare() {
        QFETCH(QList<QStringList>, rows);
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
            db, DiscoveryMode::NetBios,
            {words({"-", "aa:00:00:00:00:01", "10.0.0.7", "NEW", "WG", "-", "d", "s", "-"})},
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
