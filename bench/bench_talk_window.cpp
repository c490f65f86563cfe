// The Conversations window filled offscreen from a capture of many distinct
// TCP conversations, read as fast as possible: the interface thread's
// longest stall (the largest gap of a 1 ms timer) while the rows come, while
// the TCP tab is sorted by bytes and re-sorted, and while a filter is typed;
// the time until the TCP tab shows every row, beside a plain libpcap read
// loop over the same file, run by run:
//   qarsilo-bench-talk-window [--conversations 1000000] [--runs 3] [--file F.pcap]
//                             [--dir DIR]
// Without --file a capture of two frames per conversation is written to DIR
// (a temporary folder by default) and removed at the end.
//
// Live (root): the window captures on a private network namespace's veth pair
// while several threads send the flood benchmarks' traffic at `--rate` frames
// a second (0: as fast as the machine sends); prints frames sent, received by
// the pair, counted by the window and in its Ethernet table:
//   qarsilo-bench-talk-window --live [--rate 0] [--seconds 5] [--threads 2]

#include "bench_util.h"
#include "core/addressbook/address_database.h"
#include "core/app/app_state.h"
#include "core/app/message_service.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "core/stats/talk_model.h"
#include "fast_sender.h"
#include "flood_frames.h"
#include "gui/shell/view.h"
#include "gui/stats/talk_table.h"
#include "gui/stats/talk_view.h"
#include "support/live_net.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <malloc.h>
#include <optional>
#include <string>

using namespace qarsilo;
using bench::Clock;

namespace {

constexpr double kStallBoundMs = 50.0;
std::atomic<unsigned long long> g_sink{0};

// The longest single event the interface thread handled (outermost
// dispatches only): the window's own share of a stall, which the timer's gap
// also counts time the thread waited for a processor on a loaded machine.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (m_depth++ > 0) {
            const bool done = QApplication::notify(receiver, event);
            --m_depth;
            return done;
        }
        const auto start = Clock::now();
        const double cpuStart = threadCpuMs();
        const bool done = QApplication::notify(receiver, event);
        --m_depth;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const double cpu = threadCpuMs() - cpuStart;
        if (cpu > longestEventCpuMs) {
            longestEventCpuMs = cpu;
            longestCpuWhat = QStringLiteral("%1 %2 (%3)")
                                 .arg(QString::fromLatin1(receiver->metaObject()->className()))
                                 .arg(int(event->type()))
                                 .arg(receiver->objectName());
        }
        if (ms > longestEventMs) {
            longestEventMs = ms;
            longestWhat = QStringLiteral("%1 %2 (%3)")
                              .arg(QString::fromLatin1(receiver->metaObject()->className()))
                              .arg(int(event->type()))
                              .arg(receiver->objectName());
        }
        return done;
    }
    double longestEventMs = 0;
    QString longestWhat; ///< its receiver's class and the event's type
    /// The same by the thread's processor time: what the window itself spent,
    /// without the time the thread waited for a processor.
    double longestEventCpuMs = 0;
    QString longestCpuWhat;

    static double threadCpuMs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    }

private:
    int m_depth = 0;
};

class QuietHost : public ViewHost {
public:
    void setViewButtons(const QList<ViewButton>&) override {}
    void setLinkSpeedText(const QString&) override {}
    void setViewStatusText(const QString&) override {}
    void setCaptureFilters(const QStringList&, int) override {}
    void showStatusMessage(const QString&, int) override {}
    bool hasView(int) const override { return false; }
    void switchToViewLater(int) override {}
    void switchToViewAndStartLater(int) override {}
    void showFramesInAnalyzerLater(const QString&) override {}
};

