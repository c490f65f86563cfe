// Autodiscovery: the duplicate and conflict pass on a large node list beside
// the plain quadratic pass; saving discovered rows into a large address book;
// and, with --live, IP listening in a private network namespace at the highest
// rate the machine can send (root): peak memory, frames counted, and the time
// from Stop to the rows shown.
//
//   qarsilo-bench-discovery [--rows 1000000] [--oracle-rows 10000] [--book 100000]
//                           [--save 10000] [--runs 5]
//   qarsilo-bench-discovery --live [--seconds 60] [--rate 5000000]

#include "core/app/app_state.h"
#include "core/app/message_service.h"
#include "core/discovery/discovery_database.h"
#include "core/discovery/discovery_store.h"
#include "core/discovery/discovery_tables.h"
#include "gui/discovery/autodiscovery_dlg.h"
#include "gui/widgets/report_list.h"
#include "support/duplicate_oracle.h"
#include "support/live_net.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace qarsilo;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QString mac(quint32 n) {
    return QStringLiteral("02:00:%1:%2:%3:%4")
        .arg((n >> 24) & 255, 2, 16, QLatin1Char('0'))
        .arg((n >> 16) & 255, 2, 16, QLatin1Char('0'))
        .arg((n >> 8) & 255, 2, 16, QLatin1Char('0'))
        .arg(n & 255, 2, 16, QLatin1Char('0'));
}

// A node as NetBIOS listening finds it; its MAC spells as mac(n).
DiscoveredNode nodeOf(quint32 n, quint32 ip, const QString& name, const QString& workgroup) {
    DiscoveredNode node;
    node.mac = {0x02, 0x00, quint8(n >> 24), quint8(n >> 16), quint8(n >> 8), quint8(n)};
    node.ip = ip;
    node.name = name;
    node.workgroup = workgroup;
    node.time = 1704103200; // 1 Jan 2024, 10:00:00 UTC
    return node;
}

