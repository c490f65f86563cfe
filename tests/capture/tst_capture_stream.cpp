// CaptureSession on "pipe:" commands: every frame of the command's stream
// arrives, a command that fails or ends is told with its standard error text,
// and Stop ends the command's whole process group.

#include "core/capture/capture_session.h"
#include "support/capture_test_util.h"
#include "support/scripted_message_service.h"
#include "support/test_paths.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>

using namespace qarsilo;
using namespace qarsilo::test;

Q_DECLARE_METATYPE(qarsilo::CaptureStatus)
Q_DECLARE_METATYPE(qarsilo::CaptureWindow)
Q_DECLARE_METATYPE(qarsilo::LoopEnd)

namespace {

QString capture() {
    return pcapDir() + QStringLiteral("/tcpdump__eapon1.pcap");
}

int framesIn(const QString& path) {
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (!p)
        return -1;
    pcap_pkthdr* h;
    const u_char* bytes;
    int n = 0;
    while (pcap_next_ex(p, &h, &bytes) == 1)
        ++n;
    pcap_close(p);
    return n;
}

// Members of process group `group` that still run (zombies have ended).
int runningInGroup(pid_t group) {
    int n = 0;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (pid.toInt() <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid pgrp ...; comm may hold spaces.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 2 && f[0] != "Z" && f[2].toInt() == group)
            ++n;
    }
    return n;
}

// The lengths a window with snapshot length `snapLen` sees of the capture
// at `path`: the sum of the captured lengths (cut), of the wire lengths and
// the longest captured length.
struct Lengths {
    long long cap = 0;
    long long wire = 0;
    bpf_u_int32 maxCap = 0;
    int frames = 0;
};

Lengths expectedLengths(const QString& path, int snapLen) {
    Lengths out;
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (!p)
        return out;
    pcap_pkthdr* h;
    const u_char* bytes;
    while (pcap_next_ex(p, &h, &bytes) == 1) {
        const bpf_u_int32 cap = std::min(h->caplen, static_cast<bpf_u_int32>(snapLen));
        out.cap += cap;
        out.wire += h->len;
        out.maxCap = std::max(out.maxCap, cap);
        ++out.frames;
    }
    pcap_close(p);
    return out;
}

} // namespace

class TestCaptureStream : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commands_data();
    void commands();
    void stopEndsTheProcessGroup();
    void windowKeepsRunningWhileWaiting();
    void stopWhileWaiting();
    void helperFailsAsInProcess_data();
    void helperFailsAsInProcess();
    void snapLengthCutAlike_data();
    void snapLengthCutAlike();
};

void TestCaptureStream::commands_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<CaptureStatus>("status");
    QTest::addColumn<LoopEnd>("end");
    QTest::addColumn<bool>("allFrames");
    QTest::addColumn<QString>("text");

    using S = CaptureStatus;
    const auto s = [](const char* t) { return QString::fromLatin1(t); };
    QTest::newRow("cat a capture") << s("cat '%1'") << S::Started << LoopEnd::EndOfFile << true
                                   << s("the command ended (exit code 0)");
    QTest::newRow("ends after the frames, failing")
        << s("cat '%1'; echo 'sensor1: link lost' >&2; exit 4") << S::Started << LoopEnd::Error
        << true << s("exit code 4)\nsensor1: link lost");
    QTest::newRow("fails at once")
        << s("echo 'ssh: connect to host sensor1 port 22: No route to host' >&2; exit 255")
        << S::OpenFailed << LoopEnd::Running << false
        << s("exit code 255)\nssh: connect to host sensor1 port 22: No route to host");
    QTest::newRow("not a capture") << s("echo hello") << S::OpenFailed << LoopEnd::Running << false
                                   << s("the command ended (exit code 0)");
    QTest::newRow("no such command") << s("qarsilo-no-such-command") << S::OpenFailed
                                     << LoopEnd::Running << false << s("not found");
    QTest::newRow("cut inside a frame")
        << s("head -c 200 '%1'") << S::Started << LoopEnd::Error << false << s("truncated");
}

