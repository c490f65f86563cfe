// The packet analyzer window reading capture files to their end, offscreen,
// beside the plain libpcap read loop over the same file, rounds interleaved so
// that a busy machine weighs on both alike. Each is timed as a process of its
// own. For every file it prints, as ratios to the loop of the same round:
// the cold first run, the median and the slowest run of the whole file
// listed (bound 2x); the time from opening the window to its first rows
// (bound 200 ms); the window's peak memory and the store's bytes per frame.
// "missed" when any run is over a bound.
//
//   qarsilo-bench-analyzer-file [--runs 5] [--budget MiB] CAPTURE.pcap...
//   qarsilo-bench-analyzer-file --dump CAPTURE.pcap BUDGET-MiB [CAPTURE-FILTER]

#include "bench_util.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "gui/analysis/capture_decode_view.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/qarsilo_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace qarsilo;
using namespace qarsilo::bench;

namespace {

long peakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// One window reading `file`: prints "first-ms whole-s frames peak-KiB store-bytes".
int windowRun(QApplication& application, const QString& file, long long expected) {
    app::setSelectedAdapter(captureFileAdapterName(file));
    ViewRegistry views;
    views.add(view::Start, QStringLiteral("CqarsiloView"),
              [](QWidget* parent) -> CView* { return new CqarsiloView(parent); });
    views.add(view::CaptureDecode, QStringLiteral("CCaptureDecodeView"),
              [](QWidget* parent) -> CView* { return new CCaptureDecodeView(parent); });
    CMainFrame frame(views);
    frame.show();
    QElapsedTimer clock;
    clock.start();
    frame.switchToView(view::CaptureDecode);
    auto* analyzer = qobject_cast<CCaptureDecodeView*>(frame.activeView());
    if (!analyzer)
        return 1;
    double firstMs = -1, wholeS = -1;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        const int rows = analyzer->model()->rowCount();
        if (rows > 0 && firstMs < 0)
            firstMs = double(clock.nsecsElapsed()) / 1e6;
        if (!analyzer->isCapturing() && rows >= expected) {
            wholeS = double(clock.nsecsElapsed()) / 1e9;
            application.quit();
        }
    });
    poll.start(1);
    QTimer::singleShot(600'000, &application, [&] { application.quit(); });
    application.exec();
    if (wholeS < 0) {
        std::fprintf(stderr, "listed %d of %lld frames\n", analyzer->model()->rowCount(), expected);
        return 1;
    }
    std::printf("%.3f %.4f %d %ld %zu\n", firstMs, wholeS, analyzer->model()->rowCount(), peakKiB(),
                analyzer->store().memoryUsed());
    std::fflush(stdout);
    // Leaving without tearing the window down, as the loop leaves without
    // freeing: the measured part is over.
    std::_Exit(0);
}

// Everything the window shows of every frame of `file`, once read to its end:
// the row's texts, the decode tree and the hex dump. For comparing binaries
// and memory budgets byte for byte.
int dumpRun(QApplication& application, const QString& file) {
    app::setSelectedAdapter(captureFileAdapterName(file));
    ViewRegistry views;
    views.add(view::Start, QStringLiteral("CqarsiloView"),
              [](QWidget* parent) -> CView* { return new CqarsiloView(parent); });
    views.add(view::CaptureDecode, QStringLiteral("CCaptureDecodeView"),
              [](QWidget* parent) -> CView* { return new CCaptureDecodeView(parent); });
    CMainFrame frame(views);
    frame.show();
    frame.switchToView(view::CaptureDecode);
    auto* analyzer = qobject_cast<CCaptureDecodeView*>(frame.activeView());
    if (!analyzer)
        return 1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (!analyzer->isCapturing())
            application.quit();
    });
    poll.start(5);
    application.exec();
    analyzer->tick();
    QAbstractItemModel* model = analyzer->model();
    QByteArray out;
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int c = 0; c < model->columnCount(); ++c)
            out += model->data(model->index(row, c)).toString().toUtf8() + '\t';
        out += '\n';
        analyzer->showFrame(row);
        std::vector<QTreeWidgetItem*> items;
        for (int i = analyzer->tree()->topLevelItemCount(); i-- > 0;)
            items.push_back(analyzer->tree()->topLevelItem(i));
        while (!items.empty()) {
            QTreeWidgetItem* item = items.back();
            items.pop_back();
            out += item->text(0).toUtf8() + '\n';
            for (int i = item->childCount(); i-- > 0;)
                items.push_back(item->child(i));
        }
        out += analyzer->dump()->toPlainText().toUtf8() + '\n';
        if (out.size() > (1 << 20)) {
            std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
            out.clear();
        }
    }
    std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout);
    std::fflush(stdout);
    std::_Exit(0);
}

