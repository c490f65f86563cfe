// CaptureSession over capture files: counts, filters, snapshot length, paced
// replay, end of file, failures and their reports, the fatal stop path.

#include "core/app/app_state.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "support/capture_test_util.h"
#include "support/scripted_message_service.h"
#include "support/test_paths.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace qarsilo;
using namespace qarsilo::test;
using Clock = std::chrono::steady_clock;

Q_DECLARE_METATYPE(qarsilo::CaptureWindow)
Q_DECLARE_METATYPE(qarsilo::CaptureStatus)

namespace {

QString shared(const char* name) {
    return captureFileAdapterName(pcapDir() + QLatin1Char('/') + QLatin1String(name));
}

// What a handler saw. Plain fields are written on the capture thread and read
// after stop() has joined it.
struct Recorder {
    std::atomic<int> frames{0};
    long long lenSum = 0;
    long long capSum = 0;
    bpf_u_int32 maxCap = 0;
    std::vector<Clock::time_point> arrivals;

    CaptureSession::Handler handler() {
        return [this](const pcap_pkthdr& h, const std::uint8_t* bytes) {
            // Touch the last byte: the bytes must be readable up to caplen.
            volatile std::uint8_t last = h.caplen ? bytes[h.caplen - 1] : 0;
            (void)last;
            lenSum += h.len;
            capSum += h.caplen;
            maxCap = std::max(maxCap, h.caplen);
            const int n = frames.load(std::memory_order_relaxed);
            if (static_cast<std::size_t>(n) < arrivals.size())
                arrivals[static_cast<std::size_t>(n)] = Clock::now();
            frames.store(n + 1, std::memory_order_release);
        };
    }
};

// Ethernet frame of 60 bytes whose first payload byte is `tag`.
QByteArray ethernetFrame(char tag) {
    QByteArray f(60, '\0');
    f[0] = '\x02';
    f[6] = '\x02';
    f[12] = '\x88';
    f[13] = '\xb5'; // local experimental EtherType
    f[14] = tag;
    return f;
}

std::atomic<int> g_exitCode{-1};
std::atomic<bool> g_releaseHandler{false};
void recordExit(int code) {
    g_exitCode.store(code);
    g_releaseHandler.store(true);
}

} // namespace

class TestCaptureFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void frameCounts_data();
    void frameCounts();
    void snapLengthOfTheWindow_data();
    void snapLengthOfTheWindow();
    void everyByteOfLargeFiles_data();
    void everyByteOfLargeFiles();
    void endOfFileIsReported();
    void truncatedFileEndsWithError();
    void openFailures_data();
    void openFailures();
    void filterFailures_data();
    void filterFailures();
    void pacedReplayFollowsStamps_data();
    void pacedReplayFollowsStamps();
    void pacedReplayOfSharedCapture();
    void pacedReplayOfAbsurdStamps();
    void stopDuringPacedWait();
    void startReadsSelectedAdapterAnew();
    void nextStartCompilesTheNewFilter();
    void startWhileRunningChangesNothing();
    void stopWithoutStartTouchesNothing();
    void stuckThreadIsFatal_data();
    void stuckThreadIsFatal();

private:
    QTemporaryDir m_dir;
    QString write(const char* name, int linkType, const std::vector<TestFrame>& frames);
};

void TestCaptureFile::initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFile::exists(pcapDir() + QStringLiteral("/tcpdump__eapon1.pcap")),
             qPrintable(pcapDir()));
}

void TestCaptureFile::cleanup() {
    app::setSelectedAdapter({});
    CaptureSession::setJoinTimeout(std::chrono::milliseconds(5000));
    CaptureSession::setFatalExit(nullptr);
}

QString TestCaptureFile::write(const char* name, int linkType,
                               const std::vector<TestFrame>& frames) {
    const QString path = m_dir.filePath(QLatin1String(name));
    if (!writeCapture(path, linkType, frames))
        return {};
    return captureFileAdapterName(path);
}

