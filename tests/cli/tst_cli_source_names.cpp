// A SOURCE argument that names an existing file is read as that file, whatever
// it spells: a hostile file name such as "pipe:touch ran; cat ok.pcap" in a
// folder the user loops over must never run the command it spells.

#include "support/run_process.h"
#include "support/test_paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo::test;

class TestCliSourceNames : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fileNamedLikeACommand_data();
    void fileNamedLikeACommand();
};

namespace {
constexpr const char* kHostile = "pipe:touch ran; cat ok.pcap";
constexpr const char* kSource = "@SOURCE@";
} // namespace

void TestCliSourceNames::fileNamedLikeACommand_data() {
    QTest::addColumn<QStringList>("args");
    const auto args = [](std::initializer_list<const char*> list) {
        QStringList out;
        for (const char* a : list)
            out << QString::fromUtf8(a);
        return out;
    };
    QTest::newRow("list") << args({"list", kSource});
    QTest::newRow("stats") << args({"stats", kSource});
    QTest::newRow("trace") << args({"trace", kSource, "--node", "00:00:00:00:00:01"});
    QTest::newRow("chart") << args({"chart", "size", kSource});
    QTest::newRow("discover") << args({"discover", kSource, "--mode", "ip"});
    QTest::newRow("decode") << args({"decode", kSource, "1"});
}

void TestCliSourceNames::fileNamedLikeACommand() {
    QFETCH(QStringList, args);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString capture = pcapDir() + QStringLiteral("/tcpdump__dns_udp.pcap");
    const QString hostile = QString::fromUtf8(kHostile);
    QVERIFY(QFile::copy(capture, dir.filePath(QStringLiteral("ok.pcap"))));
    QVERIFY(QFile::copy(capture, dir.filePath(hostile)));

    const auto run = [&](const QString& source) {
        QStringList withSource = args;
        withSource.replaceInStrings(QString::fromUtf8(kSource), source);
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        ProcessResult r = runProcess(cliPath(), withSource, std::chrono::seconds(60));
        QDir::setCurrent(previous);
        return r;
    };
    const ProcessResult reference = run(QStringLiteral("ok.pcap"));
    QVERIFY(reference.exited);
    QCOMPARE(reference.exitCode, 0);
    const ProcessResult named = run(hostile);
    QVERIFY(named.exited);

    QVERIFY2(!QFile::exists(dir.filePath(QStringLiteral("ran"))), "the file name ran a command");
    QCOMPARE(named.exitCode, reference.exitCode);
    // The file was read: the same figures (a name in the output aside).
    QCOMPARE(QString::fromUtf8(named.out).replace(hostile, QStringLiteral("ok.pcap")),
             QString::fromUtf8(reference.out));
    QVERIFY2(named.err.contains("is the name of an existing file"), named.err.constData());
}

QTEST_GUILESS_MAIN(TestCliSourceNames)
#include "tst_cli_source_names.moc"
