// Every capturing window on a live adapter, as users run it: what its capture
// costs per frame and the highest rate it takes without losing a frame, with
// each frame handed over as it arrives (per-frame wake-ups) and with the
// kernel's block ring (buffered), interleaved run by run. Frames are sent on a
// veth pair in a private network namespace (made here, removed at the end;
// nothing leaves it) by several threads on packet sockets of their own. Each
// run is a process of its own. Needs root (namespaces, raw sockets).
//
//   qarsilo-bench-live-windows [--windows general,l2,...] [--capture helper|process]
//                              [--seconds 3] [--runs 3] [--rate 100000]
//                              [--steps 50000,100000,200000,400000,800000,0]
//                              [--threads 2] [--size 0]
//
// First, once per mode, the delay from a frame's arrival to the capture
// thread at a trickle. Phase one: --runs runs per mode at --rate: the capture's CPU time per frame
// that reached the capture end (the window process's capture threads, and the
// capture helper process when it is used), cold first run, median and
// slowest, as a ratio of buffered to per-frame. Phase two: the rate stepped
// through --steps (0: as fast as the sender goes), each mode until its first
// run with a loss: frames dropped by the kernel's ring (in the helper or in
// the window process) or by the analyzer's frame store. The highest rate that
// reached the capture end in a loss-free run is the window's. Frames the
// pair's receiving backlog dropped before any capture saw them are no loss of
// the window's and are printed apart. --size pads frames to that many bytes.

#include "app/builtin_views.h"
#include "bench_util.h"
#include "capture_switch.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/message_service.h"
#include "core/app/settings_store.h"
#include "core/capture/capture_source.h"
#include "fast_sender.h"
#include "flood_frames.h"
#include "gui/analysis/capture_decode_view.h"
#include "gui/discovery/autodiscovery_dlg.h"
#include "gui/shell/main_frame.h"
#include "gui/stats/chart_view.h"
#include "gui/stats/general_info_view.h"
#include "gui/stats/single_node_view.h"
#include "gui/trace/traffic_trace_single.h"
#include "support/live_net.h"
#include "support/trace_frames.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

using namespace qarsilo;

namespace {

struct Window {
    const char* name;
    int templateId; // 0: the autodiscovery dialog
    bool netbios;   // autodiscovery: NetBIOS listening instead of IP
};

const Window kWindows[] = {
    {"analyzer", view::CaptureDecode, false},
    {"general", view::GeneralInfo, false},
    {"single-node", view::SingleNode, false},
    {"packet-size", view::PacketSize, false},
    {"l2", view::PDL2, false},
    {"l3", view::PDL3, false},
    {"v6l3", view::PDv6L3, false},
    {"v4v6l3", view::PDv4v6L3, false},
    {"app", view::PDApplication, false},
    {"trace", view::TraceSingle, false},
    {"discovery-ip", 0, false},
    {"discovery-netbios", 0, true},
};

const char* modeName(LiveWake wake) {
    return wake == LiveWake::PerFrame ? "per-frame" : "buffered";
}

// The single node window keeps its sessions to itself and its kind.
struct SingleNodePeek : CSingleNodeView {
    using Getter = CaptureSession& (CSingleNodeView::*)(int);
    static Getter getter() { return &SingleNodePeek::session; }
};

// Nanoseconds on a processor of every capture thread of this process
// ("qarsilo-capture", named by the session) and of the capture helper
// processes it started.
struct CpuNs {
    long long threads = 0;
    long long helper = 0;
};

long long schedNs(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().split(' ').value(0).toLongLong();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

CpuNs cpuNow() {
    CpuNs cpu;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (readAll(tasks.filePath(tid + QStringLiteral("/comm"))).trimmed() == "qarsilo-capture")
            cpu.threads += schedNs(tasks.filePath(tid + QStringLiteral("/schedstat")));
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!pid[0].isDigit())
            continue;
        const QByteArray stat = readAll(proc.filePath(pid + QStringLiteral("/stat")));
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0 || !stat.mid(stat.indexOf('(') + 1).startsWith("qarsilo-capture)"))
            continue;
        // Fields after the name: state, then the parent's id.
        if (stat.mid(close + 2).split(' ').value(1) == self)
            cpu.helper += schedNs(proc.filePath(pid + QStringLiteral("/schedstat")));
    }
    return cpu;
}

// Frames the capture end received, and those the pair dropped before any
// capture saw them (the receiving backlog full).
struct PairCount {
    long long received = 0;
    long long dropped = 0;
};

