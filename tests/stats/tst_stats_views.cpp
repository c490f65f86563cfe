// The general and single node statistics views in the frame, on crafted
// capture files: figures after a tick, Stop and the interrupted second's
// rows, picking a station from the Top Users list (only while stopped) and
// handing it on, the single node view's captures, lookups and picker.

#include "app/builtin_views.h"
#include "core/addressbook/address_database.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "gui/shell/capture_view.h"
#include "gui/shell/main_frame.h"
#include "gui/stats/general_info_view.h"
#include "gui/stats/rolling_graph.h"
#include "gui/stats/single_node_view.h"
#include "gui/widgets/report_list.h"
#include "support/capture_test_util.h"
#include "support/chart_frames.h"
#include "support/scripted_message_service.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

constexpr long long kStart = 1'700'000'000'000'000; // microseconds

// A frame of `length` bytes from `source` to `destination` (last MAC bytes),
// IPv4 10.0.0.x unless `arp`.
QByteArray frameBetween(int source, int destination, int length, bool arp = false) {
    QByteArray f = arp ? etherFrame(0x0806, length) : ipv4Frame(6, 1, 2, length);
    const char dst[6] = {0x02, 0, 0, 0, 0, static_cast<char>(destination)};
    const char src[6] = {0x02, 0, 0, 0, 0, static_cast<char>(source)};
    f.replace(0, 6, QByteArray(dst, 6));
    f.replace(6, 6, QByteArray(src, 6));
    if (!arp) {
        const char ips[8] = {10, 0, 0, static_cast<char>(source),
                             10, 0, 0, static_cast<char>(destination)};
        f.replace(26, 8, QByteArray(ips, 8));
    }
    return f;
}

QStringList toolbarTips(CMainFrame& frame) {
    QStringList tips;
    for (QAction* a : frame.viewToolBar()->actions())
        tips << a->toolTip();
    return tips;
}

} // namespace

