// A two-capture chart window's filters run on frames read once for both
// captures take exactly the frames each capture's own filtered reading gets,
// and the chart's seconds read once are those of the captures reading in turn.

#include "core/capture/adapter_name.h"
#include "core/stats/chart_capture_split.h"
#include "core/stats/chart_file_reader.h"
#include "support/test_paths.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <pcap/pcap.h>

#include <cstring>
#include <vector>

using namespace qarsilo;

namespace {

using Indices = std::vector<int>;

// The frames (by position) that `window`'s capture `slot` gets: the file read
// with the capture's filter set on the handle, as its session reads it.
Indices filteredReading(const QString& path, CaptureWindow window, int slot) {
    const CaptureWindowParams& p = captureWindowParams(window);
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (!handle)
        return {-1};
    bpf_program program{};
    Indices out;
    if (pcap_compile(handle, &program, p.filters[static_cast<std::size_t>(slot)], p.optimize,
                     p.netmask) != 0 ||
        pcap_setfilter(handle, &program) != 0) {
        out.push_back(-2);
    } else {
        pcap_pkthdr* h = nullptr;
        const u_char* bytes = nullptr;
        while (pcap_next_ex(handle, &h, &bytes) == 1)
            out.push_back(static_cast<int>(h->ts.tv_usec)); // frames are stamped by position
        pcap_freecode(&program);
    }
    pcap_close(handle);
    return out;
}

// The same through one unfiltered reading: frames cut to the snapshot length
// as the session hands them over, then split.
std::array<Indices, 2> splitReading(const QString& path, CaptureWindow window) {
    const ChartCaptureSplit split(window);
    const auto snapLen = static_cast<bpf_u_int32>(captureWindowParams(window).snapLen);
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    std::array<Indices, 2> out;
    if (!handle)
        return out;
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    while (pcap_next_ex(handle, &h, &bytes) == 1) {
        pcap_pkthdr cut = *h;
        cut.caplen = std::min(cut.caplen, snapLen);
        const unsigned taken = split.takenBy(cut, bytes);
        for (int i = 0; i < 2; ++i)
            if (taken & (1u << i))
                out[static_cast<std::size_t>(i)].push_back(static_cast<int>(h->ts.tv_usec));
    }
    pcap_close(handle);
    return out;
}

struct Frame {
    QByteArray bytes; // at least the captured length
    int captured;
    int wire;
};

// Writes `frames` stamped by position: in one second, or two frames a second.
bool writeCapture(const QString& path, const std::vector<Frame>& frames, bool spread = false) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, QFile::encodeName(path).constData());
    if (!dumper)
        return false;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        pcap_pkthdr h{};
        h.ts.tv_sec = 1'700'000'000 + (spread ? static_cast<time_t>(i / 2) : 0);
        h.ts.tv_usec = static_cast<suseconds_t>(i);
        h.len = static_cast<bpf_u_int32>(frames[i].wire);
        h.caplen = static_cast<bpf_u_int32>(frames[i].captured);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h,
                  reinterpret_cast<const u_char*>(frames[i].bytes.constData()));
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

// A chart's seconds from `path`, read once for both captures or by each
// capture in turn, one line per second: the second, then bytes per category.
QStringList chartSeconds(const QString& path, ChartKind kind, bool once, bool* readOnce) {
    ChartFileReader reader(kind);
    reader.setReadOnce(once);
    *readOnce = reader.readsOnce();
    QStringList lines;
    LoopEnd how = LoopEnd::Running;
    QString error;
    const CaptureStartResult started =
        reader.run(captureFileAdapterName(path), how, error,
                   [&](long long second, const ChartFileReader::Bytes& bytes) {
                       QString line = QString::number(second) + QLatin1Char(':');
                       for (const std::uint64_t b : bytes)
                           line += QLatin1Char(' ') + QString::number(b);
                       lines << line;
                       return true;
                   });
    if (!started.ok() || how == LoopEnd::Error)
        lines << QStringLiteral("failed: %1 %2").arg(started.error, error);
    return lines;
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

} // namespace

class TestChartCaptureSplit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void filtersReadWhatACutFrameKeeps();
    void sameFramesAsFilteredReadings_data();
    void sameFramesAsFilteredReadings();
    void chartReadOnceAsInTurn_data() { sameFramesAsFilteredReadings_data(); }
    void chartReadOnceAsInTurn();
};