// Frame counts as the capture tools report them (the files' own documentation
// and tcpdump with the same filter), through every kind of filter source.
void TestCaptureFile::frameCounts_data() {
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("expected");

    const auto row = [](const char* tag, const char* file, CaptureWindow w, int slot,
                        const char* filter, int expected) {
        QTest::newRow(tag) << shared(file) << w << slot << QString::fromLatin1(filter) << expected;
    };
    using W = CaptureWindow;
    row("eapon1 all", "tcpdump__eapon1.pcap", W::CaptureDecodeView, 0, "", 114);
    row("arp-oobr all", "tcpdump__arp-oobr.pcap", W::GeneralInfoView, 0, "", 2282);
    row("telegram all", "ndpi__telegram.pcap", W::PacketSizeView, 0, "", 1566);
    row("fuzz all", "ndpi__fuzz-2006-06-26-2594.pcap", W::PDL2View, 0, "", 691);
    row("eapon1 netbios", "tcpdump__eapon1.pcap", W::AutoDiscovery, 0, "port 138", 17);
    row("eapon1 arp", "tcpdump__eapon1.pcap", W::CaptureDecodeView, 0, "arp", 5);
    row("eapon1 not ip", "tcpdump__eapon1.pcap", W::CaptureDecodeView, 0, "not ip", 46);
    row("eapon1 ether host broadcast", "tcpdump__eapon1.pcap", W::TrafficTraceSingle, 0,
        "ether host ff:ff:ff:ff:ff:ff", 66);
    row("eapon1 chart ip", "tcpdump__eapon1.pcap", W::PDL3View, 0, "", 68);
    row("telegram chart ip6", "ndpi__telegram.pcap", W::PDv6L3View, 0, "", 126);
    row("telegram comparison slot 1", "ndpi__telegram.pcap", W::PDv4v6L3View, 1, "", 126);
    row("telegram application tcp", "ndpi__telegram.pcap", W::PDAppView, 0, "", 0);
    row("telegram application udp", "ndpi__telegram.pcap", W::PDAppView, 1, "", 1566);
    row("ipx", "tcpdump__ipx.pcap", W::CaptureDecodeView, 0, "ipx", 64);
    row("pcapng all", "scapy__gvrp.pcapng", W::CaptureDecodeView, 0, "", 11);
    row("pcapng filtered", "ndpi__dhcp-fuzz.pcapng", W::CaptureDecodeView, 0, "udp port 67", 1);
    row("pcapng filtered out", "scapy__gvrp.pcapng", W::CaptureDecodeView, 0, "vlan", 0);
    row("pcapng ns stamps", "tcpdump__icmp-length-zero.pcapng", W::CommandLine, 0, "", 1);
}

void TestCaptureFile::frameCounts() {
    QFETCH(QString, adapter);
    QFETCH(CaptureWindow, window);
    QFETCH(int, slot);
    QFETCH(QString, filter);
    QFETCH(int, expected);

    const int threadsBefore = threadCount();
    Recorder rec;
    std::atomic<int> ends{0};
    CaptureSession session(window, slot);
    session.setHandler(rec.handler());
    session.setEndHandler([&](LoopEnd how) {
        if (how == LoopEnd::EndOfFile)
            ends.fetch_add(1);
    });
    session.setFilter(filter);
    session.setFileReplay(FileReplay::AsFastAsPossible);
    const CaptureStartResult r = session.start(adapter);
    QVERIFY2(r.ok(), qPrintable(r.error));
    QVERIFY(session.readsFile());
    QCOMPARE(session.linkType(), DLT_EN10MB);
    QTRY_COMPARE_WITH_TIMEOUT(session.loopEnd(), LoopEnd::EndOfFile, 20000);
    session.stop();
    QCOMPARE(rec.frames.load(), expected);
    QCOMPARE(ends.load(), 1);
    QVERIFY(!session.isRunning());
    QCOMPARE(session.linkType(), -1);
    QCOMPARE(settledThreadCount(threadsBefore), threadsBefore);
}

// A file frame reaches the handler as the window would have captured it live:
// cut to its snapshot length, with the wire length untouched.
void TestCaptureFile::snapLengthOfTheWindow_data() {
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<long long>("capSum");
    QTest::addColumn<long long>("lenSum");
    QTest::addColumn<uint>("maxCap");

    const QString telegram = shared("ndpi__telegram.pcap");
    const QString jumbo = shared("tcpdump__ipv6_jumbogram_1.pcap");
    QTest::newRow("chart 64") << telegram << CaptureWindow::PDL2View << 100224LL << 336825LL << 64u;
    QTest::newRow("frames within 1514")
        << telegram << CaptureWindow::CommandLine << 336825LL << 336825LL << 1392u;
    QTest::newRow("analyzer 1514 jumbo")
        << jumbo << CaptureWindow::CaptureDecodeView << 1514LL << 65590LL << 1514u;
    QTest::newRow("trace 10000 jumbo")
        << jumbo << CaptureWindow::TrafficTraceSingle << 10000LL << 65590LL << 10000u;
}

