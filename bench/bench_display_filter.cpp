// The analyzer's display filter over a capture's frames, e.g.
//   qarsilo-bench-display-filter mixed.pcap [--runs 5]
// Loads the capture into the analyzer (offscreen), then for each expression
// applies the display filter as the operator does and prints the time until
// the rows are shown and the longest wait of the interface thread meanwhile
// (a 1 ms heartbeat timer). Medians over the runs.

#include "app/builtin_views.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/capture/adapter_name.h"
#include "gui/analysis/capture_decode_view.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/view_registry.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: qarsilo-bench-display-filter CAPTURE [--runs N]\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    int runs = 5;
    if (argc > 3 && QByteArray(argv[2]) == "--runs")
        runs = std::max(1, QByteArray(argv[3]).toInt());

    qarsilo::app::setSelectedAdapter(qarsilo::captureFileAdapterName(file));
    CMainFrame frame(builtinViews());
    if (!frame.switchToView(qarsilo::view::CaptureDecode))
        return 1;
    auto* view = qobject_cast<CCaptureDecodeView*>(frame.activeView());
    QElapsedTimer load;
    load.start();
    while (view->session().loopEnd() == qarsilo::LoopEnd::Running)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    view->tick();
    std::printf("loaded %zu frames in %.3f s\n", view->store().size(), load.nsecsElapsed() / 1e9);

    const char* expressions[] = {"udp", "tcp port 80", "ether broadcast or arp",
                                 "ip and not (udp or tcp)"};
    std::printf("%-28s %10s %12s %14s\n", "expression", "shown", "median s", "longest stall ms");
    for (const char* e : expressions) {
        std::vector<double> seconds;
        std::vector<double> stalls;
        int shown = 0;
        for (int r = 0; r < runs; ++r) {
            view->applyDisplayFilter(QString());
            QElapsedTimer clock;
            QElapsedTimer beat;
            double longest = 0;
            QTimer heartbeat;
            heartbeat.setInterval(1);
            QObject::connect(&heartbeat, &QTimer::timeout, [&] {
                longest = std::max(longest, beat.nsecsElapsed() / 1e6);
                beat.restart();
            });
            clock.start();
            beat.start();
            heartbeat.start();
            view->applyDisplayFilter(QString::fromLatin1(e));
            // Shown once the first pass is in and the status bar says so.
            while (!frame.statusText().startsWith(QStringLiteral("Display filter:")))
                QApplication::processEvents(QEventLoop::AllEvents, 5);
            seconds.push_back(clock.nsecsElapsed() / 1e9);
            heartbeat.stop();
            stalls.push_back(longest);
            shown = view->model()->rowCount();
            frame.showStatusMessage(QString());
        }
        std::printf("%-28s %10d %12.3f %14.1f\n", e, shown, median(seconds), median(stalls));
    }
    return 0;
}