PairCount pairNow() {
    PairCount c;
    for (const QByteArray& line : readAll(QStringLiteral("/proc/self/net/dev")).split('\n')) {
        const QByteArray t = line.trimmed();
        if (t.startsWith(QByteArray(test::LiveNet::kCaptureEnd) + ':')) {
            const QList<QByteArray> f = t.mid(t.indexOf(':') + 1).simplified().split(' ');
            c.received = f.value(1).toLongLong();
            c.dropped += f.value(3).toLongLong();
        } else if (t.startsWith(QByteArray(test::LiveNet::kSendEnd) + ':')) {
            c.dropped += t.mid(t.indexOf(':') + 1).simplified().split(' ').value(11).toLongLong();
        }
    }
    return c;
}

void wait(int ms) {
    QEventLoop pause;
    QTimer::singleShot(ms, &pause, &QEventLoop::quit);
    pause.exec();
}

std::vector<QByteArray> netbiosFrames(const QString& dir) {
    const QString file = dir + QStringLiteral("/netbios.pcap");
    if (QProcess::execute(QStringLiteral(QARSILO_GEN_NETBIOS),
                          {QStringLiteral("-n"), QStringLiteral("20000"),
                           QStringLiteral("--stations"), QStringLiteral("5000"), file}) != 0)
        return {};
    std::vector<QByteArray> frames;
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(file.toLocal8Bit().constData(), errbuf);
    if (!p)
        return {};
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    while (pcap_next_ex(p, &h, &bytes) == 1)
        frames.emplace_back(reinterpret_cast<const char*>(bytes), int(h->caplen));
    pcap_close(p);
    return frames;
}

// One run in this process: prints one line "result KEY=VALUE ...".
int runOnce(const Window& w, LiveWake wake, long long rate, int seconds, int threads, int size) {
    QTemporaryDir home;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    AddressDatabase::setDefaultFileName(home.filePath(QStringLiteral("address.mdb")));
    SettingsStore().writeString(setting::macAddress, macAddressText(test::kMonitored));
    SettingsStore().writeNumber(setting::frameStoreBudget, 1024);
    {
        AddressDatabase db;
        if (!db.open() || !db.addGroupIfAbsent(GroupTable::Subnet, QStringLiteral("10.211.0.0")))
            return 1;
    }
    std::vector<QByteArray> frames = w.netbios ? netbiosFrames(home.path()) : bench::floodFrames();
    if (frames.empty()) {
        std::fprintf(stderr, "no frames to send\n");
        return 1;
    }
    if (size > 0)
        frames = bench::FastSender::padded(std::move(frames), size);
    overrideLiveWake(wake);

    test::LiveNet::removeStale();
    std::optional<test::LiveNet> net;
    net.emplace(true);
    if (!net->ok()) {
        std::fprintf(stderr, "cannot make the test network: %s%s\n", qPrintable(net->skipReason()),
                     qPrintable(net->error()));
        return 1;
    }
    bench::FastSender sender(test::LiveNet::kSendEnd, threads);
    if (!sender.ok()) {
        std::fprintf(stderr, "cannot send: %s\n", qPrintable(sender.error()));
        return 1;
    }
    app::setSelectedAdapter(QString::fromLatin1(test::LiveNet::kCaptureEnd));

    CMainFrame frame(builtinViews());
    frame.show();
    std::unique_ptr<CAutodiscoveryDlg> discovery;
    std::vector<CaptureSession*> sessions;
    const FrameStore* store = nullptr;
    QWidget* shown = &frame;
    if (w.templateId == 0) {
        discovery = std::make_unique<CAutodiscoveryDlg>(nullptr);
        (w.netbios ? discovery->netbiosBox() : discovery->ipBox())->click();
        discovery->show();
        discovery->start();
        if (!discovery->running()) {
            std::fprintf(stderr, "%s: the capture did not start\n", w.name);
            return 1;
        }
        sessions.push_back(&discovery->session());
        shown = discovery.get();
    } else {
        frame.switchToView(w.templateId);
        CView* v = frame.activeView();
        if (auto* a = qobject_cast<CCaptureDecodeView*>(v)) {
            sessions.push_back(&a->session());
            store = &a->store();
        } else if (auto* g = qobject_cast<CGeneralInfoView*>(v)) {
            sessions.push_back(&g->session());
        } else if (auto* s = qobject_cast<CSingleNodeView*>(v)) {
            for (int slot = 0; slot < 2; ++slot)
                sessions.push_back(&(s->*SingleNodePeek::getter())(slot));
        } else if (auto* c = qobject_cast<CChartView*>(v)) {
            for (int slot = 0; slot < c->sessionCount(); ++slot)
                sessions.push_back(&c->session(slot));
        } else if (auto* t = qobject_cast<CTrafficTraceSingle*>(v)) {
            if (!t->isCapturing())
                t->start();
            sessions.push_back(&t->session());
        }
        if (sessions.empty() ||
            std::any_of(sessions.begin(), sessions.end(),
                        [](const CaptureSession* s) { return !s->isRunning(); })) {
            std::fprintf(stderr, "%s: the window did not start capturing\n", w.name);
            return 1;
        }
    }
    // Drawn every second, as a visible window is.
    QTimer painter;
    QObject::connect(&painter, &QTimer::timeout, &painter, [&] { (void)shown->grab(); });
    painter.start(1000);
    wait(300);

    const auto drops = [&] {
        long long n = 0;
        for (const CaptureSession* s : sessions)
            n += s->droppedSoFar();
        return n;
    };
    const long long dropsBefore = drops();
    const std::size_t storeBefore = store ? store->dropped() : 0;
    const PairCount pairBefore = pairNow();
    const CpuNs cpuBefore = cpuNow();
    const auto t0 = bench::Clock::now();
    sender.start(frames, rate);
    wait(seconds * 1000);
    sender.stop();
    const double sendSeconds = bench::seconds(t0);
    // What the rings still hold reaches the window (a block waits for its
    // timeout; the helper reports its drops every quarter second).
    wait(600);
    const CpuNs cpuAfter = cpuNow();
    const PairCount pairAfter = pairNow();
    const long long ringDrops = drops() - dropsBefore;
    const long long storeDrops = store ? static_cast<long long>(store->dropped() - storeBefore) : 0;
    painter.stop();
    const long long received = pairAfter.received - pairBefore.received;
    std::printf("result sent=%lld received=%lld pairdrops=%lld seconds=%.3f ringdrops=%lld "
                "storedrops=%lld threadns=%lld helperns=%lld\n",
                sender.sent(), received, pairAfter.dropped - pairBefore.dropped, sendSeconds,
                ringDrops, storeDrops, cpuAfter.threads - cpuBefore.threads,
                cpuAfter.helper - cpuBefore.helper);
    std::fflush(stdout);
    // The windows' own ending (the autodiscovery sorts out what it heard at
    // Stop, minutes for a flood's worth) is not what is measured: the
    // namespace goes, then the process, without waiting for the window.
    net.reset();
    std::_Exit(0);
}