void TestCaptureStream::commands() {
    QFETCH(QString, command);
    QFETCH(CaptureStatus, status);
    QFETCH(LoopEnd, end);
    QFETCH(bool, allFrames);
    QFETCH(QString, text);

    ScriptedMessageService messages;
    const int fds = openFdCount();
    std::atomic<int> frames{0};
    std::atomic<int> ends{0};
    QList<StreamWait> waits;
    CaptureSession::setStreamWaitHandler(
        [&](StreamWait state, const QString&) { waits.push_back(state); });
    CaptureSession session(CaptureWindow::CaptureDecodeView);
    session.setHandler([&](const pcap_pkthdr&, const std::uint8_t*) { frames.fetch_add(1); });
    session.setEndHandler([&](LoopEnd) { ends.fetch_add(1); });
    const QString adapter =
        QStringLiteral("pipe:") +
        (command.contains(QLatin1String("%1")) ? command.arg(capture()) : command);
    // A window never waits for the header in start.
    QCOMPARE(session.start(adapter).status, CaptureStatus::Started);
    if (status != CaptureStatus::Started) {
        QTRY_COMPARE_WITH_TIMEOUT(messages.shown().size(), 1, 10000);
        CaptureSession::setStreamWaitHandler({});
        QCOMPARE(waits, (QList<StreamWait>{StreamWait::Waiting, StreamWait::Failed}));
        QVERIFY(!session.isRunning());
        QCOMPARE(session.processGroup(), 0);
        QCOMPARE(openFdCount(), fds);
        // The command line waits in start; the operator reads the same words,
        // the command's own, in the window's box.
        CaptureSession line(CaptureWindow::CommandLine);
        const CaptureStartResult r = line.start(adapter);
        QCOMPARE(r.status, status);
        QVERIFY2(r.error.contains(text), qPrintable(r.error));
        QCOMPARE(messages.shown()[0].text,
                 QStringLiteral("Error opening selected adapter\n") + r.error);
        QCOMPARE(messages.shown().size(), 1);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(waits.size(), 2, 10000);
    CaptureSession::setStreamWaitHandler({});
    QCOMPARE(waits, (QList<StreamWait>{StreamWait::Waiting, StreamWait::Arrived}));
    QTRY_COMPARE_WITH_TIMEOUT(session.loopEnd(), end, 10000);
    QVERIFY2(session.loopError().contains(text), qPrintable(session.loopError()));
    QCOMPARE(ends.load(), 1);
    if (allFrames)
        QCOMPARE(frames.load(), framesIn(capture()));
    session.stop();
    QVERIFY(messages.shown().isEmpty());
    QCOMPARE(openFdCount(), fds);
}

// A command that goes on after its frames (as a remote capture does), with a
// child of its own in the background: Stop ends them all, promptly.
void TestCaptureStream::stopEndsTheProcessGroup() {
    const int fds = openFdCount();
    std::atomic<int> frames{0};
    CaptureSession session(CaptureWindow::GeneralInfoView);
    session.setHandler([&](const pcap_pkthdr&, const std::uint8_t*) { frames.fetch_add(1); });
    const QString command = QStringLiteral("pipe:cat '%1'; sleep 600 & sleep 600").arg(capture());
    QVERIFY(session.start(command).ok());
    const int expected = framesIn(capture());
    QTRY_COMPARE_WITH_TIMEOUT(frames.load(), expected, 10000);
    const pid_t group = session.processGroup();
    QVERIFY(group > 0);
    QTRY_COMPARE(runningInGroup(group), 3); // the shell and its two sleeps

    const auto t0 = std::chrono::steady_clock::now();
    session.stop();
    const double ms = msBetween(t0, std::chrono::steady_clock::now());
    qInfo("stop took %.1f ms", ms);
    QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
    QCOMPARE(session.loopEnd(), LoopEnd::Running); // a Stop is not an end
    QTRY_COMPARE(runningInGroup(group), 0);
    QCOMPARE(session.processGroup(), 0);
    QCOMPARE(openFdCount(), fds);
    QCOMPARE(frames.load(), expected);
}

// A command that takes its time to send the capture: start returns at once,
// the window's event loop runs while the capture thread waits.
void TestCaptureStream::windowKeepsRunningWhileWaiting() {
    ScriptedMessageService messages;
    std::atomic<int> frames{0};
    CaptureSession session(CaptureWindow::GeneralInfoView);
    session.setHandler([&](const pcap_pkthdr&, const std::uint8_t*) { frames.fetch_add(1); });
    int ticksWhileWaiting = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        if (session.waitingForStream())
            ++ticksWhileWaiting;
    });
    timer.start();
    QVERIFY(session.start(QStringLiteral("pipe:sleep 1; cat '%1'").arg(capture())).ok());
    QVERIFY(session.isRunning());
    QVERIFY(session.waitingForStream());
    QCOMPARE(session.linkType(), -1);
    QTRY_COMPARE_WITH_TIMEOUT(frames.load(), framesIn(capture()), 15000);
    QVERIFY(!session.waitingForStream());
    QCOMPARE(session.linkType(), DLT_EN10MB);
    qInfo("%d timer ticks while the stream was awaited", ticksWhileWaiting);
    QVERIFY(ticksWhileWaiting >= 3);
    session.stop();
    QVERIFY(messages.shown().isEmpty());
}