void TestCaptureFile::snapLengthOfTheWindow() {
    QFETCH(QString, adapter);
    QFETCH(CaptureWindow, window);
    QFETCH(long long, capSum);
    QFETCH(long long, lenSum);
    QFETCH(uint, maxCap);

    Recorder rec;
    CaptureSession session(window);
    session.setHandler(rec.handler());
    session.setFileReplay(FileReplay::AsFastAsPossible);
    QVERIFY(session.start(adapter).ok());
    QTRY_COMPARE_WITH_TIMEOUT(session.loopEnd(), LoopEnd::EndOfFile, 20000);
    session.stop();
    QCOMPARE(rec.capSum, capSum);
    QCOMPARE(rec.lenSum, lenSum);
    QCOMPARE(rec.maxCap, maxCap);
}

// Files far larger than the read buffer, with records across its edges and
// records larger than it: every frame arrives whole (up to the window's
// snapshot length), in order, with its header.
void TestCaptureFile::everyByteOfLargeFiles_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("smallest");
    QTest::addColumn<int>("largest");
    QTest::addColumn<bool>("pcapng");

    QTest::newRow("small frames, command line")
        << CaptureWindow::CommandLine << 20000 << 14 << 90 << false;
    QTest::newRow("mixed, command line")
        << CaptureWindow::CommandLine << 3000 << 60 << 1514 << false;
    QTest::newRow("jumbo, trace") << CaptureWindow::TrafficTraceSingle << 300 << 1000 << 20000
                                  << false;
    QTest::newRow("beyond the buffer, trace")
        << CaptureWindow::TrafficTraceSingle << 12 << 200000 << 262144 << false;
    QTest::newRow("pcapng, command line")
        << CaptureWindow::CommandLine << 3000 << 60 << 1514 << true;
}

void TestCaptureFile::everyByteOfLargeFiles() {
    QFETCH(CaptureWindow, window);
    QFETCH(int, frames);
    QFETCH(int, smallest);
    QFETCH(int, largest);
    QFETCH(bool, pcapng);

    // Sizes and bytes from a fixed pseudo-random sequence.
    std::uint32_t state = 12345;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    std::vector<TestFrame> written;
    std::vector<std::pair<quint64, QByteArray>> stamped;
    for (int i = 0; i < frames; ++i) {
        const int size =
            smallest + static_cast<int>(next() % std::uint32_t(largest - smallest + 1));
        QByteArray bytes(size, Qt::Uninitialized);
        for (char& b : bytes)
            b = static_cast<char>(next() >> 24);
        const long long stamp = 1'700'000'000'000'000LL + i;
        written.push_back({stamp, bytes});
        stamped.emplace_back(quint64(stamp), bytes);
    }
    const QString path =
        m_dir.filePath(pcapng ? QStringLiteral("large.pcapng") : QStringLiteral("large.pcap"));
    QVERIFY(pcapng ? writePcapng(path, stamped) : writeCapture(path, DLT_EN10MB, written));

    const auto snapLen = static_cast<qsizetype>(captureWindowParams(window).snapLen);
    std::vector<QByteArray> seen;
    std::vector<long long> stamps;
    std::vector<bpf_u_int32> lengths;
    CaptureSession session(window);
    session.setHandler([&](const pcap_pkthdr& h, const std::uint8_t* bytes) {
        seen.emplace_back(reinterpret_cast<const char*>(bytes), qsizetype(h.caplen));
        stamps.push_back(h.ts.tv_sec * 1'000'000LL + h.ts.tv_usec);
        lengths.push_back(h.len);
    });
    session.setFileReplay(FileReplay::AsFastAsPossible);
    QVERIFY(session.start(captureFileAdapterName(path)).ok());
    QTRY_COMPARE_WITH_TIMEOUT(session.loopEnd(), LoopEnd::EndOfFile, 20000);
    session.stop();
    QCOMPARE(seen.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        QCOMPARE(seen[i], written[i].bytes.left(snapLen));
        QCOMPARE(stamps[i], written[i].stampUs);
        QCOMPARE(qsizetype(lengths[i]), written[i].bytes.size());
    }
}