// A NetBIOS listening list: `stations` stations announcing themselves again
// and again; one in fifty has changed its address once.
QList<DiscoveredNode> netbiosRows(int n, int stations, quint32 seed) {
    QRandomGenerator rng(seed);
    QList<DiscoveredNode> rows;
    rows.reserve(n);
    for (int i = 0; i < n; ++i) {
        const auto s = rng.bounded(stations);
        const bool moved = s % 50 == 0 && rng.bounded(2);
        const quint32 ip =
            (10u << 24) | ((s >> 16) << 16) | (((s >> 8) & 255) << 8) | (moved ? 1 : s & 255);
        rows.append(
            nodeOf(s, ip, QStringLiteral("PC%1").arg(s), QStringLiteral("WG%1").arg(s % 20)));
    }
    return rows;
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Wall time; the thread's CPU time goes to `cpu` (the machine may be shared:
// the CPU time is what the work itself cost).
double secondsOf(const std::function<void()>& work, std::vector<double>* cpu = nullptr) {
    QElapsedTimer t;
    t.start();
    const double c0 = cpuSeconds();
    work();
    if (cpu)
        cpu->push_back(cpuSeconds() - c0);
    return double(t.nsecsElapsed()) / 1e9;
}

int passAndSave(int rowsN, int oracleN, int bookN, int saveN, int runs) {
    std::vector<double> linearBig;
    std::vector<double> linearBigCpu;
    std::vector<double> linearSmall;
    std::vector<double> oracleSmall;
    int left = 0;
    for (int r = 0; r < runs; ++r) {
        QList<DiscoveredNode> big = netbiosRows(rowsN, 5000, 1 + r);
        linearBig.push_back(
            secondsOf([&] { clearDuplicates(big, DiscoveryMode::NetBios, {}); }, &linearBigCpu));
        left = int(big.size());
        QList<DiscoveredNode> a = netbiosRows(oracleN, 5000, 100 + r);
        QList<DiscoveredNode> b = a;
        linearSmall.push_back(secondsOf([&] { clearDuplicates(a, DiscoveryMode::NetBios, {}); }));
        oracleSmall.push_back(
            secondsOf([&] { test::oraclePass(b, DiscoveryMode::NetBios, [] { return true; }); }));
        if (a != b) {
            std::fprintf(stderr, "the two passes disagree\n");
            return 1;
        }
    }
    std::printf("duplicate pass, NetBIOS rows of 5000 stations, median of %d runs:\n", runs);
    std::printf("  linear    %8d rows: %9.3f ms (CPU %.3f ms; %d rows left)\n", rowsN,
                median(linearBig) * 1e3, median(linearBigCpu) * 1e3, left);
    std::printf("  linear    %8d rows: %9.3f ms\n", oracleN, median(linearSmall) * 1e3);
    std::printf("  quadratic %8d rows: %9.3f ms  (%.0fx the linear pass on the same rows)\n",
                oracleN, median(oracleSmall) * 1e3,
                median(linearSmall) > 0 ? median(oracleSmall) / median(linearSmall) : 0.0);

    // Saving into a large book.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("address.mdb"));
    {
        AddressDatabase db(file);
        if (!db.open())
            return 1;
        db.inTransaction([&] {
            for (int i = 0; i < bookN; ++i) {
                NodeRecord n;
                n.mac = mac(quint32(i));
                n.ip = QStringLiteral("10.0.0.1");
                n.name = QStringLiteral("N%1").arg(i);
                n.type = QStringLiteral("-");
                if (!db.insertNode(n))
                    return false;
            }
            return true;
        });
    }
    std::vector<double> saves;
    std::vector<double> savesCpu;
    std::vector<double> compares;
    std::vector<double> finds;
    for (int r = 0; r < runs; ++r) {
        // Half of the rows update stored nodes, half add new ones.
        QList<DiscoveredNode> rows;
        for (int i = 0; i < saveN; ++i) {
            const quint32 m = i % 2 ? quint32(i * 7 % bookN) : quint32(bookN + r * saveN + i);
            rows.append(nodeOf(m, 0x0A000002, QStringLiteral("PC"), QStringLiteral("WG")));
        }
        AddressDatabase db(file);
        if (!db.open())
            return 1;
        QStringList log;
        saves.push_back(secondsOf(
            [&] {
                if (!saveDiscoveredNodes(db, rows, rowsToSave({}, rows.size()), log))
                    std::fprintf(stderr, "save failed: %s\n", qPrintable(db.lastError()));
            },
            &savesCpu));
        compares.push_back(
            secondsOf([&] { compareWithDatabase(db, DiscoveryMode::NetBios, rows, {}, {}); }));
        NodeRecord found;
        finds.push_back(secondsOf([&] {
                            for (int i = 0; i < 1000; ++i)
                                db.findNode(mac(quint32(i * 97 % bookN)), found);
                        }) /
                        1000);
    }
    std::printf("address book of %d nodes (growing by %d per run), median of %d runs:\n", bookN,
                saveN / 2, runs);
    std::printf("  save %d rows (one transaction): %.1f ms (CPU %.1f ms)\n", saveN,
                median(saves) * 1e3, median(savesCpu) * 1e3);
    std::printf("  compare %d rows: %.1f ms\n", saveN, median(compares) * 1e3);
    std::printf("  find by MAC: %.1f us per lookup\n", median(finds) * 1e6);
    return 0;
}

long statusKb(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

QByteArray ipFrame(int srcMac, quint32 srcIp, int dstMac, quint32 dstIp) {
    QByteArray f(60, '\0');
    const char d[6] = {'\x02', 0, 0, 0, char(dstMac >> 8), char(dstMac)};
    const char s[6] = {'\x02', 0, 0, 0, char(srcMac >> 8), char(srcMac)};
    f.replace(0, 6, QByteArray(d, 6));
    f.replace(6, 6, QByteArray(s, 6));
    f[12] = '\x08';
    f[14] = '\x45';
    f[23] = 17;
    for (int i = 0; i < 4; ++i) {
        f[26 + i] = char(srcIp >> (24 - 8 * i));
        f[30 + i] = char(dstIp >> (24 - 8 * i));
    }
    return f;
}

int live(int seconds, int rate) {
    test::LiveNet::removeStale();
    test::LiveNet net(true);
    const std::unique_ptr<test::FrameSender> sender = test::senderFor(net);
    if (!sender)
        return 1;
    // 64 local stations talking among themselves and through a router (MAC
    // 0x0100) to 1024 remote addresses: the router's end changes address on
    // nearly every frame, the worst case of the buffer's compaction.
    std::vector<QByteArray> frames;
    const quint32 local = 0x0AD30000; // 10.211.0.0/24
    for (int i = 0; i < 4096; ++i) {
        const int a = i % 64;
        if (i % 4 == 0)
            frames.push_back(
                ipFrame(0x100, 0xC6336400u + quint32(i % 1024), a, local + quint32(a)));
        else
            frames.push_back(ipFrame(a, local + quint32(a), (a + i / 64) % 64,
                                     local + quint32((a + i / 64) % 64)));
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("address.mdb"));
    {
        AddressDatabase db(file);
        if (!db.open() || !db.addGroupIfAbsent(GroupTable::Subnet, QStringLiteral("10.211.0.0")))
            return 1;
    }
    app::setSelectedAdapter(QString::fromLatin1(test::LiveNet::kCaptureEnd));
    const long baseKb = statusKb("VmHWM:");
    CAutodiscoveryDlg dlg(nullptr, file);
    dlg.ipBox()->click();
    dlg.start();
    if (!dlg.running()) {
        std::fprintf(stderr, "the capture did not start\n");
        return 1;
    }
    QEventLoop loop;
    QElapsedTimer sending;
    sending.start();
    sender->startStream(frames, rate);
    long peakRssKb = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler,
                     [&] { peakRssKb = std::max(peakRssKb, statusKb("VmRSS:")); });
    sampler.start(200);
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, [&] {
        sender->stopStream();
        QTimer::singleShot(500, &loop, [&] { loop.quit(); });
    });
    loop.exec();
    const double sent = double(sender->streamed());
    const double elapsed = double(sending.nsecsElapsed()) / 1e9;
    const long long counted = DiscoveryStore::instance().ipFrames();
    QElapsedTimer stopClock;
    stopClock.start();
    dlg.stop();
    QCoreApplication::processEvents();
    const double stopMs = double(stopClock.nsecsElapsed()) / 1e6;
    std::printf("IP listening for %d s: sent %.0f frames (%.0f frames/s), counted %lld, dropped "
                "by the kernel's ring %u\n",
                seconds, sent, sent / elapsed, counted, dlg.session().droppedFrames());
    std::printf("  memory: peak RSS %ld MB (%ld MB before the dialog), sampled RSS peak %ld MB\n",
                statusKb("VmHWM:") / 1024, baseKb / 1024, peakRssKb / 1024);
    std::printf("  Stop to rows shown: %.1f ms, %d node rows\n", stopMs,
                dlg.nodeList()->rowCount());
    for (const QString& l : dlg.logLines())
        if (l.contains(QLatin1String("not kept")))
            std::printf("  log: %s\n", qPrintable(l));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    StderrMessageService quiet;
    MessageService::install(&quiet);
    int rows = 1'000'000, oracleRows = 10'000, book = 100'000, save = 10'000, runs = 5;
    int seconds = 60, rate = 5'000'000;
    bool isLive = false;
    const QStringList args = application.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const auto next = [&] { return i + 1 < args.size() ? args[++i].toInt() : 0; };
        if (args[i] == u"--live")
            isLive = true;
        else if (args[i] == u"--rows")
            rows = next();
        else if (args[i] == u"--oracle-rows")
            oracleRows = next();
        else if (args[i] == u"--book")
            book = next();
        else if (args[i] == u"--save")
            save = next();
        else if (args[i] == u"--runs")
            runs = std::max(1, next());
        else if (args[i] == u"--seconds")
            seconds = next();
        else if (args[i] == u"--rate")
            rate = next();
    }
    const int rc = isLive ? live(seconds, rate) : passAndSave(rows, oracleRows, book, save, runs);
    MessageService::install(nullptr);
    return rc;
}
