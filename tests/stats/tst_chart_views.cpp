// The six chart windows in the frame, reading crafted capture files: what each
// counts, the toolbar, the tick, cumulative, the picture on the window, failed
// set-ups that leave the window blank, the fatal texts, and two capture threads
// at full speed feeding one window's counters.

#include "app/builtin_views.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "gui/shell/main_frame.h"
#include "gui/stats/chart_view.h"
#include "support/capture_test_util.h"
#include "support/chart_frames.h"
#include "support/scripted_message_service.h"

#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <atomic>
#include <thread>

using namespace qarsilo;
using namespace qarsilo::test;

Q_DECLARE_METATYPE(qarsilo::ChartKind)

namespace {

constexpr long long kStart = 1'700'000'000'000'000; // microseconds

std::vector<TestFrame> framesAt(long long stampUs, const QList<QByteArray>& frames) {
    std::vector<TestFrame> out;
    for (const QByteArray& f : frames)
        out.push_back({stampUs, f});
    return out;
}

QStringList toolbarTips(CMainFrame& frame) {
    QStringList tips;
    for (QAction* a : frame.viewToolBar()->actions())
        tips << a->toolTip();
    return tips;
}

// Every capture of the window has read its file to the end.
bool filesRead(CChartView* view) {
    for (int slot = 0; slot < view->sessionCount(); ++slot)
        if (view->session(slot).loopEnd() != LoopEnd::EndOfFile)
            return false;
    return true;
}

QImage rgb32(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB32);
}

bool uniform(const QImage& image) {
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != first)
                return false;
    return true;
}

// A blocking handler for the fatal-message tests: it holds the capture thread
// until the fatal exit function lets it go.
std::atomic<bool> g_entered{false};
std::atomic<bool> g_release{false};
std::atomic<int> g_exitCode{-1};
void releaseOnExit(int code) {
    g_exitCode.store(code);
    g_release.store(true);
}

// A mix of traffic for every chart: sizes, types, protocols and ports.
QList<QByteArray> mixedTraffic() {
    QList<QByteArray> out;
    auto add = [&out](const QByteArray& f, int times) {
        for (int i = 0; i < times; ++i)
            out << f;
    };
    add(ipv4Frame(6, 443, 52000, 1514), 40);
    add(ipv4Frame(6, 52000, 443, 60), 30);
    add(ipv4Frame(6, 51000, 80, 590), 12);
    add(ipv4Frame(17, 53, 53, 90), 25);
    add(ipv4Frame(17, 137, 137, 250), 8);
    add(ipv4Frame(6, 50000, 22, 180), 20);
    add(ipv4Frame(6, 25, 50100, 1100), 6);
    add(ipv4Frame(17, 68, 67, 342), 4);
    add(ipv4Frame(17, 161, 50200, 130), 5);
    add(ipv4Frame(1, 0, 0, 98), 10);
    add(ipv4Frame(2, 0, 0, 60), 3);
    add(ipv4Frame(89, 0, 0, 90), 4);
    add(ipv4Frame(47, 0, 0, 400), 3);
    add(ipv4Frame(50, 0, 0, 700), 2);
    add(ipv4Frame(4, 0, 0, 200), 2);
    add(ipv6Frame(6, 50000, 443, 1294), 15);
    add(ipv6Frame(58, 0, 0, 120), 10);
    add(ipv6Frame(17, 546, 547, 150), 4);
    add(ipv6Frame(0, 0, 0, 90), 3);
    add(ipv6Frame(89, 0, 0, 110), 2);
    add(etherFrame(0x0806, 60), 12);
    add(llcFrame(0x42, 39, 60), 6);
    add(llcFrame(0xE0, 300, 314), 3);
    add(llcFrame(0xF0, 200, 214), 2);
    add(etherFrame(0x88CC, 300), 2);
    add(etherFrame(0x8847, 800), 2);
    return out;
}

} // namespace

