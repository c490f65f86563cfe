// qarsilo-cli chart: the rows per second of crafted captures, cumulative, the
// two captures of the application chart, the pictures it writes, failures.

#include "core/stats/distribution_chart.h"
#include "support/capture_test_util.h"
#include "support/chart_frames.h"
#include "support/run_process.h"
#include "support/stream_run.h"
#include "support/test_paths.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

constexpr long long kSecond = 1'000'000;
constexpr long long kStart = 1'700'000'000 * kSecond;

ProcessResult chart(const QStringList& args) {
    return runProcess(cliPath(), QStringList{QStringLiteral("chart")} + args);
}

// The block the tool prints for one second: the second, then a row per category.
QByteArray block(long long second, const QList<QByteArray>& rows) {
    QByteArray out = QByteArray::number(second) + '\n';
    for (const QByteArray& r : rows)
        out += r + '\n';
    return out + '\n';
}

// Rows of the size chart with every class at 0 but those given.
QList<QByteArray> sizeRows(const QMap<int, QByteArray>& labels) {
    static const char* names[] = {
        "size <= 64",         "65 <= size < 128",    "129 <= size < 256",   "257 <= size < 384",
        "385 <= size < 512",  "513 <= size < 640",   "641 <= size < 768",   "769 <= size < 896",
        "897 <= size < 1024", "1025 <= size < 1152", "1153 <= size < 1280", "1281 <= size < 1408",
        "1409 <= size < 1518"};
    QList<QByteArray> rows;
    for (int i = 0; i < 13; ++i)
        rows << QByteArray(names[i]) + '\t' + labels.value(i, "[ 0 B ]  0.00%");
    return rows;
}

} // namespace

