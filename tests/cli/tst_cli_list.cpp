// qarsilo-cli list over the shared captures: line counts, the line format,
// failures and their exit codes.

#include "core/analysis/classify.h"
#include "core/analysis/frame.h"
#include "support/capture_test_util.h"
#include "support/run_process.h"
#include "support/test_paths.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <thread>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

QString shared(const char* name) {
    return pcapDir() + QLatin1Char('/') + QLatin1String(name);
}

QStringList argsOf(std::initializer_list<QString> items) {
    return QStringList(items);
}

ProcessResult list(const QStringList& args) {
    return runProcess(cliPath(), QStringList{QStringLiteral("list")} + args);
}

QList<QByteArray> linesOf(const QByteArray& out) {
    QList<QByteArray> lines = out.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The lines the listing must print for `path`, built here from the file with
// libpcap and the list's own formatter.
QList<QByteArray> expectedLines(const QString& path, const char* filter = nullptr) {
    QList<QByteArray> out;
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (!p)
        return out;
    bpf_program program;
    if (filter && pcap_compile(p, &program, filter, 1, PCAP_NETMASK_UNKNOWN) == 0) {
        pcap_setfilter(p, &program);
        pcap_freecode(&program);
    }
    pcap_pkthdr* h;
    const u_char* bytes;
    char line[kMaxFrameLineLength];
    while (pcap_next_ex(p, &h, &bytes) == 1) {
        const std::size_t n = formatFrameLine(frameHeaderFrom(*h), bytes, line, sizeof line);
        out.append(QByteArray::number(out.size() + 1) + '\t' +
                   QByteArray(line, static_cast<qsizetype>(n)));
    }
    pcap_close(p);
    return out;
}

// Frames of many kinds and lengths (runts up to full size) with stamps a few
// per second, enough for many of the list's hand-over batches.
std::vector<TestFrame> mixedFrames(int count) {
    std::vector<TestFrame> frames;
    quint32 state = 12345;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    long long stamp = 1'000'000'000'000'000LL;
    for (int i = 0; i < count; ++i) {
        QByteArray f(static_cast<qsizetype>(next() >> 8) % 1515, '\0');
        for (char& b : f)
            b = static_cast<char>(next() >> 24);
        if (f.size() >= 14) {
            static constexpr quint16 kTypes[] = {0x0800, 0x0800, 0x0806, 0x86DD, 0x8137, 0x9000};
            const quint16 type = next() % 4 == 0 ? static_cast<quint16>(f.size() - 14)
                                                 : kTypes[next() % std::size(kTypes)];
            f[12] = static_cast<char>(type >> 8);
            f[13] = static_cast<char>(type & 0xFF);
        }
        if (f.size() >= 38 && next() % 2 == 0) { // a port the list knows
            static constexpr quint16 kPorts[] = {80, 137, 138, 53, 443};
            const quint16 port = kPorts[next() % std::size(kPorts)];
            f[36] = static_cast<char>(port >> 8);
            f[37] = static_cast<char>(port & 0xFF);
        }
        frames.push_back({stamp, f});
        stamp += next() % 3 == 0 ? 0 : next() % 700'000;
    }
    return frames;
}

} // namespace

class TestCliList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void lineCounts_data();
    void lineCounts();
    void linesFollowTheFile_data();
    void linesFollowTheFile();
    void knownLines_data();
    void knownLines();
    void failures_data();
    void failures();
    void truncatedFileKeepsItsFrames();
    void streamsListAsTheFile_data();
    void streamsListAsTheFile();
    void manyFrames_data();
    void manyFrames();
    void interruptWritesWhatWasRead_data();
    void interruptWritesWhatWasRead();

private:
    QTemporaryDir m_dir;
};

void TestCliList::initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFile::exists(cliPath()), qPrintable(cliPath()));
}

