// qarsilo-cli discover over the test captures: the rows, lists and log it
// prints, and its usage errors.

#include "support/run_process.h"
#include "support/test_paths.h"
#include "support/test_util.h"

#include <QRegularExpression>
#include <QTest>

using namespace qarsilo::test;

namespace {

QString capture(const char* name) {
    return pcapDir() + QLatin1Char('/') + QLatin1String(name);
}

// The output with the log's time prefixes taken off.
QStringList linesOf(const QByteArray& out) {
    static const QRegularExpression prefix(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d : "));
    QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& l : lines)
        l.remove(prefix);
    return lines;
}

const char* const kDhcpCause =
    "   00:04:23:57:a5:7a: address 192.168.1.249 earlier, 169.254.67.194 now (likely cause: the "
    "station assigned itself an address in 169.254.0.0/16 after its DHCP request went unanswered)";

} // namespace

class TestCliDiscover : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("TZ", "UTC"); }

    void outputs_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("eapon1 netbios")
            << words({"tcpdump__eapon1.pcap", "--mode", "netbios"})
            << words({"-\t00:04:23:57:a5:7a\t192.168.1.249\tDJP95S0J\tARBEITSGRUPPE\t-\t23 Mar "
                      "2004, 15:17:28\t192.168.1.0\t-",
                      "-\t00:04:23:57:a5:7a\t169.254.67.194\tDJP95S0J\tARBEITSGRUPPE\t-\t23 Mar "
                      "2004, 15:18:46\t169.254.67.0\tVirus??",
                      "WORKGROUPS", "ARBEITSGRUPPE", "SUBNETS", "192.168.1.0", "169.254.67.0",
                      "LOG", "Start NetBios capture", "Capture Stopped",
                      "Start Processing NetBios packets", "Clear duplicates from list",
                      kDhcpCause});
        QTest::newRow("eapon1 ip")
            << words({"tcpdump__eapon1.pcap", "--mode=ip", "--ranges", "192.168.1.0,169.254.67.0"})
            << words({"-\t00:04:23:57:a5:7a\t192.168.1.249\t-\t-\t-\t23 Mar 2004, "
                      "15:17:28\t192.168.1.0\t-",
                      "-\tff:ff:ff:ff:ff:ff\t192.168.1.255\t-\t-\t-\t23 Mar 2004, "
                      "15:17:28\t192.168.1.0\t-",
                      "-\t00:0d:88:4f:25:91\t192.168.1.1\t-\t-\t-\t23 Mar 2004, "
                      "15:17:35\t192.168.1.0\t-",
                      "-\t00:04:23:57:a5:7a\t169.254.67.194\t-\t-\t-\t23 Mar 2004, "
                      "15:18:37\t169.254.67.0\tRouter/MultiIP",
                      "WORKGROUPS", "SUBNETS", "LOG", "Start IP capture", "Capture Stopped",
                      "Start Processing IP packets", "Selecting Local IPs from buffer",
                      "Local IP subnet filter list: ", "192.168.1.0", "169.254.67.0",
                      "Clear duplicates from list", kDhcpCause});
        QTest::newRow("ip without ranges")
            << words({"tcpdump__eapon1.pcap", "--mode", "ip"})
            << words({"WORKGROUPS", "SUBNETS", "LOG", "Start IP capture", "Capture Stopped",
                      "Start Processing IP packets", "Selecting Local IPs from buffer",
                      "Local IP subnet filter list: ", "Clear duplicates from list"});
        // A fifteen-character name whose suffix is a blank ends before it.
        QTest::newRow("fifteen characters")
            << words({"ndpi__telegram.pcap", "--mode", "netbios"})
            << words({"-\t04:92:26:5c:97:35\t192.168.1.43\tDESKTOP-RB5T12G\tWORKGROUP\t-\t06 May "
                      "2020, 15:40:26\t192.168.1.0\t-",
                      "WORKGROUPS", "WORKGROUP", "SUBNETS", "192.168.1.0", "LOG",
                      "Start NetBios capture", "Capture Stopped",
                      "Start Processing NetBios packets", "Clear duplicates from list"});
        QTest::newRow("no netbios")
            << words({"tcpdump__dns_udp.pcap", "--mode", "netbios"})
            << words({"WORKGROUPS", "SUBNETS", "LOG", "Start NetBios capture", "Capture Stopped",
                      "Start Processing NetBios packets", "Clear duplicates from list"});
    }
    void outputs() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expected);
        args[0] = capture(args[0].toLatin1().constData());
        const ProcessResult r =
            runProcess(cliPath(), QStringList{QStringLiteral("discover")} + args);
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        QCOMPARE(linesOf(r.out), expected);
    }

    void failures_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::newRow("no mode") << words({"x.pcap"}) << 2;
        QTest::newRow("bad mode") << words({"x.pcap", "--mode", "arp"}) << 2;
        QTest::newRow("ranges in netbios mode")
            << words({"x.pcap", "--mode", "netbios", "--ranges", "10.0.0.0"}) << 2;
        QTest::newRow("missing file") << words({"/nonexistent/x.pcap", "--mode", "ip"}) << 1;
        QTest::newRow("not a capture")
            << QStringList{testDataDir() + QStringLiteral("/not-a-capture.txt"),
                           QStringLiteral("--mode"), QStringLiteral("ip")}
            << 1;
    }
    void failures() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        const ProcessResult r =
            runProcess(cliPath(), QStringList{QStringLiteral("discover")} + args);
        QVERIFY(r.exited);
        QCOMPARE(r.exitCode, code);
        QVERIFY(r.out.isEmpty());
        QVERIFY(!r.err.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliDiscover)
#include "tst_cli_discover.moc"