void TestChartCaptureSplit::filtersReadWhatACutFrameKeeps() {
    QVERIFY(ChartCaptureSplit(CaptureWindow::PDAppView).usable());
    QVERIFY(ChartCaptureSplit(CaptureWindow::PDv4v6L3View).usable());
    // A filter whose offsets depend on the frame cannot be split on cut frames.
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 64);
    bpf_program program{};
    QCOMPARE(pcap_compile(dead, &program, "tcp port 80", 1, PCAP_NETMASK_UNKNOWN), 0);
    QVERIFY(!ChartCaptureSplit::readsWithin(program, 64));
    pcap_freecode(&program);
    QCOMPARE(pcap_compile(dead, &program, "ether[70] = 1", 1, PCAP_NETMASK_UNKNOWN), 0);
    QVERIFY(!ChartCaptureSplit::readsWithin(program, 64));
    pcap_freecode(&program);
    pcap_close(dead);
}

void TestChartCaptureSplit::sameFramesAsFilteredReadings_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArrayList>("frames"); // crafted frames when `file` is empty
    QTest::addColumn<QList<int>>("captured");   // their captured lengths
    const char* eth = "0200000000010200000000020800";
    const char* eth6 = "02000000000102000000000286dd";
    const QByteArray ip4Tcp = hex(eth) + hex("450000280001000040060000c0a80001c0a80002") +
                              hex("00500050000000000000000050000000000000000000");
    const QByteArray ip4Udp =
        hex(eth) + hex("4500001c0001000040110000c0a80001c0a80002") + hex("0035003500080000");
    const QByteArray ip6Tcp = hex(eth6) + hex("6000000000140640") + QByteArray(32, '\1') +
                              hex("00500050000000000000000050000000000000000000") +
                              QByteArray(40, '\0');
    // IPv6 behind a fragment header: the filters look one header further.
    const QByteArray ip6FragUdp = hex(eth6) + hex("6000000000102c40") + QByteArray(32, '\1') +
                                  hex("1100000100000001") + hex("0035003500080000");
    const QByteArray vlanTcp = hex("020000000001020000000002810000050800") +
                               hex("450000280001000040060000c0a80001c0a80002") +
                               hex("0050005000000000");
    const QByteArray ip6in4 = hex(eth) + hex("450000440001000040290000c0a80001c0a80002") +
                              hex("6000000000080640") + QByteArray(32, '\1') +
                              hex("0050005000000000");
    QTest::newRow("crafted") << QString()
                             << QByteArrayList{ip4Tcp, ip4Udp, ip6Tcp, ip6FragUdp, vlanTcp, ip6in4}
                             << QList<int>{int(ip4Tcp.size()),  int(ip4Udp.size()),
                                           int(ip6Tcp.size()),  int(ip6FragUdp.size()),
                                           int(vlanTcp.size()), int(ip6in4.size())};
    // Cut before the protocol field, before the next header, inside the
    // fragment header: the filters read past the end and refuse. Cut right
    // behind the ports: taken and counted.
    QTest::newRow("crafted, truncated")
        << QString()
        << QByteArrayList{ip4Tcp, ip4Udp, ip6Tcp, ip6FragUdp, ip6FragUdp, ip6in4, ip4Tcp}
        << QList<int>{23, 14, 20, 54, 55, 16, 38};
    // Frames alike but for one byte a filter reads, or for holding it, in
    // turn: each is split by its own bytes and length.
    QByteArray ip6FragTcp = ip6FragUdp;
    ip6FragTcp[54] = 6;
    QByteArray ip4Other = ip4Tcp;
    ip4Other[23] = 1;
    QTest::newRow("crafted, alike")
        << QString() << QByteArrayList{ip4Tcp,     ip4Tcp,     ip4Other,   ip4Tcp,     ip6FragUdp,
                                       ip6FragTcp, ip6FragUdp, ip6FragTcp, ip6FragUdp, ip6FragUdp,
                                       ip4Tcp,     ip4Tcp,     ip4Tcp}
        << QList<int>{int(ip4Tcp.size()),
                      23,
                      int(ip4Other.size()),
                      int(ip4Tcp.size()),
                      int(ip6FragUdp.size()),
                      int(ip6FragTcp.size()),
                      54,
                      int(ip6FragTcp.size()),
                      55,
                      int(ip6FragUdp.size()),
                      24,
                      int(ip4Tcp.size()),
                      13}; // a zero where the type's low byte is, not held
    // Every Ethernet capture kept for the tests: VLAN and QinQ tags, IP in
    // IP, Teredo, extension headers, fragments, truncated and broken frames.
    const QDir captures(qarsilo::test::pcapDir());
    for (const QString& name : captures.entryList(
             {QStringLiteral("*.pcap"), QStringLiteral("*.pcapng")}, QDir::Files, QDir::Name)) {
        const QString path = captures.filePath(name);
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        pcap_t* in = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
        const bool ethernet = in && pcap_datalink(in) == DLT_EN10MB;
        if (in)
            pcap_close(in);
        if (ethernet)
            QTest::newRow(qPrintable(name)) << path << QByteArrayList{} << QList<int>{};
    }
}