// The delay from a frame's arrival (its kernel time stamp) to the capture
// thread's handler, at a trickle where nothing fills a block: prints
// "latency MEDIAN P99 MAX" in microseconds.
int runLatency(LiveWake wake, int seconds) {
    overrideLiveWake(wake);
    test::LiveNet::removeStale();
    test::LiveNet net(true);
    bench::FastSender sender(test::LiveNet::kSendEnd, 1);
    if (!net.ok() || !sender.ok())
        return 1;
    std::mutex lock;
    std::vector<double> delays;
    CaptureSession session(CaptureWindow::CaptureDecodeView);
    session.setHandler([&](const pcap_pkthdr& h, const std::uint8_t*) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const double us = double(now.tv_sec - h.ts.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3 -
                          double(h.ts.tv_usec);
        std::lock_guard guard(lock);
        delays.push_back(us);
    });
    if (!session.start(QString::fromLatin1(test::LiveNet::kCaptureEnd)).ok())
        return 1;
    sender.start({test::ipv4Frame(17, 53, 53, 90)}, 200);
    wait(seconds * 1000);
    sender.stop();
    wait(300);
    session.stop();
    std::sort(delays.begin(), delays.end());
    if (delays.empty())
        return 1;
    std::printf("latency %.0f %.0f %.0f %zu\n", delays[delays.size() / 2],
                delays[delays.size() * 99 / 100], delays.back(), delays.size());
    return 0;
}

struct Run {
    bool ok = false;
    long long sent = 0, received = 0, pairDrops = 0, ringDrops = 0, storeDrops = 0;
    double seconds = 0, threadNs = 0, helperNs = 0;
    bool lossFree() const { return ok && ringDrops == 0 && storeDrops == 0; }
    double rate() const { return seconds > 0 ? double(received) / seconds : 0; }
    double nsPerFrame() const { return received ? threadNs / double(received) : 0; }
    double helperNsPerFrame() const { return received ? helperNs / double(received) : 0; }
};

