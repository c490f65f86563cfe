// qarsilo-cli over streams that end badly: cut mid-record, interrupted,
// hung up, killed, or writing into an output nobody reads. The stream's
// command writes its process id first, so the test can tell that it ended.

#include "support/capture_test_util.h"
#include "support/run_process.h"
#include "support/test_paths.h"
#include "support/trace_frames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

constexpr long long kSecond = 1'000'000;
constexpr long long kStart = 1'700'000'000 * kSecond;

struct Run {
    bool ended = false; ///< within the wait after the signal
    bool exited = false;
    int exitCode = -1;
    double msToEnd = 0;
    QByteArray out;
    QByteArray err;
};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Starts the tool with `args` and TMPDIR `tmp`; once `pidFile` exists and a
// moment more has passed, sends `signal` and waits for the end. With
// `blockOutput` the standard output is a pipe nobody reads.
Run signalled(const QStringList& args, const QString& tmp, const QString& pidFile, int signal,
              bool blockOutput, const QString& outFile, const QString& errFile) {
    Run run;
    std::vector<QByteArray> argData{QFile::encodeName(cliPath())};
    for (const QString& a : args)
        argData.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : argData)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QByteArray tmpEnv = "TMPDIR=" + QFile::encodeName(tmp);
    QByteArray platform("QT_QPA_PLATFORM=offscreen");
    // Not in TMPDIR: Qt would make its runtime folder there.
    QByteArray runtime = "XDG_RUNTIME_DIR=" + QFile::encodeName(QFileInfo(outFile).absolutePath());
    char* env[] = {tmpEnv.data(), platform.data(), runtime.data(), nullptr};
    const QByteArray outName = QFile::encodeName(outFile);
    const QByteArray errName = QFile::encodeName(errFile);
    int blocked[2] = {-1, -1};
    if (blockOutput && ::pipe2(blocked, O_CLOEXEC) != 0)
        return run;

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        const int out = blockOutput ? blocked[1] : ::open(outName.constData(), O_WRONLY);
        ::dup2(out, 1);
        ::dup2(::open(errName.constData(), O_WRONLY), 2);
        ::execve(argv[0], argv.data(), env);
        ::_exit(127);
    }
    if (blocked[1] >= 0)
        ::close(blocked[1]);
    using Clock = std::chrono::steady_clock;
    const auto waitUntil = [&](Clock::time_point due, const std::function<bool()>& done) {
        while (!done() && Clock::now() < due)
            ::usleep(10'000);
        return done();
    };
    int status = 0;
    bool reaped = false;
    const auto ended = [&] {
        if (!reaped)
            reaped = ::waitpid(pid, &status, WNOHANG) == pid;
        return reaped;
    };
    waitUntil(Clock::now() + std::chrono::seconds(10), [&] { return QFile::exists(pidFile); });
    ::usleep(700'000); // the command's frames are read (or the output is full)
    const auto sent = Clock::now();
    ::kill(pid, signal);
    run.ended = waitUntil(sent + std::chrono::seconds(5), ended);
    run.msToEnd = msBetween(sent, Clock::now());
    if (!run.ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    if (blocked[0] >= 0)
        ::close(blocked[0]);
    run.exited = WIFEXITED(status);
    run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
    run.out = readAll(outFile);
    run.err = readAll(errFile);
    return run;
}

bool processRuns(const QString& pidFile) {
    const QByteArray pid = readAll(pidFile).trimmed();
    return !pid.isEmpty() && QFile::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid));
}

} // namespace

