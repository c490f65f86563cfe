#include "app/builtin_views.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "gui/analysis/capture_decode_view.h"
#include "gui/shell/main_frame.h"
#include "gui/trace/traffic_trace_single.h"
#include "gui/widgets/mask_edit.h"
#include "support/fake_view_host.h"
#include "support/scripted_message_service.h"
#include "support/test_paths.h"

#include <QLabel>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;

namespace {

QString captureFile() {
    return captureFileAdapterName(test::pcapDir() + QStringLiteral("/tcpdump__eapon1.pcap"));
}

} // namespace

// The status bar's capture filter pane: the filter each window's capture
// really uses, and a click that changes it where the window can.
class TestCaptureFilterPane : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void init() {
        SettingsStore().writeString(setting::filter, QStringLiteral("udp"));
        SettingsStore().writeString(setting::macAddress, QStringLiteral("00:11:22:aa:bb:cc"));
        app::setSelectedAdapter(captureFile());
    }

    void paneShowsWhatTheCaptureUses_data() {
        QTest::addColumn<int>("view");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("changeable");
        QTest::newRow("analyzer: the stored filter")
            << int(view::CaptureDecode) << "Capture filter: udp" << true;
        QTest::newRow("general statistics: none")
            << int(view::GeneralInfo) << "Capture filter: none" << false;
        QTest::newRow("packet sizes: none")
            << int(view::PacketSize) << "Capture filter: none" << false;
        QTest::newRow("IPv4 chart: its own filter")
            << int(view::PDL3) << "Capture filter: ip" << false;
        QTest::newRow("applications chart: both captures")
            << int(view::PDApplication) << "Capture filter: tcp; udp" << false;
        QTest::newRow("single node: to and from the node")
            << int(view::SingleNode)
            << "Capture filter: ether dst 00:11:22:AA:BB:CC; ether src 00:11:22:AA:BB:CC" << true;
        QTest::newRow("start page: no pane") << int(view::Start) << "" << false;
    }

    void paneShowsWhatTheCaptureUses() {
        QFETCH(int, view);
        QFETCH(QString, expected);
        QFETCH(bool, changeable);
        test::ScriptedMessageService messages;
        CMainFrame frame(builtinViews());
        // A pane of the previous view does not stay behind.
        QVERIFY(frame.switchToView(view::CaptureDecode));
        QVERIFY(frame.switchToView(view));
        QVERIFY(messages.shown().isEmpty());
        // A long one is cut short in the pane and given whole in its tooltip.
        const QString shown = frame.captureFilterText();
        QVERIFY2(shown == expected ||
                     (shown.endsWith(QChar(0x2026)) && expected.startsWith(shown.chopped(1))),
                 qPrintable(shown));
        if (expected.isEmpty())
            return;
        QVERIFY(frame.captureFilterPane()->toolTip().startsWith(expected));
        QCOMPARE(frame.captureFilterPane()->text().contains(QStringLiteral("<a ")), changeable);

        // Shown whole beside the other panes, none of which it hides.
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QLabel* pane = frame.captureFilterPane();
        QVERIFY(pane->isVisible());
        QVERIFY2(
            pane->width() >= pane->sizeHint().width(),
            qPrintable(QStringLiteral("%1 < %2").arg(pane->width()).arg(pane->sizeHint().width())));
        const QRect paneRect(pane->mapTo(&frame, QPoint()), pane->size());
        for (QLabel* other : frame.statusBar()->findChildren<QLabel*>()) {
            if (other == pane || !other->isVisible())
                continue;
            const QRect r(other->mapTo(&frame, QPoint()), other->size());
            QVERIFY2(!paneRect.intersects(r), qPrintable(other->text()));
        }
    }

    // A click on the pane runs the analyzer's filter wizard; its filter then
    // shows in the pane and above the list.
    void clickChangesTheAnalyzersFilter() {
        test::ScriptedMessageService messages;
        CMainFrame frame(builtinViews());
        QVERIFY(frame.switchToView(view::CaptureDecode));
        auto* v = qobject_cast<CCaptureDecodeView*>(frame.activeView());
        QVERIFY(v);
        QVERIFY(v->captureFilterLabel()->text().contains(QStringLiteral(">udp<")));
        int runs = 0;
        v->setFilterWizardRunner([&](QWidget*) -> std::optional<QString> {
            ++runs;
            return QStringLiteral("arp or icmp");
        });
        Q_EMIT frame.captureFilterPane()->linkActivated(QStringLiteral("change"));
        QTRY_COMPARE(runs, 1);
        QCOMPARE(v->filter(), QStringLiteral("arp or icmp"));
        QCOMPARE(frame.captureFilterText(), QStringLiteral("Capture filter: arp or icmp"));
        QVERIFY(v->captureFilterLabel()->text().contains(QStringLiteral(">arp or icmp<")));

        // The label above the list runs it too.
        v->setFilterWizardRunner([&](QWidget*) -> std::optional<QString> {
            ++runs;
            return QString();
        });
        Q_EMIT v->captureFilterLabel()->linkActivated(QStringLiteral("change"));
        QTRY_COMPARE(runs, 2);
        QCOMPARE(frame.captureFilterText(), QStringLiteral("Capture filter: none"));
    }

    // Views report to any host, the test host included.
    void fakeHostHearsTheFilter() {
        test::FakeViewHost host;
        CCaptureDecodeView v;
        v.initialUpdate(&host);
        QCOMPARE(host.captureFilters, QStringList{QStringLiteral("udp")});
        QCOMPARE(host.filterCommand, int(cmd::AddressBookPlus));
    }

    // The trace's filter comes from its MAC field, at each start.
    void traceTellsItsFilter() {
        test::ScriptedMessageService messages;
        test::FakeViewHost host;
        CTrafficTraceSingle v;
        v.initialUpdate(&host);
        v.macField()->setText(QStringLiteral("02:00:00:00:00:aa"));
        QVERIFY(v.start());
        QCOMPARE(host.captureFilters.size(), 1);
        QCOMPARE(host.captureFilters[0].toLower(), QStringLiteral("ether host 02:00:00:00:00:aa"));
        QCOMPARE(host.filterCommand, 0);
        v.stop();
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestCaptureFilterPane)
#include "tst_capture_filter_pane.moc"
