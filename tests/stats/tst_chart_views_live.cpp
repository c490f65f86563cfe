// The chart windows on a live adapter: a veth pair in a network namespace
// that each test makes for itself. Needs root; skipped elsewhere.

#include "app/builtin_views.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "gui/shell/main_frame.h"
#include "gui/stats/chart_view.h"
#include "support/capture_test_util.h"
#include "support/chart_frames.h"
#include "support/live_net.h"
#include "support/scripted_message_service.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;

Q_DECLARE_METATYPE(qarsilo::ChartKind)

#define ENTER_LIVE_NET(net, ...)                                                                   \
    LiveNet net{__VA_ARGS__};                                                                      \
    if (!net.skipReason().isEmpty())                                                               \
        QSKIP(qPrintable(net.skipReason()));                                                       \
    QVERIFY2(net.ok(), qPrintable(net.error()))

class TestChartViewsLive : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        LiveNet::removeStale();
        app::setSelectedAdapter(QString::fromLatin1(LiveNet::kCaptureEnd));
    }

    void cleanup() { app::setCumulative(false); }

    // An adapter without an IPv4 address has no netmask to look up: the
    // charts with a filter say so on the standard error stream and stay blank.
    void noNetmaskLeavesTheWindowBlank_data() {
        QTest::addColumn<ChartKind>("kind");
        QTest::newRow("ipv4") << ChartKind::IPv4;
        QTest::newRow("ipv6") << ChartKind::IPv6;
        QTest::newRow("app") << ChartKind::Application;
        QTest::newRow("v4v6") << ChartKind::IPv4IPv6;
    }
    void noNetmaskLeavesTheWindowBlank() {
        QFETCH(ChartKind, kind);
        ENTER_LIVE_NET(net, false);
        ScriptedMessageService messages;
        CMainFrame frame(builtinViews());
        StderrCapture err;
        QVERIFY(frame.switchToView(chartKindInfo(kind).viewId));
        QCOMPARE(err.take(), QByteArray("\nUnable to obtain the netmask.\n"));
        auto* view = qobject_cast<CChartView*>(frame.activeView());
        QVERIFY(view);
        QVERIFY(!view->isReady());
        QVERIFY(!view->ticking());
        for (int slot = 0; slot < view->sessionCount(); ++slot)
            QVERIFY(!view->session(slot).isRunning());
        QCOMPARE(messages.shown().size(), 0);
    }

    // With an address the same windows start.
    void withANetmaskTheyStart() {
        ENTER_LIVE_NET(net, true);
        CMainFrame frame(builtinViews());
        QVERIFY(frame.switchToView(view::PDApplication));
        auto* view = qobject_cast<CChartView*>(frame.activeView());
        QVERIFY(view && view->isReady());
        QVERIFY(view->session(0).isRunning() && view->session(1).isRunning());
    }

    // Frames sent on the wire reach the network layer chart, each with the 24
    // bytes the wire adds.
    void networkLayerChartCountsTheWire() {
        ENTER_LIVE_NET(net, false);
        FrameSender sender;
        QVERIFY2(sender.ok(), qPrintable(sender.error()));
        app::setCumulative(true);
        CMainFrame frame(builtinViews());
        QVERIFY(frame.switchToView(view::PDL2));
        auto* view = qobject_cast<CChartView*>(frame.activeView());
        QVERIFY(view && view->isReady());
        std::vector<QByteArray> frames;
        for (int i = 0; i < 200; ++i) {
            frames.push_back(etherFrame(0x0806, 60));
            frames.push_back(llcFrame(0x42, 39, 60));
            frames.push_back(llcFrame(0xE0, 100, 114));
        }
        QCOMPARE(sender.send(frames), int(frames.size()));
        // The system may send frames of its own (IPv6 neighbour discovery);
        // these three categories are only ours.
        QTRY_VERIFY_WITH_TIMEOUT((view->tick(), view->chart().keptBytes(10) >= 200u * 138), 10000);
        QCOMPARE(view->chart().keptBytes(2), std::uint64_t(200 * 84));   // ARP
        QCOMPARE(view->chart().keptBytes(9), std::uint64_t(200 * 84));   // Spanning Tree
        QCOMPARE(view->chart().keptBytes(10), std::uint64_t(200 * 138)); // IPX
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestChartViewsLive)
#include "tst_chart_views_live.moc"