Run runChild(const QString& self, const QStringList& common, const Window& w, LiveWake wake,
             long long rate) {
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    child.start(self, common + QStringList{QStringLiteral("--child"), QLatin1String(w.name),
                                           QStringLiteral("--mode"), QLatin1String(modeName(wake)),
                                           QStringLiteral("--rate"), QString::number(rate)});
    Run r;
    if (!child.waitForFinished(120'000) || child.exitCode() != 0) {
        std::fprintf(stderr, "%s %s at %lld: failed\n%s", w.name, modeName(wake), rate,
                     child.readAllStandardError().constData());
        return r;
    }
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        if (!line.startsWith("result "))
            continue;
        std::map<QByteArray, QByteArray> v;
        for (const QByteArray& kv : line.mid(7).split(' '))
            v[kv.left(kv.indexOf('='))] = kv.mid(kv.indexOf('=') + 1);
        r.ok = true;
        r.sent = v["sent"].toLongLong();
        r.received = v["received"].toLongLong();
        r.pairDrops = v["pairdrops"].toLongLong();
        r.ringDrops = v["ringdrops"].toLongLong();
        r.storeDrops = v["storedrops"].toLongLong();
        r.seconds = v["seconds"].toDouble();
        r.threadNs = v["threadns"].toDouble();
        r.helperNs = v["helperns"].toDouble();
    }
    return r;
}