// Stop while the header is awaited ends the command's group at once, and
// nothing is reported afterwards.
void TestCaptureStream::stopWhileWaiting() {
    ScriptedMessageService messages;
    const int fds = openFdCount();
    QList<StreamWait> waits;
    CaptureSession::setStreamWaitHandler(
        [&](StreamWait state, const QString&) { waits.push_back(state); });
    CaptureSession session(CaptureWindow::CaptureDecodeView);
    session.setFilter(QStringLiteral("udp"));
    QVERIFY(session.start(QStringLiteral("pipe:sleep 600 & sleep 600")).ok());
    const pid_t group = session.processGroup();
    QVERIFY(group > 0);
    QTRY_COMPARE(runningInGroup(group), 3); // the shell and its two sleeps
    session.stop();
    QVERIFY(!session.isRunning());
    QVERIFY(!session.waitingForStream());
    QTRY_COMPARE(runningInGroup(group), 0);
    QCOMPARE(session.processGroup(), 0);
    QCOMPARE(openFdCount(), fds);
    QTest::qWait(50); // any outcome the thread might have posted
    CaptureSession::setStreamWaitHandler({});
    QCOMPARE(waits, (QList<StreamWait>{StreamWait::Waiting, StreamWait::Stopped}));
    QVERIFY(messages.shown().isEmpty());
    // The session starts again as usual.
    QVERIFY(session.start(QStringLiteral("pipe:cat '%1'").arg(capture())).ok());
    QTRY_VERIFY_WITH_TIMEOUT(session.loopEnd() == LoopEnd::EndOfFile, 10000);
    session.stop();
}

// A device the helper cannot open fails with the very texts of an open in
// this process: status, error, message box and standard error lines.
void TestCaptureStream::helperFailsAsInProcess_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::newRow("analyzer (message box)") << CaptureWindow::CaptureDecodeView;
    QTest::newRow("command line (caller only)") << CaptureWindow::CommandLine;
    QTest::newRow("IPv4 chart") << CaptureWindow::PDL3View;
}