class TestStatsViews : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        AddressDatabase::setDefaultFileName(m_dir.filePath(QStringLiteral("address.mdb")));
        // Frames of one instant: 1514 bytes from .1 to .2, 60 from .3 to .2, ARP from .2.
        m_path = m_dir.filePath(QStringLiteral("users.pcap"));
        QVERIFY(writeCapture(m_path, DLT_EN10MB,
                             {{kStart, frameBetween(1, 2, 1514)},
                              {kStart, frameBetween(3, 2, 60)},
                              {kStart, frameBetween(2, 0xFF, 60, true)}}));
        app::setSelectedAdapter(captureFileAdapterName(m_path));
        {
            AddressDatabase db;
            QVERIFY(db.open());
            NodeRecord n;
            n.mac = QStringLiteral("0a:0b:0c:0d:0e:0f"); // as autodiscovery writes it
            n.name = QStringLiteral("HOST");
            n.ip = QStringLiteral("10.0.0.9");
            n.workgroup = n.location = n.subnet = QStringLiteral("-");
            QVERIFY2(db.addNode(n), qPrintable(db.lastError()));
        }
    }

    void cleanup() {
        m_frame.reset();
        SettingsStore().writeString(setting::macAddress, QString());
    }

    void generalView() {
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        m_frame->updateCommandUi();
        QVERIFY(m_frame->action(cmd::General)->isEnabled());
        QVERIFY(m_frame->action(cmd::Single)->isEnabled());
        QVERIFY(m_frame->sendCommand(cmd::General));
        auto* view = qobject_cast<CGeneralInfoView*>(m_frame->activeView());
        QVERIFY(view);
        QAbstractItemModelTester tester(view->model());
        QCOMPARE(toolbarTips(*m_frame), QStringList{QStringLiteral("Stop")});
        QCOMPARE(m_frame->linkSpeedText(), QStringLiteral("10 Mbps"));
        for (QLabel* l : view->linkSpeedLabels())
            QCOMPARE(l->text(), QStringLiteral("10 Mbps"));
        QTRY_COMPARE(view->session().loopEnd(), LoopEnd::EndOfFile);

        // While capturing a right-click neither writes the station nor opens the menu.
        view->list()->selectRow(0);
        view->listRightClicked();
        QVERIFY(!view->listMenuRequested(QPoint(10, 10)));
        QCOMPARE(SettingsStore().string(setting::macAddress), QString());

        view->tick();
        const int bits = (1514 + 24) * 8 + 2 * (60 + 24) * 8;
        QCOMPARE(view->field(CGeneralInfoView::CurrentBps)->text(), QString::number(bits));
        QCOMPARE(view->field(CGeneralInfoView::CurrentPps)->text(), QStringLiteral("3"));
        QCOMPARE(view->field(CGeneralInfoView::CurrentUtilization)->text(),
                 QString::asprintf("%3.2f", bits * 100.0 / 10'000'000));
        QVERIFY(!view->field(CGeneralInfoView::PeakBpsTime)->text().isEmpty());
        QCOMPARE(view->model()->rowCount(), 3);
        QCOMPARE(view->model()->index(0, 0).data().toString(), QStringLiteral("12304"));
        QCOMPARE(view->model()->index(2, 3).data().toString(), QStringLiteral("02:00:00:00:00:02"));
        QCOMPARE(view->graph(CGeneralInfoView::BitsGraph)->scaleLabel()->text(),
                 QStringLiteral("100 k"));
        QCOMPARE(view->graph(CGeneralInfoView::PacketsGraph)->scaleLabel()->text(),
                 QStringLiteral("10"));

        // Stop: the toolbar offers Start, ticks change nothing.
        QVERIFY(m_frame->sendCommand(cmd::Stop));
        QCOMPARE(toolbarTips(*m_frame), QStringList{QStringLiteral("Start")});
        view->tick();
        QCOMPARE(view->stats().sampleCount(), 1.0);
        QCOMPARE(view->model()->rowCount(), 3); // the rows stay to pick from

        // Stopped: the right-click takes the selected row's Source MAC.
        view->list()->clearSelection();
        view->listRightClicked();
        QVERIFY(!view->listMenuRequested(QPoint(10, 10))); // no row, no menu
        view->list()->selectRow(1);
        view->listRightClicked();
        QCOMPARE(SettingsStore().string(setting::macAddress), QStringLiteral("02:00:00:00:00:03"));
        QVERIFY(view->listMenuRequested(QPoint(10, 10)));
        QMenu* menu = view->listMenu();
        QVERIFY(menu);
        QCOMPARE(menu->objectName(), QStringLiteral("ListMenu"));
        const QList<QAction*> items = menu->actions();
        QCOMPARE(items.size(), 5); // the three commands, a separator, "Export..."
        QCOMPARE(items[4]->text(), QStringLiteral("Export..."));
        {
            // The second's rows as shown, under the column titles.
            QTemporaryDir dir;
            const QString csv = dir.filePath(QStringLiteral("top.csv"));
            CReportList::setExportFileChooser([&csv](QWidget*) { return csv; });
            items[4]->trigger();
            CReportList::setExportFileChooser({});
            QFile f(csv);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QList<QByteArray> lines = f.readAll().split('\n');
            QVERIFY2(
                lines.value(0).contains("Bits,Source IP,Destination IP,Source MAC,Destination MAC"),
                lines.value(0).constData());
            QCOMPARE(lines.size() - 2, view->list()->model()->rowCount());
        }
        QCOMPARE(items[0]->text(), QStringLiteral("Capture And Decode"));
        QCOMPARE(items[1]->text(), QStringLiteral("Single Node"));
        QCOMPARE(items[2]->text(), QStringLiteral("Trace Node"));
        QVERIFY(items[2]->isEnabled());                    // the trace view takes the station over
        QVERIFY(!view->listMenuRequested(QPoint(10, 10))); // one menu per right-click
        items[0]->trigger();
        QCOMPARE(SettingsStore().string(setting::filter),
                 QStringLiteral("ether host 02:00:00:00:00:03"));
        QTRY_COMPARE(m_frame->activeTemplate(), int(view::CaptureDecode));
    }

    // On a capture file the statistics follow the file's clock: the peak
    // times are the frames' second and the status bar tells which second of
    // the file was shown last.
    void statisticsOnAFile_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("field"); // general: a Field; single: a direction's peak time
        using S = SingleNodeStats;
        QTest::newRow("general, bits") << int(cmd::General) << int(CGeneralInfoView::PeakBpsTime);
        QTest::newRow("general, packets")
            << int(cmd::General) << int(CGeneralInfoView::PeakPpsTime);
        QTest::newRow("general, utilization")
            << int(cmd::General) << int(CGeneralInfoView::PeakUtilizationTime);
        QTest::newRow("single node, total") << int(cmd::Single) << int(S::Total);
        QTest::newRow("single node, received") << int(cmd::Single) << int(S::Receive);
    }
    void statisticsOnAFile() {
        QFETCH(int, command);
        QFETCH(int, field);
        SettingsStore().writeString(setting::macAddress, QStringLiteral("02:00:00:00:00:02"));
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        QVERIFY(m_frame->sendCommand(command));
        QLabel* peakTime = nullptr;
        if (auto* view = qobject_cast<CGeneralInfoView*>(m_frame->activeView())) {
            QTRY_COMPARE(view->session().loopEnd(), LoopEnd::EndOfFile);
            view->tick();
            peakTime = view->field(CGeneralInfoView::Field(field));
        } else {
            auto* node = qobject_cast<CSingleNodeView*>(m_frame->activeView());
            QVERIFY(node);
            QTRY_COMPARE(node->session(0).loopEnd(), LoopEnd::EndOfFile);
            QTRY_COMPARE(node->session(1).loopEnd(), LoopEnd::EndOfFile);
            node->tick();
            peakTime = node->field(field, CSingleNodeView::PeakTime);
        }
        const qint64 second = kStart / 1'000'000;
        QCOMPARE(peakTime->text(), peakTimeText(second));
        QCOMPARE(m_frame->viewStatusText(),
                 QStringLiteral("File second 0 (%1), real time, end of the file")
                     .arg(QDateTime::fromSecsSinceEpoch(second).toString(
                         QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
    }

    // "Trace Node" from the list: the trace opens on the picked station and runs.
    void traceNodeFromTheList() {
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        QVERIFY(m_frame->sendCommand(cmd::General));
        auto* view = qobject_cast<CGeneralInfoView*>(m_frame->activeView());
        QTRY_COMPARE(view->session().loopEnd(), LoopEnd::EndOfFile);
        QVERIFY(m_frame->sendCommand(cmd::Stop));
        view->list()->selectRow(2);
        view->listRightClicked();
        QVERIFY(view->listMenuRequested(QPoint(10, 10)));
        view->traceNode();
        QTRY_COMPARE(m_frame->activeTemplate(), int(view::TraceSingle));
        auto* trace = qobject_cast<CCaptureView*>(m_frame->activeView());
        QVERIFY(trace);
        QVERIFY(trace->isCapturing());
        QCOMPARE(SettingsStore().string(setting::macAddress), QStringLiteral("02:00:00:00:00:02"));
    }

    // "Single Node" from the list: the single node view watches the picked station.
    void singleNodeFromTheList() {
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        QVERIFY(m_frame->sendCommand(cmd::General));
        auto* view = qobject_cast<CGeneralInfoView*>(m_frame->activeView());
        QTRY_COMPARE(view->session().loopEnd(), LoopEnd::EndOfFile);
        QVERIFY(m_frame->sendCommand(cmd::Stop));
        QCOMPARE(view->model()->rowCount(), 3); // the interrupted second
        view->list()->selectRow(2);
        view->listRightClicked();
        QVERIFY(view->listMenuRequested(QPoint(10, 10)));
        view->singleNode();
        QTRY_COMPARE(m_frame->activeTemplate(), int(view::SingleNode));
        auto* node = qobject_cast<CSingleNodeView*>(m_frame->activeView());
        QVERIFY(node);
        QCOMPARE(node->nodeMac(), QStringLiteral("02:00:00:00:00:02"));
        QVERIFY(node->isCapturing());
        QCOMPARE(node->session(CSingleNodeView::kToSlot).filterText(),
                 QStringLiteral("ether dst 02:00:00:00:00:02"));
        QCOMPARE(node->session(CSingleNodeView::kFromSlot).filterText(),
                 QStringLiteral("ether src 02:00:00:00:00:02"));
        QTRY_COMPARE(node->session(0).loopEnd(), LoopEnd::EndOfFile);
        QTRY_COMPARE(node->session(1).loopEnd(), LoopEnd::EndOfFile);
        node->tick();
        using S = SingleNodeStats;
        QCOMPARE(node->field(S::Receive, CSingleNodeView::Bps)->text(),
                 QString::number((1514 + 24 + 60 + 24) * 8));
        QCOMPARE(node->field(S::Send, CSingleNodeView::Bps)->text(),
                 QString::number((60 + 24) * 8));
        QCOMPARE(node->info(CSingleNodeView::LastSentToMac)->text(),
                 QStringLiteral("02:00:00:00:00:FF"));
        QCOMPARE(node->info(CSingleNodeView::LastSentToIp)->text(), QStringLiteral("-"));
        QCOMPARE(node->info(CSingleNodeView::LastReceivedFromIp)->text(),
                 QStringLiteral("10.0.0.3"));
        QCOMPARE(node->info(CSingleNodeView::NodeIp)->text(), QStringLiteral("Undiscover"));
        QCOMPARE(node->info(CSingleNodeView::NodeName)->text(),
                 QStringLiteral("02:00:00:00:00:02"));
        QCOMPARE(toolbarTips(*m_frame),
                 (QStringList{QStringLiteral("Stop"), QStringLiteral("Address Book+")}));

        // Another station from Address Book+: the old one's partners and
        // peaks leave the screen at once.
        QVERIFY(node->field(S::Receive, CSingleNodeView::Peak)->text() !=
                QStringLiteral("0.000000"));
        PickedNode other{QStringLiteral("0A:0B:0C:0D:0E:0F"), QStringLiteral("10.0.0.9"),
                         QStringLiteral("HOST")};
        node->setPicker([&other](QWidget*) { return other; });
        QVERIFY(m_frame->sendCommand(cmd::AddressBookPlus));
        for (auto i : {CSingleNodeView::LastSentToMac, CSingleNodeView::LastSentToIp,
                       CSingleNodeView::LastReceivedFromMac, CSingleNodeView::LastReceivedFromIp})
            QCOMPARE(node->info(i)->text(), QString());
        for (int d : {S::Total, S::Receive, S::Send}) {
            QCOMPARE(node->field(d, CSingleNodeView::Peak)->text(), QStringLiteral("0.000000"));
            QCOMPARE(node->field(d, CSingleNodeView::PeakTime)->text(), QString());
        }
    }

    // A node that is no MAC address starts no capture: the operator is asked to
    // pick one, and a pick from the address book starts the captures.
    void singleNodeWithoutANode_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("first"); // the message's first line
        QTest::newRow("empty") << QString() << QStringLiteral("No node is chosen.");
        QTest::newRow("malformed") << QStringLiteral("02:00:00:00:00")
                                   << QStringLiteral("\"02:00:00:00:00\" is not a MAC address.");
        QTest::newRow("too long") << QStringLiteral("02:00:00:00:00:02 or ether")
                                  << QStringLiteral(
                                         "\"02:00:00:00:00:02 or ether\" is not a MAC address.");
    }
    void singleNodeWithoutANode() {
        QFETCH(QString, stored);
        QFETCH(QString, first);
        ScriptedMessageService messages;
        SettingsStore().writeString(setting::macAddress, stored);
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        QVERIFY(m_frame->sendCommand(cmd::Single));
        auto* node = qobject_cast<CSingleNodeView*>(m_frame->activeView());
        QVERIFY(node);
        QVERIFY(!node->isCapturing());
        QVERIFY(!node->session(0).isRunning());
        QVERIFY(!node->session(1).isRunning());
        QCOMPARE(messages.shown().size(), 1);
        QCOMPARE(messages.shown()[0].text,
                 first + QStringLiteral("\nPick the node to watch with Address Book+."));
        QCOMPARE(toolbarTips(*m_frame),
                 (QStringList{QStringLiteral("Start"), QStringLiteral("Address Book+")}));

        // Closing the picker without a row changes nothing.
        PickedNode pick;
        node->setPicker([&pick](QWidget*) { return pick; });
        QVERIFY(m_frame->sendCommand(cmd::AddressBookPlus));
        QVERIFY(!node->isCapturing());
        QCOMPARE(node->nodeMac(), stored);

        pick = {QStringLiteral("0A:0B:0C:0D:0E:0F"), QStringLiteral("10.0.0.9"),
                QStringLiteral("HOST")};
        QVERIFY(m_frame->sendCommand(cmd::AddressBookPlus));
        QVERIFY(node->isCapturing());
        QVERIFY(node->session(0).isRunning());
        QCOMPARE(SettingsStore().string(setting::macAddress), QStringLiteral("0A:0B:0C:0D:0E:0F"));
        QCOMPARE(node->info(CSingleNodeView::NodeName)->text(), QStringLiteral("HOST"));

        // The book holds the MAC in lower case; the view finds it anyway.
        m_frame.reset();
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        QVERIFY(m_frame->sendCommand(cmd::Single));
        node = qobject_cast<CSingleNodeView*>(m_frame->activeView());
        QCOMPARE(node->nodeName(), QStringLiteral("HOST"));
        QCOMPARE(node->nodeIp(), QStringLiteral("10.0.0.9"));
        QVERIFY(m_frame->sendCommand(cmd::Stop));
        QVERIFY(!node->session(0).isRunning() && !node->session(1).isRunning());
        QCOMPARE(toolbarTips(*m_frame),
                 (QStringList{QStringLiteral("Start"), QStringLiteral("Address Book+")}));
        QCOMPARE(messages.shown().size(), 1);
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<CMainFrame> m_frame;
};

QTEST_MAIN(TestStatsViews)
#include "gui/widgets/row_list_view.h"
#include "tst_stats_views.moc"
