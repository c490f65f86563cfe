// qarsilo-cli trace over a crafted capture: the side node table after each
// second, worked out by hand from the frames below (quiet seconds until the
// table is empty, then the jump to the next frame), and its failures.

#include "core/addressbook/address_database.h"
#include "support/capture_test_util.h"
#include "support/run_process.h"
#include "support/stream_run.h"
#include "support/test_paths.h"
#include "support/trace_frames.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

constexpr long long kSecond = 1'000'000;
constexpr long long kStart = 1'700'000'000 * kSecond;

QByteArray row(int slot, int peerNumber, const char* label, int life, const char* colour) {
    const QByteArray mac = QByteArray("02:00:00:00:01:0") + QByteArray::number(peerNumber);
    return "  " + QByteArray::number(slot) + '\t' + mac + '\t' + (label ? QByteArray(label) : mac) +
           '\t' + QByteArray::number(life) + '\t' + colour + '\n';
}

} // namespace

class TestCliTrace : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Peer 1 talks at 0.1 s (TCP to port 80) and 2.5 s (UDP to port 53),
        // peer 2 sends an ARP frame at 0.2 s, two others talk at 0.3 s, and
        // peer 3 gets an IPv6 frame at 4 s, peer 5 a TCP frame at 100 s.
        m_capture = m_dir.filePath(QStringLiteral("trace.pcap"));
        QVERIFY(writeCapture(
            m_capture, DLT_EN10MB,
            {{kStart + kSecond / 10, toPeer(1)},
             {kStart + 2 * kSecond / 10, between(kMonitored, peer(2), etherFrame(0x0806))},
             {kStart + 3 * kSecond / 10, between(peer(3), peer(4), ipv4Frame(6))},
             {kStart + 25 * kSecond / 10, between(kMonitored, peer(1), ipv4Frame(17, 1024, 53))},
             {kStart + 4 * kSecond, between(peer(3), kMonitored, ipv6Frame(6))},
             {kStart + 100 * kSecond, toPeer(5)}}));
        AddressDatabase db(m_dir.filePath(QStringLiteral("address.mdb")));
        QVERIFY(db.open());
        NodeRecord web;
        web.mac = QStringLiteral("02:00:00:00:01:01");
        web.name = QStringLiteral("WEB");
        NodeRecord unnamed;
        unnamed.mac = QStringLiteral("02:00:00:00:01:02");
        unnamed.name = QStringLiteral("-");
        for (NodeRecord* n : {&web, &unnamed}) {
            n->workgroup = n->location = n->subnet = QStringLiteral("-");
            QVERIFY2(db.addNode(*n), qPrintable(db.lastError()));
        }
    }

    void tables_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("withBook");
        QTest::addColumn<QByteArray>("expected");
        const auto second = [](int n) { return QByteArray::number(kStart / kSecond + n) + '\n'; };
        QTest::newRow("network layer, life 5, names")
            << QStringList{} << true
            << second(0) + row(0, 1, "WEB", 4, "00C000") + row(8, 2, nullptr, 4, "FF8F6B") +
                   second(1) + row(0, 1, "WEB", 3, "00C000") + row(8, 2, nullptr, 3, "FF8F6B") +
                   second(2) + row(0, 1, "WEB", 4, "00C000") + row(8, 2, nullptr, 2, "FF8F6B") +
                   second(3) + row(0, 1, "WEB", 3, "00C000") + row(8, 2, nullptr, 1, "FF8F6B") +
                   second(4) + row(0, 1, "WEB", 2, "00C000") + row(4, 3, nullptr, 4, "C0C0C0") +
                   row(8, 2, nullptr, 0, "FF8F6B") + second(5) + row(0, 1, "WEB", 1, "00C000") +
                   row(4, 3, nullptr, 3, "C0C0C0") + second(6) + row(0, 1, "WEB", 0, "00C000") +
                   row(4, 3, nullptr, 2, "C0C0C0") + second(7) + row(4, 3, nullptr, 1, "C0C0C0") +
                   second(8) + row(4, 3, nullptr, 0, "C0C0C0") + second(9) + second(100) +
                   row(12, 5, nullptr, 4, "00C000");
        QTest::newRow("IP layer, life 2, no book")
            << QStringList{QStringLiteral("--layer"), QStringLiteral("1"),
                           QStringLiteral("--node-life"), QStringLiteral("2")}
            << false
            << second(0) + row(0, 1, nullptr, 1, "FF8F6B") + second(1) +
                   row(0, 1, nullptr, 0, "FF8F6B") + second(2) + row(0, 1, nullptr, 1, "0000C0") +
                   second(3) + row(0, 1, nullptr, 0, "0000C0") + second(4) + second(100) +
                   row(8, 5, nullptr, 1, "FF8F6B");
        QTest::newRow("application layer, upper-case node")
            << QStringList{QStringLiteral("--layer"), QStringLiteral("2"),
                           QStringLiteral("--node-life"), QStringLiteral("3")}
            << false
            << second(0) + row(0, 1, nullptr, 2, "00C000") + second(1) +
                   row(0, 1, nullptr, 1, "00C000") + second(2) + row(0, 1, nullptr, 2, "800000") +
                   second(3) + row(0, 1, nullptr, 1, "800000") + second(4) +
                   row(0, 1, nullptr, 0, "800000") + second(5) + second(100) +
                   row(8, 5, nullptr, 2, "00C000");
    }
    void tables() {
        QFETCH(QStringList, options);
        QFETCH(bool, withBook);
        QFETCH(QByteArray, expected);
        // The tool reads the address book of its working directory.
        const QString home = QDir::currentPath();
        QTemporaryDir empty;
        QVERIFY(QDir::setCurrent(withBook ? m_dir.path() : empty.path()));
        const QString node = QTest::currentDataTag()[0] == 'a'
                                 ? QStringLiteral("02:00:00:00:00:AA")
                                 : QStringLiteral("02:00:00:00:00:aa");
        const ProcessResult r =
            runProcess(cliPath(), QStringList{QStringLiteral("trace"), m_capture,
                                              QStringLiteral("--node"), node} +
                                      options);
        QDir::setCurrent(home);
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        QCOMPARE(r.out, expected);
        QVERIFY(!QFile::exists(empty.filePath(QStringLiteral("address.mdb"))));
    }

    // A stream gives the very tables of its file; a command that fails says why.
    void streams_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("standard input")
            << QStringLiteral("exec \"$0\" trace - --node \"$2\" < \"$1\"") << 0;
        QTest::newRow("pipe:cat") << QStringLiteral(
                                         "exec \"$0\" trace \"pipe:cat '$1'\" --node \"$2\"")
                                  << 0;
        QTest::newRow("command fails")
            << QStringLiteral(
                   "exec \"$0\" trace \"pipe:echo 'sensor1: refused' >&2; exit 3\" --node \"$2\"")
            << 1;
    }
    void streams() {
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        const QString node = QStringLiteral("02:00:00:00:00:aa");
        const ProcessResult file = runProcess(
            cliPath(), {QStringLiteral("trace"), m_capture, QStringLiteral("--node"), node});
        QVERIFY(!file.out.isEmpty());
        verifyStreamRun(cliPath(), command, {m_capture, node}, exitCode, file.out);
    }

    void failures_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        const QString capture = QStringLiteral("CAPTURE");
        QTest::newRow("no node") << QStringList{capture} << 2;
        QTest::newRow("bad node") << QStringList{capture, QStringLiteral("--node"),
                                                 QStringLiteral("12:34:__:__:__:__")}
                                  << 2;
        QTest::newRow("layer 3") << QStringList{capture, QStringLiteral("--node"),
                                                QStringLiteral("02:00:00:00:00:aa"),
                                                QStringLiteral("--layer"), QStringLiteral("3")}
                                 << 2;
        QTest::newRow("missing file")
            << QStringList{QStringLiteral("MISSING"), QStringLiteral("--node"),
                           QStringLiteral("02:00:00:00:00:aa")}
            << 1;
    }
    void failures() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        args.replaceInStrings(QStringLiteral("CAPTURE"), m_capture);
        args.replaceInStrings(QStringLiteral("MISSING"), m_dir.filePath(QStringLiteral("no.pcap")));
        const ProcessResult r = runProcess(cliPath(), QStringList{QStringLiteral("trace")} + args);
        QVERIFY(r.exited);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY(r.out.isEmpty());
        QVERIFY(!r.err.isEmpty());
    }

private:
    QTemporaryDir m_dir;
    QString m_capture;
};

QTEST_MAIN(TestCliTrace)
#include "tst_cli_trace.moc"
