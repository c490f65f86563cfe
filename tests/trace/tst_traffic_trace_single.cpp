// The trace window in the frame over crafted capture files: the menu command,
// what it reads and stores, its messages, monitoring with names from the
// address book, the log, the board, the layer, the picker and Stop.

#include "core/addressbook/address_database.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "gui/trace/traffic_trace_single.h"
#include "gui/widgets/mask_edit.h"
#include "support/capture_test_util.h"
#include "support/fake_view_host.h"
#include "support/scripted_message_service.h"
#include "support/trace_frames.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

constexpr long long kStart = 1'700'000'000'000'000; // microseconds

QSettings userSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qarsilo"),
                     QStringLiteral("qarsilo"));
}

bool white(const QImage& image, QPoint p) {
    return image.pixel(p * image.devicePixelRatio()) == qRgb(255, 255, 255);
}

} // namespace

class TestTrafficTraceSingle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        AddressDatabase::setDefaultFileName(m_dir.filePath(QStringLiteral("address.mdb")));
        AddressDatabase db;
        QVERIFY(db.open());
        const auto node = [](const char* mac, const char* name) {
            NodeRecord r;
            r.mac = QString::fromLatin1(mac);
            r.name = QString::fromLatin1(name);
            r.workgroup = r.location = r.subnet = QStringLiteral("-");
            return r;
        };
        QVERIFY2(db.addNode(node("02:00:00:00:00:AA", "WATCHED")), qPrintable(db.lastError()));
        QVERIFY(db.addNode(node("02:00:00:00:01:01", "-")));
        QVERIFY(db.addNode(node("02:00:00:00:01:02", "ALPHA")));

        // Seventeen peers in the first tenth of a second, then peer 2 again.
        std::vector<TestFrame> frames;
        for (int n = 1; n <= 17; ++n)
            frames.push_back({kStart + n * 1000, toPeer(n)});
        frames.push_back({kStart + 100'000, between(kMonitored, peer(2), ipv4Frame(17))});
        frames.push_back({kStart + 100'000, between(peer(3), peer(4), ipv4Frame(6))});
        m_capture = m_dir.filePath(QStringLiteral("trace.pcap"));
        QVERIFY(writeCapture(m_capture, DLT_EN10MB, frames));
    }

    void init() {
        auto settings = userSettings();
        settings.remove(setting::macAddress);
        settings.remove(setting::layer);
        app::setSelectedAdapter(captureFileAdapterName(m_capture));
    }

    void cleanup() { m_frame.reset(); }

    void menuShowsTheTraceWithStoredValues() {
        SettingsStore().writeString(setting::macAddress, QStringLiteral("02:00:00:00:00:AA"));
        SettingsStore().writeNumber(setting::layer, 2);
        CTrafficTraceSingle* view = open();
        QVERIFY(view);
        QCOMPARE(view->macField()->text(), QStringLiteral("02:00:00:00:00:aa"));
        QCOMPARE(view->layerList()->count(), 3);
        QCOMPARE(view->layerList()->itemText(1), QStringLiteral("IP-based Protocol"));
        QCOMPARE(view->layerList()->currentIndex(), 2);
        QCOMPARE(view->model().layer(), 2);
        QCOMPARE(view->nodeLifeField()->text(), QStringLiteral("5"));
        QCOMPARE(view->pathLifeField()->text(), QStringLiteral("10"));
        QVERIFY(view->useNameBox()->isChecked());
        QVERIFY(view->showPacketsBox()->isChecked());
        QCOMPARE(view->logLines(), QStringList{QStringLiteral("Networktrace Started")});
        QVERIFY(!view->isCapturing());
        // The layer is kept for the run when the settings lose it.
        userSettings().remove(setting::layer);
        view = open();
        QCOMPARE(view->layerList()->currentIndex(), 2);
        view->layerList()->setCurrentIndex(0);
    }

    void emptyMacIsRefused() {
        ScriptedMessageService messages;
        CTrafficTraceSingle* view = open();
        QCOMPARE(view->macField()->text(), QStringLiteral("__:__:__:__:__:__"));
        QVERIFY(!view->start());
        QCOMPARE(messages.shown().size(), 1);
        QCOMPARE(messages.shown()[0].text, QStringLiteral("Please Select node to monitor"));
        QCOMPARE(messages.shown()[0].caption, QStringLiteral("Info"));
        QVERIFY(!userSettings().contains(setting::macAddress));
        QVERIFY(!view->isCapturing());
        // Half typed: said so, nothing stored, nothing captured.
        for (QChar c : QStringLiteral("1234"))
            view->macField()->typeCharacter(c);
        QVERIFY(!view->start());
        QCOMPARE(messages.shown().size(), 2);
        QVERIFY(!userSettings().contains(setting::macAddress));
    }

    void numberFields_data() {
        QTest::addColumn<bool>("nodeLife");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("shown"); // the field after editing: the value applied
        QTest::newRow("node 7") << true << "7"
                                << "" << 7 << "7";
        QTest::newRow("node 12") << true << "12"
                                 << "Please enter an integer between 2 and 10." << 10 << "10";
        QTest::newRow("node 20") << true << "20"
                                 << "Please enter an integer between 2 and 10." << 10 << "10";
        QTest::newRow("node abc") << true << "abc"
                                  << "Please enter an integer." << 5 << "5";
        QTest::newRow("path 0") << false << "0"
                                << "Please enter an integer between 1 and 1000." << 1 << "1";
        QTest::newRow("path 250") << false << "250"
                                  << "" << 250 << "250";
        QTest::newRow("path empty") << false << ""
                                    << "Please enter an integer." << 10 << "10";
    }
    void numberFields() {
        QFETCH(bool, nodeLife);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(int, value);
        QFETCH(QString, shown);
        ScriptedMessageService messages;
        CTrafficTraceSingle* view = open();
        QLineEdit* field = nodeLife ? view->nodeLifeField() : view->pathLifeField();
        field->setText(text);
        QVERIFY(messages.shown().isEmpty()); // not while typing
        Q_EMIT field->editingFinished();
        QCOMPARE(messages.shown().isEmpty() ? QString() : messages.shown()[0].text, message);
        QCOMPARE(nodeLife ? view->model().nodeLife() : view->pathLife(), value);
        QCOMPARE(field->text(), shown);
        // Leaving the field again (the focus going to the box) or Start says
        // nothing more: one message for one wrong value.
        Q_EMIT field->editingFinished();
        view->start();
        const qsizetype said =
            std::count_if(messages.shown().begin(), messages.shown().end(), [](const auto& m) {
                return m.text.startsWith(QStringLiteral("Please enter an integer"));
            });
        QCOMPARE(said, message.isEmpty() ? 0 : 1);
        QCOMPARE(nodeLife ? view->model().nodeLife() : view->pathLife(), value);
    }

    void monitorsACaptureFile() {
        ScriptedMessageService messages;
        SettingsStore().writeString(setting::macAddress, QStringLiteral("02:00:00:00:00:AA"));
        CTrafficTraceSingle* view = open();
        QVERIFY(view->start());
        QVERIFY(view->isCapturing());
        QCOMPARE(view->session().filterText(), QStringLiteral("ether host 02:00:00:00:00:aa"));
        QCOMPARE(SettingsStore().string(setting::macAddress), QStringLiteral("02:00:00:00:00:aa"));
        QCOMPARE(view->monitoredLabel(), QStringLiteral("WATCHED"));
        QTRY_VERIFY(view->session().loopEnd() == LoopEnd::EndOfFile);
        QTRY_VERIFY(view->model().animations() == 0);
        QVERIFY(messages.shown().isEmpty());

        const std::vector<SideNode> nodes = view->model().table().entries();
        QCOMPARE(nodes.size(), std::size_t(16));
        QCOMPARE(nodes[0].label, QStringLiteral("02:00:00:00:01:01")); // "-" is no name
        QCOMPARE(nodes[1].label, QStringLiteral("ALPHA"));
        QCOMPARE(nodes[1].rgb, 0x00C000u);
        QCOMPARE(view->logLines(), (QStringList{QStringLiteral("Networktrace Started"),
                                                QStringLiteral("Loading Addresses"),
                                                QStringLiteral("Monitoring 02:00:00:00:00:aa"),
                                                QStringLiteral("DEBUG: Checkinlist error 1")}));
        QVERIFY(view->animator().steps() >= 17 * 40);

        // Slot 0's node and the monitored node on the board.
        const QImage& board = view->board().image();
        const QPoint c = view->board().centre();
        QCOMPARE(c, QPoint(298, 328));
        QVERIFY(!white(board, c + QPoint(266 - 8, -8)));
        QVERIFY(!white(board, c - QPoint(16, 16)));

        // Start again only re-reads the fields.
        view->nodeLifeField()->setText(QStringLiteral("2"));
        QVERIFY(view->start());
        QCOMPARE(view->logLines().size(), 4);
        QCOMPARE(view->model().nodeLife(), 2);

        view->stop();
        QVERIFY(!view->isCapturing());
        QCOMPARE(view->logLines().last(), QStringLiteral("Capture stopped"));
        // Peers age out with the ticks that go on after Stop.
        for (int i = 0; i < 6; ++i)
            view->tick();
        QVERIFY(view->model().table().entries().empty());
        QVERIFY(white(view->board().image(), c + QPoint(266 - 8, -8)));
    }

    void closingEndsRunningAnimations() {
        SettingsStore().writeString(setting::macAddress, QStringLiteral("02:00:00:00:00:aa"));
        CTrafficTraceSingle* view = open();
        view->pathLifeField()->setText(QStringLiteral("1000"));
        QVERIFY(view->start());
        QTRY_VERIFY(view->animator().running() > 0);
        const QPointer<CTrafficTraceSingle> gone(view);
        m_frame.reset();
        QVERIFY(gone.isNull());
        // A step timer left behind would now run on the freed board (the
        // sanitizers report it); the path life has not run out yet.
        QTest::qWait(300);
    }

    void layerChangeIsStored() {
        CTrafficTraceSingle* view = open();
        const QImage before = view->legend()->pixmap().toImage();
        view->layerList()->setCurrentIndex(1);
        quint32 stored = 9;
        QVERIFY(SettingsStore().readNumber(setting::layer, stored));
        QCOMPARE(stored, 1u);
        QCOMPARE(view->model().layer(), 1);
        QVERIFY(view->legend()->pixmap().toImage() != before);
        view->layerList()->setCurrentIndex(0);
    }

    void pickerStartsWithThePickedNode() {
        CTrafficTraceSingle* view = open();
        view->setAddressPicker([](QWidget*) { return PickedNode{}; });
        view->pickNode();
        QVERIFY(!view->isCapturing());
        view->setAddressPicker([](QWidget*) {
            return PickedNode{QStringLiteral("02:00:00:00:00:AA"), {}, {}};
        });
        view->pickNode();
        QVERIFY(view->isCapturing());
        QCOMPARE(view->macField()->text(), QStringLiteral("02:00:00:00:00:aa"));
        QVERIFY(view->model().animationsAllowed());
    }

private:
    CTrafficTraceSingle* open() {
        m_frame = std::make_unique<CTrafficTraceSingle>();
        m_frame->initialUpdate(&m_host);
        return m_frame.get();
    }

    QTemporaryDir m_dir;
    QString m_capture;
    FakeViewHost m_host;
    std::unique_ptr<CTrafficTraceSingle> m_frame; // the view, as the frame would own it
};

QTEST_MAIN(TestTrafficTraceSingle)
#include "tst_traffic_trace_single.moc"