void printRun(const Window& w, LiveWake wake, long long asked, const Run& r) {
    std::printf("  %-17s %-9s asked %7lld/s: reached the capture end %8.0f/s, %6.0f ns/frame "
                "capture threads, %6.0f helper; drops ring %lld store %lld (pair %lld)%s\n",
                w.name, modeName(wake), asked, r.rate(), r.nsPerFrame(), r.helperNsPerFrame(),
                r.ringDrops, r.storeDrops, r.pairDrops, r.ok ? "" : " FAILED");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    StderrMessageService quiet;
    MessageService::install(&quiet);
    const QStringList args = application.arguments();
    const auto option = [&](const char* name, const QString& fallback) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < args.size() ? args[at + 1] : fallback;
    };
    const int seconds = std::max(1, option("--seconds", QStringLiteral("3")).toInt());
    const int threads = std::max(1, option("--threads", QStringLiteral("2")).toInt());
    const int size = option("--size", QStringLiteral("0")).toInt();
    const QString capture = option("--capture", QStringLiteral("helper"));
    if (!bench::applyCaptureSwitch({QString(), QStringLiteral("--capture"), capture}))
        return 2;

    if (args.contains(QStringLiteral("--latency")))
        return runLatency(option("--latency", {}) == u"buffered" ? LiveWake::Buffered
                                                                 : LiveWake::PerFrame,
                          seconds);
    if (args.contains(QStringLiteral("--child"))) {
        const QString name = option("--child", {});
        const LiveWake wake =
            option("--mode", {}) == u"buffered" ? LiveWake::Buffered : LiveWake::PerFrame;
        for (const Window& w : kWindows)
            if (name == QLatin1String(w.name))
                return runOnce(w, wake, option("--rate", QStringLiteral("0")).toLongLong(), seconds,
                               threads, size);
        return 2;
    }

    const int runs = std::max(1, option("--runs", QStringLiteral("3")).toInt());
    const long long rate = option("--rate", QStringLiteral("100000")).toLongLong();
    std::vector<long long> steps;
    for (const QString& s :
         option("--steps", QStringLiteral("50000,100000,200000,400000,800000,0")).split(u','))
        steps.push_back(s.toLongLong());
    const QStringList only = option("--windows", {}).split(u',', Qt::SkipEmptyParts);
    const QStringList common{QStringLiteral("--seconds"), QString::number(seconds),
                             QStringLiteral("--threads"), QString::number(threads),
                             QStringLiteral("--size"),    QString::number(size),
                             QStringLiteral("--capture"), capture};
    std::printf("%d s a run, %d sending threads, frames padded to %d bytes; the machine's "
                "other load is not controlled\n",
                seconds, threads, size);

    // How long a frame waits for its window at a trickle, per mode (the
    // same for every window: it depends on the ring only).
    for (const LiveWake wake : {LiveWake::PerFrame, LiveWake::Buffered}) {
        QProcess child;
        child.start(application.applicationFilePath(),
                    common +
                        QStringList{QStringLiteral("--latency"), QLatin1String(modeName(wake))});
        child.waitForFinished(60'000);
        const QList<QByteArray> f =
            child.readAllStandardOutput().trimmed().split('\n').last().split(' ');
        if (f.value(0) == "latency")
            std::printf("%-9s arrival to handler at 200 frames/s: median %s us, 99th percentile %s "
                        "us, longest %s us (%s frames)\n",
                        modeName(wake), f.value(1).constData(), f.value(2).constData(),
                        f.value(3).constData(), f.value(4).constData());
        else
            std::printf("%-9s latency run failed\n", modeName(wake));
    }

    struct Row {
        const Window* w;
        std::vector<double> ns[2], helperNs[2];
        double best[2] = {0, 0};
        QString firstLoss[2];
        int lossyAtRate[2] = {0, 0};
    };
    std::vector<Row> rows;
    const LiveWake modes[2] = {LiveWake::PerFrame, LiveWake::Buffered};
    for (const Window& w : kWindows) {
        if (!only.isEmpty() && !only.contains(QLatin1String(w.name)))
            continue;
        Row row{&w, {}, {}, {0, 0}, {}, {0, 0}};
        std::printf("%s: cost per frame at %lld frames/s\n", w.name, rate);
        for (int run = 0; run < runs; ++run) {
            for (int k = 0; k < 2; ++k) {
                // Interleaved, the order turned every run.
                const int m = (run + k) % 2;
                const Run r =
                    runChild(application.applicationFilePath(), common, w, modes[m], rate);
                printRun(w, modes[m], rate, r);
                if (r.ok && !r.lossFree())
                    ++row.lossyAtRate[m];
                if (r.lossFree())
                    row.best[m] = std::max(row.best[m], r.rate());
                if (r.ok) {
                    row.ns[m].push_back(r.nsPerFrame());
                    row.helperNs[m].push_back(r.helperNsPerFrame());
                }
            }
        }
        std::printf("%s: the rate stepped until a run loses frames\n", w.name);
        bool going[2] = {true, true};
        for (std::size_t i = 0; i < steps.size() && (going[0] || going[1]); ++i) {
            for (int k = 0; k < 2; ++k) {
                const int m = (int(i) + k) % 2;
                if (!going[m])
                    continue;
                const Run r =
                    runChild(application.applicationFilePath(), common, w, modes[m], steps[i]);
                printRun(w, modes[m], steps[i], r);
                if (r.lossFree()) {
                    row.best[m] = std::max(row.best[m], r.rate());
                } else {
                    going[m] = false;
                    row.firstLoss[m] = QStringLiteral("%1/s lost %2")
                                           .arg(r.rate(), 0, 'f', 0)
                                           .arg(r.ringDrops + r.storeDrops);
                }
            }
        }
        rows.push_back(std::move(row));
    }

    const auto stats = [](const std::vector<double>& v) {
        return v.empty() ? QStringLiteral("-")
                         : QStringLiteral("%1/%2/%3")
                               .arg(v.front(), 0, 'f', 0)
                               .arg(bench::median(v), 0, 'f', 0)
                               .arg(*std::max_element(v.begin(), v.end()), 0, 'f', 0);
    };
    const auto ratio = [](const std::vector<double>& a, const std::vector<double>& b) {
        // Buffered over per-frame: cold first, median, slowest.
        if (a.empty() || b.empty() || b.front() == 0 || bench::median(b) == 0)
            return QStringLiteral("-");
        return QStringLiteral("%1/%2/%3")
            .arg(a.front() / b.front(), 0, 'f', 2)
            .arg(bench::median(a) / bench::median(b), 0, 'f', 2)
            .arg(*std::max_element(a.begin(), a.end()) / *std::max_element(b.begin(), b.end()), 0,
                 'f', 2);
    };
    std::printf("\ncapture %s; ns per frame reaching the capture end, at %lld frames/s: cold "
                "first/median/slowest run\n",
                qPrintable(capture), rate);
    std::printf("%-17s %-9s %-18s %-18s %-16s %-14s %s\n", "window", "mode", "ns/frame threads",
                "ns/frame helper", "buffered/per-fr.", "loss-free /s", "first loss");
    for (const Row& row : rows) {
        for (int m = 0; m < 2; ++m) {
            const QString lossFree =
                row.best[m] > 0 ? QString::number(row.best[m], 'f', 0) : QStringLiteral("none");
            QString loss = row.firstLoss[m].isEmpty()
                               ? QStringLiteral("no loss up to the last step")
                               : row.firstLoss[m];
            if (row.lossyAtRate[m])
                loss += QStringLiteral("; lost frames in %1 of %2 runs at %3/s")
                            .arg(row.lossyAtRate[m])
                            .arg(runs)
                            .arg(rate);
            std::printf("%-17s %-9s %-18s %-18s %-16s %-14s %s\n", row.w->name, modeName(modes[m]),
                        qPrintable(stats(row.ns[m])), qPrintable(stats(row.helperNs[m])),
                        m == 1 ? qPrintable(ratio(row.ns[1], row.ns[0])) : "", qPrintable(lossFree),
                        qPrintable(loss));
        }
    }
    return 0;
}