// The end of the file ends the loop, not the session: it stays Running until
// the owner stops it, and a second start is refused until then.
void TestCaptureFile::endOfFileIsReported() {
    Recorder rec;
    std::atomic<int> ends{0};
    CaptureSession session(CaptureWindow::CaptureDecodeView);
    session.setHandler(rec.handler());
    session.setEndHandler([&](LoopEnd) { ends.fetch_add(1); });
    session.setFileReplay(FileReplay::AsFastAsPossible);
    QVERIFY(session.start(shared("libpcap__llc.pcap")).ok());
    QTRY_COMPARE(session.loopEnd(), LoopEnd::EndOfFile);
    QVERIFY(session.isRunning());
    QVERIFY(!session.stopped());
    QVERIFY(session.loopError().isEmpty());
    QCOMPARE(session.start(shared("libpcap__llc.pcap")).status, CaptureStatus::AlreadyRunning);
    session.stop();
    QVERIFY(session.stopped());
    QCOMPARE(rec.frames.load(), 10);
    QCOMPARE(ends.load(), 1);
    // A new start reads the file again from its beginning.
    QVERIFY(session.start(shared("libpcap__llc.pcap")).ok());
    QTRY_COMPARE(session.loopEnd(), LoopEnd::EndOfFile);
    session.stop();
    QCOMPARE(rec.frames.load(), 20);
    QCOMPARE(ends.load(), 2);
}

