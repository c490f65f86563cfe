// The network layer chart window under a live load: frames sent at a fixed
// rate on a veth pair in a private network namespace (made here, removed at
// the end; nothing leaves it) while the window counts them and draws its
// chart every second. Every frame is 60 bytes long (84 counted, with the
// wire's 24), of five network layer kinds, so the bytes the window counted
// tell how many frames it saw whatever order they went out in. Prints what
// was sent, counted and dropped by the kernel's ring, what the program lost,
// and the interface thread's ticks. Needs root (namespaces, raw sockets).
//
//   qarsilo-bench-chart-live [--rate 200000] [--seconds 10] [--runs 1] [--capture process|helper]

#include "capture_switch.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/qarsilo_view.h"
#include "gui/stats/pd_l2_view.h"
#include "support/chart_frames.h"
#include "support/live_net.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace qarsilo;

namespace {

struct Run {
    long long sent = 0;
    long long counted = 0;
    unsigned dropped = 0;
    double seconds = 0;
    double longestTickMs = 0;
    double longestGapMs = 0;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    int rate = 200'000;
    int seconds = 10;
    int runs = 1;
    const QStringList args = application.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--rate")
            rate = args[++i].toInt();
        else if (args[i] == u"--seconds")
            seconds = args[++i].toInt();
        else if (args[i] == u"--runs")
            runs = std::max(1, args[++i].toInt());
    }

    if (!bench::applyCaptureSwitch(application.arguments()))
        return 2;
    test::LiveNet::removeStale();
    test::LiveNet net(false);
    const std::unique_ptr<test::FrameSender> sender = test::senderFor(net);
    if (!sender)
        return 1;
    constexpr int kFrameLength = 60;
    const std::vector<QByteArray> frames{
        test::ipv4Frame(6, 443, 52000, kFrameLength), test::etherFrame(0x0806, kFrameLength),
        test::ipv6Frame(17, 53, 53, kFrameLength), test::llcFrame(0x42, 39, kFrameLength),
        test::etherFrame(0x88CC, kFrameLength)};

    app::setSelectedAdapter(QString::fromLatin1(test::LiveNet::kCaptureEnd));
    // Counts add up over the whole run; the window still draws every second.
    app::setCumulative(true);
    ViewRegistry views;
    views.add(view::Start, QStringLiteral("CqarsiloView"),
              [](QWidget* parent) -> CView* { return new CqarsiloView(parent); });
    views.add(view::PDL2, QStringLiteral("CPDL2View"),
              [](QWidget* parent) -> CView* { return new CPDL2View(parent); });
    CMainFrame frame(views);
    frame.show();

    std::vector<Run> results;
    for (int r = 0; r < runs; ++r) {
        frame.switchToView(view::PDL2);
        auto* chart = qobject_cast<CPDL2View*>(frame.activeView());
        if (!chart || !chart->isReady()) {
            std::fprintf(stderr, "the network layer chart did not start\n");
            return 1;
        }
        Run run;
        // The interface thread: gaps between ticks of a 1 ms timer, and the
        // longest chart tick (rebuild and draw) measured beside the window's own.
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        QTimer meter;
        meter.setTimerType(Qt::PreciseTimer);
        QObject::connect(&meter, &QTimer::timeout, &meter, [&] {
            const qint64 now = clock.nsecsElapsed();
            if (last)
                run.longestGapMs = std::max(run.longestGapMs, double(now - last) / 1e6);
            last = now;
        });
        meter.start(1);
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
            const qint64 t0 = clock.nsecsElapsed();
            chart->tick();
            (void)chart->picture(); // drawn as the next paint would draw it
            run.longestTickMs =
                std::max(run.longestTickMs, double(clock.nsecsElapsed() - t0) / 1e6);
        });
        ticker.start(1000);

        // A loop of its own per run: quitting the application would close the frame.
        QEventLoop loop;
        sender->startStream(frames, rate);
        QElapsedTimer sending;
        sending.start();
        QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, [&] {
            sender->stopStream();
            run.sent = sender->streamed();
            run.seconds = double(sending.nsecsElapsed()) / 1e9;
            // Let the last frames reach the window before its capture stops.
            QTimer::singleShot(500, &loop, [&] { loop.quit(); });
        });
        loop.exec();
        meter.stop();
        ticker.stop();
        chart->session(0).stop();
        run.dropped = chart->session(0).droppedFrames();
        chart->tick();
        std::uint64_t bytes = 0;
        for (int i = 0; i < chart->chart().categoryCount(); ++i)
            bytes += chart->chart().keptBytes(i);
        run.counted = static_cast<long long>(bytes / (kFrameLength + 24));
        results.push_back(run);
        std::printf("run %d: asked %d frames/s for %d s; sent %lld in %.2f s (%.0f frames/s); "
                    "counted %lld, dropped by the kernel's ring %u, lost in the program %lld; "
                    "longest chart tick %.2f ms, longest interface thread gap %.2f ms\n",
                    r + 1, rate, seconds, run.sent, run.seconds,
                    run.seconds > 0 ? double(run.sent) / run.seconds : 0.0, run.counted,
                    run.dropped, run.sent - run.counted - static_cast<long long>(run.dropped),
                    run.longestTickMs, run.longestGapMs);
        std::fflush(stdout);
    }
    if (results.size() > 1) {
        std::vector<long long> lost;
        std::vector<unsigned> dropped;
        for (const Run& run : results) {
            lost.push_back(run.sent - run.counted - static_cast<long long>(run.dropped));
            dropped.push_back(run.dropped);
        }
        std::sort(lost.begin(), lost.end());
        std::sort(dropped.begin(), dropped.end());
        std::printf("median over %zu runs: dropped by the kernel's ring %u, lost in the program "
                    "%lld\n",
                    results.size(), dropped[dropped.size() / 2], lost[lost.size() / 2]);
    }
    return 0;
}
