// qarsilo-cli discover over the test captures: the rows, lists and log it
// prints, and its usage errors.

#include "support/discovery_test_util.h"
#include "support/run_process.h"
#include "support/test_paths.h"
#include "support/test_util.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <pcap/pcap.h>

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

// A NetBIOS datagram from 02:00:00:00:00:01 at 10.0.0.1 with the names as given.
QByteArray datagram(const QByteArray& name, const QByteArray& workgroup) {
    return netbiosFrame(1, 0x0A000001, encodeNetbiosName(name, 0), encodeNetbiosName(workgroup, 0));
}

// A capture of `frames`, all at 2023-11-14 22:13:20 UTC.
bool writeFrames(const QString& path, const QList<QByteArray>& frames) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* d = pcap_dump_open(dead, QFile::encodeName(path).constData());
    if (!d) {
        pcap_close(dead);
        return false;
    }
    for (const QByteArray& f : frames) {
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000;
        h.caplen = h.len = static_cast<bpf_u_int32>(f.size());
        pcap_dump(reinterpret_cast<u_char*>(d), &h, reinterpret_cast<const u_char*>(f.constData()));
    }
    pcap_dump_close(d);
    pcap_close(dead);
    return true;
}

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
                      // the broadcast address 192.168.1.255 (ff:ff:ff:ff:ff:ff) is no node
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

    // Names from the network are printed with their control characters
    // blanked: a tab or line break in one cannot add a column, a row, a
    // workgroup or a log line.
    void hostileNames_data() {
        QTest::addColumn<QList<QByteArray>>("frames");
        QTest::addColumn<QStringList>("expected");
        const char* const date = "14 Nov 2023, 22:13:20";
        QTest::newRow("tab in a name")
            << QList<QByteArray>{datagram("PC\tFORGED", "WG")}
            << QStringList{QStringLiteral("-\t02:00:00:00:00:01\t10.0.0.1\tPC FORGED\tWG\t-\t") +
                               QLatin1String(date) + QStringLiteral("\t10.0.0.0\t-"),
                           QStringLiteral("WORKGROUPS"), QStringLiteral("WG"),
                           QStringLiteral("SUBNETS"), QStringLiteral("10.0.0.0")};
        QTest::newRow("line break and escape in a workgroup")
            << QList<QByteArray>{datagram("PC", "WG\nFORGED\x1b")}
            << QStringList{QStringLiteral("-\t02:00:00:00:00:01\t10.0.0.1\tPC\tWG FORGED \t-\t") +
                               QLatin1String(date) + QStringLiteral("\t10.0.0.0\t-"),
                           QStringLiteral("WORKGROUPS"), QStringLiteral("WG FORGED "),
                           QStringLiteral("SUBNETS"), QStringLiteral("10.0.0.0")};
        QTest::newRow("line break in a log line")
            << QList<QByteArray>{datagram("PC", "WG"), datagram("PC\r\nFORGED", "WG")}
            << QStringList{QStringLiteral("-\t02:00:00:00:00:01\t10.0.0.1\tPC\tWG\t-\t") +
                               QLatin1String(date) + QStringLiteral("\t10.0.0.0\t-"),
                           QStringLiteral("-\t02:00:00:00:00:01\t10.0.0.1\tPC  FORGED\tWG\t-\t") +
                               QLatin1String(date) + QStringLiteral("\t10.0.0.0\tVirus??"),
                           QStringLiteral("WORKGROUPS"),
                           QStringLiteral("WG"),
                           QStringLiteral("SUBNETS"),
                           QStringLiteral("10.0.0.0"),
                           QStringLiteral("   02:00:00:00:00:01: name PC earlier, PC  FORGED now")};
        // Bytes 0x7f to 0x9f are control characters too; from 0xa0 up they
        // are printed in UTF-8.
        QTest::newRow("Latin-1 controls and letters")
            << QList<QByteArray>{datagram("PC\x7f\x85\x9f\xa0\xe9\xff", "W\x80\xc4")}
            << QStringList{QStringLiteral("-\t02:00:00:00:00:01\t10.0.0.1\tPC   \u00a0\u00e9\u00ff"
                                          "\tW \u00c4\t-\t") +
                               QLatin1String(date) + QStringLiteral("\t10.0.0.0\t-"),
                           QStringLiteral("WORKGROUPS"), QStringLiteral("W \u00c4"),
                           QStringLiteral("SUBNETS"), QStringLiteral("10.0.0.0")};
    }
    void hostileNames() {
        QFETCH(QList<QByteArray>, frames);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("names.pcap"));
        QVERIFY(writeFrames(file, frames));
        const ProcessResult r =
            runProcess(cliPath(), {QStringLiteral("discover"), file, QStringLiteral("--mode"),
                                   QStringLiteral("netbios")});
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        QStringList lines = linesOf(r.out);
        // The log's fixed lines are the same in every row.
        const qsizetype log = lines.indexOf(QStringLiteral("LOG"));
        QVERIFY(log >= 0);
        QCOMPARE(lines.mid(log + 1, 4),
                 words({"Start NetBios capture", "Capture Stopped",
                        "Start Processing NetBios packets", "Clear duplicates from list"}));
        lines.remove(log, 5);
        QCOMPARE(lines, expected);
    }

    void failures_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("named"); // what the message must quote
        QTest::newRow("no mode") << words({"x.pcap"}) << 2 << QString();
        QTest::newRow("bad mode") << words({"x.pcap", "--mode", "arp"}) << 2 << QString();
        QTest::newRow("ranges in netbios mode")
            << words({"x.pcap", "--mode", "netbios", "--ranges", "10.0.0.0"}) << 2 << QString();
        QTest::newRow("missing file")
            << words({"/nonexistent/x.pcap", "--mode", "ip"}) << 1 << QString();
        QTest::newRow("not a capture")
            << QStringList{testDataDir() + QStringLiteral("/not-a-capture.txt"),
                           QStringLiteral("--mode"), QStringLiteral("ip")}
            << 1 << QString();
        // Checked before the capture is opened, so the file need not exist.
        QTest::newRow("range out of bounds")
            << words({"x.pcap", "--mode", "ip", "--ranges", "10.0.0.0,999.1.1.1"}) << 2
            << QStringLiteral("'999.1.1.1'");
        QTest::newRow("range not an address")
            << words({"x.pcap", "--mode=ip", "--ranges=abc"}) << 2 << QStringLiteral("'abc'");
    }
    void failures() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, named);
        const ProcessResult r =
            runProcess(cliPath(), QStringList{QStringLiteral("discover")} + args);
        QVERIFY(r.exited);
        QCOMPARE(r.exitCode, code);
        QVERIFY(r.out.isEmpty());
        QVERIFY(!r.err.isEmpty());
        QVERIFY2(QString::fromUtf8(r.err).contains(named), r.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliDiscover)
#include "tst_cli_discover.moc"