// A file cut in the middle of a frame: the frames before the cut arrive, then
// the loop ends with libpcap's error, not with a quiet end of file.
void TestCaptureFile::truncatedFileEndsWithError() {
    QFile in(pcapDir() + QStringLiteral("/tcpdump__eapon1.pcap"));
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray whole = in.readAll();
    const QString path = m_dir.filePath(QStringLiteral("cut.pcap"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(whole.left(whole.size() / 2));
    out.close();

    Recorder rec;
    LoopEnd seen = LoopEnd::Running;
    CaptureSession session(CaptureWindow::CaptureDecodeView);
    session.setHandler(rec.handler());
    session.setEndHandler([&](LoopEnd how) { seen = how; });
    session.setFileReplay(FileReplay::AsFastAsPossible);
    QVERIFY(session.start(captureFileAdapterName(path)).ok());
    QTRY_COMPARE(session.loopEnd(), LoopEnd::Error);
    QVERIFY2(session.loopError().contains(QLatin1String("truncated")),
             qPrintable(session.loopError()));
    session.stop();
    QCOMPARE(seen, LoopEnd::Error);
    QVERIFY(rec.frames.load() > 10);
    QVERIFY(rec.frames.load() < 114);
}

// A source that cannot be opened: the window's report, a failed start with the
// reason, no handle and no thread.
void TestCaptureFile::openFailures_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("box");
    QTest::addColumn<CaptureStatus>("status");

    const QString missing = captureFileAdapterName(m_dir.filePath(QStringLiteral("none.pcap")));
    QFile text(m_dir.filePath(QStringLiteral("notes.txt")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a capture at all, just some words long enough to be read\n");
    text.close();
    const QString notCapture = captureFileAdapterName(text.fileName());
    const QString rawIp = write("raw-ip.pcap", DLT_RAW, {{0, QByteArray(20, '\x45')}});
    const QString fifo = m_dir.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    using W = CaptureWindow;
    using S = CaptureStatus;
    QTest::newRow("missing file, analyzer")
        << W::CaptureDecodeView << missing << QStringLiteral("No such file") << true
        << S::OpenFailed;
    QTest::newRow("missing file, trace") << W::TrafficTraceSingle << missing
                                         << QStringLiteral("No such file") << true << S::OpenFailed;
    QTest::newRow("missing file, chart")
        << W::PDAppView << missing << QStringLiteral("No such file") << true << S::OpenFailed;
    QTest::newRow("missing file, command line")
        << W::CommandLine << missing << QStringLiteral("No such file") << false << S::OpenFailed;
    QTest::newRow("not a capture file")
        << W::AutoDiscovery << notCapture << QStringLiteral("format") << true << S::OpenFailed;
    QTest::newRow("no adapter selected")
        << W::GeneralInfoView << QString() << QStringLiteral("no adapter") << true << S::OpenFailed;
    QTest::newRow("file: without a path") << W::CommandLine << QStringLiteral("file:")
                                          << QStringLiteral("no adapter") << false << S::OpenFailed;
    // As root the device is missing; as anyone else opening is refused first.
    QTest::newRow("no such device") << W::SingleNodeView << QStringLiteral("qarsilo-none0")
                                    << QString() << true << S::OpenFailed;
    // Frames of another framing would be decoded at the wrong offsets.
    QTest::newRow("raw IP file, analyzer")
        << W::CaptureDecodeView << rawIp << QStringLiteral("not Ethernet (link type RAW)") << true
        << S::NotEthernet;
    const QString user0 = write("user0.pcap", DLT_USER0, {{0, QByteArray(30, 'u')}});
    QTest::newRow("trace on a foreign link type")
        << W::TrafficTraceSingle << user0 << QStringLiteral("(link type 147)") << true
        << S::NotEthernet;
    QTest::newRow("IPv4 chart on a foreign link type")
        << W::PDL3View << user0 << QStringLiteral("(link type 147)") << true << S::NotEthernet;
    QTest::newRow("raw IP file, command line")
        << W::CommandLine << rawIp << QStringLiteral("not Ethernet (link type RAW)") << false
        << S::NotEthernet;
    // Cooked frames of all devices; without the capture right, the right to ask for.
    if (::geteuid() == 0)
        QTest::newRow("device any")
            << W::CaptureDecodeView << QStringLiteral("any")
            << QStringLiteral("not Ethernet (link type LINUX_SLL") << true << S::NotEthernet;
    else
        QTest::newRow("device any, no capture right")
            << W::CaptureDecodeView << QStringLiteral("any")
            << QStringLiteral("cap_net_raw capability; scripts/run.sh") << true << S::OpenFailed;
    // A named pipe without a writer would block the window's thread for ever.
    QTest::newRow("named pipe, analyzer")
        << W::CaptureDecodeView << captureFileAdapterName(fifo)
        << QStringLiteral("not a regular file") << true << S::OpenFailed;
}

void TestCaptureFile::openFailures() {
    QFETCH(CaptureWindow, window);
    QFETCH(QString, adapter);
    QFETCH(QString, reason);
    QFETCH(bool, box);
    QFETCH(CaptureStatus, status);

    ScriptedMessageService messages;
    const int threadsBefore = threadCount();
    const int fdsBefore = openFdCount();
    Recorder rec;
    CaptureSession session(window);
    session.setHandler(rec.handler());
    StderrCapture err;
    const CaptureStartResult r = session.start(adapter);
    const QByteArray written = err.take();

    QCOMPARE(r.status, status);
    QVERIFY(!r.error.isEmpty());
    QVERIFY2(r.error.contains(reason, Qt::CaseInsensitive), qPrintable(r.error));
    QVERIFY(!session.isRunning());
    QVERIFY(session.stopped());
    QCOMPARE(threadCount(), threadsBefore);
    QCOMPARE(openFdCount(), fdsBefore);
    if (box) {
        // The text as it always was, the reason on a second line, and both on
        // the standard error stream.
        QCOMPARE(messages.shown().size(), 1);
        const QString text = messages.shown()[0].text;
        QCOMPARE(text.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("Error opening selected adapter"));
        QVERIFY2(text.section(QLatin1Char('\n'), 1).endsWith(r.error), qPrintable(text));
        QCOMPARE(QString::fromLocal8Bit(written),
                 QStringLiteral("qarsilo: ") +
                     QString(text).replace(QLatin1Char('\n'), QLatin1String(": ")) +
                     QLatin1Char('\n'));
        QCOMPARE(messages.shown()[0].caption, QStringLiteral("Error"));
        QCOMPARE(messages.shown()[0].icon, MessageService::Icon::Error);
        QCOMPARE(messages.shown()[0].buttons, MessageService::Buttons::Ok);
    } else {
        QVERIFY(messages.shown().isEmpty());
        QVERIFY2(written.isEmpty(), written.constData());
    }
    session.stop();
    QCOMPARE(rec.frames.load(), 0);
}

// Filters that do not compile abandon the start in every window: the chart
// views write their text to the standard error stream, the others tell the
// caller with libpcap's reason; no message box, no capture.
void TestCaptureFile::filterFailures_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QByteArray>("standardError");

    const QString eapon = shared("tcpdump__eapon1.pcap");
    using W = CaptureWindow;
    QTest::newRow("analyzer wrong syntax")
        << W::CaptureDecodeView << 0 << eapon << QStringLiteral("udp prot 53")
        << QStringLiteral("syntax") << QByteArray();
    QTest::newRow("analyzer unknown host")
        << W::CaptureDecodeView << 0 << eapon << QStringLiteral("ether host zz")
        << QStringLiteral("zz") << QByteArray();
    QTest::newRow("file has no netmask for broadcast")
        << W::CaptureDecodeView << 0 << eapon << QStringLiteral("ip broadcast")
        << QStringLiteral("netmask") << QByteArray();
}

void TestCaptureFile::filterFailures() {
    QFETCH(CaptureWindow, window);
    QFETCH(int, slot);
    QFETCH(QString, adapter);
    QFETCH(QString, filter);
    QFETCH(QString, reason);
    QFETCH(QByteArray, standardError);

    ScriptedMessageService messages;
    const int threadsBefore = threadCount();
    const int fdsBefore = openFdCount();
    Recorder rec;
    CaptureSession session(window, slot);
    session.setHandler(rec.handler());
    session.setFilter(filter);
    StderrCapture err;
    const CaptureStartResult r = session.start(adapter);
    const QByteArray written = err.take();

    QCOMPARE(r.status, CaptureStatus::CompileFailed);
    QVERIFY2(r.error.contains(reason, Qt::CaseInsensitive), qPrintable(r.error));
    QCOMPARE(written, standardError);
    QVERIFY(messages.shown().isEmpty());
    QVERIFY(!session.isRunning());
    QCOMPARE(threadCount(), threadsBefore);
    QCOMPARE(openFdCount(), fdsBefore);
    QCOMPARE(rec.frames.load(), 0);
}

// Paced replay: frame i arrives no earlier than its stamp (divided by the
// speed) after the first frame, and not much later.
void TestCaptureFile::pacedReplayFollowsStamps_data() {
    QTest::addColumn<double>("speed");
    QTest::newRow("real time") << 1.0;
    QTest::newRow("four times") << 4.0;
}

void TestCaptureFile::pacedReplayFollowsStamps() {
    QFETCH(double, speed);
    // Gaps of 50 to 150 ms, one frame stamped earlier than its predecessor.
    const std::vector<long long> offsetsUs{0, 50'000, 100'000, 250'000, 240'000, 400'000, 600'000};
    std::vector<TestFrame> frames;
    const long long base = 1'700'000'000LL * 1'000'000;
    for (std::size_t i = 0; i < offsetsUs.size(); ++i)
        frames.push_back({base + offsetsUs[i], ethernetFrame(static_cast<char>(i))});
    const QString adapter = write("paced.pcap", DLT_EN10MB, frames);
    QVERIFY(!adapter.isEmpty());

    Recorder rec;
    rec.arrivals.resize(offsetsUs.size());
    CaptureSession session(CaptureWindow::GeneralInfoView);
    session.setHandler(rec.handler());
    session.setFileReplay(FileReplay::Paced, speed);
    QVERIFY(session.start(adapter).ok());
    QTRY_COMPARE_WITH_TIMEOUT(session.loopEnd(), LoopEnd::EndOfFile, 10000);
    session.stop();
    QCOMPARE(rec.frames.load(), static_cast<int>(offsetsUs.size()));

    long long latestUs = 0;
    for (std::size_t i = 1; i < offsetsUs.size(); ++i) {
        latestUs = std::max(latestUs, offsetsUs[i]);
        const double dueMs = static_cast<double>(latestUs) / 1000.0 / speed;
        const double gotMs = msBetween(rec.arrivals[0], rec.arrivals[i]);
        qInfo("frame %zu due %.1f ms, arrived %.1f ms", i, dueMs, gotMs);
        QVERIFY2(gotMs >= dueMs - 1.0, qPrintable(QString::number(gotMs)));
        QVERIFY2(gotMs <= dueMs + 200.0, qPrintable(QString::number(gotMs)));
    }
}

// Stamps near 2^64 microseconds (pcapng allows them) are a jump of the file's
// clock: no overflow, no wait of ages, and real gaps around them still paced.
void TestCaptureFile::pacedReplayOfAbsurdStamps() {
    const quint64 now = 1'700'000'000ULL * 1'000'000;
    const quint64 top = ~0ULL;
    const std::vector<std::pair<quint64, QByteArray>> frames{{now, ethernetFrame(0)},
                                                             {top - 300'000, ethernetFrame(1)},
                                                             {top - 100'000, ethernetFrame(2)},
                                                             {now + 50'000, ethernetFrame(3)},
                                                             {0, ethernetFrame(4)},
                                                             {top, ethernetFrame(5)}};
    const QString path = m_dir.filePath(QStringLiteral("absurd.pcapng"));
    QVERIFY(writePcapng(path, frames));

    Recorder rec;
    rec.arrivals.resize(frames.size());
    CaptureSession session(CaptureWindow::PacketSizeView);
    session.setHandler(rec.handler());
    session.setFileReplay(FileReplay::Paced, 1.0);
    QVERIFY(session.start(captureFileAdapterName(path)).ok());
    QTRY_COMPARE_WITH_TIMEOUT(session.loopEnd(), LoopEnd::EndOfFile, 5000);
    session.stop();
    QCOMPARE(rec.frames.load(), static_cast<int>(frames.size()));
    // Frame 2 comes 200 ms after frame 1, as stamped; the jumps cost nothing.
    const double gap = msBetween(rec.arrivals[1], rec.arrivals[2]);
    QVERIFY2(gap >= 199.0 && gap < 400.0, qPrintable(QString::number(gap)));
    QVERIFY(msBetween(rec.arrivals[0], rec.arrivals[5]) < 1000.0);
}

// The same over a real capture whose 14 frames span 832 ms.
void TestCaptureFile::pacedReplayOfSharedCapture() {
    Recorder rec;
    rec.arrivals.resize(14);
    CaptureSession session(CaptureWindow::PDL2View);
    session.setHandler(rec.handler());
    session.setFileReplay(FileReplay::Paced, 2.0);
    QVERIFY(session.start(shared("libpcap__gateway_or_not.pcap")).ok());
    QTRY_COMPARE_WITH_TIMEOUT(session.loopEnd(), LoopEnd::EndOfFile, 10000);
    session.stop();
    QCOMPARE(rec.frames.load(), 14);
    const double spanMs = msBetween(rec.arrivals[0], rec.arrivals[13]);
    qInfo("832.457 ms of stamps replayed at twice the speed in %.1f ms", spanMs);
    QVERIFY(spanMs >= 832.457 / 2 - 1.0);
    QVERIFY(spanMs <= 832.457 / 2 + 200.0);
    // The third frame is stamped 383.996 ms after the first. (Measured from
    // the first: a second frame delivered late, on a loaded machine, leaves
    // a shorter gap before the third, which keeps to the schedule.)
    QVERIFY(msBetween(rec.arrivals[0], rec.arrivals[2]) >= 383.996 / 2 - 1.0);
}

// Stop does not wait out a long gap between two frames.
void TestCaptureFile::stopDuringPacedWait() {
    const long long base = 1'700'000'000LL * 1'000'000;
    const QString adapter =
        write("gap.pcap", DLT_EN10MB,
              {{base, ethernetFrame(1)}, {base + 3600LL * 1'000'000, ethernetFrame(2)}});
    QVERIFY(!adapter.isEmpty());
    const int threadsBefore = threadCount();
    Recorder rec;
    CaptureSession session(CaptureWindow::TrafficTraceSingle);
    session.setHandler(rec.handler());
    session.setFileReplay(FileReplay::Paced);
    QVERIFY(session.start(adapter).ok());
    QTRY_COMPARE(rec.frames.load(), 1);
    QTest::qWait(50); // well inside the hour's wait
    const auto t0 = Clock::now();
    session.stop();
    const double ms = msBetween(t0, Clock::now());
    qInfo("stop during a paced wait took %.2f ms", ms);
    QVERIFY2(ms < 100.0, qPrintable(QString::number(ms)));
    QCOMPARE(rec.frames.load(), 1);
    QCOMPARE(session.loopEnd(), LoopEnd::Running); // stopped, not ended by itself
    QCOMPARE(settledThreadCount(threadsBefore), threadsBefore);
}

// Every start reads the selected adapter anew; a change while running does not
// touch the running session.
void TestCaptureFile::startReadsSelectedAdapterAnew() {
    Recorder rec;
    CaptureSession session(CaptureWindow::CaptureDecodeView);
    session.setHandler(rec.handler());
    session.setFileReplay(FileReplay::AsFastAsPossible);
    app::setSelectedAdapter(shared("libpcap__llc.pcap"));
    QVERIFY(session.start().ok());
    app::setSelectedAdapter(shared("tcpdump__eapon1.pcap"));
    QTRY_COMPARE(session.loopEnd(), LoopEnd::EndOfFile);
    QCOMPARE(session.adapter(), shared("libpcap__llc.pcap"));
    session.stop();
    QCOMPARE(rec.frames.load(), 10);

    QVERIFY(session.start().ok());
    QTRY_COMPARE(session.loopEnd(), LoopEnd::EndOfFile);
    session.stop();
    QCOMPARE(rec.frames.load(), 10 + 114);
}

// A filter changed between Stop and Start is compiled anew for the new handle.
void TestCaptureFile::nextStartCompilesTheNewFilter() {
    Recorder rec;
    CaptureSession session(CaptureWindow::CaptureDecodeView);
    session.setHandler(rec.handler());
    session.setFileReplay(FileReplay::AsFastAsPossible);
    const QString eapon = shared("tcpdump__eapon1.pcap");
    const struct {
        const char* filter;
        int frames;
    } runs[] = {{"arp", 5}, {"udp port 138", 17}, {"", 114}, {"not ip", 46}};
    int total = 0;
    for (const auto& run : runs) {
        session.setFilter(QString::fromLatin1(run.filter));
        QVERIFY(session.start(eapon).ok());
        QTRY_COMPARE(session.loopEnd(), LoopEnd::EndOfFile);
        session.stop();
        total += run.frames;
        QCOMPARE(rec.frames.load(), total);
    }
}

// Start on a running session neither opens a second handle nor a second thread.
void TestCaptureFile::startWhileRunningChangesNothing() {
    const long long base = 1'700'000'000LL * 1'000'000;
    const QString adapter =
        write("slow.pcap", DLT_EN10MB,
              {{base, ethernetFrame(1)}, {base + 3600LL * 1'000'000, ethernetFrame(2)}});
    Recorder rec;
    CaptureSession session(CaptureWindow::CaptureDecodeView);
    session.setHandler(rec.handler());
    QVERIFY(session.start(adapter).ok());
    QTRY_COMPARE(rec.frames.load(), 1);
    const int threads = threadCount();
    const int fds = openFdCount();
    const CaptureStartResult again = session.start(shared("tcpdump__eapon1.pcap"));
    QCOMPARE(again.status, CaptureStatus::AlreadyRunning);
    QCOMPARE(threadCount(), threads);
    QCOMPARE(openFdCount(), fds);
    QCOMPARE(session.adapter(), adapter);
    session.stop();
    QCOMPARE(rec.frames.load(), 1);
}

void TestCaptureFile::stopWithoutStartTouchesNothing() {
    ScriptedMessageService messages;
    const int fds = openFdCount();
    CaptureSession session(CaptureWindow::SingleNodeView, 1);
    QVERIFY(session.stopped());
    session.stop();
    session.stop();
    QVERIFY(session.stopped());
    QVERIFY(!session.isRunning());
    QCOMPARE(openFdCount(), fds);
    QVERIFY(messages.shown().isEmpty());
}

// A handler that never returns: after the join timeout the window's fatal
// message, then the exit function with code 0.
void TestCaptureFile::stuckThreadIsFatal_data() {
    QTest::addColumn<CaptureWindow>("window");
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("message");

    using W = CaptureWindow;
    const QString plain = QStringLiteral("Fatal Error: cannot terminate the capture thread");
    QTest::newRow("analyzer") << W::CaptureDecodeView << 0 << plain;
    QTest::newRow("application chart") << W::PDAppView << 1 << plain;
    QTest::newRow("IPv4") << W::PDv4v6L3View << 0
                          << QStringLiteral(
                                 "Fatal Error: cannot terminate the IPv4 capture thread");
    QTest::newRow("IPv6") << W::PDv4v6L3View << 1
                          << QStringLiteral(
                                 "Fatal Error: cannot terminate the IPv6 capture thread");
    QTest::newRow("To") << W::SingleNodeView << 0
                        << QStringLiteral("Fatal Error: cannot terminate the To capture thread");
    QTest::newRow("From") << W::SingleNodeView << 1
                          << QStringLiteral(
                                 "Fatal Error: cannot terminate the From capture thread");
}

void TestCaptureFile::stuckThreadIsFatal() {
    QFETCH(CaptureWindow, window);
    QFETCH(int, slot);
    QFETCH(QString, message);

    ScriptedMessageService messages;
    g_exitCode.store(-1);
    g_releaseHandler.store(false);
    CaptureSession::setJoinTimeout(std::chrono::milliseconds(200));
    CaptureSession::setFatalExit(&recordExit);

    std::atomic<int> entered{0};
    std::atomic<int> calls{0};
    CaptureSession session(window, slot);
    session.setHandler([&](const pcap_pkthdr&, const std::uint8_t*) {
        calls.fetch_add(1);
        entered.store(1);
        while (!g_releaseHandler.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    session.setFileReplay(FileReplay::AsFastAsPossible);
    // The chart rows filter by protocol; this file has IPv4 and IPv6 UDP frames.
    QVERIFY(session.start(shared("ndpi__telegram.pcap")).ok());
    QTRY_COMPARE(entered.load(), 1);

    const auto t0 = Clock::now();
    session.stop();
    const double ms = msBetween(t0, Clock::now());
    QCOMPARE(g_exitCode.load(), 0);
    QCOMPARE(messages.shown().size(), 1);
    QCOMPARE(messages.shown()[0].text, message);
    QCOMPARE(messages.shown()[0].caption, MessageService::applicationTitle());
    QCOMPARE(messages.shown()[0].buttons, MessageService::Buttons::Ok);
    QVERIFY2(ms >= 190.0, qPrintable(QString::number(ms)));
    QVERIFY(!session.isRunning());
    // The frames behind the stuck one were dropped once Stop had begun.
    QCOMPARE(calls.load(), 1);
}

QTEST_GUILESS_MAIN(TestCaptureFile)
#include "tst_capture_file.moc"
