// Every traffic window under a flood: frames sent as fast as the machine can
// on a veth pair in a private network namespace (made here, removed at the
// end; nothing leaves it) for a given time, one window at a time, each in a
// process of its own so that its peak memory is its own. Prints per window the
// frames sent, the peak resident memory (VmHWM) before and after the window
// opened, the resident memory every tenth of the run and at the end, and the
// interface thread's longest stall (the longest gap between ticks of a 1 ms
// timer, the window drawn every second meanwhile). Needs root (namespaces, raw
// sockets).
//
//   qarsilo-bench-flood [--seconds 60] [--rate 0] [--budget 1024] [--sender-nice 0]
//                       [--windows a,b,...]
//
// --sender-nice runs the sending thread at that nice value: the sender and
// the kernel's delivery on the pair take a core of the two this machine has,
// and at 19 the window's threads come first, which tells the stalls the
// window causes from those the load generator causes.
// --rate 0 sends as fast as possible; --budget is the analyzer's frame store
// budget in MiB. Windows: analyzer packet-size l2 l3 v6l3 app v4v6l3 general
// single-node trace discovery; and idle, the start view capturing nothing while
// the flood goes on, the baseline of the interface thread's stalls on the
// machine as loaded.

#include "app/builtin_views.h"
#include "bench_util.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/message_service.h"
#include "core/app/settings_store.h"
#include "flood_frames.h"
#include "gui/analysis/capture_decode_view.h"
#include "gui/discovery/autodiscovery_dlg.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/view_registry.h"
#include "gui/stats/chart_view.h"
#include "gui/stats/general_info_view.h"
#include "gui/stats/single_node_view.h"
#include "gui/trace/traffic_trace_single.h"
#include "gui/widgets/report_list.h"
#include "support/live_net.h"
#include "support/trace_frames.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <vector>

using namespace qarsilo;

