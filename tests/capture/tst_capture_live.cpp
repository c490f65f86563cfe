// CaptureSession on a live adapter: a veth pair in a network namespace that
// each test makes for itself. Needs root; skipped elsewhere.

#include "core/capture/capture_session.h"
#include "support/capture_test_util.h"
#include "support/live_net.h"
#include "support/scripted_message_service.h"

#include <QDir>
#include <QTest>

#include <linux/if_packet.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace qarsilo;
using namespace qarsilo::test;
using Clock = std::chrono::steady_clock;

Q_DECLARE_METATYPE(qarsilo::CaptureWindow)
Q_DECLARE_METATYPE(qarsilo::CaptureStatus)
Q_DECLARE_METATYPE(qarsilo::LiveWake)

#define ENTER_LIVE_NET(net, ...)                                                                   \
    LiveNet net{__VA_ARGS__};                                                                      \
    if (!net.skipReason().isEmpty())                                                               \
        QSKIP(qPrintable(net.skipReason()));                                                       \
    QVERIFY2(net.ok(), qPrintable(net.error()))

namespace {

const QString kDevice = QString::fromLatin1(LiveNet::kCaptureEnd);

// Frames per kind; index 0 counts frames that no test sent.
struct KindCounter {
    std::array<std::atomic<int>, kFrameKinds + 1> kinds{};
    std::atomic<int> badLength{0};
    std::atomic<long long> calls{0};

    CaptureSession::Handler handler(int snapLen) {
        const auto snap = static_cast<bpf_u_int32>(snapLen);
        return [this, snap](const pcap_pkthdr& h, const std::uint8_t* bytes) {
            // A live frame is cut to the window's snapshot length and no further.
            if (h.caplen != std::min(h.len, snap))
                badLength.fetch_add(1, std::memory_order_relaxed);
            kinds[static_cast<std::size_t>(frameKind(bytes, h.caplen))].fetch_add(
                1, std::memory_order_relaxed);
            calls.fetch_add(1, std::memory_order_release);
        };
    }
    int sent() const {
        int n = 0;
        for (int k = 1; k <= kFrameKinds; ++k)
            n += kinds[static_cast<std::size_t>(k)].load();
        return n;
    }
};

std::vector<QByteArray> mixedFrames(int perKind) {
    std::vector<QByteArray> out;
    for (int i = 0; i < perKind; ++i)
        for (int k = 1; k <= kFrameKinds; ++k)
            out.push_back(makeFrame(static_cast<FrameKind>(k)));
    return out;
}

bool waitFor(const std::atomic<long long>& counter, long long atLeast,
             std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (counter.load(std::memory_order_acquire) < atLeast) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// The ring versions (TPACKET_V2: a slot per frame, read at once; TPACKET_V3:
// blocks) of the packet sockets with a ring held by `pid` (0: this process).
// Another process's descriptors are copied here to be asked.
QList<int> packetRingVersions(pid_t pid) {
    QList<int> versions;
    const int pidFd = pid ? static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)) : -1;
    if (pid && pidFd < 0)
        return {-1};
    const QDir fds(pid ? QStringLiteral("/proc/%1/fd").arg(pid) : QStringLiteral("/proc/self/fd"));
    for (const QString& name :
         fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const QByteArray link = fds.filePath(name).toLocal8Bit();
        if (::readlink(link.constData(), target, sizeof target - 1) <= 0 ||
            std::strncmp(target, "socket:", 7) != 0)
            continue;
        const int theirs = name.toInt();
        const int fd =
            pid ? static_cast<int>(::syscall(SYS_pidfd_getfd, pidFd, theirs, 0)) : theirs;
        if (fd < 0)
            continue;
        int domain = 0;
        socklen_t len = sizeof domain;
        int version = 0;
        socklen_t vlen = sizeof version;
        if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) == 0 && domain == AF_PACKET &&
            ::getsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, &vlen) == 0 &&
            version != TPACKET_V1)
            versions << version;
        if (pid)
            ::close(fd);
    }
    if (pidFd >= 0)
        ::close(pidFd);
    return versions;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

