// The packet analyzer window under a live load: frames sent at a fixed rate
// on a veth pair in a private network namespace (made here, removed at the
// end; nothing leaves it) while the window captures, lists and decodes, and
// an operator scrolls, selects and opens frames every 50 ms. Prints what was
// sent, stored, listed and dropped, and the longest stall of the interface
// thread (the largest gap between two ticks of a 1 ms timer).
// Needs root (namespaces, raw sockets).
//
//   qarsilo-bench-analyzer-live [--rate 100000] [--seconds 10] [--capture process|helper]

#include "capture_switch.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "gui/analysis/capture_decode_view.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/qarsilo_view.h"
#include "gui/widgets/row_list_view.h"
#include "support/live_net.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using namespace qarsilo;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    int rate = 100'000;
    int seconds = 10;
    const QStringList args = application.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--rate")
            rate = args[++i].toInt();
        else if (args[i] == u"--seconds")
            seconds = args[++i].toInt();
    }

    if (!bench::applyCaptureSwitch(application.arguments()))
        return 2;
    test::LiveNet::removeStale();
    test::LiveNet net(false);
    const std::unique_ptr<test::FrameSender> sender = test::senderFor(net);
    if (!sender)
        return 1;

    app::setSelectedAdapter(QString::fromLatin1(test::LiveNet::kCaptureEnd));
    ViewRegistry views;
    views.add(view::Start, QStringLiteral("CqarsiloView"),
              [](QWidget* parent) -> CView* { return new CqarsiloView(parent); });
    views.add(view::CaptureDecode, QStringLiteral("CCaptureDecodeView"),
              [](QWidget* parent) -> CView* { return new CCaptureDecodeView(parent); });
    CMainFrame frame(views);
    frame.show();
    frame.switchToView(view::CaptureDecode);
    auto* analyzer = qobject_cast<CCaptureDecodeView*>(frame.activeView());
    if (!analyzer || !analyzer->isCapturing()) {
        std::fprintf(stderr, "the analyzer did not start capturing\n");
        return 1;
    }

    // The interface thread's stalls: gaps between ticks of a 1 ms timer.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    std::vector<qint64> gaps;
    QTimer meter;
    meter.setTimerType(Qt::PreciseTimer);
    QObject::connect(&meter, &QTimer::timeout, &meter, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last)
            gaps.push_back(now - last);
        last = now;
    });
    meter.start(1);

    // The operator: scroll somewhere, select a row, open it.
    std::mt19937 random(7);
    int opened = 0;
    QTimer operatorTimer;
    QObject::connect(&operatorTimer, &QTimer::timeout, &operatorTimer, [&] {
        const int rows = analyzer->model()->rowCount();
        if (rows == 0)
            return;
        const int row = int(random() % unsigned(rows));
        RowListView* list = analyzer->list();
        list->verticalScrollBar()->setValue(
            int(random() % unsigned(list->verticalScrollBar()->maximum() + 1)));
        list->selectRow(row);
        analyzer->showFrame(row);
        ++opened;
    });
    operatorTimer.start(50);

    std::vector<QByteArray> frames;
    for (int k = 1; k <= test::kFrameKinds; ++k)
        frames.push_back(test::makeFrame(test::FrameKind(k)));
    sender->startStream(frames, rate);
    QElapsedTimer sending;
    sending.start();

    long long sent = 0;
    double sendSeconds = 0;
    QTimer::singleShot(seconds * 1000, &application, [&] {
        sender->stopStream();
        sent = sender->streamed();
        sendSeconds = double(sending.nsecsElapsed()) / 1e9;
        // Let the last frames reach the window, then stop as the operator would.
        QTimer::singleShot(500, &application, [&] {
            frame.sendCommand(cmd::Stop);
            application.quit();
        });
    });
    application.exec();
    meter.stop();
    operatorTimer.stop();

    const std::size_t stored = analyzer->store().size();
    const int listed = analyzer->model()->rowCount();
    const unsigned dropped = analyzer->session().droppedFrames();
    std::sort(gaps.begin(), gaps.end());
    const double maxGapMs = gaps.empty() ? 0 : double(gaps.back()) / 1e6;
    const double medianGapMs = gaps.empty() ? 0 : double(gaps[gaps.size() / 2]) / 1e6;
    const double p999GapMs = gaps.empty() ? 0 : double(gaps[gaps.size() * 999 / 1000]) / 1e6;
    std::printf("asked %d frames/s for %d s; sent %lld frames in %.2f s (%.0f frames/s)\n", rate,
                seconds, sent, sendSeconds, sendSeconds > 0 ? double(sent) / sendSeconds : 0.0);
    std::printf("stored %zu, listed %d, dropped by the kernel's ring (pcap_stats) %u, "
                "lost in the program %lld\n",
                stored, listed, dropped,
                sent - static_cast<long long>(stored) - static_cast<long long>(dropped));
    std::printf("operator opened %d frames; interface thread gaps: median %.2f ms, 99.9%% %.2f ms, "
                "longest %.2f ms (target <= 50)\n",
                opened, medianGapMs, p999GapMs, maxGapMs);
    return 0;
}
