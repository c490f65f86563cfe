// qarsilo-cli stats: the general and single node lines per second of crafted
// captures and of kept ones, against figures worked out here; failures.

#include "support/capture_frames.h"
#include "support/capture_test_util.h"
#include "support/chart_frames.h"
#include "support/run_process.h"
#include "support/test_paths.h"

#include <QTemporaryDir>
#include <QTest>

#include <map>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

constexpr long long kSecond = 1'000'000;
constexpr long long kStart = 1'700'000'000 * kSecond;

ProcessResult stats(const QStringList& args) {
    return runProcess(cliPath(), QStringList{QStringLiteral("stats")} + args);
}

QByteArray fmt(const char* format, double v) {
    return QByteArray::fromStdString(QString::asprintf(format, v).toStdString());
}

// An IPv4 frame of `length` bytes from (MAC ...:AB, 10.0.0.1) to (MAC ...:02, 10.0.0.2),
// or the other way round.
QByteArray ipv4(int length, bool fromNode) {
    QByteArray f = ipv4Frame(17, 1, 2, length);
    const char a[6] = {0x02, 0, 0, 0, 0, static_cast<char>(0xAB)};
    const char b[6] = {0x02, 0, 0, 0, 0, 0x02};
    f.replace(0, 6, QByteArray(fromNode ? b : a, 6));
    f.replace(6, 6, QByteArray(fromNode ? a : b, 6));
    const char ipA[4] = {10, 0, 0, 1};
    const char ipB[4] = {10, 0, 0, 2};
    f.replace(26, 4, QByteArray(fromNode ? ipA : ipB, 4));
    f.replace(30, 4, QByteArray(fromNode ? ipB : ipA, 4));
    return f;
}

} // namespace

