// qarsilo-cli decode: every golden frame of tests/data/decode printed exactly
// as expected, the same text the core builds in-process, and the failures
// with their exit codes and messages.

#include "core/analysis/decode_tree.h"
#include "core/analysis/hex_dump.h"
#include "support/run_process.h"
#include "support/test_paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <pcap/pcap.h>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

QString goldenDir() {
    return testDataDir() + QStringLiteral("/decode");
}

QString crafted() {
    return goldenDir() + QStringLiteral("/crafted.pcap");
}

ProcessResult decodeCli(const QStringList& args) {
    return runProcess(cliPath(), QStringList{QStringLiteral("decode")} + args);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Frame `number` of `path` through the core, as the tool must print it.
QByteArray inProcess(const QString& path, int number) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (!p)
        return {};
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    QByteArray out;
    for (int i = 1; pcap_next_ex(p, &h, &bytes) == 1; ++i) {
        if (i == number) {
            const FrameHeader header = frameHeaderFrom(*h);
            out = (decodeTreeText(decodeFrame(header, bytes)) +
                   hexDump(header, bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n")))
                      .toUtf8();
            break;
        }
    }
    pcap_close(p);
    return out;
}

// A capture file of one IPv4 frame whose file header gives `linkType`;
// written by hand, as libpcap writes no link type it has no name for.
bool writeCapture(const QString& path, quint32 linkType) {
    const quint32 fileHeader[6] = {0xa1b2c3d4, 0x00040002, 0, 0, 65535, linkType};
    const u_char frame[20] = {0x45, 0, 0, 20, 0, 0, 0, 0, 64, 17, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2};
    const quint32 record[4] = {0, 0, sizeof frame, sizeof frame};
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(reinterpret_cast<const char*>(fileHeader), sizeof fileHeader);
    f.write(reinterpret_cast<const char*>(record), sizeof record);
    f.write(reinterpret_cast<const char*>(frame), sizeof frame);
    return f.error() == QFileDevice::NoError;
}

} // namespace

class TestCliDecode : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void golden_data();
    void golden();
    void fileSourceName();
    void failures_data();
    void failures();
    void otherLinkType_data();
    void otherLinkType();

private:
    QTemporaryDir m_dir;
};

void TestCliDecode::golden_data() {
    QTest::addColumn<QString>("capture");
    QTest::addColumn<int>("frame");
    QTest::addColumn<QString>("expected");
    QFile list(goldenDir() + QStringLiteral("/TESTLIST"));
    QVERIFY2(list.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(list.fileName()));
    int rows = 0;
    while (!list.atEnd()) {
        const QString line = QString::fromUtf8(list.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList cols = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QVERIFY2(cols.size() == 3, qPrintable(line));
        const QString capture = cols[1].startsWith(QLatin1String("pcap:"))
                                    ? pcapDir() + QLatin1Char('/') + cols[1].mid(5)
                                    : goldenDir() + QLatin1Char('/') + cols[1];
        QTest::newRow(qPrintable(cols[0]))
            << capture << cols[2].toInt()
            << goldenDir() + QLatin1Char('/') + cols[0] + QStringLiteral(".out");
        ++rows;
    }
    QVERIFY(rows > 0);
}

void TestCliDecode::golden() {
    QFETCH(QString, capture);
    QFETCH(int, frame);
    QFETCH(QString, expected);
    const ProcessResult r = decodeCli({capture, QString::number(frame)});
    QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
    QCOMPARE(r.err, QByteArray());
    const QByteArray want = readAll(expected);
    QVERIFY2(!want.isEmpty(), qPrintable(expected));
    // Line by line first, so that a failure names the line.
    const QList<QByteArray> got = r.out.split('\n');
    const QList<QByteArray> lines = want.split('\n');
    for (qsizetype i = 0; i < std::min(got.size(), lines.size()); ++i)
        QCOMPARE(got[i], lines[i]);
    QCOMPARE(r.out, want);
    QCOMPARE(r.out, inProcess(capture, frame));
}

void TestCliDecode::fileSourceName() {
    const ProcessResult plain = decodeCli({crafted(), QStringLiteral("7")});
    const ProcessResult prefixed =
        decodeCli({QStringLiteral("file:") + crafted(), QStringLiteral("7")});
    QCOMPARE(plain.exitCode, 0);
    QCOMPARE(prefixed.exitCode, 0);
    QCOMPARE(prefixed.out, plain.out);
}

void TestCliDecode::failures_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QString missing = QDir::tempPath() + QStringLiteral("/qarsilo-no-such-capture.pcap");
    QTest::newRow("no arguments") << QStringList() << 2
                                  << QStringLiteral("usage: qarsilo-cli decode");
    QTest::newRow("no frame number") << QStringList{crafted()} << 2 << QStringLiteral("usage:");
    QTest::newRow("three arguments")
        << QStringList{crafted(), QStringLiteral("1"), QStringLiteral("2")} << 2
        << QStringLiteral("usage:");
    QTest::newRow("missing file") << QStringList{missing, QStringLiteral("1")} << 1
                                  << QStringLiteral("cannot open capture file '%1'").arg(missing);
    QTest::newRow("not a capture")
        << QStringList{testDataDir() + QStringLiteral("/not-a-capture.txt"), QStringLiteral("1")}
        << 1 << QStringLiteral("cannot open capture file");
    for (const char* bad :
         {"0", "-1", "abc", "1.5", "+1", " 1", "", "1e3", "99999999999999999999"}) {
        QTest::addRow("frame '%s'", bad)
            << QStringList{crafted(), QString::fromLatin1(bad)} << 2
            << QStringLiteral("N must be a frame number from 1 up, not '%1'")
                   .arg(QString::fromLatin1(bad));
    }
    QTest::newRow("past the end") << QStringList{crafted(), QStringLiteral("23")} << 1
                                  << QStringLiteral("holds 22 frames; there is no frame 23");
    QTest::newRow("far past the end")
        << QStringList{pcapDir() + QStringLiteral("/tcpdump__dns_udp.pcap"),
                       QStringLiteral("4294967297")}
        << 1 << QStringLiteral("holds 2 frames; there is no frame 4294967297");
}

void TestCliDecode::failures() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const ProcessResult r = decodeCli(args);
    QVERIFY(r.exited);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(QString::fromLocal8Bit(r.err).contains(message), r.err.constData());
}

// The link type is named when libpcap knows it, given by number otherwise.
void TestCliDecode::otherLinkType_data() {
    QTest::addColumn<quint32>("linkType");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("raw IP") << quint32(101) << QByteArray("(link type RAW)\n");
    QTest::newRow("no name") << quint32(65534) << QByteArray("(link type 65534)\n");
}

void TestCliDecode::otherLinkType() {
    QFETCH(quint32, linkType);
    QFETCH(QByteArray, said);
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(QStringLiteral("link-%1.pcap").arg(linkType));
    QVERIFY(writeCapture(path, linkType));
    const ProcessResult r = decodeCli({path, QStringLiteral("1")});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.contains("its frames are not Ethernet"), r.err.constData());
    QVERIFY2(r.err.endsWith(said), r.err.constData());
}

QTEST_GUILESS_MAIN(TestCliDecode)
#include "tst_cli_decode.moc"