void TestCaptureStream::helperFailsAsInProcess() {
    QFETCH(CaptureWindow, window);
    struct Outcome {
        CaptureStartResult result;
        QStringList shown;
        QByteArray err;
    };
    const auto startOn = [window](const QString& helper) {
        CaptureSession::setCaptureHelper(helper);
        ScriptedMessageService messages;
        CaptureSession session(window);
        session.setFilter(QStringLiteral("udp"));
        StderrCapture err;
        Outcome out{session.start(QStringLiteral("qarsilo-none0")), {}, {}};
        out.err = err.take();
        for (const auto& m : messages.shown())
            out.shown << m.text;
        CaptureSession::setCaptureHelper({});
        return out;
    };
    const Outcome here = startOn(QStringLiteral(""));
    const Outcome helper = startOn(QStringLiteral(QARSILO_CAPTURE_HELPER_PATH));
    QCOMPARE(here.result.status, CaptureStatus::OpenFailed);
    QVERIFY(!here.result.error.isEmpty());
    QCOMPARE(helper.result.status, here.result.status);
    QCOMPARE(helper.result.error, here.result.error);
    QCOMPARE(helper.shown, here.shown);
    QCOMPARE(helper.err, here.err);
}

// A capture read from a file and the same capture read as a stream reach the
// handler alike: every frame cut to the window's snapshot length, its wire
// length untouched.
void TestCaptureStream::snapLengthCutAlike_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<CaptureWindow>("window");

    const QString jumbo = pcapDir() + QStringLiteral("/tcpdump__ipv6_jumbogram_1.pcap");
    const QString telegram = pcapDir() + QStringLiteral("/ndpi__telegram.pcap");
    QTest::newRow("chart 64") << telegram << CaptureWindow::PDL2View;
    QTest::newRow("analyzer 1514, jumbo") << jumbo << CaptureWindow::CaptureDecodeView;
    QTest::newRow("trace 10000, jumbo") << jumbo << CaptureWindow::TrafficTraceSingle;
    QTest::newRow("command line 1514, frames within") << telegram << CaptureWindow::CommandLine;
}

void TestCaptureStream::snapLengthCutAlike() {
    QFETCH(QString, path);
    QFETCH(CaptureWindow, window);

    const auto read = [window](const QString& adapter) {
        Lengths seen;
        CaptureSession session(window);
        session.setFileReplay(FileReplay::AsFastAsPossible);
        session.setHandler([&seen](const pcap_pkthdr& h, const std::uint8_t* bytes) {
            volatile std::uint8_t last = h.caplen ? bytes[h.caplen - 1] : 0;
            (void)last;
            seen.cap += h.caplen;
            seen.wire += h.len;
            seen.maxCap = std::max(seen.maxCap, h.caplen);
            ++seen.frames;
        });
        if (!session.start(adapter).ok())
            return Lengths{};
        for (int i = 0; i < 2000 && session.loopEnd() == LoopEnd::Running; ++i)
            QTest::qWait(10);
        const LoopEnd end = session.loopEnd();
        session.stop();
        return end == LoopEnd::EndOfFile ? seen : Lengths{};
    };

    const int snapLen = captureWindowParams(window).snapLen;
    const Lengths expected = expectedLengths(path, snapLen);
    QVERIFY(expected.frames > 0);
    const Lengths fromFile = read(QStringLiteral("file:") + path);
    const Lengths fromStream = read(QStringLiteral("pipe:cat '%1'").arg(path));
    QCOMPARE(fromFile.frames, expected.frames);
    QCOMPARE(fromFile.cap, expected.cap);
    QCOMPARE(fromFile.wire, expected.wire);
    QCOMPARE(fromFile.maxCap, expected.maxCap);
    QCOMPARE(fromStream.frames, expected.frames);
    QCOMPARE(fromStream.cap, expected.cap);
    QCOMPARE(fromStream.wire, expected.wire);
    QCOMPARE(fromStream.maxCap, expected.maxCap);
}

QTEST_GUILESS_MAIN(TestCaptureStream)
#include "tst_capture_stream.moc"