class TestCaptureLive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void filterAdmitsOnlyItsFrames_data();
    void filterAdmitsOnlyItsFrames();
    void adapterWithoutIpv4_data();
    void adapterWithoutIpv4();
    void vanishingAdapterEndsTheLoop_data();
    void vanishingAdapterEndsTheLoop();
    void droppedFramesAreCounted();
    void startStopUnderTraffic();
    void stopLatency_data();
    void stopLatency();
    void ringFollowsWindow_data();
    void ringFollowsWindow();
    void everyFrameArrives_data();
    void everyFrameArrives();
};

void TestCaptureLive::initTestCase() {
    LiveNet::removeStale();
}

// 20 frames of each of five kinds go through the pair; the session hands over
// exactly those its filter admits, each once.
void TestCaptureLive::filterAdmitsOnlyItsFrames_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QList<int>>("admitted");

    using W = CaptureWindow;
    const auto row = [](const char* tag, W w, int slot, const char* filter, QList<int> kinds) {
        QTest::newRow(tag) << w << slot << QString::fromLatin1(filter) << kinds;
    };
    row("analyzer, no filter", W::CaptureDecodeView, 0, "", {1, 2, 3, 4, 5});
    row("analyzer udp port", W::CaptureDecodeView, 0, "udp port 5555", {1, 3});
    row("analyzer ip and udp", W::CaptureDecodeView, 0, "ip and udp", {1, 2});
    row("analyzer tcp dst port", W::CaptureDecodeView, 0, "tcp dst port 5555", {5});
    row("discovery ip", W::AutoDiscovery, 0, "ip", {1, 2, 5});
    row("trace ether host", W::TrafficTraceSingle, 0, "ether host 02:51:51:00:00:04", {4});
    row("single node From", W::SingleNodeView, 1, "ether src 02:51:51:00:00:02", {2});
    row("general, everything", W::GeneralInfoView, 0, "", {1, 2, 3, 4, 5});
    row("network layer chart", W::PDL2View, 0, "", {1, 2, 3, 4, 5});
    row("IPv4 chart", W::PDL3View, 0, "", {1, 2, 5});
    row("IPv6 chart", W::PDv6L3View, 0, "", {3});
    row("comparison IPv6 capture", W::PDv4v6L3View, 1, "", {3});
    row("application tcp capture", W::PDAppView, 0, "", {5});
    row("application udp capture", W::PDAppView, 1, "", {1, 2, 3});
}

void TestCaptureLive::filterAdmitsOnlyItsFrames() {
    QFETCH(CaptureWindow, window);
    QFETCH(int, slot);
    QFETCH(QString, filter);
    QFETCH(QList<int>, admitted);
    ENTER_LIVE_NET(net);

    ScriptedMessageService messages;
    KindCounter counter;
    CaptureSession session(window, slot);
    session.setHandler(counter.handler(session.params().snapLen));
    session.setFilter(filter);
    const CaptureStartResult r = session.start(kDevice);
    QVERIFY2(r.ok(), qPrintable(r.error));
    QCOMPARE(session.linkType(), DLT_EN10MB);

    FrameSender sender;
    QVERIFY2(sender.ok(), qPrintable(sender.error()));
    constexpr int perKind = 20;
    QCOMPARE(sender.send(mixedFrames(perKind)), perKind * kFrameKinds);
    QTRY_COMPARE_WITH_TIMEOUT(counter.sent(), perKind * static_cast<int>(admitted.size()), 5000);
    QTest::qWait(100); // room for frames that should not come
    session.stop();

    for (int k = 1; k <= kFrameKinds; ++k)
        QCOMPARE(counter.kinds[static_cast<std::size_t>(k)].load(),
                 admitted.contains(k) ? perKind : 0);
    if (!session.filterText().isEmpty())
        QCOMPARE(counter.kinds[0].load(), 0);
    QCOMPARE(counter.badLength.load(), 0);
    QVERIFY(messages.shown().isEmpty());
}