namespace {

struct Window {
    const char* name;
    int templateId; // 0: the autodiscovery dialog
};

const Window kWindows[] = {
    {"analyzer", view::CaptureDecode},
    {"packet-size", view::PacketSize},
    {"l2", view::PDL2},
    {"l3", view::PDL3},
    {"v6l3", view::PDv6L3},
    {"app", view::PDApplication},
    {"v4v6l3", view::PDv4v6L3},
    {"general", view::GeneralInfo},
    {"single-node", view::SingleNode},
    {"trace", view::TraceSingle},
    {"discovery", 0},
    {"idle", view::Start},
};

long statusKb(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Frames the pair dropped before any capture saw them (the receiving backlog
// full): the sender counts them as sent. -1: not known.
long long vethDropped() {
    QFile f(QStringLiteral("/proc/self/net/dev"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    long long dropped = 0;
    int found = 0;
    // Received and dropped at the capture end, sent and dropped at the other.
    for (const auto& [device, field] :
         {std::pair{test::LiveNet::kCaptureEnd, 3}, std::pair{test::LiveNet::kSendEnd, 11}}) {
        const QByteArray name = QByteArray(device) + ':';
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QByteArray t = line.trimmed();
            if (t.startsWith(name)) {
                dropped += t.mid(name.size()).simplified().split(' ').value(field).toLongLong();
                ++found;
            }
        }
        f.seek(0);
    }
    return found == 2 ? dropped : -1;
}

int runWindow(const Window& w, int seconds, int rate, quint32 budgetMiB, int senderNice) {
    // Settings and the address book in a folder of their own.
    QTemporaryDir home;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    AddressDatabase::setDefaultFileName(home.filePath(QStringLiteral("address.mdb")));
    SettingsStore().writeString(setting::macAddress, macAddressText(test::kMonitored));
    SettingsStore().writeNumber(setting::frameStoreBudget, budgetMiB);
    {
        // IP listening needs the local range.
        AddressDatabase db;
        if (!db.open() || !db.addGroupIfAbsent(GroupTable::Subnet, QStringLiteral("10.211.0.0")))
            return 1;
    }

    test::LiveNet::removeStale();
    test::LiveNet net(true);
    const std::unique_ptr<test::FrameSender> sender = test::senderFor(net);
    if (!sender)
        return 1;
    const std::vector<QByteArray> frames = bench::floodFrames();
    app::setSelectedAdapter(QString::fromLatin1(test::LiveNet::kCaptureEnd));

    CMainFrame frame(builtinViews());
    frame.show();
    const long baseKb = statusKb("VmHWM:");
    std::unique_ptr<CAutodiscoveryDlg> discovery;
    QWidget* shown = nullptr;
    if (w.templateId == 0) {
        discovery = std::make_unique<CAutodiscoveryDlg>(nullptr);
        discovery->ipBox()->click();
        discovery->show();
        discovery->start();
        if (!discovery->running()) {
            std::fprintf(stderr, "%s: the capture did not start\n", w.name);
            return 1;
        }
        shown = discovery.get();
    } else {
        frame.switchToView(w.templateId);
        CView* v = frame.activeView();
        if (auto* trace = qobject_cast<CTrafficTraceSingle*>(v); trace && !trace->isCapturing())
            trace->start();
        const auto* capturing = qobject_cast<CCaptureView*>(v);
        const bool started = capturing ? capturing->isCapturing()
                             : qobject_cast<CChartView*>(v)
                                 ? qobject_cast<CChartView*>(v)->isReady()
                                 : w.templateId == view::Start;
        if (!started) {
            std::fprintf(stderr, "%s: the window did not start capturing\n", w.name);
            return 1;
        }
        shown = &frame;
    }

    bench::StallMeter meter;
    // Drawn every second, as a visible window would be.
    QTimer painter;
    QObject::connect(&painter, &QTimer::timeout, &painter, [&] { (void)shown->grab(); });
    painter.start(1000);

    // Resident memory every tenth of the run: bounded or growing.
    QStringList rssTrend;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler,
                     [&] { rssTrend << QString::number(statusKb("VmRSS:") / 1024); });
    sampler.start(seconds * 100);

    QEventLoop loop;
    const long long vethBefore = vethDropped();
    // Threads take their nice value from the thread that makes them.
    const int ownNice = getpriority(PRIO_PROCESS, 0);
    setpriority(PRIO_PROCESS, 0, senderNice);
    sender->startStream(frames, rate > 0 ? rate : INT_MAX);
    setpriority(PRIO_PROCESS, 0, ownNice);
    QElapsedTimer sending;
    sending.start();
    long long sent = 0;
    double sendSeconds = 0;
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, [&] {
        sender->stopStream();
        sent = sender->streamed();
        sendSeconds = double(sending.nsecsElapsed()) / 1e9;
        QTimer::singleShot(1000, &loop, [&] { loop.quit(); });
    });
    loop.exec();
    meter.stop();
    painter.stop();

    std::printf("%-12s sent %lld frames in %.1f s (%.0f frames/s); peak RSS %ld MB (%ld MB before "
                "the window), RSS at the end %ld MB; longest interface thread stall %.1f ms\n",
                w.name, sent, sendSeconds, sendSeconds > 0 ? double(sent) / sendSeconds : 0.0,
                statusKb("VmHWM:") / 1024, baseKb / 1024, statusKb("VmRSS:") / 1024,
                meter.longestMs());
    sampler.stop();
    std::printf("%-12s RSS every %.1f s (MB): %s\n", w.name, seconds / 10.0,
                qPrintable(rssTrend.join(u' ')));
    std::printf("%-12s dropped by the pair before any capture: %lld\n", w.name,
                vethBefore < 0 || vethDropped() < 0 ? -1 : vethDropped() - vethBefore);
    if (auto* a = qobject_cast<CCaptureDecodeView*>(frame.activeView()); a && w.templateId) {
        const FrameStore& s = a->store();
        // A loaded machine leaves frames in the kernel's ring after the
        // sender stops: counted once the store has stopped growing.
        for (std::size_t seen = 0, quiet = 0;
             quiet < 10 && meter.elapsedMs() < 1000LL * seconds + 30000;) {
            QEventLoop pause;
            QTimer::singleShot(100, &pause, &QEventLoop::quit);
            pause.exec();
            quiet = s.size() == seen ? quiet + 1 : 0;
            seen = s.size();
        }
        std::printf("%-12s stored %zu frames, %zu in memory, the rest spilled; store memory %zu "
                    "MB of a %u MB budget; dropped by the kernel's ring %u, by the store %zu\n",
                    w.name, s.size(), s.framesInMemory(), s.memoryUsed() >> 20, budgetMiB,
                    a->session().droppedFrames(), s.dropped());
    }
    std::fflush(stdout);
    if (discovery) {
        discovery->stop();
        std::printf("%-12s %d node rows\n", w.name, discovery->nodeList()->rowCount());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    StderrMessageService quiet;
    MessageService::install(&quiet);
    int seconds = 60;
    int rate = 0;
    quint32 budget = 1024;
    int senderNice = 0;
    QString only;
    QString windows;
    const QStringList args = application.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--seconds")
            seconds = std::max(1, args[++i].toInt());
        else if (args[i] == u"--rate")
            rate = args[++i].toInt();
        else if (args[i] == u"--budget")
            budget = args[++i].toUInt();
        else if (args[i] == u"--sender-nice")
            senderNice = args[++i].toInt();
        else if (args[i] == u"--window")
            only = args[++i];
        else if (args[i] == u"--windows")
            windows = args[++i];
    }
    if (!only.isEmpty()) {
        for (const Window& w : kWindows)
            if (only == QLatin1String(w.name))
                return runWindow(w, seconds, rate, budget, senderNice);
        std::fprintf(stderr, "no window %s\n", qPrintable(only));
        return 2;
    }
    // One process per window: each one's peak memory is its own.
    int failed = 0;
    for (const Window& w : kWindows) {
        if (!windows.isEmpty() && !windows.split(u',').contains(QLatin1String(w.name)))
            continue;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(application.applicationFilePath(),
                    {QStringLiteral("--window"), QLatin1String(w.name), QStringLiteral("--seconds"),
                     QString::number(seconds), QStringLiteral("--rate"), QString::number(rate),
                     QStringLiteral("--budget"), QString::number(budget),
                     QStringLiteral("--sender-nice"), QString::number(senderNice)});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            ++failed;
    }
    return failed ? 1 : 0;
}
