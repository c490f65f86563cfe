#include "analysis/capture_decode_view.h"
#include "analysis/classify.h"
#include "analysis/decode_tree.h"
#include "analysis/hex_dump.h"
#include "settings/adapter_list.h"
#include "settings/settings_store.h"
#include "shell/app_state.h"
#include "shell/commands.h"
#include "shell/main_frame.h"
#include "shell/qarsilo_view.h"
#include "support/scripted_message_service.h"
#include "support/test_paths.h"

#include <QAbstractItemModelTester>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <pcap/pcap.h>

using namespace qarsilo;

namespace {

const QString kCapture = QStringLiteral("tcpdump__eapon1.pcap"); // 114 frames, mixed

QString sharedFile(const QString& name) {
    return test::pcapDir() + QLatin1Char('/') + name;
}

// Frames of a capture file that pass `filter`, read straight with libpcap.
int countMatching(const QString& file, const QString& filter) {
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(QFile::encodeName(file).constData(), errbuf);
    if (!p)
        return -1;
    bpf_program prog{};
    if (pcap_compile(p, &prog, filter.toLatin1().constData(), 0, PCAP_NETMASK_UNKNOWN) != 0) {
        pcap_close(p);
        return -1;
    }
    int n = 0;
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    while (pcap_next_ex(p, &h, &bytes) == 1)
        n += pcap_offline_filter(&prog, h, bytes) != 0;
    pcap_freecode(&prog);
    pcap_close(p);
    return n;
}

ViewRegistry analyzerRegistry() {
    ViewRegistry r;
    r.add(view::Start, QStringLiteral("CqarsiloView"),
          [](QWidget* parent) -> CView* { return new CqarsiloView(parent); });
    r.add(view::CaptureDecode, QStringLiteral("CCaptureDecodeView"),
          [](QWidget* parent) -> CView* { return new CCaptureDecodeView(parent); });
    return r;
}

QStringList toolbarTips(CMainFrame& frame) {
    QStringList tips;
    for (QAction* a : frame.viewToolBar()->actions())
        tips << a->toolTip();
    return tips;
}

} // namespace