void TestChartCaptureSplit::sameFramesAsFilteredReadings() {
    QFETCH(QString, file);
    QFETCH(QByteArrayList, frames);
    QFETCH(QList<int>, captured);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Stamped by position, so that a frame is known by its stamp.
    std::vector<Frame> toWrite;
    if (file.isEmpty()) {
        for (qsizetype i = 0; i < frames.size(); ++i)
            toWrite.push_back({frames[i], captured[i], int(frames[i].size())});
    } else {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        pcap_t* in = pcap_open_offline(QFile::encodeName(file).constData(), errbuf);
        QVERIFY2(in, errbuf);
        QCOMPARE(pcap_datalink(in), DLT_EN10MB);
        pcap_pkthdr* h = nullptr;
        const u_char* bytes = nullptr;
        while (pcap_next_ex(in, &h, &bytes) == 1) {
            toWrite.push_back({QByteArray(reinterpret_cast<const char*>(bytes), int(h->caplen)),
                               int(h->caplen), int(h->len)});
        }
        pcap_close(in);
    }
    const QString path = dir.filePath(QStringLiteral("frames.pcap"));
    QVERIFY(writeCapture(path, toWrite));
    std::size_t taken = 0;
    for (const CaptureWindow window : {CaptureWindow::PDAppView, CaptureWindow::PDv4v6L3View}) {
        const std::array<Indices, 2> split = splitReading(path, window);
        for (int slot = 0; slot < 2; ++slot) {
            QCOMPARE(split[static_cast<std::size_t>(slot)], filteredReading(path, window, slot));
            taken += split[static_cast<std::size_t>(slot)].size();
        }
    }
    // The crafted frames are taken by some filter: the rows compare something.
    QVERIFY(!file.isEmpty() || taken > 0);
}

// The chart's seconds, through the sessions the chart command runs: the
// frames read once and split equal the captures' own filtered readings.
void TestChartCaptureSplit::chartReadOnceAsInTurn() {
    QFETCH(QString, file);
    QFETCH(QByteArrayList, frames);
    QFETCH(QList<int>, captured);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = file;
    if (file.isEmpty()) {
        std::vector<Frame> toWrite;
        for (qsizetype i = 0; i < frames.size(); ++i)
            toWrite.push_back({frames[i], captured[i], int(frames[i].size())});
        path = dir.filePath(QStringLiteral("frames.pcap"));
        QVERIFY(writeCapture(path, toWrite, true));
    }
    std::uint64_t counted = 0;
    for (const ChartKind kind : {ChartKind::Application, ChartKind::IPv4IPv6}) {
        bool once = false;
        bool inTurn = true;
        const QStringList split = chartSeconds(path, kind, true, &once);
        const QStringList separate = chartSeconds(path, kind, false, &inTurn);
        QVERIFY(once && !inTurn);
        QCOMPARE(split, separate);
        for (const QString& line : split)
            for (const QString& n :
                 line.section(QLatin1Char(':'), 1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                counted += n.toULongLong();
    }
    // The crafted frames fall in categories of both charts: the rows compare something.
    QVERIFY(!file.isEmpty() || counted > 0);
}

QTEST_GUILESS_MAIN(TestChartCaptureSplit)
#include "tst_chart_capture_split.moc"