void TestCliList::lineCounts_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("lines");

    const auto s = [](const char* text) { return QString::fromLatin1(text); };
    QTest::newRow("eapon1") << argsOf({shared("tcpdump__eapon1.pcap")}) << 114;
    QTest::newRow("arp-oobr") << argsOf({shared("tcpdump__arp-oobr.pcap")}) << 2282;
    QTest::newRow("telegram") << argsOf({shared("ndpi__telegram.pcap")}) << 1566;
    QTest::newRow("fragmented garbage")
        << argsOf({shared("ndpi__ip_fragmented_garbage.pcap")}) << 1252;
    QTest::newRow("runts") << argsOf({shared("tcpdump__aarp-heapoverflow-1.pcap")}) << 1;
    QTest::newRow("pcapng") << argsOf({shared("scapy__gvrp.pcapng")}) << 11;
    QTest::newRow("file: prefix") << argsOf({s("file:") + shared("ndpi__dhcp-fuzz.pcapng")}) << 1;
    QTest::newRow("filter") << argsOf({shared("tcpdump__eapon1.pcap"), s("--filter"),
                                       s("udp port 138")})
                            << 17;
    QTest::newRow("filter=") << argsOf({s("--filter=arp"), shared("tcpdump__eapon1.pcap")}) << 5;
    QTest::newRow("filter admits none")
        << argsOf({shared("ndpi__telegram.pcap"), s("--filter"), s("tcp")}) << 0;
    QTest::newRow("count") << argsOf({shared("tcpdump__arp-oobr.pcap"), s("--count"), s("7")}) << 7;
    QTest::newRow("count above the frames")
        << argsOf({shared("libpcap__llc.pcap"), s("--count=1000")}) << 10;
    QTest::newRow("filter and count")
        << argsOf({shared("ndpi__telegram.pcap"), s("--filter"), s("ip6"), s("--count"), s("100")})
        << 100;
}

void TestCliList::lineCounts() {
    QFETCH(QStringList, args);
    QFETCH(int, lines);
    const ProcessResult r = list(args);
    QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    const QList<QByteArray> got = linesOf(r.out);
    QCOMPARE(got.size(), lines);
    for (qsizetype i = 0; i < got.size(); ++i)
        QVERIFY(got[i].startsWith(QByteArray::number(i + 1) + '\t'));
}

// Every frame, in file order, numbered from 1, six tab-separated fields.
void TestCliList::linesFollowTheFile_data() {
    QTest::addColumn<QString>("path");
    for (const char* f : {"tcpdump__eapon1.pcap", "tcpdump__ipx.pcap", "ndpi__badpackets.pcap",
                          "tcpdump__stp-heapoverflow-2.pcap", "tcpdump__various_gre.pcap",
                          "tcpdump__icmp-length-zero.pcapng", "tcpdump__ipv6_jumbogram_1.pcap"})
        QTest::newRow(f) << shared(f);
}

void TestCliList::linesFollowTheFile() {
    QFETCH(QString, path);
    const QList<QByteArray> expected = expectedLines(path);
    QVERIFY(!expected.isEmpty());
    const ProcessResult r = list({path});
    QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
    const QList<QByteArray> got = linesOf(r.out);
    QCOMPARE(got.size(), expected.size());
    for (qsizetype i = 0; i < got.size(); ++i) {
        QCOMPARE(got[i].count('\t'), 5);
        QCOMPARE(got[i], expected[i]);
    }
}

// Lines checked field by field: time stamps and addresses as tshark reads them
// from the same frames (eapon1 frames 1, 11, 61; gvrp frame 1).
void TestCliList::knownLines_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("line");

    const QString eapon = shared("tcpdump__eapon1.pcap");
    QTest::newRow("NetBIOS datagram")
        << eapon << 1
        << QByteArray("1\t1080055048:958610\t192.168.1.249\t192.168.1.255\tNetBIOS-DATA\t"
                      "NetBIOS Over IP Datagram Service");
    QTest::newRow("ARP") << eapon << 11
                         << QByteArray("11\t1080055055:473290\t000423-57A57A\tFFFFFF-FFFFFF\tARP\t"
                                       "Who is 192.168.1.1 ? Tell 192.168.1.249");
    QTest::newRow("NetBIOS name service")
        << eapon << 61
        << QByteArray("61\t1080055123:216408\t169.254.67.194\t169.254.255.255\tNetBIOS-NS\t"
                      "NetBIOS Over IP Name Service");
    QTest::newRow("pcapng 802.3") << shared("scapy__gvrp.pcapng") << 1
                                  << QByteArray(
                                         "1\t1650526256:602835\t0200C1-69FC0E\t0180C2-000021\tSTP\t"
                                         "Spanning Tree Protocol");
}