// The capture end without an IPv4 address: its netmask cannot be looked up.
// The chart views write their text and abandon the start; the others capture.
void TestCaptureLive::adapterWithoutIpv4_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<CaptureStatus>("status");
    QTest::addColumn<QByteArray>("standardError");

    using W = CaptureWindow;
    using S = CaptureStatus;
    const QByteArray netmask(kNetmaskErrorText);
    QTest::newRow("IPv4 chart") << W::PDL3View << 0 << QString() << S::NetmaskFailed << netmask;
    QTest::newRow("application udp")
        << W::PDAppView << 1 << QString() << S::NetmaskFailed << netmask;
    QTest::newRow("network layer chart, no filter")
        << W::PDL2View << 0 << QString() << S::Started << QByteArray();
    QTest::newRow("analyzer") << W::CaptureDecodeView << 0 << QStringLiteral("udp") << S::Started
                              << QByteArray();
    QTest::newRow("analyzer, broadcast needs the netmask")
        << W::CaptureDecodeView << 0 << QStringLiteral("ip broadcast") << S::CompileFailed
        << QByteArray();
    QTest::newRow("discovery") << W::AutoDiscovery << 0 << QStringLiteral("port 138") << S::Started
                               << QByteArray();
}

void TestCaptureLive::adapterWithoutIpv4() {
    QFETCH(CaptureWindow, window);
    QFETCH(int, slot);
    QFETCH(QString, filter);
    QFETCH(CaptureStatus, status);
    QFETCH(QByteArray, standardError);
    ENTER_LIVE_NET(net, false);

    ScriptedMessageService messages;
    const int fds = openFdCount();
    const int threads = threadCount();
    CaptureSession session(window, slot);
    session.setHandler([](const pcap_pkthdr&, const std::uint8_t*) {});
    session.setFilter(filter);
    StderrCapture err;
    const CaptureStartResult r = session.start(kDevice);
    const QByteArray written = err.take();
    QCOMPARE(r.status, status);
    QCOMPARE(written, standardError);
    QCOMPARE(session.isRunning(), status == CaptureStatus::Started);
    if (status != CaptureStatus::Started)
        QVERIFY(!r.error.isEmpty());
    session.stop();
    QVERIFY(messages.shown().isEmpty());
    QCOMPARE(openFdCount(), fds);
    QCOMPARE(settledThreadCount(threads), threads);
}

// The adapter goes away under a running capture (the veth deleted, idle or
// under traffic): the loop ends with libpcap's error, the session stays
// Running until its owner stops it.
void TestCaptureLive::vanishingAdapterEndsTheLoop_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("rate");
    QTest::newRow("general statistics, idle") << CaptureWindow::GeneralInfoView << QString() << 0;
    QTest::newRow("analyzer with a filter, 20000 frames/s")
        << CaptureWindow::CaptureDecodeView << QStringLiteral("udp") << 20'000;
}

void TestCaptureLive::vanishingAdapterEndsTheLoop() {
    QFETCH(CaptureWindow, window);
    QFETCH(QString, filter);
    QFETCH(int, rate);
    ENTER_LIVE_NET(net);
    const int threads = threadCount();
    std::atomic<int> ends{0};
    std::atomic<long long> frames{0};
    CaptureSession session(window);
    session.setFilter(filter);
    session.setHandler([&](const pcap_pkthdr&, const std::uint8_t*) { frames.fetch_add(1); });
    session.setEndHandler([&](LoopEnd how) {
        if (how == LoopEnd::Error)
            ends.fetch_add(1);
    });
    QVERIFY(session.start(kDevice).ok());
    std::unique_ptr<FrameSender> sender;
    if (rate > 0) {
        sender = std::make_unique<FrameSender>();
        QVERIFY2(sender->ok(), qPrintable(sender->error()));
        sender->startStream({makeFrame(FrameKind::Udp4Port5555)}, rate);
        QVERIFY(waitFor(frames, 100, std::chrono::milliseconds(3000)));
    }
    QVERIFY(net.removeCaptureEnd());
    QTRY_COMPARE_WITH_TIMEOUT(session.loopEnd(), LoopEnd::Error, 5000);
    qInfo("loop ended with: %s", qPrintable(session.loopError()));
    QVERIFY(!session.loopError().isEmpty());
    QCOMPARE(ends.load(), 1);
    QVERIFY(session.isRunning());
    QVERIFY(!session.stopped());
    if (sender)
        sender->stopStream();
    sender.reset();
    session.stop();
    QVERIFY(!session.isRunning());
    QCOMPARE(settledThreadCount(threads), threads);
}

