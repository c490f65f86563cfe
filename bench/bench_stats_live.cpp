// The general statistics window under a live load: frames sent at a fixed
// rate on a veth pair in a private network namespace (made here, removed at
// the end; nothing leaves it) while the window counts them, sorts and shows
// its Top Users list and redraws its graphs every second. Prints what was
// sent, counted and dropped by the kernel's ring, what the program lost,
// whether every second's list held all of its frames in order, the longest
// tick (with the list's repaint) and the interface thread's longest gap.
// Needs root (namespaces, raw sockets).
//
//   qarsilo-bench-stats-live [--rate 200000] [--seconds 10] [--capture process|helper]

#include "capture_switch.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/qarsilo_view.h"
#include "gui/stats/general_info_view.h"
#include "gui/widgets/row_list_view.h"
#include "support/chart_frames.h"
#include "support/live_net.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace qarsilo;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    int rate = 200'000;
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
    const std::vector<QByteArray> frames{
        test::ipv4Frame(6, 443, 52000, 60), test::etherFrame(0x0806, 60),
        test::ipv4Frame(17, 53, 53, 90), test::ipv6Frame(17, 53, 53, 80),
        test::ipv4Frame(6, 52000, 443, 120)};

    app::setSelectedAdapter(QString::fromLatin1(test::LiveNet::kCaptureEnd));
    ViewRegistry views;
    views.add(view::Start, QStringLiteral("CqarsiloView"),
              [](QWidget* parent) -> CView* { return new CqarsiloView(parent); });
    views.add(view::GeneralInfo, QStringLiteral("CGeneralInfoView"),
              [](QWidget* parent) -> CView* { return new CGeneralInfoView(parent); });
    CMainFrame frame(views);
    frame.show();
    frame.switchToView(view::GeneralInfo);
    auto* general = qobject_cast<CGeneralInfoView*>(frame.activeView());
    if (!general || !general->capturing()) {
        std::fprintf(stderr, "the general statistics view did not start\n");
        return 1;
    }

    // The interface thread: gaps between ticks of a 1 ms timer. The window's
    // tick runs from the bench's own timer, timed with the list's repaint, and
    // every second's rows are checked.
    general->timer().stop();
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    double longestGapMs = 0;
    double longestTickMs = 0;
    int ticks = 0;
    int listsWrong = 0;
    std::size_t largestList = 0;
    QTimer meter;
    meter.setTimerType(Qt::PreciseTimer);
    QObject::connect(&meter, &QTimer::timeout, &meter, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last)
            longestGapMs = std::max(longestGapMs, double(now - last) / 1e6);
        last = now;
    });
    meter.start(1);
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        const qint64 t0 = clock.nsecsElapsed();
        general->tick();
        general->list()->viewport()->repaint();
        longestTickMs = std::max(longestTickMs, double(clock.nsecsElapsed() - t0) / 1e6);
        ++ticks;
        const auto& rows = general->stats().rows();
        largestList = std::max(largestList, rows.size());
        const bool sorted =
            std::is_sorted(rows.begin(), rows.end(),
                           [](const TopUser& a, const TopUser& b) { return a.length > b.length; });
        if (!sorted || rows.size() != general->stats().currentPackets() ||
            general->model()->rowCount() != static_cast<int>(rows.size()))
            ++listsWrong;
    });
    ticker.start(1000);

    QEventLoop loop;
    sender->startStream(frames, rate);
    QElapsedTimer sending;
    sending.start();
    long long sent = 0;
    double sentSeconds = 0;
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, [&] {
        sender->stopStream();
        sent = sender->streamed();
        sentSeconds = double(sending.nsecsElapsed()) / 1e9;
        QTimer::singleShot(500, &loop, [&] { loop.quit(); });
    });
    loop.exec();
    meter.stop();
    ticker.stop();
    general->session().stop();
    const unsigned dropped = general->session().droppedFrames();
    general->tick();
    const GeneralStats& s = general->stats();
    const auto counted = static_cast<long long>(std::llround(s.averagePackets() * s.sampleCount()));
    std::printf("asked %d frames/s for %d s; sent %lld in %.2f s (%.0f frames/s); counted %lld, "
                "dropped by the kernel's ring %u, lost in the program %lld\n",
                rate, seconds, sent, sentSeconds, sentSeconds > 0 ? double(sent) / sentSeconds : 0,
                counted, dropped, sent - counted - static_cast<long long>(dropped));
    std::printf("Top Users: %d timed ticks, largest list %zu rows, lists not whole or not sorted "
                "%d; longest tick with the list's repaint %.2f ms; longest interface thread gap "
                "%.2f ms (target <= 50)\n",
                ticks, largestList, listsWrong, longestTickMs, longestGapMs);
    return 0;
}