class TestCliStats : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Second 0: the node sends 1514 bytes, a station sends an ARP broadcast.
        // Second 1: quiet. Second 2: the node receives 100 bytes.
        m_path = m_dir.filePath(QStringLiteral("three.pcap"));
        QVERIFY(writeCapture(m_path, DLT_EN10MB,
                             {{kStart + 10, ipv4(1514, true)},
                              {kStart + 20, etherFrame(0x0806, 60)},
                              {kStart + 2 * kSecond + 5, ipv4(100, false)}}));
    }

    void general() {
        // Second 0 has two rows: --top 1 keeps the larger only.
        const ProcessResult r = stats({m_path, QStringLiteral("--top"), QStringLiteral("1")});
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        const long long s = kStart / kSecond;
        const double bits[] = {(1514 + 24) * 8 + (60 + 24) * 8, 0, (100 + 24) * 8};
        const double packets[] = {2, 0, 1};
        QByteArray expected;
        double sumBits = 0, sumPackets = 0, peakBits = 0, peakPackets = 0;
        for (int t = 0; t < 3; ++t) {
            sumBits += bits[t];
            sumPackets += packets[t];
            peakBits = std::max(peakBits, bits[t]);
            peakPackets = std::max(peakPackets, packets[t]);
            const double link = 10'000'000;
            expected += QByteArray::number(s + t) + '\t' + fmt("%3.2f", bits[t] * 100 / link) +
                        '\t' + fmt("%3.2f", sumBits / (t + 1) * 100 / link) + '\t' +
                        fmt("%3.2f", peakBits * 100 / link) + '\t' + fmt("%.0f", packets[t]) +
                        '\t' + fmt("%.0f", sumPackets / (t + 1)) + '\t' + fmt("%.0f", peakPackets) +
                        '\t' + fmt("%.0f", bits[t]) + '\t' + fmt("%.0f", sumBits / (t + 1)) + '\t' +
                        fmt("%.0f", peakBits) + '\n';
            if (t == 0)
                expected += "  12304\t10.0.0.1\t10.0.0.2\t02:00:00:00:00:AB\t02:00:00:00:00:02\n";
            if (t == 2)
                expected += "  992\t10.0.0.2\t10.0.0.1\t02:00:00:00:00:02\t02:00:00:00:00:AB\n";
        }
        QCOMPARE(r.out, expected);
    }

    // The minute counts from the capture's first second; letter case of the MAC does not matter.
    void singleNode() {
        const ProcessResult r =
            stats({m_path, QStringLiteral("--node"), QStringLiteral("02:00:00:00:00:ab"),
                   QStringLiteral("--link-speed"), QStringLiteral("100000000")});
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        const long long s = kStart / kSecond;
        const double received[] = {0, 0, 124};
        const double sent[] = {1538, 0, 0};
        double avg[3] = {0, 0, 0}, peak[3] = {0, 0, 0};
        QByteArray expected;
        for (int t = 0; t < 3; ++t) {
            const double bytes[3] = {received[t] + sent[t], received[t], sent[t]};
            expected += QByteArray::number(s + t) + '\t' + fmt("%.0f", bytes[0] * 8) + '\t' +
                        fmt("%.0f", bytes[1] * 8) + '\t' + fmt("%.0f", bytes[2] * 8);
            for (int d = 0; d < 3; ++d) {
                const double current = bytes[d] * 8 * 100 / 100'000'000;
                peak[d] = std::max(peak[d], current);
                avg[d] = (t * avg[d] + current) / (t + 1);
                expected += '\t' + fmt("%3.6f", current) + '\t' + fmt("%3.6f", avg[d]) + '\t' +
                            fmt("%3.6f", peak[d]);
            }
            expected += "\t02:00:00:00:00:02\t10.0.0.2\t";
            expected += t < 2 ? "\t\n" : "02:00:00:00:00:02\t10.0.0.2\n";
        }
        QCOMPARE(r.out, expected);
        QVERIFY(r.out.contains("\t0.012304\t"));
    }

    // Kept captures: one line per second from the first frame's to the last
    // one's, with the packets and bits of each second summed here.
    void keptCaptures_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("telegram") << "ndpi__telegram.pcap";
        QTest::newRow("gateway") << "libpcap__gateway_or_not.pcap";
        QTest::newRow("smb") << "ndpi__smbv1.pcap";
    }
    void keptCaptures() {
        QFETCH(QString, file);
        const QString path = pcapDir() + QLatin1Char('/') + file;
        std::vector<CapturedFrame> frames;
        QCOMPARE(readCaptureFile(path, frames), QString());
        QVERIFY(!frames.empty());
        std::map<long long, std::pair<long long, long long>> perSecond; // packets, bits
        long long first = frames.front().header.tsSec;
        long long current = first;
        for (const CapturedFrame& f : frames) {
            current = std::max<long long>(current, f.header.tsSec); // late frames count now
            auto& [packets, bits] = perSecond[current];
            packets += 1;
            bits += (static_cast<long long>(f.header.wireLen) + 24) * 8;
        }
        const ProcessResult r = stats({path});
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), qsizetype(current - first + 1));
        long long peakPackets = 0, peakBits = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QList<QByteArray> cols = lines[i].split('\t');
            QCOMPARE(cols.size(), 10);
            QCOMPARE(cols[0].toLongLong(), first + i);
            const auto [packets, bits] = perSecond[first + i];
            QCOMPARE(cols[4].toLongLong(), packets);
            QCOMPARE(cols[7].toLongLong(), bits);
            // The peaks, through quiet seconds and new highs.
            peakPackets = std::max(peakPackets, packets);
            peakBits = std::max(peakBits, bits);
            QCOMPARE(cols[6].toLongLong(), peakPackets);
            QCOMPARE(cols[9].toLongLong(), peakBits);
            QCOMPARE(cols[3], fmt("%3.2f", double(peakBits) * 100 / 10'000'000));
        }
    }

    // Without --top the frames are only counted: each second's figures are
    // those of the run that keeps and lists its rows.
    void countedAsListed_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("telegram") << "ndpi__telegram.pcap" << QStringList{};
        QTest::newRow("smb, slow link")
            << "ndpi__smbv1.pcap"
            << QStringList{QStringLiteral("--link-speed"), QStringLiteral("9600")};
        QTest::newRow("jumbogram") << "tcpdump__ipv6_jumbogram_1.pcap" << QStringList{};
        QTest::newRow("bad packets") << "ndpi__badpackets.pcap" << QStringList{};
    }
    void countedAsListed() {
        QFETCH(QString, file);
        QFETCH(QStringList, options);
        const QString path = pcapDir() + QLatin1Char('/') + file;
        const ProcessResult counted = stats(QStringList{path} + options);
        const ProcessResult listed =
            stats(QStringList{path, QStringLiteral("--top"), QStringLiteral("2")} + options);
        QVERIFY2(counted.exited && counted.exitCode == 0, counted.err.constData());
        QVERIFY2(listed.exited && listed.exitCode == 0, listed.err.constData());
        QByteArray figures;
        qsizetype rows = 0;
        for (const QByteArray& line : listed.out.split('\n')) {
            if (line.startsWith("  "))
                ++rows;
            else if (!line.isEmpty())
                figures += line + '\n';
        }
        QVERIFY(rows > 0);
        QCOMPARE(counted.out, figures);
    }

    // Quiet seconds are written until a line would repeat the one before;
    // the rest of a gap of years is jumped.
    // Quiet seconds: every one of a gap up to an hour, as the window shows
    // them; a longer gap (years, in a damaged file) only until its lines
    // stop saying something new.
    void quietGap_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<long long>("gap");
        const QStringList node{QStringLiteral("--node"), QStringLiteral("02:00:00:00:00:ab")};
        const long long years = 3LL * 365 * 86400;
        QTest::newRow("general, 100 s") << QStringList{} << 100LL;
        QTest::newRow("general, an hour") << QStringList{} << 3601LL;
        QTest::newRow("general, years") << QStringList{} << years;
        QTest::newRow("single node, 100 s") << node << 100LL;
        QTest::newRow("single node, years") << node << years;
    }
    void quietGap() {
        QFETCH(QStringList, options);
        QFETCH(long long, gap);
        const QString path = m_dir.filePath(QStringLiteral("gap.pcap"));
        QVERIFY(
            writeCapture(path, DLT_EN10MB,
                         {{kStart, ipv4(1514, true)}, {kStart + gap * kSecond, ipv4(100, true)}}));
        const ProcessResult r =
            runProcess(cliPath(), QStringList{QStringLiteral("stats"), path} + options,
                       std::chrono::seconds(10));
        QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        const long long s = kStart / kSecond;
        const auto secondOf = [](const QByteArray& line) {
            return line.left(line.indexOf('\t')).toLongLong();
        };
        const long long full = std::min<long long>(gap, 3601);
        QVERIFY2(lines.size() >= full + 1 && lines.size() < full + 200,
                 qPrintable(QString::number(lines.size())));
        for (qsizetype i = 0; i < full; ++i)
            QCOMPARE(secondOf(lines[i]), s + i);
        QByteArray before;
        for (qsizetype i = full; i + 1 < lines.size(); ++i) {
            QCOMPARE(secondOf(lines[i]), s + i);
            const QByteArray figures = lines[i].mid(lines[i].indexOf('\t'));
            QVERIFY(figures != before); // beyond the hour, each line says something new
            before = figures;
        }
        QCOMPARE(secondOf(lines.last()), s + gap);
    }

    void failures_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("no source") << QStringList{} << 2 << QByteArray("usage:");
        QTest::newRow("bad MAC") << QStringList{QStringLiteral("x.pcap"), QStringLiteral("--node"),
                                                QStringLiteral("02:00:00:00:00")}
                                 << 2 << QByteArray("is not a MAC address");
        QTest::newRow("top with node")
            << QStringList{QStringLiteral("x.pcap"), QStringLiteral("--node=02:00:00:00:00:01"),
                           QStringLiteral("--top=3")}
            << 2 << QByteArray("not with --node");
        QTest::newRow("link speed 0")
            << QStringList{QStringLiteral("x.pcap"), QStringLiteral("--link-speed"),
                           QStringLiteral("0")}
            << 2 << QByteArray("--link-speed");
        QTest::newRow("missing file") << QStringList{QStringLiteral("/nonexistent/x.pcap")} << 1
                                      << QByteArray("cannot open capture file");
    }
    void failures() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        const ProcessResult r = stats(args);
        QVERIFY(r.exited);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestCliStats)
#include "tst_cli_stats.moc"
