#include "core/analysis/classify.h"
#include "core/analysis/decode_tree.h"
#include "core/analysis/hex_dump.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "gui/analysis/capture_decode_view.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/qarsilo_view.h"
#include "gui/widgets/row_list_view.h"
#include "support/run_process.h"
#include "support/scripted_message_service.h"
#include "support/test_paths.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QToolBar>
#include <QTreeWidget>
#include <pcap/pcap.h>

#include <cerrno>
#include <cstring>

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
        SettingsStore().writeNumber(setting::frameStoreBudget, 1024);
        SettingsStore().writeString(setting::spillFolder, QString());
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
        QVERIFY(m_view->isCapturing());
        m_frame->updateCommandUi();
        QCOMPARE(toolbarTips(*m_frame),
                 (QStringList{QStringLiteral("Stop"), QStringLiteral("Address Book+")}));
        // The filter button runs the filter wizard.
        QVERIFY(m_frame->viewToolBar()->actions().at(1)->isEnabled());
        QVERIFY(m_frame->sendCommand(cmd::Stop));
        QVERIFY(!m_view->isCapturing());
        QCOMPARE(toolbarTips(*m_frame),
                 (QStringList{QStringLiteral("Start"), QStringLiteral("Address Book+")}));
        // Read at the pace of its time stamps (107 s), the file is still being
        // read when Start comes.
        m_view->session().setFileReplay(FileReplay::Paced, 1.0);
        m_view->changeFilter(QString());
        QVERIFY(m_view->isCapturing());
        QVERIFY(m_frame->sendCommand(cmd::Stop));
        QVERIFY(m_frame->sendCommand(cmd::Start));
        QVERIFY(m_view->isCapturing());
    }

    // A file is read once: Start after its end adds nothing and says so; Start
    // after a Stop part-way goes on behind the frames already listed.
    void fileIsReadOnce() {
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->stop();
        QVERIFY(!m_view->start());
        QVERIFY(!m_view->isCapturing());
        QCOMPARE(m_view->store().size(), std::size_t(114));
        QVERIFY2(
            m_frame->statusText().startsWith(QStringLiteral("End of capture file: 114 frames")),
            qPrintable(m_frame->statusText()));

        // A new filter reads the file afresh; stopped part-way (paced, the file
        // spans 107 s), started again, it still lists every matching frame once.
        const std::size_t udp =
            std::size_t(countMatching(sharedFile(kCapture), QStringLiteral("udp")));
        m_view->session().setFileReplay(FileReplay::Paced, 1.0);
        m_view->changeFilter(QStringLiteral("udp"));
        QTRY_VERIFY(m_view->store().size() > 0);
        m_view->stop();
        QVERIFY(m_view->store().size() < udp);
        m_view->session().setFileReplay(FileReplay::AsFastAsPossible);
        QVERIFY(m_view->start());
        QTRY_COMPARE(m_view->store().size(), udp);
        QTRY_COMPARE(m_view->session().loopEnd(), LoopEnd::EndOfFile);
        QCOMPARE(m_view->store().size(), udp);
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
        QVERIFY(!m_view->isCapturing());
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
        QCOMPARE(messages.shown()[0].text.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("Error opening selected adapter"));
        QCOMPARE(messages.shown()[0].caption, QStringLiteral("Error"));
        QVERIFY(!v->isCapturing());
        QCOMPARE(toolbarTips(*m_frame),
                 (QStringList{QStringLiteral("Start"), QStringLiteral("Address Book+")}));
        QCOMPARE(v->model()->rowCount(), 0);
    }

    void doubleClickShowsThatFrame() {
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->tick();
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        RowListView* list = m_view->list();
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

        // Later frames (another file, here) do not change which frame a row stands for.
        m_view->stop();
        const QString copy = m_dir.filePath(QStringLiteral("copy.pcap"));
        QFile::remove(copy);
        QVERIFY(QFile::copy(sharedFile(kCapture), copy));
        app::setSelectedAdapter(captureFileAdapterName(copy));
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

    // Also with every frame spilled to the temporary file (a budget too small
    // to keep any in memory): saved, reloaded and filtered as kept ones.
    void saveAndReloadGiveTheSameFrames_data() {
        QTest::addColumn<quint32>("budgetMiB");
        QTest::newRow("in memory") << 1024u;
        QTest::newRow("spilled") << 1u;
    }
    void saveAndReloadGiveTheSameFrames() {
        QFETCH(quint32, budgetMiB);
        if (budgetMiB != 1024) {
            SettingsStore().writeNumber(setting::frameStoreBudget, budgetMiB);
            QVERIFY(m_frame->switchToView(view::Start));
            QVERIFY(m_frame->switchToView(view::CaptureDecode));
            m_view = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
        }
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        QCOMPARE(m_view->store().framesInMemory(), std::size_t(budgetMiB == 1 ? 0 : 114));
        m_view->tick();
        // A name without an extension gets ".pcap".
        const QString path = m_dir.filePath(QStringLiteral("saved.pcap"));
        m_view->setSaveFileChooser(
            [this](QWidget*) { return m_dir.filePath(QStringLiteral("saved")); });
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
        reloaded->tick();
        QVERIFY(reloaded->applyDisplayFilter(QStringLiteral("udp")));
        reloaded->waitForDisplayFilter();
        QCOMPARE(reloaded->model()->rowCount(),
                 countMatching(sharedFile(kCapture), QStringLiteral("udp")));
    }

    // Tools > Spill Folder... chooses where frames past the budget go; when
    // the spill file cannot be made there, the status pane counts the frames
    // not stored beside the capture's drops and one message says why.
    void spillFolderChosenAndItsFailureTold_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("filter"); // one that passes every frame: the store copies
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("messages");
        const QString all = QStringLiteral("len >= 0");
        QTest::newRow("usable folder")
            << QStringLiteral("spill") << all << QStringLiteral("Frames: 114  Dropped: 0") << 0;
        QTest::newRow("missing folder")
            << QStringLiteral("missing") << all
            << QStringLiteral("Frames: 0  Dropped: 0  Not stored: 114") << 1;
        // A capture file read whole needs no spill file: its frames are read
        // back from it.
        QTest::newRow("missing folder, frames read back from the file")
            << QStringLiteral("missing") << QString() << QStringLiteral("Frames: 114  Dropped: 0")
            << 0;
    }
    void spillFolderChosenAndItsFailureTold() {
        QFETCH(QString, folder);
        QFETCH(QString, filter);
        QFETCH(QString, status);
        QFETCH(int, messages);
        test::ScriptedMessageService shown;
        QTemporaryDir tmp;
        QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("spill")));
        const QString path = tmp.filePath(folder);
        QString offered;
        m_frame->setSpillFolderChooser([&](QWidget*, const QString& current) {
            offered = current;
            return path;
        });
        QVERIFY(m_frame->sendCommand(cmd::SpillFolder));
        QCOMPARE(offered, QDir::tempPath());
        QCOMPARE(SettingsStore().string(setting::spillFolder), path);

        SettingsStore().writeNumber(setting::frameStoreBudget, 1); // every frame spills
        SettingsStore().writeString(setting::filter, filter);
        QVERIFY(m_frame->switchToView(view::Start));
        QVERIFY(m_frame->switchToView(view::CaptureDecode));
        m_view = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
        QTRY_COMPARE(m_view->store().size() + m_view->store().dropped(), std::size_t(114));
        for (int i = 0; i < 5; ++i)
            m_view->tick();
        QCOMPARE(m_frame->viewStatusText(), status);
        QCOMPARE(shown.shown().size(), messages);
        if (messages > 0) {
            QVERIFY2(shown.shown()[0].text.contains(QDir::toNativeSeparators(path)),
                     qPrintable(shown.shown()[0].text));
            QVERIFY2(shown.shown()[0].text.contains(QString::fromLocal8Bit(std::strerror(ENOENT))),
                     qPrintable(shown.shown()[0].text));
        }
    }

    // Frames past the budget are read back from the capture file itself; one
    // that changed since is said once, and its old frames are not shown as
    // whatever the file holds now.
    void sourceFileChangedIsSaid_data() {
        QTest::addColumn<bool>("truncate");
        QTest::newRow("unchanged") << false;
        QTest::newRow("cut short after reading") << true;
    }
    void sourceFileChangedIsSaid() {
        QFETCH(bool, truncate);
        test::ScriptedMessageService shown;
        const QString copy = m_dir.filePath(QStringLiteral("read-back.pcap"));
        QFile::remove(copy);
        QVERIFY(QFile::copy(sharedFile(kCapture), copy));
        SettingsStore().writeNumber(setting::frameStoreBudget, 1); // every frame past it
        app::setSelectedAdapter(captureFileAdapterName(copy));
        QVERIFY(m_frame->switchToView(view::Start));
        QVERIFY(m_frame->switchToView(view::CaptureDecode));
        m_view = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
        QTRY_COMPARE(m_view->model()->rowCount(), 114);
        QTRY_VERIFY(!m_view->isCapturing());
        QVERIFY(m_view->store().readsBackFromSource());

        // The last frame, as libpcap reads it from the untouched file.
        char errbuf[PCAP_ERRBUF_SIZE];
        pcap_t* p = pcap_open_offline(QFile::encodeName(sharedFile(kCapture)).constData(), errbuf);
        QVERIFY(p);
        pcap_pkthdr* h = nullptr;
        const u_char* bytes = nullptr;
        QString expected;
        while (pcap_next_ex(p, &h, &bytes) == 1)
            expected = hexDump(frameHeaderFrom(*h), bytes);
        pcap_close(p);
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        expected.chop(1);

        if (truncate) {
            QFile f(copy);
            QVERIFY(f.resize(f.size() - 10));
        }
        m_view->showFrame(113);
        m_view->showFrame(113);
        QCOMPARE(m_view->dump()->toPlainText() == expected, !truncate);
        QCOMPARE(shown.shown().size(), truncate ? 1 : 0);
        if (truncate)
            QVERIFY2(shown.shown()[0].text.contains(QDir::toNativeSeparators(copy)),
                     qPrintable(shown.shown()[0].text));
    }

    // A file cut short: the whole frames before the cut are listed, and the
    // status bar says why the reading stopped instead of "End of capture file".
    void fileCutShortIsSaid() {
        QFile in(sharedFile(kCapture));
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QString cut = m_dir.filePath(QStringLiteral("cut.pcap"));
        QFile out(cut);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(in.readAll().chopped(int(in.size() / 2)));
        out.close();
        app::setSelectedAdapter(captureFileAdapterName(cut));
        QVERIFY(m_frame->switchToView(view::Start));
        QVERIFY(m_frame->switchToView(view::CaptureDecode));
        auto* v = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
        QTRY_COMPARE(v->session().loopEnd(), LoopEnd::Error);
        v->tick();
        QVERIFY2(m_frame->statusText().startsWith(QStringLiteral("Capture stopped: ")) &&
                     m_frame->statusText().contains(QStringLiteral("truncated")),
                 qPrintable(m_frame->statusText()));
        QVERIFY(v->store().size() > 10 && v->store().size() < 114);
        QCOMPARE(std::size_t(v->model()->rowCount()), v->store().size());
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

    // The tree and the dump follow the current row, however it moves.
    void selectionIsFollowed() {
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->tick();
        m_view->list()->setFocus();
        for (int row : {3, 4, 90}) {
            if (row == 4)
                QTest::keyClick(m_view->list(), Qt::Key_Down);
            else
                m_view->list()->setCurrentIndex(m_view->model()->index(row, 2));
            const auto f = m_view->store().at(std::size_t(row));
            QString dump = hexDump(f.header, f.bytes);
            dump.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            QCOMPARE(m_view->dump()->toPlainText() + QLatin1Char('\n'), dump);
        }
    }

    // A field marks its bytes in the dump; a byte selects the deepest field
    // that covers it (frame 11 is an ARP request).
    void fieldsAndBytesPointAtEachOther_data() {
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("field"); // the start of the selected node's text
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("length");
        QTest::newRow("destination MAC") << 3 << QStringLiteral("Destination Address") << 0 << 6;
        QTest::newRow("ethertype") << 12 << QStringLiteral("Ethertype") << 12 << 2;
        QTest::newRow("sender IP, second line")
            << 29 << QStringLiteral("Sender Protocol Address") << 28 << 4;
        QTest::newRow("target IP, last byte")
            << 41 << QStringLiteral("Target Protocol Address") << 38 << 4;
    }
    void fieldsAndBytesPointAtEachOther() {
        QFETCH(int, byte);
        QFETCH(QString, field);
        QFETCH(int, offset);
        QFETCH(int, length);
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->tick();
        m_view->showFrame(10);
        m_view->selectFieldAtByte(byte);
        QTreeWidgetItem* item = m_view->tree()->currentItem();
        QVERIFY(item);
        QVERIFY2(item->text(0).startsWith(field), qPrintable(item->text(0)));
        const auto [from, count] = m_view->highlightedBytes();
        QCOMPARE(from, offset);
        QCOMPARE(count, length);
        // The marks sit on the byte's hex digits and its character.
        const QList<QTextEdit::ExtraSelection> marks = m_view->dump()->extraSelections();
        QVERIFY(!marks.isEmpty());
        const QString hex = marks.first().cursor.selectedText();
        QCOMPARE(hex.size(), std::min(count, 16 - from % 16) * 3 - 1);
        // Clicking the byte's hex digits in the dump selects the same field.
        m_view->tree()->setCurrentItem(nullptr);
        QTextCursor at(m_view->dump()->document());
        at.setPosition((byte / 16) * 72 + 7 + (byte % 16) * 3);
        m_view->dump()->setTextCursor(at);
        QCOMPARE(m_view->tree()->currentItem(), item);
    }

    // The display filter shows what tcpdump shows for the same expression,
    // with the frames' own numbers; one that does not compile changes nothing.
    void displayFilterAgreesWithTcpdump_data() {
        QTest::addColumn<QString>("expression");
        QTest::newRow("udp") << QStringLiteral("udp");
        QTest::newRow("arp") << QStringLiteral("arp");
        QTest::newRow("broadcast") << QStringLiteral("ether broadcast");
        QTest::newRow("port 138 and not arp") << QStringLiteral("udp port 138 and not arp");
    }
    void displayFilterAgreesWithTcpdump() {
        QFETCH(QString, expression);
        const QString tcpdump = QStandardPaths::findExecutable(QStringLiteral("tcpdump"));
        QVERIFY2(!tcpdump.isEmpty(), "tcpdump is not installed (scripts/setup.sh installs it)");
        const test::ProcessResult r =
            test::runProcess(tcpdump, {QStringLiteral("-n"), QStringLiteral("-r"),
                                       sharedFile(kCapture), expression});
        QCOMPARE(r.exitCode, 0);
        const int expected = int(r.out.count('\n'));
        QVERIFY(expected > 0 && expected < 114);

        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->tick();
        QVERIFY(m_view->applyDisplayFilter(expression));
        m_view->waitForDisplayFilter();
        QCOMPARE(m_view->model()->rowCount(), expected);
        int previous = 0;
        for (int row = 0; row < expected; ++row) {
            const int number = m_view->model()->index(row, 0).data().toInt();
            QVERIFY(number > previous);
            previous = number;
        }
        QVERIFY(m_frame->viewStatusText().contains(QStringLiteral("Shown: %1").arg(expected)));
        // Going to a frame the filter hides finds nothing; to a shown one selects it.
        QVERIFY(m_view->goToFrame(qulonglong(previous)));
        QCOMPARE(m_view->list()->currentIndex().row(), expected - 1);

        QVERIFY(!m_view->applyDisplayFilter(QStringLiteral("udp prot 53")));
        QCOMPARE(m_view->model()->rowCount(), expected);
        QVERIFY(m_view->applyDisplayFilter(QString()));
        QCOMPARE(m_view->model()->rowCount(), 114);
    }

    void findAndGoTo() {
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->tick();
        QVERIFY(m_view->find(QStringLiteral("arp"), true));
        const int first = m_view->list()->currentIndex().row();
        QVERIFY(m_view->model()->index(first, 4).data().toString().contains(QStringLiteral("ARP")));
        QVERIFY(m_view->find(QStringLiteral("arp"), true));
        QVERIFY(m_view->list()->currentIndex().row() > first);
        QVERIFY(m_view->find(QStringLiteral("arp"), false));
        QCOMPARE(m_view->list()->currentIndex().row(), first);
        QVERIFY(!m_view->find(QStringLiteral("no such text anywhere"), true));
        m_view->setFrameNumberAsker([](QWidget*, qulonglong last) { return last / 2; });
        QVERIFY(m_frame->sendCommand(cmd::GoToFrame));
        QCOMPARE(m_view->list()->currentIndex().row(), 56);
        QVERIFY(!m_view->goToFrame(115));
    }

    // Pane sizes and column widths, and the time format, come back with the
    // next analyzer.
    void layoutAndTimeFormatAreKept() {
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        m_view->splitter()->setSizes({400, 100});
        m_view->list()->setColumnWidth(2, 222);
        const QList<int> sizes = m_view->splitter()->sizes();
        QVERIFY(m_frame->sendCommand(cmd::TimeSinceFirstFrame));
        QVERIFY(m_frame->switchToView(view::CaptureDecode));
        m_view = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
        QTRY_COMPARE(m_view->splitter()->sizes(), sizes);
        QCOMPARE(m_view->list()->columnWidth(2), 222);
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        m_view->tick();
        QCOMPARE(m_view->model()->index(0, 1).data().toString(), QStringLiteral("0.000000"));
        QVERIFY(m_frame->sendCommand(cmd::TimeAsCaptured));
        const auto f = m_view->store().at(0);
        QCOMPARE(m_view->model()->index(0, 1).data().toString(),
                 frameTexts(f.header, f.bytes).time);
    }

    // What a new user meets first: a time format that fits its column, Start
    // offered once a file has been read to its end, and Escape leaving no
    // error of a display filter behind.
    void whatANewUserSees_data() {
        QTest::addColumn<QString>("check");
        QTest::newRow("date and time fit the Time column") << QStringLiteral("time column");
        QTest::newRow("Start, not Stop, at the end of the file") << QStringLiteral("end of file");
        QTest::newRow("Escape clears the filter's error") << QStringLiteral("escape");
        QTest::newRow("frame numbers fit the No. column") << QStringLiteral("number column");
    }
    void whatANewUserSees() {
        QFETCH(QString, check);
        QTRY_COMPARE(m_view->store().size(), std::size_t(114));
        if (check == QLatin1String("number column")) {
            // Seven digits at the default size need as much room as three here.
            RowListView* list = m_view->list();
            QFont big = list->font();
            big.setPixelSize(40);
            list->setFont(big);
            m_view->tick();
            const QModelIndex last = m_view->model()->index(113, CaptureListModel::Number);
            QCOMPARE(last.data().toString(), QStringLiteral("114"));
            QStyleOptionViewItem option;
            option.initFrom(list);
            option.font = list->font();
            const int needed = list->itemDelegateForIndex(last)->sizeHint(option, last).width() + 1;
            QVERIFY2(list->columnWidth(CaptureListModel::Number) >= needed,
                     qPrintable(QStringLiteral("%1 < %2")
                                    .arg(list->columnWidth(CaptureListModel::Number))
                                    .arg(needed)));
        } else if (check == QLatin1String("time column")) {
            QVERIFY(m_frame->sendCommand(cmd::TimeDateAndTime));
            // The chosen format comes back with the next analyzer, and fits there too.
            for (int pass = 0; pass < 2; ++pass) {
                m_view->tick();
                RowListView* list = m_view->list();
                const QModelIndex time = m_view->model()->index(0, CaptureListModel::Time);
                QVERIFY(time.data().toString().size() >= 26); // yyyy-MM-dd HH:mm:ss.zzzzzz
                QStyleOptionViewItem option;
                option.initFrom(list);
                option.font = list->font();
                const int needed =
                    list->itemDelegateForIndex(time)->sizeHint(option, time).width() + 1;
                QVERIFY2(list->columnWidth(CaptureListModel::Time) >= needed,
                         qPrintable(QStringLiteral("%1 < %2")
                                        .arg(list->columnWidth(CaptureListModel::Time))
                                        .arg(needed)));
                QVERIFY(m_frame->switchToView(view::CaptureDecode));
                m_view = qobject_cast<CCaptureDecodeView*>(m_frame->activeView());
                QTRY_COMPARE(m_view->store().size(), std::size_t(114));
            }
            QVERIFY(m_frame->sendCommand(cmd::TimeAsCaptured));
        } else if (check == QLatin1String("end of file")) {
            QTRY_COMPARE(m_view->session().loopEnd(), LoopEnd::EndOfFile);
            m_view->tick();
            m_frame->updateCommandUi();
            QCOMPARE(toolbarTips(*m_frame),
                     (QStringList{QStringLiteral("Start"), QStringLiteral("Address Book+")}));
            QVERIFY(m_frame->viewToolBar()->actions().at(0)->isEnabled());
            QVERIFY(!m_view->isCommandEnabled(cmd::Stop));
            QVERIFY(m_view->isCommandEnabled(cmd::Start));
            // Start then says the file is read to its end, and adds nothing.
            QVERIFY(m_frame->sendCommand(cmd::Start));
            QVERIFY(m_frame->statusText().startsWith(
                QStringLiteral("End of capture file: 114 frames")));
            QCOMPARE(m_view->store().size(), std::size_t(114));
        } else if (check == QLatin1String("escape")) {
            m_frame->show();
            QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
            QLineEdit* bar = m_view->displayFilterBar();
            bar->setFocus();
            QTRY_VERIFY(bar->hasFocus());
            QTest::keyClicks(bar, QStringLiteral("udp prot 53"));
            QTest::keyClick(bar, Qt::Key_Return);
            QVERIFY2(m_frame->statusText().startsWith(QStringLiteral("Display filter: ")),
                     qPrintable(m_frame->statusText()));
            QTest::keyClick(bar, Qt::Key_Escape);
            QVERIFY(bar->text().isEmpty());
            QCOMPARE(m_frame->statusText(), QStringLiteral("Ready"));
            QCOMPARE(m_view->model()->rowCount(), 114);
        } else {
            QFAIL("unknown check");
        }
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CMainFrame> m_frame;
    CCaptureDecodeView* m_view = nullptr;
};

QTEST_MAIN(TestCaptureDecodeView)
#include "tst_capture_decode_view.moc"