// A handler too slow for the traffic: the frames the system had to drop are
// counted for the run, and a new start counts from 0.
void TestCaptureLive::droppedFramesAreCounted() {
    ENTER_LIVE_NET(net);
    FrameSender sender;
    QVERIFY2(sender.ok(), qPrintable(sender.error()));
    std::atomic<bool> slow{true};
    std::atomic<long long> frames{0};
    CaptureSession session(CaptureWindow::CaptureDecodeView);
    session.setHandler([&](const pcap_pkthdr&, const std::uint8_t*) {
        if (slow.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        frames.fetch_add(1);
    });
    QVERIFY(session.start(kDevice).ok());
    // More frames than the kernel ring holds (about 16,384 of the analyzer's
    // snapshot length) arrive while the handler takes 1 ms each. Frames of
    // that length: a ring of blocks packs shorter ones and holds many more.
    QByteArray full = makeFrame(FrameKind::Udp4Port5555);
    full.append(QByteArray(session.params().snapLen - full.size(), '\0'));
    sender.startStream({full}, 60'000);
    QTest::qWait(700);
    sender.stopStream();
    session.stop();
    qInfo("%lld sent, %lld handled, %u dropped", sender.streamed(), frames.load(),
          session.droppedFrames());
    QVERIFY(session.droppedFrames() > 0);
    QVERIFY(frames.load() + session.droppedFrames() <= sender.streamed());

    slow.store(false);
    frames.store(0);
    QVERIFY(session.start(kDevice).ok());
    QCOMPARE(sender.send(mixedFrames(20)), 20 * kFrameKinds);
    QTRY_VERIFY(frames.load() >= 20 * kFrameKinds);
    session.stop();
    QCOMPARE(session.droppedFrames(), 0u);
}

// 200 starts and stops over every window's session while 50,000 frames a
// second pass: each start captures, no handler runs after its stop, and no
// descriptor or thread is left behind.
void TestCaptureLive::startStopUnderTraffic() {
    ENTER_LIVE_NET(net);
    FrameSender sender;
    QVERIFY2(sender.ok(), qPrintable(sender.error()));
    sender.startStream({makeFrame(FrameKind::Udp4Port5555), makeFrame(FrameKind::Udp6Port5555),
                        makeFrame(FrameKind::Tcp4Port5555)},
                       50'000);

    struct Item {
        std::unique_ptr<CaptureSession> session;
        std::unique_ptr<KindCounter> counter;
    };
    std::vector<Item> items;
    for (const CaptureWindowParams& p : kCaptureWindows) {
        for (int slot = 0; slot < p.sessions; ++slot) {
            Item item{std::make_unique<CaptureSession>(p.window, slot),
                      std::make_unique<KindCounter>()};
            item.session->setHandler(item.counter->handler(p.snapLen));
            item.session->setFilter(slot == 0 ? QStringLiteral("udp port 5555 or tcp")
                                              : QStringLiteral("ether src 02:51:51:00:00:03"));
            items.push_back(std::move(item));
        }
    }
    // One round first: libpcap and the C library set up what they keep.
    for (Item& item : items) {
        QVERIFY(item.session->start(kDevice).ok());
        item.session->stop();
    }
    const int fds = openFdCount();
    const int threads = settledThreadCount(threadCount());

    std::vector<double> stops;
    constexpr int kRounds = 200;
    for (int i = 0; i < kRounds; ++i) {
        Item& item = items[static_cast<std::size_t>(i) % items.size()];
        const long long before = item.counter->calls.load();
        const CaptureStartResult r = item.session->start(kDevice);
        QVERIFY2(r.ok(), qPrintable(QStringLiteral("round %1: %2").arg(i).arg(r.error)));
        QVERIFY2(waitFor(item.counter->calls, before + 1, std::chrono::milliseconds(3000)),
                 qPrintable(QStringLiteral("round %1: no frame reached the handler").arg(i)));
        const auto t0 = Clock::now();
        item.session->stop();
        stops.push_back(msBetween(t0, Clock::now()));
        const long long after = item.counter->calls.load();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        QCOMPARE(item.counter->calls.load(), after);
        QVERIFY(!item.session->isRunning());
    }
    // Counted while the sender still runs, as the baseline was.
    const int fdsAfter = openFdCount();
    const int threadsAfter = settledThreadCount(threads);
    sender.stopStream();
    qInfo("%d start/stop rounds at 50000 frames/s: stop median %.3f ms, max %.3f ms; "
          "fds %d -> %d, threads %d -> %d",
          kRounds, median(stops), *std::max_element(stops.begin(), stops.end()), fds, fdsAfter,
          threads, threadsAfter);
    QCOMPARE(fdsAfter, fds);
    QCOMPARE(threadsAfter, threads);
    for (const Item& item : items)
        QCOMPARE(item.counter->badLength.load(), 0);
}

// How long Stop takes with the capture thread asleep (no traffic) and busy
// (50,000 frames a second), reading frames one by one (the trace) or by
// blocks, where the read has no timeout of its own: the bound is 100 ms, the
// usual figure far less.
void TestCaptureLive::stopLatency_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<int>("rate");
    using W = CaptureWindow;
    QTest::newRow("idle") << W::TrafficTraceSingle << 0;
    QTest::newRow("50000 frames/s") << W::TrafficTraceSingle << 50'000;
    QTest::newRow("buffered idle") << W::CaptureDecodeView << 0;
    QTest::newRow("buffered 50000 frames/s") << W::CaptureDecodeView << 50'000;
    QTest::newRow("buffered two sessions idle") << W::PDAppView << 0;
}

void TestCaptureLive::stopLatency() {
    QFETCH(CaptureWindow, window);
    QFETCH(int, rate);
    ENTER_LIVE_NET(net);
    FrameSender sender;
    QVERIFY2(sender.ok(), qPrintable(sender.error()));
    if (rate > 0)
        sender.startStream({makeFrame(FrameKind::Udp4Port5555), makeFrame(FrameKind::Arp)}, rate);

    // The analyzer's kind of handler: a copy of every frame.
    std::atomic<long long> frames{0};
    std::vector<std::uint8_t> store(1514);
    CaptureSession session(window);
    session.setHandler([&](const pcap_pkthdr& h, const std::uint8_t* bytes) {
        std::memcpy(store.data(), bytes, std::min<std::size_t>(h.caplen, store.size()));
        frames.fetch_add(1, std::memory_order_release);
    });

    if (rate > 0) {
        // The rate the handler really sees.
        QVERIFY(session.start(kDevice).ok());
        const long long sent0 = sender.streamed();
        const auto t0 = Clock::now();
        QTest::qWait(1000);
        const long long got = frames.load();
        const long long sent = sender.streamed() - sent0;
        const double seconds = msBetween(t0, Clock::now()) / 1000.0;
        session.stop();
        qInfo("sent %.0f frames/s, handler saw %.0f frames/s", static_cast<double>(sent) / seconds,
              static_cast<double>(got) / seconds);
        QVERIFY2(static_cast<double>(got) / seconds >= 0.9 * rate,
                 "the pair did not carry the intended rate");
    }

    std::vector<double> stops;
    for (int i = 0; i < 40; ++i) {
        frames.store(0);
        QVERIFY(session.start(kDevice).ok());
        if (rate > 0)
            QVERIFY(waitFor(frames, 250, std::chrono::milliseconds(3000)));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto t0 = Clock::now();
        session.stop();
        stops.push_back(msBetween(t0, Clock::now()));
    }
    sender.stopStream();
    const double worst = *std::max_element(stops.begin(), stops.end());
    qInfo("stop at %d frames/s over %zu runs: median %.3f ms, max %.3f ms", rate, stops.size(),
          median(stops), worst);
    QVERIFY2(worst < 100.0, qPrintable(QString::number(worst)));
}

// Each window reads the ring its row names, in this process and in the
// capture helper alike: frames one by one, or by blocks for the windows that
// draw once a second.
void TestCaptureLive::ringFollowsWindow_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<int>("slot");
    QTest::addColumn<LiveWake>("wake");
    using W = CaptureWindow;
    using LW = LiveWake;
    const auto row = [](const char* tag, W w, int slot, LW wake) {
        QTest::newRow(tag) << w << slot << wake;
    };
    row("analyzer", W::CaptureDecodeView, 0, LW::Buffered);
    row("general", W::GeneralInfoView, 0, LW::Buffered);
    row("packet size", W::PacketSizeView, 0, LW::Buffered);
    row("network layer", W::PDL2View, 0, LW::Buffered);
    row("IPv4", W::PDL3View, 0, LW::Buffered);
    row("IPv6", W::PDv6L3View, 0, LW::Buffered);
    row("comparison IPv6 capture", W::PDv4v6L3View, 1, LW::Buffered);
    row("application udp capture", W::PDAppView, 1, LW::Buffered);
    row("single node From", W::SingleNodeView, 1, LW::Buffered);
    row("trace", W::TrafficTraceSingle, 0, LW::PerFrame);
    row("autodiscovery", W::AutoDiscovery, 0, LW::Buffered);
    row("command line", W::CommandLine, 0, LW::PerFrame);
}

void TestCaptureLive::ringFollowsWindow() {
    QFETCH(CaptureWindow, window);
    QFETCH(int, slot);
    QFETCH(LiveWake, wake);
    ENTER_LIVE_NET(net);

    ScriptedMessageService messages;
    CaptureSession session(window, slot);
    const CaptureStartResult r = session.start(kDevice);
    QVERIFY2(r.ok(), qPrintable(r.error));
    const QList<int> versions = packetRingVersions(session.processGroup());
    session.stop();
    QCOMPARE(versions, QList<int>{wake == LiveWake::Buffered ? TPACKET_V3 : TPACKET_V2});
}

// Frames sent at a steady rate all reach the handler, once each, with none
// dropped, whichever way the window reads the ring; the last ones too, which
// a block ring hands over only at its timeout.
void TestCaptureLive::everyFrameArrives_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("rate");
    using W = CaptureWindow;
    QTest::newRow("analyzer") << W::CaptureDecodeView << 0 << 20'000;
    QTest::newRow("trace") << W::TrafficTraceSingle << 0 << 20'000;
    QTest::newRow("general") << W::GeneralInfoView << 0 << 20'000;
    QTest::newRow("autodiscovery") << W::AutoDiscovery << 0 << 20'000;
    QTest::newRow("network layer, a trickle") << W::PDL2View << 0 << 200;
    QTest::newRow("application udp capture") << W::PDAppView << 1 << 20'000;
}