// Two frames per conversation (from A and the answer from B), 10.x.y.z:port
// pairs that never repeat, a thousand conversations per millisecond.
bool writeConversations(const QString& path, long n) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* out = pcap_dump_open(dead, QFile::encodeName(path).constData());
    if (!out) {
        std::fprintf(stderr, "%s\n", pcap_geterr(dead));
        pcap_close(dead);
        return false;
    }
    std::uint8_t f[60] = {};
    for (long i = 0; i < n; ++i) {
        for (int dir = 0; dir < 2; ++dir) {
            std::uint8_t client[4] = {10, std::uint8_t(i >> 16), std::uint8_t(i >> 8),
                                      std::uint8_t(i)};
            std::uint8_t server[4] = {172, 16, std::uint8_t(i % 7), 1};
            const std::uint16_t cport = std::uint16_t(1024 + i % 50000);
            const std::uint16_t sport = 443;
            const std::uint8_t* src = dir ? server : client;
            const std::uint8_t* dst = dir ? client : server;
            const std::uint16_t sp = dir ? sport : cport;
            const std::uint16_t dp = dir ? cport : sport;
            for (int k = 0; k < 6; ++k) {
                f[k] = k == 0 ? 0x02 : dst[k % 4];
                f[6 + k] = k == 0 ? 0x02 : src[k % 4];
            }
            f[12] = 0x08;
            f[13] = 0x00;
            f[14] = 0x45;
            f[16] = 0;
            f[17] = 46;
            f[22] = 64;
            f[23] = 6;
            std::copy(src, src + 4, f + 26);
            std::copy(dst, dst + 4, f + 30);
            f[34] = std::uint8_t(sp >> 8);
            f[35] = std::uint8_t(sp);
            f[36] = std::uint8_t(dp >> 8);
            f[37] = std::uint8_t(dp);
            f[46] = 0x50;
            pcap_pkthdr h{};
            const long usec = i + dir;
            h.ts.tv_sec = 1'700'000'000 + usec / 1'000'000;
            h.ts.tv_usec = usec % 1'000'000;
            h.caplen = h.len = sizeof f;
            pcap_dump(reinterpret_cast<u_char*>(out), &h, f);
        }
    }
    pcap_dump_close(out);
    pcap_close(dead);
    return true;
}

struct WindowRun {
    double fillSeconds = -1;  // until the TCP tab shows every row
    double stallMs = 0;       // the largest gap of the 1 ms timer
    double sortStallMs = 0;   // the largest while sorted, after the first sort
    double filterSeconds = 0; // typing a filter until its rows show
    double eventMs = 0;       // the longest single event
    double eventCpuMs = 0;    // the most processor time of a single event
    std::size_t rows = 0;
};

long residentKb();

WindowRun runWindow(const QString& file, long conversations) {
    WindowRun run;
    auto* timed = static_cast<TimedApplication*>(QCoreApplication::instance());
    timed->longestEventMs = 0;
    timed->longestEventCpuMs = 0;
    app::setSelectedAdapter(captureFileAdapterName(file));
    QuietHost host;
    CTalkView view(CTalkView::Mode::Conversations);
    view.resize(1024, 700);
    view.show();
    const int tcp = int(TalkType::Tcp);
    view.tabs()->setCurrentIndex(tcp);
    TalkModel* model = view.model(tcp);

    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    auto last = Clock::now();
    bool sorted = false;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        const double gap = std::chrono::duration<double, std::milli>(now - last).count();
        last = now;
        run.stallMs = std::max(run.stallMs, gap);
        if (sorted)
            run.sortStallMs = std::max(run.sortStallMs, gap);
    });
    // The window is drawn as the operator would see it.
    QTimer painter;
    QObject::connect(&painter, &QTimer::timeout, [&] { (void)view.grab(); });
    painter.setObjectName(QStringLiteral("painter"));
    painter.start(250);

    const auto start = Clock::now();
    tick.start(1);
    last = Clock::now();
    view.initialUpdate(&host);
    QEventLoop loop;
    QTimer poll;
    poll.setObjectName(QStringLiteral("poll"));
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // Sorted by bytes once a third of the rows are in: later rows re-sort.
        if (!sorted && model->tableRows() * 3 >= std::size_t(conversations)) {
            view.table(tcp)->sortByColumn(model->column(TalkModel::Bytes), Qt::DescendingOrder);
            sorted = true;
        }
        if (model->tableRows() >= std::size_t(conversations) &&
            model->rowCount() >= int(conversations) && !model->busy())
            loop.quit();
        if (bench::seconds(start) > 600)
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    run.fillSeconds = bench::seconds(start);
    run.rows = model->tableRows();
    {
        // Where the memory is: the heap in use with every row in, and the rows of each table.
        const struct mallinfo2 heap = mallinfo2();
        QStringList tables;
        for (int t = 0; t < kTalkTypeCount; ++t)
            tables << QString::number(view.tables().rowCount(TalkType(t), true));
        std::printf("  filled: heap in use %.0f MiB, process %.0f MiB; rows by table %s\n",
                    double(heap.uordblks + heap.hblkhd) / 1048576.0, double(residentKb()) / 1024.0,
                    qPrintable(tables.join(QLatin1Char('/'))));
    }

    // A filter typed a key at a time, as the operator does.
    const auto typed = Clock::now();
    for (QChar c : QStringLiteral("10.1.2")) {
        view.filterBox()->insert(QString(c));
        QEventLoop wait;
        QTimer::singleShot(30, &wait, &QEventLoop::quit);
        wait.exec();
    }
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!model->busy())
            loop.quit();
    });
    loop.exec();
    run.filterSeconds = bench::seconds(typed);
    run.eventMs = timed->longestEventMs;
    run.eventCpuMs = timed->longestEventCpuMs;
    std::printf("  longest event: %s; most processor time: %s\n", qPrintable(timed->longestWhat),
                qPrintable(timed->longestCpuWhat));
    tick.stop();
    poll.stop();
    painter.stop();
    return run;
}