class TestChartViews : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void cleanup() {
        m_frame.reset();
        app::setCumulative(false);
        SettingsStore().writeNumber(setting::replaySpeed, 0);
        QSettings(SettingsStore().fileName(), QSettings::IniFormat).remove(setting::chartType);
        CaptureSession::setJoinTimeout(std::chrono::milliseconds(5000));
        CaptureSession::setFatalExit(nullptr);
    }

    void menuCommandsShowTheViews_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("className");
        QTest::newRow("Packet Size Distribution") << int(cmd::PacketSize) << "CPacketSizeView";
        QTest::newRow("Network Layer Protocol") << int(cmd::PDNetworkLayer) << "CPDL2View";
        QTest::newRow("IPv4-based Protocol") << int(cmd::PDIPv4) << "CPDL3View";
        QTest::newRow("IPv6-based Protocol") << int(cmd::PDIPv6) << "PDv6L3View";
        QTest::newRow("Application Layer Protocol") << int(cmd::PDApplication) << "CPDAppView";
        QTest::newRow("IPv4 and IPv6 Comparison") << int(cmd::PDv4v6) << "CPDv4v6L3View";
    }
    void menuCommandsShowTheViews() {
        QFETCH(int, command);
        QFETCH(QString, className);
        const QString path = m_dir.filePath(QStringLiteral("menu.pcap"));
        QVERIFY(writeCapture(path, DLT_EN10MB, framesAt(kStart, {ipv4Frame(6, 80, 80)})));
        app::setSelectedAdapter(captureFileAdapterName(path));
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        m_frame->updateCommandUi();
        QVERIFY(m_frame->action(command)->isEnabled());
        QVERIFY(m_frame->sendCommand(command));
        QCOMPARE(QString::fromLatin1(m_frame->activeView()->metaObject()->className()), className);
        auto* view = qobject_cast<CChartView*>(m_frame->activeView());
        QVERIFY(view);
        QCOMPARE(m_frame->activeTemplate(), view->chart().info().viewId);
        QVERIFY(view->isReady());
        QVERIFY(view->ticking());
        QCOMPARE(toolbarTips(*m_frame),
                 (QStringList{QStringLiteral("Bar Graph"), QStringLiteral("Pie Chart")}));
        QCOMPARE(m_frame->linkSpeedText(), QStringLiteral("10 Mbps"));
        // qarsilo-cli draws its pictures at the size the window has in the frame.
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QCOMPARE(view->size(), kChartViewSize);
        m_frame->updateCommandUi();
        for (QAction* a : m_frame->viewToolBar()->actions())
            QVERIFY(a->isEnabled());
    }

    void eachViewCounts_data() {
        QTest::addColumn<ChartKind>("kind");
        QTest::addColumn<QList<QByteArray>>("frames");
        QTest::addColumn<QStringList>("labels"); // "row=label"
        using K = ChartKind;
        QTest::newRow("size: 60, 128 and 1514")
            << K::PacketSize
            << QList<QByteArray>{etherFrame(0x0800, 60), etherFrame(0x0800, 128),
                                 etherFrame(0x0800, 1514)}
            << QStringList{QStringLiteral("0=[ 60 B ]  3.81%"),
                           QStringLiteral("12=[ 1514 B ]  96.19%"),
                           QStringLiteral("1=[ 0 B ]  0.00%")};
        QTest::newRow("network: L + 24")
            << K::NetworkLayer << QList<QByteArray>{etherFrame(0x0806, 60), ipv4Frame(6, 1, 1, 100)}
            << QStringList{QStringLiteral("2=[ 84 B ]  40.38%"),
                           QStringLiteral("0=[ 124 B ]  59.62%")};
        QTest::newRow("ipv4: only IPv4 is captured")
            << K::IPv4
            << QList<QByteArray>{ipv4Frame(6, 1, 1, 100), ipv6Frame(6), etherFrame(0x0806, 60),
                                 ipv4Frame(88, 0, 0, 300)}
            << QStringList{QStringLiteral("2=[ 100 B ]  25.00%"),
                           QStringLiteral("12=[ 300 B ]  75.00%")};
        QTest::newRow("ipv6: hop-by-hop is Other")
            << K::IPv6 << QList<QByteArray>{ipv6Frame(0, 0, 0, 80), ipv6Frame(17), ipv4Frame(17)}
            << QStringList{QStringLiteral("12=[ 80 B ]  50.00%"),
                           QStringLiteral("5=[ 80 B ]  50.00%")};
        QTest::newRow("app: tcp and udp captures, DNS twice")
            << K::Application
            << QList<QByteArray>{ipv4Frame(6, 443, 52000, 100), ipv4Frame(17, 53, 53, 100),
                                 ipv4Frame(1, 53, 53, 100)}
            << QStringList{QStringLiteral("0=[ 100 B ]  33.33%"),
                           QStringLiteral("7=[ 200 B ]  66.67%")};
        QTest::newRow("v4v6: ip and ip6 captures")
            << K::IPv4IPv6
            << QList<QByteArray>{ipv4Frame(1, 0, 0, 100), ipv6Frame(58, 0, 0, 100),
                                 ipv6Frame(0, 0, 0, 100)}
            << QStringList{QStringLiteral("6=[ 100 B ]  50.00%"),
                           QStringLiteral("0=[ 100 B ]  50.00%")};
    }
    void eachViewCounts() {
        QFETCH(ChartKind, kind);
        QFETCH(QList<QByteArray>, frames);
        QFETCH(QStringList, labels);
        CChartView* view = open(kind, QStringLiteral("counts.pcap"), framesAt(kStart, frames));
        QVERIFY(view);
        QTRY_VERIFY(filesRead(view));
        // The timer may have shown the second already; then this tick has
        // nothing new and the picture stays.
        view->tick();
        for (const QString& l : labels) {
            const int row = l.section(QLatin1Char('='), 0, 0).toInt();
            QCOMPARE(view->chart().rowLabel(row), l.section(QLatin1Char('='), 1));
            QCOMPARE(view->chart().barChart().series()[std::size_t(row)].label(),
                     l.section(QLatin1Char('='), 1));
        }
    }

    // The window shows the active chart as drawn at its size, and a quiet
    // second leaves it as it was.
    void paintCopiesTheChart() {
        app::setCumulative(true);
        CChartView* view = open(ChartKind::Application, QStringLiteral("paint.pcap"),
                                framesAt(kStart, mixedTraffic()));
        QVERIFY(view);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QTRY_VERIFY(filesRead(view));
        view->tick();
        const QImage bar = rgb32(view->chart().barChart().render(view->size()));
        QCOMPARE(rgb32(view->grab().toImage()), bar);

        // Pie Chart: the same figures drawn as a pie at once, and the next
        // tick (cumulative: what was kept) draws the same.
        QVERIFY(m_frame->sendCommand(cmd::PieChart));
        QCOMPARE(view->chart().activeType(), CChartWnd::kPieChart);
        QVERIFY(view->chart().pieChart().series()[0].value(0) > 0);
        const QImage pie = rgb32(view->chart().pieChart().render(view->size()));
        QCOMPARE(rgb32(view->grab().toImage()), pie);
        view->tick();
        QCOMPARE(rgb32(view->grab().toImage()), pie);
        QVERIFY(m_frame->sendCommand(cmd::BarGraph));
        QCOMPARE(view->chart().activeType(), CChartWnd::kBarChart);
    }

    // A window opened later starts in the chart chosen last, whichever window
    // it was chosen in; the bar chart until one was chosen.
    void newWindowStartsInTheLastChart_data() {
        QTest::addColumn<QList<int>>("chosen"); // commands, in the first window
        QTest::addColumn<int>("expected");      // the second window's chart
        QTest::newRow("pie chosen") << QList<int>{cmd::PieChart} << CChartWnd::kPieChart;
        QTest::newRow("pie, then bar")
            << QList<int>{cmd::PieChart, cmd::BarGraph} << CChartWnd::kBarChart;
        QTest::newRow("nothing chosen") << QList<int>{} << CChartWnd::kBarChart;
    }
    void newWindowStartsInTheLastChart() {
        QFETCH(QList<int>, chosen);
        QFETCH(int, expected);
        const auto frames = framesAt(kStart, {ipv4Frame(6, 80, 80)});
        CChartView* first = open(ChartKind::PacketSize, QStringLiteral("type1.pcap"), frames);
        QVERIFY(first);
        QCOMPARE(first->chart().activeType(), CChartWnd::kBarChart);
        for (int command : chosen)
            QVERIFY(m_frame->sendCommand(command));
        m_frame.reset();
        CChartView* second = open(ChartKind::IPv4, QStringLiteral("type2.pcap"), frames);
        QVERIFY(second);
        QCOMPARE(second->chart().activeType(), expected);
        QTRY_VERIFY(filesRead(second));
        second->tick();
        // What the window paints is that chart.
        const QImage want = rgb32(expected == CChartWnd::kPieChart
                                      ? second->chart().pieChart().render(second->size())
                                      : second->chart().barChart().render(second->size()));
        QCOMPARE(rgb32(second->picture()), want);
    }

    void cumulativeOnAndOff() {
        const QList<QByteArray> second{etherFrame(0x0800, 1000), etherFrame(0x0800, 60)};
        CChartView* view = open(ChartKind::PacketSize, QStringLiteral("cumulative.pcap"),
                                framesAt(kStart, second));
        QVERIFY(view);
        QTRY_VERIFY(filesRead(view));
        view->tick();
        QCOMPARE(view->chart().rowLabel(8), QStringLiteral("[ 1000 B ]  94.34%"));

        // On a capture file, Cumulative counts from the first frame read: each
        // new reading adds to all that came before, through the menu.
        QVERIFY(m_frame->sendCommand(cmd::Cumulative));
        QVERIFY(app::cumulative());
        for (int round = 2; round <= 3; ++round) {
            view->session(0).stop();
            QVERIFY(view->session(0).start().ok());
            QTRY_VERIFY(filesRead(view));
            view->tick();
            QCOMPARE(view->chart().rowLabel(8),
                     QStringLiteral("[ %1 B ]  94.34%").arg(round * 1000));
        }
        // Switched off, the next tick shows only what arrived since the last.
        QVERIFY(m_frame->sendCommand(cmd::Cumulative));
        QVERIFY(!app::cumulative());
        view->session(0).stop();
        QVERIFY(view->session(0).start().ok());
        QTRY_VERIFY(filesRead(view));
        view->tick();
        QCOMPARE(view->chart().rowLabel(8), QStringLiteral("[ 1000 B ]  94.34%"));
    }

    // A file whose frames are not Ethernet: refused with the link type's name
    // (on the standard error stream too), no thread left running, a blank window.
    void failedSetUpLeavesTheWindowBlank_data() {
        QTest::addColumn<ChartKind>("kind");
        QTest::addColumn<int>("linkType");
        QTest::addColumn<QString>("name");
        QTest::newRow("ipv4 on USB") << ChartKind::IPv4 << 189 << QStringLiteral("USB_LINUX");
        QTest::newRow("app on USB") << ChartKind::Application << 189 << QStringLiteral("USB_LINUX");
        QTest::newRow("v4v6 on raw IPv4") << ChartKind::IPv4IPv6 << 228 << QStringLiteral("IPV4");
        QTest::newRow("size on raw IPv4") << ChartKind::PacketSize << 228 << QStringLiteral("IPV4");
    }
    void failedSetUpLeavesTheWindowBlank() {
        QFETCH(ChartKind, kind);
        QFETCH(int, linkType);
        QFETCH(QString, name);
        ScriptedMessageService messages;
        const QString path = m_dir.filePath(QStringLiteral("other-link.pcap"));
        QVERIFY(writeCapture(path, linkType, framesAt(kStart, {QByteArray(60, '\x45')})));
        app::setSelectedAdapter(captureFileAdapterName(path));
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        const int threadsBefore = threadCount();
        StderrCapture err;
        QVERIFY(m_frame->switchToView(chartKindInfo(kind).viewId));
        const QString why = path + QStringLiteral(": its frames are not Ethernet (link type ") +
                            name + QLatin1Char(')');
        QCOMPARE(QString::fromLocal8Bit(err.take()),
                 QStringLiteral("qarsilo: Error opening selected adapter: ") + why +
                     QLatin1Char('\n'));
        QCOMPARE(messages.shown().size(), 1);
        QCOMPARE(messages.shown()[0].text,
                 QStringLiteral("Error opening selected adapter\n") + why);
        auto* view = qobject_cast<CChartView*>(m_frame->activeView());
        QVERIFY(view);
        QVERIFY(!view->isReady());
        QVERIFY(!view->ticking());
        QVERIFY(view->picture().isNull());
        for (int slot = 0; slot < view->sessionCount(); ++slot)
            QVERIFY(!view->session(slot).isRunning());
        QCOMPARE(settledThreadCount(threadsBefore), threadsBefore);
        QVERIFY(!view->isCommandEnabled(cmd::BarGraph));
        QVERIFY(m_frame->linkSpeedText().isEmpty());
        view->resize(kChartViewSize);
        QVERIFY(uniform(view->grab().toImage()));
        // Closing ends no thread and says nothing more.
        m_frame.reset();
        QCOMPARE(messages.shown().size(), 1);
    }

    void adapterThatCannotBeOpened() {
        ScriptedMessageService messages;
        app::setSelectedAdapter(captureFileAdapterName(m_dir.filePath(QStringLiteral("none"))));
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        QVERIFY(m_frame->switchToView(view::PacketSize));
        QCOMPARE(messages.shown().size(), 1);
        QCOMPARE(messages.shown()[0].text.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("Error opening selected adapter"));
        QCOMPARE(messages.shown()[0].caption, QStringLiteral("Error"));
        QVERIFY(!qobject_cast<CChartView*>(m_frame->activeView())->isReady());
    }

    // A capture thread that does not end: the message names the thread of the
    // comparison view, and the application view's says only "capture thread".
    void fatalTexts_data() {
        QTest::addColumn<ChartKind>("kind");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("text");
        QTest::newRow("v4v6 IPv4")
            << ChartKind::IPv4IPv6 << 0 << "Fatal Error: cannot terminate the IPv4 capture thread";
        QTest::newRow("v4v6 IPv6")
            << ChartKind::IPv4IPv6 << 1 << "Fatal Error: cannot terminate the IPv6 capture thread";
        QTest::newRow("app udp") << ChartKind::Application << 1
                                 << "Fatal Error: cannot terminate the capture thread";
        QTest::newRow("size") << ChartKind::PacketSize << 0
                              << "Fatal Error: cannot terminate the capture thread";
    }
    void fatalTexts() {
        QFETCH(ChartKind, kind);
        QFETCH(int, slot);
        QFETCH(QString, text);
        ScriptedMessageService messages;
        CChartView* view =
            open(kind, QStringLiteral("fatal.pcap"),
                 framesAt(kStart, {ipv4Frame(17, 53, 53), ipv6Frame(58), etherFrame(0x0806)}));
        QVERIFY(view);
        g_entered = false;
        g_release = false;
        g_exitCode = -1;
        CaptureSession& stuck = view->session(slot);
        stuck.stop();
        stuck.setHandler([](const pcap_pkthdr&, const std::uint8_t*) {
            g_entered = true;
            while (!g_release.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        QVERIFY(stuck.start().ok());
        QTRY_VERIFY(g_entered.load());
        CaptureSession::setJoinTimeout(std::chrono::milliseconds(200));
        CaptureSession::setFatalExit(&releaseOnExit);
        m_frame.reset(); // destroys the view
        QCOMPARE(messages.shown().size(), 1);
        QCOMPARE(messages.shown()[0].text, text);
        QCOMPARE(g_exitCode.load(), 0);
    }

    // Two capture threads read a large file as fast as they can into one
    // window's counters while the tick takes them: every byte arrives once.
    void twoThreadsAtFullSpeedLoseNoByte() {
        std::vector<TestFrame> frames;
        const QList<QByteArray> kinds{ipv4Frame(6, 443, 52000, 1514), ipv4Frame(17, 53, 53, 90),
                                      ipv4Frame(6, 50000, 22, 180), ipv4Frame(17, 68, 67, 342),
                                      ipv4Frame(6, 80, 53, 60)};
        constexpr int kRounds = 40000;
        for (int i = 0; i < kRounds; ++i)
            for (const QByteArray& f : kinds)
                frames.push_back({kStart + i, f});
        CChartView* view = open(ChartKind::Application, QStringLiteral("fast.pcap"), frames);
        QVERIFY(view);
        // No events are processed below, so the window's own tick takes nothing.
        for (int slot = 0; slot < 2; ++slot) {
            view->session(slot).stop();
            view->session(slot).setFileReplay(FileReplay::AsFastAsPossible);
        }
        (void)view->chart().counters().take();
        QVERIFY(view->session(0).start().ok());
        QVERIFY(view->session(1).start().ok());
        DistributionChart::Bytes sum{};
        int handOvers = 0;
        auto takeInto = [&] {
            const auto taken = view->chart().counters().take();
            for (std::size_t i = 0; i < sum.size(); ++i)
                sum[i] += taken[i];
            ++handOvers;
        };
        while (!filesRead(view))
            takeInto();
        takeInto();
        QVERIFY(handOvers > 1);
        const std::uint64_t n = kRounds;
        QCOMPARE(sum[0], n * (1514 + 60));   // Web: 443 and 80
        QCOMPARE(sum[7], n * (2 * 90 + 60)); // DNS: twice 53 -> 53, once 80 -> 53
        QCOMPARE(sum[4], n * 180);           // SSH
        QCOMPARE(sum[10], n * 2 * 342);      // DHCP: 68 and 67
        std::uint64_t total = 0;
        for (const auto b : sum)
            total += b;
        QCOMPARE(total, n * (1514 + 60 + 2 * 90 + 60 + 180 + 2 * 342));
    }

    // A capture file replayed at each speed: faster replays show its seconds
    // whole, the status pane names the second shown, and Cumulative switched
    // on afterwards counts from the file's first frame.
    void replaySpeeds_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<QString>("speedText");
        QTest::newRow("real time, the default") << -1 << QStringLiteral("real time");
        QTest::newRow("10x") << 1 << QStringLiteral("10x");
        QTest::newRow("as fast as possible") << 2 << QStringLiteral("as fast as possible");
    }
    void replaySpeeds() {
        QFETCH(int, speed);
        QFETCH(QString, speedText);
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qarsilo"),
                           QStringLiteral("qarsilo"));
        if (speed < 0)
            settings.remove(setting::replaySpeed);
        else
            settings.setValue(setting::replaySpeed, speed);
        settings.sync();
        // Second k holds k + 1 IPv4 frames and one IPv6 frame of 100 bytes.
        std::vector<TestFrame> frames;
        for (int k = 0; k < 3; ++k) {
            for (int i = 0; i <= k; ++i)
                frames.push_back({kStart + k * 1'000'000LL + i, ipv4Frame(1, 0, 0, 100)});
            frames.push_back({kStart + k * 1'000'000LL + 500'000, ipv6Frame(58, 0, 0, 100)});
        }
        CChartView* view = open(ChartKind::IPv4IPv6, QStringLiteral("replay.pcap"), frames);
        QVERIFY(view);
        QCOMPARE(view->replaysBySecond(), speed > 0);
        const QString last = QDateTime::fromSecsSinceEpoch(kStart / 1'000'000 + 2)
                                 .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QTRY_COMPARE_WITH_TIMEOUT(
            m_frame->viewStatusText(),
            QStringLiteral("File second 2 (%1), %2, end of the file").arg(last, speedText), 10000);
        if (speed > 0) { // the last second alone
            QCOMPARE(view->chart().rowLabel(6), QStringLiteral("[ 300 B ]  75.00%"));
            QCOMPARE(view->chart().rowLabel(0), QStringLiteral("[ 100 B ]  25.00%"));
        }
        // The file is read: the last picture stays, and each switch draws it
        // again in the chosen form.
        const QImage bar = view->picture();
        QVERIFY(m_frame->sendCommand(cmd::PieChart));
        const QImage pie = view->picture();
        QVERIFY(pie != bar);
        QCOMPARE(view->chart().pieChart().series().size(), std::size_t(1));
        const ChartSeries& slices = view->chart().pieChart().series()[0];
        int shares = 0;
        for (int c = 0; c < slices.pointCount(); ++c)
            shares += slices.value(c);
        QVERIFY(shares > 90); // whole percentages of the last second
        view->tick();
        view->tick();
        QCOMPARE(view->picture(), pie);
        QVERIFY(m_frame->sendCommand(cmd::BarGraph));
        QCOMPARE(view->picture(), bar);

        QVERIFY(m_frame->sendCommand(cmd::Cumulative));
        view->tick();
        QCOMPARE(view->chart().rowLabel(6), QStringLiteral("[ 600 B ]  66.67%"));
        QCOMPARE(view->chart().rowLabel(0), QStringLiteral("[ 300 B ]  33.33%"));
    }

    // Pictures of the six windows, bar and pie, for a person to look at
    // (written when QARSILO_SCREENSHOT_DIR names a folder).
    void screenshots_data() {
        QTest::addColumn<ChartKind>("kind");
        for (int k = 0; k < kChartKinds; ++k)
            QTest::newRow(chartKindInfo(ChartKind(k)).cliName) << ChartKind(k);
    }
    void screenshots() {
        QFETCH(ChartKind, kind);
        app::setCumulative(true);
        CChartView* view =
            open(kind, QStringLiteral("shots.pcap"), framesAt(kStart, mixedTraffic()));
        QVERIFY(view);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QTRY_VERIFY(filesRead(view));
        const QString dir = qEnvironmentVariable("QARSILO_SCREENSHOT_DIR");
        for (int command : {int(cmd::BarGraph), int(cmd::PieChart)}) {
            QVERIFY(m_frame->sendCommand(command));
            view->tick();
            const QImage shot = m_frame->grab().toImage();
            QVERIFY(!uniform(rgb32(view->grab().toImage())));
            QCOMPARE(rgb32(view->grab().toImage()),
                     rgb32(view->chart().activeChart().render(view->size())));
            if (!dir.isEmpty())
                QVERIFY(shot.save(QDir(dir).filePath(
                    QStringLiteral("%1-%2.png")
                        .arg(QLatin1String(chartKindInfo(kind).cliName),
                             command == cmd::BarGraph ? QStringLiteral("bar")
                                                      : QStringLiteral("pie")))));
        }
    }

private:
    CChartView* open(ChartKind kind, const QString& name, const std::vector<TestFrame>& frames) {
        const QString path = m_dir.filePath(name);
        if (!writeCapture(path, DLT_EN10MB, frames))
            return nullptr;
        app::setSelectedAdapter(captureFileAdapterName(path));
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        if (!m_frame->switchToView(chartKindInfo(kind).viewId))
            return nullptr;
        return qobject_cast<CChartView*>(m_frame->activeView());
    }

    QTemporaryDir m_dir;
    std::unique_ptr<CMainFrame> m_frame;
};

QTEST_MAIN(TestChartViews)
#include "tst_chart_views.moc"