void TestCaptureLive::everyFrameArrives() {
    QFETCH(CaptureWindow, window);
    QFETCH(int, slot);
    QFETCH(int, rate);
    ENTER_LIVE_NET(net);
    FrameSender sender;
    QVERIFY2(sender.ok(), qPrintable(sender.error()));

    ScriptedMessageService messages;
    KindCounter counter;
    CaptureSession session(window, slot);
    session.setHandler(counter.handler(session.params().snapLen));
    const CaptureStartResult r = session.start(kDevice);
    QVERIFY2(r.ok(), qPrintable(r.error));
    // UDP frames only: every window's filter admits them.
    sender.startStream({makeFrame(FrameKind::Udp4Port5555), makeFrame(FrameKind::Udp4Port6666)},
                       rate);
    QTest::qWait(1000);
    sender.stopStream();
    const long long sent = sender.streamed();
    QVERIFY(sent > 0);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<long long>(counter.sent()), sent, 5000);
    QTest::qWait(200); // room for frames that should not come
    session.stop();
    QCOMPARE(static_cast<long long>(counter.sent()), sent);
    QCOMPARE(session.droppedFrames(), 0u);
    QCOMPARE(counter.badLength.load(), 0);
}

QTEST_GUILESS_MAIN(TestCaptureLive)
#include "tst_capture_live.moc"
