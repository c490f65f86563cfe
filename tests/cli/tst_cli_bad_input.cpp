// qarsilo-cli on input that has gone wrong before: output that cannot be
// written, sources that are not Ethernet, file names that are not UTF-8.

#include "capture/capture_test_util.h"
#include "capture/native_path.h"
#include "capture/run_process.h"
#include "support/test_paths.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>

using namespace qarsilo;
using namespace qarsilo::test;

class TestCliBadInput : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void badInput_data();
    void badInput();
    void cleanupTestCase() { ::unlink(nativeFileName(m_oddName).constData()); }

private:
    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    QTemporaryDir m_dir;
    QString m_oddName; // a copy of the DNS capture under a name that is not UTF-8
};

void TestCliBadInput::initTestCase() {
    QVERIFY(m_dir.isValid());
    QFile in(pcapDir() + QStringLiteral("/tcpdump__dns_udp.pcap"));
    QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(in.fileName()));
    const QByteArray bytes = in.readAll();
    const QByteArray odd = QFile::encodeName(m_dir.path()) + "/n\xffu\xfe.pcap";
    const int fd = ::open(odd.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())),
             static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    m_oddName = fileNameFromNative(odd);
    QCOMPARE(nativeFileName(m_oddName), odd);

    const QByteArray ip(28, '\x45');
    QVERIFY(writeCapture(path("raw.pcap"), DLT_RAW, {{0, ip}}));
    QVERIFY(writeCapture(path("sll.pcap"), DLT_LINUX_SLL, {{0, QByteArray(44, 'x')}}));
    QVERIFY(writeCapture(path("wifi.pcap"), DLT_IEEE802_11, {{0, QByteArray(40, 'w')}}));
}

// One row per fault: the command, where its output goes, and what must come
// of it. A row with `sameAs` prints exactly what that command prints.
void TestCliBadInput::badInput_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("stdoutFile");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("sameAs");

    const QString dns = pcapDir() + QStringLiteral("/tcpdump__dns_udp.pcap");
    const QString eapon = pcapDir() + QStringLiteral("/tcpdump__eapon1.pcap");
    const auto a = [](std::initializer_list<QString> items) { return QStringList(items); };
    const auto s = [](const char* text) { return QString::fromLatin1(text); };
    const QByteArray full("/dev/full");

    QTest::newRow("list, disk full")
        << a({s("list"), eapon}) << full << 1
        << s("cannot write the output: No space left on device") << QStringList();
    QTest::newRow("decode, disk full") << a({s("decode"), eapon, s("1")}) << full << 1
                                       << s("cannot write the output") << QStringList();
    QTest::newRow("chart, disk full") << a({s("chart"), s("size"), eapon}) << full << 1
                                      << s("cannot write the output") << QStringList();
    QTest::newRow("devices, disk full")
        << a({s("devices")}) << full << 1 << s("cannot write the output") << QStringList();
    QTest::newRow("list, raw IP") << a({s("list"), path("raw.pcap")}) << QByteArray() << 1
                                  << s("its frames are not Ethernet (link type RAW)")
                                  << QStringList();
    QTest::newRow("list, cooked") << a({s("list"), path("sll.pcap")}) << QByteArray() << 1
                                  << s("not Ethernet (link type LINUX_SLL)") << QStringList();
    QTest::newRow("list, 802.11") << a({s("list"), path("wifi.pcap")}) << QByteArray() << 1
                                  << s("not Ethernet (link type IEEE802_11)") << QStringList();
    QTest::newRow("list, name not UTF-8")
        << a({s("list"), m_oddName}) << QByteArray() << 0 << QString() << a({s("list"), dns});
    QTest::newRow("decode, name not UTF-8") << a({s("decode"), m_oddName, s("2")}) << QByteArray()
                                            << 0 << QString() << a({s("decode"), dns, s("2")});
    QTest::newRow("stats, name not UTF-8")
        << a({s("stats"), m_oddName}) << QByteArray() << 0 << QString() << a({s("stats"), dns});
    QTest::newRow("discover, name not UTF-8")
        << a({s("discover"), m_oddName, s("--mode"), s("ip")}) << QByteArray() << 0 << QString()
        << a({s("discover"), dns, s("--mode"), s("ip")});
    QTest::newRow("trace, name not UTF-8")
        << a({s("trace"), m_oddName, s("--node"), s("00:11:22:33:44:55")}) << QByteArray() << 0
        << QString() << a({s("trace"), dns, s("--node"), s("00:11:22:33:44:55")});
    QTest::newRow("chart, name not UTF-8")
        << a({s("chart"), s("network"), m_oddName}) << QByteArray() << 0 << QString()
        << a({s("chart"), s("network"), dns});
}

void TestCliBadInput::badInput() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, stdoutFile);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QStringList, sameAs);

    const ProcessResult r = runProcess(cliPath(), args, std::chrono::seconds(60), {},
                                       stdoutFile.isEmpty() ? nullptr : stdoutFile.constData());
    QVERIFY(r.exited);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    if (!message.isEmpty())
        QVERIFY2(QString::fromLocal8Bit(r.err).contains(message), r.err.constData());
    if (!sameAs.isEmpty()) {
        const ProcessResult reference = runProcess(cliPath(), sameAs);
        QCOMPARE(reference.exitCode, 0);
        QVERIFY(!reference.out.isEmpty());
        QCOMPARE(r.out, reference.out);
    }
}

QTEST_GUILESS_MAIN(TestCliBadInput)
#include "tst_cli_bad_input.moc"