// The floor: every frame read and its last byte touched.
double loopSeconds(const QString& file) {
    const auto start = Clock::now();
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(QFile::encodeName(file).constData(), errbuf);
    if (!p)
        return -1;
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    unsigned long long sum = 0;
    while (pcap_next_ex(p, &h, &bytes) == 1)
        sum += h->caplen ? bytes[h->caplen - 1] : 0;
    pcap_close(p);
    g_sink.store(sum, std::memory_order_relaxed);
    return bench::seconds(start);
}

long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return -1;
}

long residentKb() {
    return statusKb("VmRSS:");
}

long peakMemoryKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Frames the pair's capture end received (from /proc/self/net/dev, inside the namespace).
long long pairReceived() {
    QFile f(QStringLiteral("/proc/self/net/dev"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QByteArray t = line.trimmed();
        if (t.startsWith(QByteArray(test::LiveNet::kCaptureEnd) + ':'))
            return t.mid(t.indexOf(':') + 1).simplified().split(' ').value(1).toLongLong();
    }
    return -1;
}

void pause(int ms) {
    QEventLoop wait;
    QTimer::singleShot(ms, &wait, &QEventLoop::quit);
    wait.exec();
}

int runLive(long long rate, int seconds, int threads) {
    test::LiveNet::removeStale();
    std::optional<test::LiveNet> net;
    net.emplace(true);
    if (!net->ok()) {
        std::fprintf(stderr, "cannot make the test network: %s%s\n", qPrintable(net->skipReason()),
                     qPrintable(net->error()));
        return 2;
    }
    bench::FastSender sender(test::LiveNet::kSendEnd, threads);
    if (!sender.ok()) {
        std::fprintf(stderr, "cannot send: %s\n", qPrintable(sender.error()));
        return 2;
    }
    app::setSelectedAdapter(QString::fromLatin1(test::LiveNet::kCaptureEnd));
    // Captured in this process (root): the helper's pipe is not what is measured.
    CaptureSession::setCaptureHelper(QStringLiteral(""));
    QuietHost host;
    auto view = std::make_unique<CTalkView>(CTalkView::Mode::Conversations);
    view->resize(1024, 700);
    view->show();
    view->initialUpdate(&host);
    if (!view->isCapturing()) {
        std::fprintf(stderr, "the window did not start capturing\n");
        return 1;
    }
    QTimer painter;
    QObject::connect(&painter, &QTimer::timeout, [&] { (void)view->grab(); });
    painter.start(1000);
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    auto last = Clock::now();
    double stall = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        stall = std::max(stall, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    });
    pause(300);
    const long long receivedBefore = pairReceived();
    const std::uint64_t countedBefore = view->framesCounted();
    tick.start(1);
    last = Clock::now();
    const auto t0 = Clock::now();
    sender.start(bench::floodFrames(), rate);
    pause(seconds * 1000);
    sender.stop();
    const double sendSeconds = bench::seconds(t0);
    // The ring's last block waits for its timeout.
    pause(800);
    view->pickUp();
    tick.stop();
    const long long sent = sender.sent();
    const long long received = pairReceived() - receivedBefore;
    const auto counted = static_cast<long long>(view->framesCounted() - countedBefore);
    std::uint64_t tableFrames = 0;
    for (const ConversationRow& r : view->tables().conversations(TalkType::Ethernet))
        tableFrames += r.framesAB + r.framesBA;
    const bool lost = counted != sent;
    std::printf("live: sent %lld frames in %.2f s (%.0f frames/s), the pair received %lld, the "
                "window counted %lld (%llu in its Ethernet table), ring drops %u; longest "
                "interface-thread stall %.1f ms%s\n",
                sent, sendSeconds, double(sent) / sendSeconds, received, counted,
                static_cast<unsigned long long>(tableFrames), view->session().droppedSoFar(), stall,
                lost ? " LOST FRAMES" : "");
    std::fflush(stdout);
    view.reset();
    net.reset();
    return lost ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication application(argc, argv);
    StderrMessageService quiet;
    MessageService::install(&quiet);
    const QStringList args = application.arguments();
    const auto option = [&](const char* name, const QString& fallback) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < args.size() ? args[at + 1] : fallback;
    };
    if (args.contains(QStringLiteral("--live")))
        return runLive(option("--rate", QStringLiteral("0")).toLongLong(),
                       std::max(1, option("--seconds", QStringLiteral("5")).toInt()),
                       std::max(1, option("--threads", QStringLiteral("2")).toInt()));
    const long conversations = option("--conversations", QStringLiteral("1000000")).toLong();
    const int runs = std::max(1, option("--runs", QStringLiteral("3")).toInt());
    QString file = option("--file", {});

    // Settings and address book of the run's own.
    QTemporaryDir home;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    AddressDatabase::setDefaultFileName(home.filePath(QStringLiteral("address.mdb")));
    SettingsStore().writeNumber(setting::talkRowLimit, kDefaultTalkRowLimit);

    QTemporaryDir scratch(option("--dir", QDir::tempPath()) +
                          QStringLiteral("/talk-window-XXXXXX"));
    if (file.isEmpty()) {
        file = scratch.filePath(QStringLiteral("conversations.pcap"));
        std::printf("writing %ld conversations to a capture ...\n", conversations);
        std::fflush(stdout);
        if (!writeConversations(file, conversations))
            return 1;
    }

    std::vector<double> ratios, fills, loops;
    double worstStall = 0;
    double worstEvent = 0;
    double worstEventCpu = 0;
    bool missed = false;
    for (int r = 0; r < runs; ++r) {
        // Interleaved: the loop, then the window, every run.
        const double loop = loopSeconds(file);
        const WindowRun w = runWindow(file, conversations);
        loops.push_back(loop);
        fills.push_back(w.fillSeconds);
        ratios.push_back(w.fillSeconds / loop);
        worstStall = std::max(worstStall, w.stallMs);
        worstEvent = std::max(worstEvent, w.eventMs);
        worstEventCpu = std::max(worstEventCpu, w.eventCpuMs);
        const bool over = w.stallMs > kStallBoundMs || w.rows < std::size_t(conversations);
        missed = missed || over;
        std::printf("run %d: %zu rows shown in %.2f s (plain libpcap loop %.3f s, %.1fx); longest "
                    "stall %.1f ms (%.1f ms while sorted), longest event %.1f ms (%.1f ms on a "
                    "processor); filter typed and "
                    "shown in "
                    "%.2f s%s\n",
                    r + 1, w.rows, w.fillSeconds, loop, w.fillSeconds / loop, w.stallMs,
                    w.sortStallMs, w.eventMs, w.eventCpuMs, w.filterSeconds, over ? " missed" : "");
        std::fflush(stdout);
    }
    std::printf("fill time as ratio to the plain loop: cold first %.1fx, median %.1fx, slowest "
                "%.1fx\n",
                ratios.front(), bench::median(ratios),
                *std::max_element(ratios.begin(), ratios.end()));
    std::printf("longest interface-thread stall: %.1f ms (bound %.0f ms)%s\n", worstStall,
                kStallBoundMs, missed ? " missed" : "");
    std::printf("longest single interface-thread event: %.1f ms (most processor time of one "
                "event: %.1f ms)\n",
                worstEvent, worstEventCpu);
    std::printf("peak memory of the process: %.0f MiB\n", double(peakMemoryKb()) / 1024.0);
    return missed ? 1 : 0;
}
