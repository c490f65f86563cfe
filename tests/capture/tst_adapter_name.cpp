// The adapter-name grammar: one parse decides whether a name is a device, a
// capture file, a command's stream or the standard input, and the older
// helpers agree with it.

#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;

Q_DECLARE_METATYPE(qarsilo::AdapterKind)

class TestAdapterName : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void prefixWinsOverAnExistingFile();
    void bareCommandPrefixSelectsNothing();
    void sourceArgument_data();
    void sourceArgument();
};

void TestAdapterName::parse_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<AdapterKind>("kind");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("selects");

    using K = AdapterKind;
    const auto s = [](const char* t) { return QString::fromUtf8(t); };
    QTest::newRow("device") << s("eth0") << K::Device << s("eth0") << true;
    QTest::newRow("device with a dot") << s("enp3s0.100") << K::Device << s("enp3s0.100") << true;
    QTest::newRow("empty") << QString() << K::None << QString() << false;
    QTest::newRow("file") << s("file:/data/lan one.pcapng") << K::CaptureFile
                          << s("/data/lan one.pcapng") << true;
    QTest::newRow("relative file") << s("file:lan.pcap") << K::CaptureFile << s("lan.pcap") << true;
    QTest::newRow("file: alone") << s("file:") << K::CaptureFile << QString() << false;
    QTest::newRow("file named like a command")
        << s("file:pipe:cat x") << K::CaptureFile << s("pipe:cat x") << true;
    QTest::newRow("file named -") << s("file:-") << K::CaptureFile << s("-") << true;
    QTest::newRow("command") << s("pipe:ssh sensor1 tcpdump -U -w - -i eth0") << K::Command
                             << s("ssh sensor1 tcpdump -U -w - -i eth0") << true;
    QTest::newRow("pipe: alone") << s("pipe:") << K::Command << QString() << false;
    QTest::newRow("command of blanks") << s("pipe: ") << K::Command << s(" ") << true;
    QTest::newRow("command named like a file")
        << s("pipe:file:x") << K::Command << s("file:x") << true;
    QTest::newRow("standard input") << s("-") << K::StandardInput << QString() << true;
    // Prefixes are case-sensitive and match at the very start only: anything
    // else is a device name, handed to libpcap as it is.
    QTest::newRow("File: capitalised") << s("File:/x") << K::Device << s("File:/x") << true;
    QTest::newRow("PIPE: capitalised") << s("PIPE:ls") << K::Device << s("PIPE:ls") << true;
    QTest::newRow("blank before file:") << s(" file:/x") << K::Device << s(" file:/x") << true;
    QTest::newRow("file without colon") << s("file/x") << K::Device << s("file/x") << true;
    QTest::newRow("two dashes") << s("--") << K::Device << s("--") << true;
    QTest::newRow("dash and blank") << s("- ") << K::Device << s("- ") << true;
}

void TestAdapterName::parse() {
    QFETCH(QString, name);
    QFETCH(AdapterKind, kind);
    QFETCH(QString, argument);
    QFETCH(bool, selects);

    const AdapterName parsed = parseAdapterName(name);
    QCOMPARE(parsed.kind, kind);
    QCOMPARE(parsed.argument, argument);
    QCOMPARE(parsed.selectsSource(), selects);

    // The helpers the callers use say the same.
    const bool file = kind == AdapterKind::CaptureFile;
    const bool command = kind == AdapterKind::Command;
    QCOMPARE(isCaptureFileAdapter(name), file);
    QCOMPARE(captureFilePath(name), file ? argument : QString());
    QCOMPARE(isCommandAdapter(name), command);
    const bool stream = command || kind == AdapterKind::StandardInput;
    QCOMPARE(parsed.isStream(), stream);
    QCOMPARE(isStreamAdapter(name), stream);
    if (file)
        QCOMPARE(captureFileAdapterName(argument), name);
    QCOMPARE(adapterNameText(parsed), name);
}

// Only the prefix decides: a "pipe:" name stays a command even when a file of
// that very name lies in the working folder.
void TestAdapterName::prefixWinsOverAnExistingFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    QFile file(QStringLiteral("pipe:cat x"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const AdapterName parsed = parseAdapterName(QStringLiteral("pipe:cat x"));
    QDir::setCurrent(previous);
    QCOMPARE(parsed.kind, AdapterKind::Command);
    QCOMPARE(parsed.argument, QStringLiteral("cat x"));
}

// A bare prefix names nothing to open: start fails before running anything.
void TestAdapterName::bareCommandPrefixSelectsNothing() {
    CaptureSession session(CaptureWindow::CommandLine);
    const CaptureStartResult r = session.start(QStringLiteral("pipe:"));
    QCOMPARE(r.status, CaptureStatus::OpenFailed);
    QCOMPARE(r.error, QStringLiteral("no adapter selected"));
    QVERIFY(!session.isRunning());
    QCOMPARE(session.processGroup(), 0);
}

// A command-line SOURCE: an argument naming an existing file is that file,
// whatever it spells; the stored adapter name above keeps the prefix rule.
void TestAdapterName::sourceArgument_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<AdapterKind>("kind");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("commandNotRun");

    using K = AdapterKind;
    const auto s = [](const char* t) { return QString::fromUtf8(t); };
    const QString hostile = s("pipe:id>X;cat ok.pcap");
    QTest::newRow("hostile file name is read, not run")
        << hostile << true << K::CaptureFile << hostile << true;
    QTest::newRow("command when no such file")
        << hostile << false << K::Command << s("id>X;cat ok.pcap") << false;
    QTest::newRow("existing file: name is that file")
        << s("file:x") << true << K::CaptureFile << s("file:x") << false;
    QTest::newRow("file: prefix otherwise")
        << s("file:x") << false << K::CaptureFile << s("x") << false;
    QTest::newRow("dash stays the standard input")
        << s("-") << true << K::StandardInput << QString() << false;
    QTest::newRow("existing file named like a device")
        << s("eth0") << true << K::CaptureFile << s("eth0") << false;
    QTest::newRow("device") << s("eth0") << false << K::Device << s("eth0") << false;
    QTest::newRow("path") << s("caps/x") << false << K::CaptureFile << s("caps/x") << false;
    QTest::newRow("capture suffix")
        << s("x.pcapng") << false << K::CaptureFile << s("x.pcapng") << false;
    QTest::newRow("nothing") << QString() << false << K::None << QString() << false;
}

void TestAdapterName::sourceArgument() {
    QFETCH(QString, source);
    QFETCH(bool, exists);
    QFETCH(AdapterKind, kind);
    QFETCH(QString, argument);
    QFETCH(bool, commandNotRun);

    const SourceArgument parsed = parseSourceArgument(source, exists);
    QCOMPARE(parsed.name.kind, kind);
    QCOMPARE(parsed.name.argument, argument);
    QCOMPARE(parsed.commandNotRun, commandNotRun);

    // The same through the file system.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    if (exists) {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const SourceArgument seen = parseSourceArgument(source);
    QDir::setCurrent(previous);
    QCOMPARE(seen.name, parsed.name);
    QCOMPARE(seen.commandNotRun, commandNotRun);
}

QTEST_GUILESS_MAIN(TestAdapterName)
#include "tst_adapter_name.moc"