class TestCliStreams : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Twenty seconds of the monitored node talking to three peers, a
        // few frames a second: output for every command.
        std::vector<TestFrame> frames;
        for (int s = 0; s < 20; ++s)
            for (int i = 0; i < 6; ++i)
                frames.push_back({kStart + s * kSecond + i * 1000,
                                  i % 2 ? toPeer(1 + i % 3)
                                        : between(kMonitored, peer(1 + i % 3), ipv4Frame(17))});
        m_whole = m_dir.filePath(QStringLiteral("whole.pcap"));
        QVERIFY(writeCapture(m_whole, DLT_EN10MB, frames));
        // The same with a last frame cut in its middle, as a broken
        // connection leaves a stream.
        frames.push_back({kStart + 20 * kSecond, toPeer(4)});
        const QString longer = m_dir.filePath(QStringLiteral("longer.pcap"));
        QVERIFY(writeCapture(longer, DLT_EN10MB, frames));
        QByteArray cut = readAll(longer);
        cut.chop(30);
        m_cut = m_dir.filePath(QStringLiteral("cut.pcap"));
        QFile f(m_cut);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(cut) == cut.size());
        // Much output a second for --top: more than a pipe holds.
        std::vector<TestFrame> busy;
        for (int s = 0; s < 200; ++s)
            for (int i = 0; i < 60; ++i)
                busy.push_back({kStart + s * kSecond + i, toPeer(1 + i % 9)});
        m_busy = m_dir.filePath(QStringLiteral("busy.pcap"));
        QVERIFY(writeCapture(m_busy, DLT_EN10MB, busy));
    }

    // What came before the cut is written as the whole frames in a file
    // give it, then the error.
    void cutMidRecord_data() {
        QTest::addColumn<QStringList>("args");
        const QString node = QStringLiteral("02:00:00:00:00:aa");
        QTest::newRow("trace, stream")
            << QStringList{QStringLiteral("trace"), QStringLiteral("pipe:cat '%1'"),
                           QStringLiteral("--node"), node};
        QTest::newRow("trace, file") << QStringList{QStringLiteral("trace"), QStringLiteral("%1"),
                                                    QStringLiteral("--node"), node};
        QTest::newRow("chart, stream") << QStringList{
            QStringLiteral("chart"), QStringLiteral("size"), QStringLiteral("pipe:cat '%1'")};
        QTest::newRow("chart of two captures, file")
            << QStringList{QStringLiteral("chart"), QStringLiteral("v4v6"), QStringLiteral("%1")};
    }
    void cutMidRecord() {
        QFETCH(QStringList, args);
        QStringList whole = args;
        for (QString& a : whole)
            a = a.arg(m_whole);
        for (QString& a : args)
            a = a.arg(m_cut);
        const ProcessResult expected = runProcess(cliPath(), whole);
        QCOMPARE(expected.exitCode, 0);
        QVERIFY(expected.out.count('\n') >= 20);
        const ProcessResult r = runProcess(cliPath(), args);
        QVERIFY(r.exited);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("truncated dump file"), r.err.constData());
        QCOMPARE(r.out, expected.out);
    }

    // A signal ends the run at once and the stream's command with it; no
    // temporary file is left behind, even by a killed run.
    void signals_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("blockOutput");
        QTest::addColumn<int>("exitCode");   // -1: ended by the signal
        QTest::addColumn<bool>("hasOutput"); // the seconds read are written
        QTest::addColumn<bool>("commandEnds");
        const QString reading = QStringLiteral("pipe:echo $$ > '%1'; cat '%2'; exec sleep 100");
        const QString waiting = QStringLiteral("pipe:echo $$ > '%1'; exec sleep 100");
        const QString node = QStringLiteral("02:00:00:00:00:aa");
        const auto trace = [&](const QString& source) {
            return QStringList{QStringLiteral("trace"), source, QStringLiteral("--node"), node};
        };
        // A hang-up (a closed terminal or ssh) ends a stream as Ctrl+C does.
        QTest::newRow("trace, hang-up while reading")
            << trace(reading) << SIGHUP << false << 0 << true << true;
        QTest::newRow("trace, SIGINT before the header")
            << trace(waiting) << SIGINT << false << 1 << false << true;
        QTest::newRow("stats, hang-up while reading")
            << QStringList{QStringLiteral("stats"), reading} << SIGHUP << false << 1 << true
            << true;
        QTest::newRow("stats, SIGINT with the output blocked")
            << QStringList{QStringLiteral("stats"), reading, QStringLiteral("--top"),
                           QStringLiteral("9")}
            << SIGINT << true << 1 << false << true;
        QTest::newRow("chart, SIGTERM before the header")
            << QStringList{QStringLiteral("chart"), QStringLiteral("size"), waiting} << SIGTERM
            << false << 1 << false << true;
        QTest::newRow("chart, killed while keeping the stream")
            << QStringList{QStringLiteral("chart"), QStringLiteral("size"), reading} << SIGKILL
            << false << -1 << false << false;
    }
    void signals() {
        QFETCH(QStringList, args);
        QFETCH(int, signal);
        QFETCH(bool, blockOutput);
        QFETCH(int, exitCode);
        QFETCH(bool, hasOutput);
        QFETCH(bool, commandEnds);
        QTemporaryDir dir;
        QTemporaryDir tmp;
        QVERIFY(dir.isValid() && tmp.isValid());
        const QString pidFile = dir.filePath(QStringLiteral("pid"));
        for (QString& a : args)
            if (a.startsWith(QLatin1String("pipe:")))
                a = a.arg(pidFile, blockOutput ? m_busy : m_whole);
        const QString out = dir.filePath(QStringLiteral("out"));
        const QString err = dir.filePath(QStringLiteral("err"));
        QFile(out).open(QIODevice::WriteOnly);
        QFile(err).open(QIODevice::WriteOnly);
        const Run r = signalled(args, tmp.path(), pidFile, signal, blockOutput, out, err);
        const bool left = processRuns(pidFile);
        if (left)
            ::kill(-readAll(pidFile).trimmed().toInt(), SIGKILL);
        QVERIFY2(r.ended && r.msToEnd < 2000, qPrintable(QString::number(r.msToEnd)));
        QVERIFY2(!left || !commandEnds, "the stream's command still runs");
        QVERIFY2(r.exitCode == exitCode, r.err.constData());
        QCOMPARE(!r.out.isEmpty(), hasOutput);
        QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
    }

private:
    QTemporaryDir m_dir;
    QString m_whole;
    QString m_cut;
    QString m_busy;
};

QTEST_GUILESS_MAIN(TestCliStreams)
#include "tst_cli_streams.moc"
