// The trace window under a live load: frames to and from the watched station
// sent at a fixed rate on a veth pair in a private network namespace (made
// here, removed at the end; nothing leaves it) while the window draws the
// peers and animates the frames. Prints what was sent, what the window's
// handler saw, what the animation bound refused, what the kernel's ring
// dropped and what the program lost beyond those; the interface thread's
// longest gap; and the animation steps' pace against the path life. Needs
// root (namespaces, raw sockets).
//
//   qarsilo-bench-trace-live [--rate 10000] [--seconds 10] [--path-life 10]
//                            [--show-packets on|off] [--runs 1]

#include "bench_util.h"
#include "core/addressbook/address_database.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/qarsilo_view.h"
#include "gui/trace/traffic_trace_single.h"
#include "support/live_net.h"
#include "support/trace_frames.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace qarsilo;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    int rate = 10'000;
    int seconds = 10;
    int pathLife = 10;
    int runs = 1;
    bool showPackets = true;
    const QStringList args = application.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--rate")
            rate = args[++i].toInt();
        else if (args[i] == u"--seconds")
            seconds = args[++i].toInt();
        else if (args[i] == u"--path-life")
            pathLife = args[++i].toInt();
        else if (args[i] == u"--show-packets")
            showPackets = args[++i] != u"off";
        else if (args[i] == u"--runs")
            runs = std::max(1, args[++i].toInt());
    }

    // Settings and the address book in a folder of their own.
    QTemporaryDir home;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    AddressDatabase::setDefaultFileName(home.filePath(QStringLiteral("address.mdb")));

    test::LiveNet::removeStale();
    test::LiveNet net(false);
    const std::unique_ptr<test::FrameSender> sender = test::senderFor(net);
    if (!sender)
        return 1;
    // Sixteen peers, each sending to the station and receiving from it.
    std::vector<QByteArray> frames;
    for (int n = 0; n < 16; ++n) {
        frames.push_back(test::toPeer(n));
        frames.push_back(
            test::between(test::kMonitored, test::peer(n), test::ipv4Frame(17, 1, 53)));
    }

    app::setSelectedAdapter(QString::fromLatin1(test::LiveNet::kCaptureEnd));
    SettingsStore().writeString(setting::macAddress, macAddressText(test::kMonitored));
    ViewRegistry views;
    views.add(view::Start, QStringLiteral("CqarsiloView"),
              [](QWidget* parent) -> CView* { return new CqarsiloView(parent); });
    views.add(view::TraceSingle, QStringLiteral("CTrafficTraceSingle"),
              [](QWidget* parent) -> CView* { return new CTrafficTraceSingle(parent); });
    CMainFrame frame(views);
    frame.show();

    std::vector<double> gaps;
    std::vector<long long> lost;
    for (int r = 0; r < runs; ++r) {
        frame.switchToView(view::TraceSingle);
        auto* trace = qobject_cast<CTrafficTraceSingle*>(frame.activeView());
        if (trace) {
            trace->pathLifeField()->setText(QString::number(pathLife));
            trace->showPacketsBox()->setChecked(showPackets);
        }
        if (!trace || !trace->start()) {
            std::fprintf(stderr, "the trace did not start\n");
            return 1;
        }
        // The interface thread: gaps between ticks of a 1 ms timer.
        bench::StallMeter meter;

        QEventLoop loop;
        sender->startStream(frames, rate);
        QElapsedTimer sending;
        sending.start();
        long long sent = 0;
        double took = 0;
        QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, [&] {
            sender->stopStream();
            sent = sender->streamed();
            took = double(sending.nsecsElapsed()) / 1e9;
            // Let the last frames reach the window before its capture stops.
            QTimer::singleShot(500, &loop, [&] { loop.quit(); });
        });
        loop.exec();
        meter.stop();
        trace->stop();
        const unsigned dropped = trace->session().droppedFrames();
        const TraceModel& model = trace->model();
        const TraceDropCounts drops = model.drops();
        const auto seen = static_cast<long long>(model.seen());
        const long long lostHere = sent - seen - static_cast<long long>(dropped);
        const auto steps = trace->animator().steps();
        const double lateMs = steps ? double(trace->animator().lateness()) / double(steps) : 0.0;
        std::printf(
            "run %d: asked %d frames/s for %d s; sent %lld in %.2f s (%.0f frames/s); seen by "
            "the handler %lld, dropped by the kernel's ring %u, lost in the program %lld; "
            "drawn %llu, refused by the animation bound %llu, table busy %llu, queue full %llu, "
            "no slot %llu; animation steps %llu, each %.2f ms late on average (path life %d "
            "ms); longest interface thread gap %.2f ms\n",
            r + 1, rate, seconds, sent, took, took > 0 ? double(sent) / took : 0.0, seen, dropped,
            lostHere,
            static_cast<unsigned long long>(model.handled() - drops.busy - drops.queueFull),
            static_cast<unsigned long long>(drops.animationBound),
            static_cast<unsigned long long>(drops.busy),
            static_cast<unsigned long long>(drops.queueFull),
            static_cast<unsigned long long>(drops.noSlot), static_cast<unsigned long long>(steps),
            lateMs, pathLife, meter.longestMs());
        std::fflush(stdout);
        gaps.push_back(meter.longestMs());
        lost.push_back(lostHere);
    }
    if (runs > 1) {
        std::sort(gaps.begin(), gaps.end());
        std::sort(lost.begin(), lost.end());
        std::printf("median over %d runs: longest interface thread gap %.2f ms, lost in the "
                    "program %lld\n",
                    runs, gaps[gaps.size() / 2], lost[lost.size() / 2]);
    }
    return 0;
}