void TestCliList::knownLines() {
    QFETCH(QString, path);
    QFETCH(int, number);
    QFETCH(QByteArray, line);
    const ProcessResult r = list({path});
    QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
    const QList<QByteArray> got = linesOf(r.out);
    QVERIFY(got.size() >= number);
    QCOMPARE(got[number - 1], line);
}

// Failures end with a message on the standard error stream, nothing on the
// standard output and a non-zero exit: 1 for a source or filter that does not
// work, 2 for a command line that is wrong.
void TestCliList::failures_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const auto s = [](const char* text) { return QString::fromLatin1(text); };
    const QString eapon = shared("tcpdump__eapon1.pcap");
    const QString notes = m_dir.filePath(s("notes.txt"));
    QFile text(notes);
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("these are words, not frames; a capture file begins otherwise\n");
    text.close();
    const QString user0 = m_dir.filePath(s("user0.pcap"));
    QVERIFY(writeCapture(user0, DLT_USER0, {{0, QByteArray(30, 'u')}, {10, QByteArray(30, 'v')}}));

    QTest::newRow("missing file") << argsOf({m_dir.filePath(s("none.pcap"))}) << 1
                                  << s("No such file or directory");
    QTest::newRow("missing file: name")
        << argsOf({s("file:none-here")}) << 1 << s("cannot open capture file");
    QTest::newRow("not a capture") << argsOf({notes}) << 1 << s("cannot open capture file");
    QTest::newRow("bad filter") << argsOf({eapon, s("--filter"), s("udp prot 53")}) << 1
                                << s("bad filter 'udp prot 53'");
    QTest::newRow("filter needs a netmask")
        << argsOf({eapon, s("--filter"), s("ip broadcast")}) << 1 << s("netmask");
    QTest::newRow("device") << argsOf({s("qarsilo-none0")}) << 1
                            << s("cannot open device 'qarsilo-none0'");
    QTest::newRow("not Ethernet") << argsOf({user0}) << 1 << s("not Ethernet");
    QTest::newRow("command fails")
        << argsOf({s("pipe:echo 'sensor1: Permission denied' >&2; exit 255")}) << 1
        << s("cannot read 'pipe:echo 'sensor1: Permission denied' >&2; exit 255': the command "
             "ended (exit code 255)\nsensor1: Permission denied");
    QTest::newRow("command writes no capture")
        << argsOf({s("pipe:echo hello")}) << 1 << s("the command ended (exit code 0)");
    QTest::newRow("no source") << QStringList() << 2 << s("usage");
    QTest::newRow("two sources") << argsOf({eapon, eapon}) << 2 << s("unexpected argument");
    QTest::newRow("unknown option") << argsOf({eapon, s("--fast")}) << 2 << s("--fast");
    QTest::newRow("filter without value")
        << argsOf({eapon, s("--filter")}) << 2 << s("needs a value");
    QTest::newRow("count zero") << argsOf({eapon, s("--count"), s("0")}) << 2 << s("above 0");
    QTest::newRow("count not a number") << argsOf({eapon, s("--count=ten")}) << 2 << s("'ten'");
}

void TestCliList::failures() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const ProcessResult r = list(args);
    QVERIFY(r.exited);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(QString::fromLocal8Bit(r.err).contains(message), r.err.constData());
    QVERIFY2(r.out.isEmpty(), r.out.constData());
}

// A file cut inside a frame: the whole frames before the cut are listed, then
// the tool says why it stopped and exits non-zero.
void TestCliList::truncatedFileKeepsItsFrames() {
    QFile in(shared("tcpdump__eapon1.pcap"));
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray whole = in.readAll();
    const QString cut = m_dir.filePath(QStringLiteral("cut.pcap"));
    QFile out(cut);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(whole.left(whole.size() / 2));
    out.close();

    const QList<QByteArray> full = expectedLines(shared("tcpdump__eapon1.pcap"));
    const ProcessResult r = list({cut});
    QVERIFY(r.exited);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("truncated"), r.err.constData());
    const QList<QByteArray> got = linesOf(r.out);
    QVERIFY(got.size() > 10);
    QVERIFY(got.size() < full.size());
    for (qsizetype i = 0; i < got.size(); ++i)
        QCOMPARE(got[i], full[i]);
}