class TestCaptureDecodeView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void init() {
        SettingsStore().writeString(setting::filter, QString());
        app::setSelectedAdapter(captureFileAdapterName(sharedFile(kCapture)));
        m_frame = std::make_unique<CMainFrame>(analyzerRegistry());
        QVERIFY(m_frame->switchToView(view::CaptureDecode));
        m_view = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
        QVERIFY(m_view);
    }

    void cleanup() {
        m_view = nullptr;
        m_frame.reset();
    }

    void listsEveryFrameWithItsTexts() {
        QAbstractItemModelTester tester(m_view->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->tick();
        QAbstractItemModel* model = m_view->model();
        QCOMPARE(model->rowCount(), 114);
        const QStringList titles = {QStringLiteral("No."),      QStringLiteral("Time"),
                                    QStringLiteral("Source"),   QStringLiteral("Destination"),
                                    QStringLiteral("Protocol"), QStringLiteral("Info")};
        const int widths[] = {50, 150, 150, 150, 100};
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(model->headerData(c, Qt::Horizontal).toString(), titles[c]);
            if (c < 5)
                QCOMPARE(m_view->list()->columnWidth(c), widths[c]);
        }
        for (int row : {0, 1, 57, 113}) {
            const auto f = m_view->store().at(std::size_t(row));
            const FrameTexts t = frameTexts(f.header, f.bytes);
            const QStringList expected = {
                QString::number(row + 1), t.time, t.source, t.destination, t.protocol, t.info};
            for (int c = 0; c < 6; ++c)
                QCOMPARE(model->index(row, c).data().toString(), expected[c]);
        }
        QCOMPARE(m_frame->linkSpeedText(), QStringLiteral("10 Mbps"));
        QCOMPARE(m_view->dump()->isReadOnly(), true);
    }

    void startAndStopOnTheToolbar() {
        QVERIFY(m_view->capturing());
        m_frame->updateCommandUi();
        QCOMPARE(toolbarTips(*m_frame),
                 (QStringList{QStringLiteral("Stop"), QStringLiteral("Address Book+")}));
        // The filter button runs the filter wizard.
        QVERIFY(m_frame->viewToolBar()->actions().at(1)->isEnabled());
        QVERIFY(m_frame->sendCommand(cmd::Stop));
        QVERIFY(!m_view->capturing());
        QCOMPARE(toolbarTips(*m_frame),
                 (QStringList{QStringLiteral("Start"), QStringLiteral("Address Book+")}));
        QVERIFY(m_frame->sendCommand(cmd::Start));
        QVERIFY(m_view->capturing());
    }

    void numberingGoesOnAfterStopAndStart() {
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->stop();
        QCOMPARE(m_view->model()->rowCount(), 114);
        // Reading the file again appends behind what is there.
        QVERIFY(m_view->start());
        QTRY_COMPARE(m_view->store().size(), std::size_t(228));
        m_view->tick();
        QCOMPARE(m_view->model()->index(114, 0).data().toString(), QStringLiteral("115"));
        QCOMPARE(m_view->model()->index(227, 0).data().toString(), QStringLiteral("228"));
    }

    void filterChangeStartsAfresh_data() {
        QTest::addColumn<QString>("filter");
        QTest::newRow("udp") << "udp";
        QTest::newRow("arp") << "arp";
        QTest::newRow("empty captures everything") << "";
    }

    void filterChangeStartsAfresh() {
        QFETCH(QString, filter);
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->tick();
        m_view->showFrame(3);
        QVERIFY(m_view->tree()->topLevelItemCount() > 0);

        m_view->changeFilter(filter);
        QCOMPARE(SettingsStore().string(setting::filter), filter);
        QCOMPARE(m_view->filter(), filter);
        // Tree and dump are emptied with the list.
        QCOMPARE(m_view->tree()->topLevelItemCount(), 0);
        QVERIFY(m_view->dump()->toPlainText().isEmpty());
        const int expected = countMatching(sharedFile(kCapture), filter);
        QVERIFY(expected > 0);
        QTRY_COMPARE(m_view->store().size(), std::size_t(expected));
        m_view->tick();
        QCOMPARE(m_view->model()->rowCount(), expected);
        QCOMPARE(m_view->model()->index(0, 0).data().toString(), QStringLiteral("1"));

        // A new analyzer takes the stored filter.
        QVERIFY(m_frame->switchToView(view::CaptureDecode));
        auto* fresh = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
        QCOMPARE(fresh->filter(), filter);
        QTRY_COMPARE(fresh->store().size(), std::size_t(expected));
    }

    void filterThatDoesNotCompileIsReported() {
        test::ScriptedMessageService messages;
        m_view->changeFilter(QStringLiteral("udp and ((("));
        QCOMPARE(messages.shown().size(), 1);
        QVERIFY(messages.shown()[0].text.startsWith(
            QStringLiteral("The capture filter \"udp and (((\" cannot be used")));
        QCOMPARE(messages.shown()[0].caption, QStringLiteral("Error"));
        QVERIFY(!m_view->capturing());
        QCOMPARE(toolbarTips(*m_frame).value(0), QStringLiteral("Start"));
        QCOMPARE(m_view->model()->rowCount(), 0);
    }

    void adapterThatCannotBeOpened() {
        test::ScriptedMessageService messages;
        app::setSelectedAdapter(
            captureFileAdapterName(m_dir.filePath(QStringLiteral("none.pcap"))));
        QVERIFY(m_frame->switchToView(view::CaptureDecode));
        auto* v = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
        QCOMPARE(messages.shown().size(), 1);
        QCOMPARE(messages.shown()[0].text, QStringLiteral("Error opening selected adapter"));
        QCOMPARE(messages.shown()[0].caption, QStringLiteral("Error"));
        QVERIFY(!v->capturing());
        QCOMPARE(toolbarTips(*m_frame),
                 (QStringList{QStringLiteral("Start"), QStringLiteral("Address Book+")}));
        QCOMPARE(v->model()->rowCount(), 0);
    }

    void doubleClickShowsThatFrame() {
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->tick();
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QTableView* list = m_view->list();
        const int row = 4;
        list->scrollTo(m_view->model()->index(row, 0));
        const QRect rect = list->visualRect(m_view->model()->index(row, 1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());

        const auto f = m_view->store().at(std::size_t(row));
        const DecodeNode tree = decodeFrame(f.header, f.bytes);
        QCOMPARE(m_view->tree()->topLevelItemCount(), 1);
        QCOMPARE(m_view->tree()->topLevelItem(0)->text(0), tree.text);
        QCOMPARE(m_view->tree()->topLevelItem(0)->childCount(), int(tree.children.size()));
        QVERIFY(m_view->tree()->topLevelItem(0)->isExpanded());
        QVERIFY(!m_view->tree()->topLevelItem(0)->icon(0).isNull());
        QString dump = hexDump(f.header, f.bytes);
        dump.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QCOMPARE(m_view->dump()->toPlainText() + QLatin1Char('\n'), dump);

        // Later frames do not change which frame a row stands for.
        m_view->stop();
        QVERIFY(m_view->start());
        QTRY_COMPARE(m_view->store().size(), std::size_t(228));
        m_view->tick();
        m_view->showFrame(row);
        QCOMPARE(m_view->dump()->toPlainText() + QLatin1Char('\n'), dump);

        // Enter on a row shows it too.
        list->setFocus();
        list->setCurrentIndex(m_view->model()->index(7, 0));
        QTest::keyClick(list, Qt::Key_Return);
        const auto g = m_view->store().at(7);
        QString dump7 = hexDump(g.header, g.bytes);
        dump7.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QCOMPARE(m_view->dump()->toPlainText() + QLatin1Char('\n'), dump7);
    }

    void saveAndReloadGiveTheSameFrames() {
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->tick();
        const QString path = m_dir.filePath(QStringLiteral("saved.pcap"));
        m_view->setSaveFileChooser([&path](QWidget*) { return path; });
        m_frame->updateCommandUi();
        QVERIFY(m_frame->action(cmd::SaveFrames)->isEnabled());
        QVERIFY(m_frame->sendCommand(cmd::SaveFrames));

        // The saved file, opened like any capture, gives the same frames.
        app::setSelectedAdapter(captureFileAdapterName(path));
        QVERIFY(m_frame->switchToView(view::CaptureDecode));
        auto* reloaded = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
        QTRY_COMPARE(reloaded->store().size(), std::size_t(114));
        char errbuf[PCAP_ERRBUF_SIZE];
        pcap_t* p = pcap_open_offline(QFile::encodeName(sharedFile(kCapture)).constData(), errbuf);
        QVERIFY(p);
        pcap_pkthdr* h = nullptr;
        const u_char* bytes = nullptr;
        for (std::size_t i = 0; pcap_next_ex(p, &h, &bytes) == 1; ++i) {
            const auto f = reloaded->store().at(i);
            QCOMPARE(f.header.tsSec, qint64(h->ts.tv_sec));
            QCOMPARE(f.header.tsUsec, qint64(h->ts.tv_usec));
            QCOMPARE(f.header.capLen, h->caplen);
            QCOMPARE(f.header.wireLen, h->len);
            QVERIFY(std::equal(bytes, bytes + h->caplen, f.bytes));
        }
        pcap_close(p);
    }

    void saveIsOfferedOnlyWithFrames() {
        test::ScriptedMessageService messages;
        app::setSelectedAdapter(captureFileAdapterName(m_dir.filePath(QStringLiteral("no.pcap"))));
        QVERIFY(m_frame->switchToView(view::CaptureDecode));
        m_frame->updateCommandUi();
        QVERIFY(!m_frame->action(cmd::SaveFrames)->isEnabled());
        QVERIFY(m_frame->switchToView(view::Start));
        m_frame->updateCommandUi();
        QVERIFY(!m_frame->action(cmd::SaveFrames)->isEnabled());
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CMainFrame> m_frame;
    CCaptureDecodeView* m_view = nullptr;
};

QTEST_MAIN(TestCaptureDecodeView)
#include "tst_capture_decode_view.moc"