struct Run {
    double seconds = -1;
    QByteArray out;
};

Run runSelf(const QString& self, const QStringList& args) {
    QProcess proc;
    proc.setStandardErrorFile(QProcess::nullDevice());
    const auto start = Clock::now();
    proc.start(self, args);
    Run r;
    if (!proc.waitForFinished(-1) || proc.exitCode() != 0) {
        std::fprintf(stderr, "failed: %s\n", qPrintable(args.join(u' ')));
        return r;
    }
    r.seconds = seconds(start);
    r.out = proc.readAllStandardOutput();
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--pcap-loop") == 0)
        return pcapLoop(argv[2]);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings of their own, in a folder the children share: the operator's
    // stay as they are.
    const bool child = argc > 1 && std::strcmp(argv[1], "--window") == 0;
    QTemporaryDir config;
    if (!child)
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (child && args.size() == 4)
        return windowRun(application, args[2], args[3].toLongLong());
    // --dump FILE BUDGET-MiB [CAPTURE-FILTER], with the settings of the
    // environment (XDG_CONFIG_HOME): what the window shows, on stdout.
    if (args.size() >= 4 && args[1] == u"--dump") {
        SettingsStore().writeNumber(setting::frameStoreBudget, args[3].toUInt());
        SettingsStore().writeString(setting::filter, args.value(4));
        return dumpRun(application, args[2]);
    }
    int runs = 5;
    quint32 budgetMiB = 1024; // the window's default
    QStringList files;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--runs" && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == u"--budget" && i + 1 < args.size())
            budgetMiB = args[++i].toUInt();
        else
            files << args[i];
    }
    if (files.isEmpty()) {
        std::fprintf(stderr,
                     "usage: qarsilo-bench-analyzer-file [--runs N] [--budget MiB] CAPTURE...\n");
        return 2;
    }
    SettingsStore().writeNumber(setting::frameStoreBudget, budgetMiB);
    const QString self = application.applicationFilePath();
    bool missedAny = false;
    for (const QString& file : files) {
        const Run count = runSelf(self, {QStringLiteral("--pcap-loop"), file});
        const long long frames = count.out.split(' ').value(0).toLongLong();
        if (count.seconds < 0 || frames <= 0)
            return 1;
        std::vector<double> loop, whole, ratio, first;
        double peak = 0, storeBytes = 0;
        for (int r = 0; r < runs; ++r) {
            const Run l = runSelf(self, {QStringLiteral("--pcap-loop"), file});
            const Run w =
                runSelf(self, {QStringLiteral("--window"), file, QString::number(frames)});
            const QList<QByteArray> f = w.out.trimmed().split(' ');
            if (l.seconds < 0 || w.seconds < 0 || f.size() < 5)
                return 1;
            loop.push_back(l.seconds);
            first.push_back(f[0].toDouble());
            whole.push_back(f[1].toDouble());
            ratio.push_back(whole.back() / l.seconds);
            peak = std::max(peak, f[3].toDouble());
            storeBytes = f[4].toDouble();
        }
        const double slowest = *std::max_element(ratio.begin(), ratio.end());
        const double slowestFirst = *std::max_element(first.begin(), first.end());
        const bool missedWhole = slowest > 2.0;
        const bool missedFirst = slowestFirst > 200.0;
        missedAny = missedAny || missedWhole || missedFirst;
        std::printf("%s: %lld frames, %d runs, budget %u MiB; loop median %.3f s, window median "
                    "%.3f s\n",
                    qPrintable(file), frames, runs, budgetMiB, median(loop), median(whole));
        std::printf("  whole file listed vs loop: cold %.2fx, median %.2fx, slowest %.2fx "
                    "(bound 2x) %s\n",
                    ratio.front(), median(ratio), slowest, missedWhole ? "missed" : "met");
        std::printf("  first rows after opening: cold %.0f ms, median %.0f ms, slowest %.0f ms "
                    "(bound 200 ms) %s\n",
                    first.front(), median(first), slowestFirst, missedFirst ? "missed" : "met");
        std::printf("  window peak memory %.0f MiB = %.1f bytes per frame; store %.1f bytes per "
                    "frame\n",
                    peak / 1024, peak * 1024 / double(frames), storeBytes / double(frames));
        std::fflush(stdout);
    }
    return missedAny ? 3 : 0;
}