// The standard input and a command's output list as the file itself does.
void TestCliList::streamsListAsTheFile_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("standardInput");
    for (const char* f : {"tcpdump__eapon1.pcap", "tcpdump__icmp-length-zero.pcapng"}) {
        QTest::addRow("%s, standard input", f) << shared(f) << true;
        QTest::addRow("%s, pipe:cat", f) << shared(f) << false;
    }
}

void TestCliList::streamsListAsTheFile() {
    QFETCH(QString, path);
    QFETCH(bool, standardInput);
    const ProcessResult r =
        standardInput ? runProcess(QStringLiteral("/bin/sh"),
                                   {QStringLiteral("-c"),
                                    QStringLiteral("exec \"$0\" list - < \"$1\""), cliPath(), path})
                      : list({QStringLiteral("pipe:cat '%1'").arg(path)});
    QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    const QList<QByteArray> expected = expectedLines(path);
    QVERIFY(!expected.isEmpty());
    QCOMPARE(linesOf(r.out), expected);
}

// A capture far larger than what the list holds in hand at once, with and
// without a count or a filter: every line as the formatter makes it, in order.
void TestCliList::manyFrames_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("filter");
    QTest::addColumn<int>("lines");
    const auto s = [](const char* text) { return QString::fromLatin1(text); };
    QTest::newRow("every frame") << QStringList() << QByteArray() << -1;
    QTest::newRow("count 5000") << QStringList{s("--count=5000")} << QByteArray() << 5000;
    QTest::newRow("count 29999") << QStringList{s("--count=29999")} << QByteArray() << 29999;
    QTest::newRow("count past the end") << QStringList{s("--count=90000")} << QByteArray() << -1;
    QTest::newRow("filter") << QStringList{s("--filter"), s("arp or udp")}
                            << QByteArray("arp or udp") << -1;
    QTest::newRow("filter and count")
        << QStringList{s("--filter"), s("ip"), s("--count"), s("4000")} << QByteArray("ip") << 4000;
}

void TestCliList::manyFrames() {
    QFETCH(QStringList, options);
    QFETCH(QByteArray, filter);
    QFETCH(int, lines);
    const QString path = m_dir.filePath(QStringLiteral("many.pcap"));
    if (!QFile::exists(path))
        QVERIFY(writeCapture(path, DLT_EN10MB, mixedFrames(30000)));
    QList<QByteArray> expected =
        expectedLines(path, filter.isEmpty() ? nullptr : filter.constData());
    QVERIFY(expected.size() >= 3000);
    if (lines >= 0)
        expected = expected.first(lines);
    const ProcessResult r = list(QStringList{path} + options);
    QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    const QList<QByteArray> got = linesOf(r.out);
    QCOMPARE(got.size(), expected.size());
    for (qsizetype i = 0; i < got.size(); ++i)
        QCOMPARE(got[i], expected[i]);
}

// A stream that stays open after its frames: the listing waits for more
// until interrupted, then writes every frame it read.
void TestCliList::interruptWritesWhatWasRead_data() {
    QTest::addColumn<int>("frames");
    QTest::newRow("a few frames") << 7;
    QTest::newRow("many frames") << 12000;
}

void TestCliList::interruptWritesWhatWasRead() {
    QFETCH(int, frames);
    const QString path = m_dir.filePath(QStringLiteral("open-%1.pcap").arg(frames));
    QVERIFY(writeCapture(path, DLT_EN10MB, mixedFrames(frames)));
    const QList<QByteArray> expected = expectedLines(path);
    QCOMPARE(expected.size(), frames);
    std::thread interrupter;
    const ProcessResult r = runProcess(
        cliPath(), {QStringLiteral("list"), QStringLiteral("pipe:cat '%1'; sleep 60").arg(path)},
        std::chrono::seconds(30), [&interrupter](pid_t pid) {
            interrupter = std::thread([pid] {
                std::this_thread::sleep_for(std::chrono::seconds(3));
                ::kill(pid, SIGINT);
            });
        });
    interrupter.join();
    QVERIFY2(r.exited && r.exitCode == 0, r.err.constData());
    QCOMPARE(linesOf(r.out), expected);
}

QTEST_GUILESS_MAIN(TestCliList)
#include "tst_cli_list.moc"
