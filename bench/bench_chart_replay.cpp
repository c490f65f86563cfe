// A chart window replaying a capture file "as fast as possible" against
// qarsilo-cli chart on the same file, e.g.
//   qarsilo-bench-chart-replay mixed.pcap [--view network] [--runs 5]
// The window runs offscreen in a frame, as the operator opens it; its time
// runs from the view's start to the file's last second on the chart, and a
// 1 ms heartbeat timer measures the interface thread's longest wait. The
// command's time is its whole run with the output thrown away. Both read the
// file alternately in one run; medians and their ratio are printed, and the
// last second the window shows is checked against the command's.

#include "app/builtin_views.h"
#include "bench_util.h"
#include "core/app/app_state.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "gui/shell/main_frame.h"
#include "gui/stats/chart_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>

using namespace qarsilo;

namespace {

struct WindowRun {
    double seconds = -1;
    double longestStallMs = 0;
    QString lastBlock; // the last second as the command prints it
};

WindowRun replayInWindow(ChartKind kind) {
    WindowRun run;
    CMainFrame frame(builtinViews());
    QElapsedTimer clock;
    clock.start();
    if (!frame.switchToView(chartKindInfo(kind).viewId))
        return run;
    auto* view = qobject_cast<CChartView*>(frame.activeView());
    if (!view || !view->replaysBySecond())
        return run;
    bench::StallMeter meter;
    while (!view->replayEnded())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.longestStallMs = meter.longestMs();
    long long second = 0;
    if (view->shownSecond(second)) {
        run.lastBlock = QString::number(second) + QLatin1Char('\n');
        for (int i = 0; i < view->chart().categoryCount(); ++i)
            run.lastBlock += view->chart().rowName(i) + QLatin1Char('\t') +
                             view->chart().rowLabel(i) + QLatin1Char('\n');
    }
    return run;
}

// The command's last block ("SECOND\nrow\tlabel\n...\n\n").
QString lastBlockOf(const QByteArray& output) {
    const QStringList blocks =
        QString::fromUtf8(output).split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
    return blocks.isEmpty() ? QString() : blocks.last() + QLatin1Char('\n');
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString file;
    QString viewName = QStringLiteral("network");
    int runs = 5;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--view") && i + 1 < args.size())
            viewName = args[++i];
        else
            file = args[i];
    }
    const std::optional<ChartKind> kind = chartKindFromName(viewName);
    if (file.isEmpty() || !kind) {
        std::fprintf(stderr,
                     "usage: qarsilo-bench-chart-replay CAPTURE [--view VIEW] [--runs N]\n");
        return 2;
    }

    // The replay speed is a setting: keep the operator's own settings out of it.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    SettingsStore().writeNumber(setting::replaySpeed, 2);
    app::setSelectedAdapter(captureFileAdapterName(file));

    const QStringList cliArgs{QStringLiteral("chart"), viewName, file};
    QProcess cli;
    cli.start(QStringLiteral(QARSILO_CLI), cliArgs);
    if (!cli.waitForFinished(-1) || cli.exitCode() != 0) {
        std::fprintf(stderr, "qarsilo-cli chart failed\n");
        return 1;
    }
    const QString cliLast = lastBlockOf(cli.readAllStandardOutput());

    std::vector<double> window, command, stalls;
    bool agree = true;
    for (int r = 0; r < runs; ++r) {
        const WindowRun w = replayInWindow(*kind);
        if (w.seconds < 0) {
            std::fprintf(stderr, "the window did not replay the file by seconds\n");
            return 1;
        }
        agree = agree && w.lastBlock == cliLast;
        window.push_back(w.seconds);
        stalls.push_back(w.longestStallMs);
        const double c = bench::timeCommand(QStringLiteral(QARSILO_CLI), cliArgs);
        if (c < 0)
            return 1;
        command.push_back(c);
        std::printf("run %d: window %.3f s (longest stall %.1f ms), qarsilo-cli chart %.3f s\n",
                    r + 1, w.seconds, w.longestStallMs, c);
    }
    const double mw = bench::median(window);
    const double mc = bench::median(command);
    std::printf("median over %d runs: window %.3f s, qarsilo-cli chart %.3f s, ratio %.2f; "
                "longest stall median %.1f ms\n",
                runs, mw, mc, mc > 0 ? mw / mc : 0.0, bench::median(stalls));
    std::printf("last second shown by the window %s the command's\n",
                agree ? "matches" : "DIFFERS FROM");
    if (!agree)
        std::printf("window:\n%s\ncommand:\n%s", qPrintable(replayInWindow(*kind).lastBlock),
                    qPrintable(cliLast));
    return agree ? 0 : 1;
}
