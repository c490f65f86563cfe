// qarsilo-cli list on a live device: the veth pair of a private network
// namespace made by the test. Needs root; skipped elsewhere.

#include "support/live_net.h"
#include "support/run_process.h"
#include "support/test_paths.h"

#include <QTest>

#include <csignal>
#include <thread>

using namespace qarsilo::test;

namespace {

QList<QByteArray> linesOf(const QByteArray& out) {
    QList<QByteArray> lines = out.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestCliListLive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { LiveNet::removeStale(); }
    void countEndsTheListing();
    void interruptEndsTheListing();
};

#define ENTER_LIVE_NET(net)                                                                        \
    LiveNet net;                                                                                   \
    if (!net.skipReason().isEmpty())                                                               \
        QSKIP(qPrintable(net.skipReason()));                                                       \
    QVERIFY2(net.ok(), qPrintable(net.error()))

// The tool lists only the filter's frames and ends after --count of them.
void TestCliListLive::countEndsTheListing() {
    ENTER_LIVE_NET(net);
    FrameSender sender;
    QVERIFY2(sender.ok(), qPrintable(sender.error()));
    sender.startStream({makeFrame(FrameKind::Udp4Port5555), makeFrame(FrameKind::Arp),
                        makeFrame(FrameKind::Udp6Port5555)},
                       3000);
    const ProcessResult r =
        runProcess(cliPath(),
                   {QStringLiteral("list"), QString::fromLatin1(LiveNet::kCaptureEnd),
                    QStringLiteral("--filter"), QStringLiteral("ip and udp port 5555"),
                    QStringLiteral("--count"), QStringLiteral("25")},
                   std::chrono::seconds(20));
    sender.stopStream();
    QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
    const QList<QByteArray> lines = linesOf(r.out);
    QCOMPARE(lines.size(), 25);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].split('\t');
        QCOMPARE(f.size(), 6);
        QCOMPARE(f[0], QByteArray::number(i + 1));
        QCOMPARE(f[2], QByteArray("10.211.0.2"));
        QCOMPARE(f[3], QByteArray("10.211.0.9"));
    }
}

// Without --count a device is listed until the tool is interrupted; what it
// captured until then is all written out.
void TestCliListLive::interruptEndsTheListing() {
    ENTER_LIVE_NET(net);
    FrameSender sender;
    QVERIFY2(sender.ok(), qPrintable(sender.error()));
    sender.startStream({makeFrame(FrameKind::Arp), makeFrame(FrameKind::Udp4Port6666)}, 20000);
    std::thread interrupter;
    const ProcessResult r =
        runProcess(cliPath(),
                   {QStringLiteral("list"), QString::fromLatin1(LiveNet::kCaptureEnd),
                    QStringLiteral("--filter"), QStringLiteral("arp")},
                   std::chrono::seconds(20), [&interrupter](pid_t pid) {
                       interrupter = std::thread([pid] {
                           std::this_thread::sleep_for(std::chrono::milliseconds(800));
                           ::kill(pid, SIGINT);
                       });
                   });
    interrupter.join();
    const long long sent = sender.streamed();
    sender.stopStream();
    QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
    // The listing keeps up: no frame was dropped for want of room.
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    const QList<QByteArray> lines = linesOf(r.out);
    qInfo("%lld frames sent, %lld lines listed before the interrupt", sent,
          static_cast<long long>(lines.size()));
    QVERIFY(lines.size() > 1000);
    QVERIFY(lines.size() <= sent / 2 + 1);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].split('\t');
        QCOMPARE(f.size(), 6);
        QCOMPARE(f[0], QByteArray::number(i + 1));
        QCOMPARE(f[2], QByteArray("025151-000004"));
    }
}

QTEST_GUILESS_MAIN(TestCliListLive)
#include "tst_cli_list_live.moc"