class TestCliChart : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Second 0: 60, 128 and 1514 bytes. Second 1: only a length of no
        // class, the picture stays. Second 3: 200 bytes.
        m_sizes = m_dir.filePath(QStringLiteral("sizes.pcap"));
        QVERIFY(writeCapture(m_sizes, DLT_EN10MB,
                             {{kStart, etherFrame(0x0800, 60)},
                              {kStart + 10, etherFrame(0x0800, 128)},
                              {kStart + 900000, etherFrame(0x0800, 1514)},
                              {kStart + kSecond + 5, etherFrame(0x0800, 256)},
                              {kStart + 3 * kSecond, etherFrame(0x0800, 200)}}));
    }

    void rowsPerSecond() {
        const ProcessResult r = chart({QStringLiteral("size"), m_sizes});
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        const long long s = kStart / kSecond;
        const QList<QByteArray> first =
            sizeRows({{0, "[ 60 B ]  3.81%"}, {12, "[ 1514 B ]  96.19%"}});
        QCOMPARE(r.out, block(s, first) + block(s + 1, first) +
                            block(s + 3, sizeRows({{2, "[ 200 B ]  100.00%"}})));
    }

    void cumulative() {
        const ProcessResult r =
            chart({QStringLiteral("size"), m_sizes, QStringLiteral("--cumulative")});
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        const long long s = kStart / kSecond;
        const QList<QByteArray> first =
            sizeRows({{0, "[ 60 B ]  3.81%"}, {12, "[ 1514 B ]  96.19%"}});
        QCOMPARE(r.out, block(s, first) + block(s + 1, first) +
                            block(s + 3, sizeRows({{0, "[ 60 B ]  3.38%"},
                                                   {2, "[ 200 B ]  11.27%"},
                                                   {12, "[ 1514 B ]  85.34%"}})));
    }

    // The TCP and the UDP capture both count; a DNS query from 53 to 53 counts twice.
    void applicationChartReadsBothCaptures() {
        const QString path = m_dir.filePath(QStringLiteral("app.pcap"));
        QVERIFY(writeCapture(path, DLT_EN10MB,
                             {{kStart, ipv4Frame(6, 443, 52000, 100)},
                              {kStart + 1, ipv4Frame(17, 53, 53, 100)},
                              {kStart + 2, ipv4Frame(1, 53, 53, 100)}, // ICMP: neither capture
                              {kStart + 3, ipv6Frame(17, 50000, 53, 150)}}));
        const ProcessResult r = chart({QStringLiteral("app"), path});
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        const QList<QByteArray> lines = r.out.split('\n');
        QCOMPARE(lines.size(), 1 + 13 + 2);
        QCOMPARE(lines[0], QByteArray::number(kStart / kSecond));
        QCOMPARE(lines[1], QByteArray("Web\t[ 100 B ]  22.22%"));
        QCOMPARE(lines[8], QByteArray("DNS\t[ 350 B ]  77.78%"));
        QCOMPARE(lines[11], QByteArray("DHCP\t[ 0 B ]  0.00%"));
    }

    // A stream (standard input, a command) gives what the same frames in a
    // file give, for the views of two captures too; a command that fails
    // says why.
    void streamsAsFiles_data() {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        const QString input = QStringLiteral("exec \"$0\" chart %1 - < \"$1\"");
        const QString pipe = QStringLiteral("exec \"$0\" chart %1 \"pipe:cat '$1'\"");
        for (const char* view : {"size", "app", "v4v6"}) {
            const QString v = QString::fromLatin1(view);
            QTest::addRow("%s, standard input", view) << v << input.arg(v) << 0;
            QTest::addRow("%s, pipe:cat", view) << v << pipe.arg(v) << 0;
        }
        QTest::newRow("command fails")
            << QStringLiteral("app")
            << QStringLiteral("exec \"$0\" chart app \"pipe:echo 'sensor1: refused' >&2; exit 3\"")
            << 1;
    }
    void streamsAsFiles() {
        QFETCH(QString, view);
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        const QString path = m_dir.filePath(QStringLiteral("mixed.pcap"));
        QVERIFY(writeCapture(path, DLT_EN10MB,
                             {{kStart, ipv4Frame(6, 443, 52000, 1400)},
                              {kStart + 1, ipv4Frame(17, 53, 53, 100)},
                              {kStart + kSecond, ipv6Frame(17, 50000, 53, 150)},
                              {kStart + 2 * kSecond, ipv6Frame(6, 50000, 80, 60)}}));
        const ProcessResult file = chart({view, path});
        QVERIFY(file.exitCode == 0 && file.out.count('\n') > 3 * 13);
        verifyStreamRun(cliPath(), command, {path}, exitCode, file.out);
    }

    // The pictures are the window's charts at the window's size.
    void picturesAreTheWindowsCharts_data() {
        QTest::addColumn<bool>("pie");
        QTest::newRow("bar") << false;
        QTest::newRow("pie") << true;
    }
    void picturesAreTheWindowsCharts() {
        QFETCH(bool, pie);
        QTemporaryDir out;
        QStringList args{QStringLiteral("size"), m_sizes, QStringLiteral("--png"),
                         out.filePath(QStringLiteral("pictures"))};
        if (pie)
            args << QStringLiteral("--pie");
        const ProcessResult r = chart(args);
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        const long long s = kStart / kSecond;
        QDir dir(out.filePath(QStringLiteral("pictures")));
        QCOMPARE(dir.entryList(QDir::Files, QDir::Name),
                 (QStringList{QStringLiteral("size-%1.png").arg(s),
                              QStringLiteral("size-%1.png").arg(s + 1),
                              QStringLiteral("size-%1.png").arg(s + 3)}));

        DistributionChart expected(ChartKind::PacketSize);
        expected.setActiveType(pie ? CChartWnd::kPieChart : CChartWnd::kBarChart);
        DistributionChart::Bytes bytes{};
        bytes[0] = 60;
        bytes[12] = 1514;
        QVERIFY(expected.show(bytes, false));
        const QImage first(dir.filePath(QStringLiteral("size-%1.png").arg(s)));
        QCOMPARE(first.size(), kChartViewSize);
        QCOMPARE(first.convertToFormat(QImage::Format_RGB32),
                 expected.render(kChartViewSize).convertToFormat(QImage::Format_RGB32));
        // The quiet second keeps the picture.
        QCOMPARE(QImage(dir.filePath(QStringLiteral("size-%1.png").arg(s + 1))), first);
        QVERIFY(QImage(dir.filePath(QStringLiteral("size-%1.png").arg(s + 3))) != first);
    }

    // A frame stamped earlier than the second being counted counts in that
    // second, as in the statistics, the trace and the windows; a stream's
    // copy that cannot be written says where and why.
    void streamAndOrder_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("firstRow"); // the second second's first row
        QTest::addColumn<QString>("error");
        QTest::newRow("late frame") << QStringLiteral("exec \"$0\" chart size \"$1\"") << 0
                                    << QByteArray("size <= 64\t[ 60 B ]  27.27%") << QString();
        QTest::newRow("no temporary folder")
            << QStringLiteral("TMPDIR=\"$2/none\" exec \"$0\" chart size \"pipe:cat '$1'\"") << 1
            << QByteArray()
            << QStringLiteral("cannot write the temporary copy of the stream in '%1/none': No "
                              "such file or directory");
    }
    void streamAndOrder() {
        QFETCH(QString, command);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, firstRow);
        QFETCH(QString, error);
        const QString path = m_dir.filePath(QStringLiteral("late.pcap"));
        QVERIFY(writeCapture(path, DLT_EN10MB,
                             {{kStart, etherFrame(0x0800, 60)},
                              {kStart + kSecond, etherFrame(0x0800, 60)},
                              {kStart + 5, etherFrame(0x0800, 160)},
                              {kStart + 2 * kSecond, etherFrame(0x0800, 60)}}));
        const ProcessResult r =
            runProcess(QStringLiteral("/bin/sh"),
                       {QStringLiteral("-c"), command, cliPath(), path, m_dir.path()});
        QVERIFY(r.exited);
        QVERIFY2(r.exitCode == exitCode, r.err.constData());
        if (!error.isEmpty()) {
            QVERIFY2(QString::fromLocal8Bit(r.err).contains(error.arg(m_dir.path())),
                     r.err.constData());
            QVERIFY(r.out.isEmpty());
            return;
        }
        const long long s = kStart / kSecond;
        QVERIFY(r.out.startsWith(block(s, sizeRows({{0, "[ 60 B ]  100.00%"}}))));
        const QList<QByteArray> lines = r.out.split('\n');
        QCOMPARE(lines[15], QByteArray::number(s + 1));
        QCOMPARE(lines[16], firstRow);
    }

    void failures_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        QTest::newRow("no arguments") << QStringList() << 2 << "usage:";
        QTest::newRow("no source") << QStringList{QStringLiteral("size")} << 2 << "usage:";
        QTest::newRow("unknown view")
            << QStringList{QStringLiteral("sizes"), QStringLiteral("x.pcap")} << 2
            << "unknown view 'sizes'";
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("size"), QStringLiteral("x.pcap"),
                           QStringLiteral("--bar")}
            << 2 << "unexpected argument '--bar'";
        QTest::newRow("--png without folder")
            << QStringList{QStringLiteral("size"), QStringLiteral("x.pcap"),
                           QStringLiteral("--png")}
            << 2 << "--png needs a folder";
        QTest::newRow("missing file")
            << QStringList{QStringLiteral("size"), QStringLiteral("/nonexistent/x.pcap")} << 1
            << "cannot read '/nonexistent/x.pcap'";
        QTest::newRow("not a capture")
            << QStringList{QStringLiteral("network"),
                           testDataDir() + QStringLiteral("/not-a-capture.txt")}
            << 1 << "cannot read";
    }
    void failures() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        const ProcessResult r = chart(args);
        QVERIFY(r.exited);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(QString::fromLocal8Bit(r.err).contains(error), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }

    // Frames that are not Ethernet: refused with the link type's name.
    void sourceThatIsNotEthernet() {
        const QString path = m_dir.filePath(QStringLiteral("usb.pcap"));
        QVERIFY(writeCapture(path, 189, {{kStart, QByteArray(64, '\0')}}));
        const ProcessResult r = chart({QStringLiteral("ipv4"), path});
        QVERIFY(r.exited);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("its frames are not Ethernet (link type USB_LINUX)"),
                 r.err.constData());
    }

private:
    QTemporaryDir m_dir;
    QString m_sizes;
};

QTEST_MAIN(TestCliChart)
#include "tst_cli_chart.moc"
