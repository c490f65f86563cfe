// The Autodiscovery dialog over capture files: NetBIOS and IP listening, the
// seen lists across captures, the warnings, the mode boxes, saving, reverse
// lookups and the tooltips.

#include "core/app/app_state.h"
#include "core/capture/adapter_name.h"
#include "core/discovery/discovery_store.h"
#include "core/discovery/discovery_tables.h"
#include "gui/discovery/autodiscovery_dlg.h"
#include "gui/widgets/report_list.h"
#include "support/address_test_util.h"
#include "support/discovery_test_util.h"
#include "support/live_net.h"
#include "support/scripted_message_service.h"
#include "support/test_paths.h"
#include "support/test_util.h"

#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <pcap/pcap.h>

using namespace qarsilo;
using namespace qarsilo::test;
using Answer = MessageService::Answer;

namespace {

const QString kMac = QStringLiteral("00:04:23:57:a5:7a");

QString eapon1() {
    return captureFileAdapterName(pcapDir() + QStringLiteral("/tcpdump__eapon1.pcap"));
}

QStringList column(CReportList* list, int c) {
    QStringList out;
    for (int i = 0; i < list->rowCount(); ++i)
        out << list->text(i, c);
    return out;
}

// The log without its time prefixes.
QStringList plainLog(const CAutodiscoveryDlg& dlg) {
    QStringList out;
    static const QRegularExpression prefix(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d : "));
    for (QString l : dlg.logLines())
        out << l.remove(prefix);
    return out;
}

bool writeCapture(const QString& path, const QList<QByteArray>& frames) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* d = pcap_dump_open(dead, QFile::encodeName(path).constData());
    if (!d) {
        pcap_close(dead);
        return false;
    }
    for (const QByteArray& f : frames) {
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000;
        h.caplen = h.len = static_cast<bpf_u_int32>(f.size());
        pcap_dump(reinterpret_cast<u_char*>(d), &h, reinterpret_cast<const u_char*>(f.constData()));
    }
    pcap_dump_close(d);
    pcap_close(dead);
    return true;
}

// Starts, reads the whole file, runs one refresh, then stops.
void captureAll(CAutodiscoveryDlg& dlg, bool stop = true) {
    dlg.session().setFileReplay(FileReplay::AsFastAsPossible);
    dlg.start();
    QVERIFY(dlg.running());
    QTRY_VERIFY(dlg.session().loopEnd() == LoopEnd::EndOfFile);
    dlg.tick();
    if (stop)
        dlg.stop();
}

} // namespace

class TestAutodiscoveryDlg : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }
    void init() {
        m_file = m_dir.filePath(QStringLiteral("address-%1.mdb").arg(++m_count));
        AddressDatabase::setDefaultFileName(m_file);
        DiscoveryStore::instance().resetForTests();
        app::setSelectedAdapter(eapon1());
        m_messages = std::make_unique<ScriptedMessageService>();
    }
    void cleanup() {
        m_messages.reset();
        AddressDatabase::setDefaultFileName(QString());
    }

    // NetBIOS listening over the eapon1 capture, then a second capture that
    // shows every workgroup and subnet seen since the program started.
    void netbiosListening() {
        {
            CAutodiscoveryDlg dlg(nullptr, m_file);
            captureAll(dlg, false);
            QCOMPARE(dlg.nodeList()->rowCount(), 13); // 17 datagrams, 4 to __MSBROWSE__
            QCOMPARE(dlg.activity(), words({"Monitoring for Netbios Packets", "Elapsed Time: 1 sec",
                                            "Accepted NetBios Packet: 13", "..."}));
            QCOMPARE(column(dlg.workgroupList(), 0), words({"ARBEITSGRUPPE"}));
            QCOMPARE(column(dlg.subnetList(), 0), words({"192.168.1.0", "169.254.67.0"}));
            dlg.stop();
            QCOMPARE(dlg.nodeList()->reportModel()->rowTexts(0),
                     QStringList({QStringLiteral("New"), kMac, QStringLiteral("192.168.1.249"),
                                  QStringLiteral("DJP95S0J"), QStringLiteral("ARBEITSGRUPPE"),
                                  QStringLiteral("-"), discoveryDateText(1080055048),
                                  QStringLiteral("192.168.1.0"), QStringLiteral("-")}));
            QCOMPARE(column(dlg.nodeList(), CellIp), words({"192.168.1.249", "169.254.67.194"}));
            QCOMPARE(column(dlg.nodeList(), CellType), words({"-", "Virus??"}));
            QCOMPARE(column(dlg.workgroupList(), 1), words({"New"}));
            const QStringList log = plainLog(dlg);
            QCOMPARE(log.mid(0, 4),
                     words({"Start NetBios capture", "Capture Stopped",
                            "Start Processing NetBios packets", "Clear duplicates from list"}));
            QVERIFY(log.value(4).contains(QLatin1String("DHCP request went unanswered")));
            QCOMPARE(log.value(5), QStringLiteral("Compare with database"));
            QVERIFY(dlg.nodeToolTip(1, CellType).contains(QLatin1String("169.254.67.194")));
            QVERIFY(!dlg.nodeToolTip(1, CellMac).isEmpty());
            QVERIFY(dlg.nodeToolTip(0, CellType).isEmpty());
            QCOMPARE(m_messages->shown().size(), 0);
        }
        const QString other = m_dir.filePath(QStringLiteral("other.pcap"));
        QVERIFY(writeCapture(other, {netbiosFrame(7, 0x0A090905, encodeNetbiosName("PC7", 0),
                                                  encodeNetbiosName("OTHERWG", 0))}));
        app::setSelectedAdapter(captureFileAdapterName(other));
        CAutodiscoveryDlg dlg(nullptr, m_file);
        captureAll(dlg);
        QCOMPARE(column(dlg.nodeList(), CellName), words({"PC7"}));
        QCOMPARE(column(dlg.workgroupList(), 0), words({"ARBEITSGRUPPE", "OTHERWG"}));
        QCOMPARE(column(dlg.subnetList(), 0), words({"192.168.1.0", "169.254.67.0", "10.9.9.0"}));
    }

    // The warning boxes: NetBIOS tells and marks; IP asks, and No leaves the row.
    void warnings_data() {
        QTest::addColumn<bool>("ip");
        QTest::addColumn<bool>("warn");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("mark");
        QTest::newRow("netbios warned")
            << false << true << Answer::Ok << QStringLiteral("Virus warning") << kVirusMark;
        QTest::newRow("ip asked yes")
            << true << true << Answer::Yes << QStringLiteral("Router /MultiIP") << kRouterMark;
        QTest::newRow("ip asked no") << true << true << Answer::No
                                     << QStringLiteral("Router /MultiIP") << QStringLiteral("-");
        QTest::newRow("ip silent") << true << false << Answer::Ok << QString() << kRouterMark;
    }
    void warnings() {
        QFETCH(bool, ip);
        QFETCH(bool, warn);
        QFETCH(Answer, answer);
        QFETCH(QString, caption);
        QFETCH(QString, mark);
        {
            AddressDatabase db(m_file);
            QVERIFY(db.open());
            for (const char* r : {"192.168.1.0", "169.254.67.0"})
                QVERIFY(db.addGroupIfAbsent(GroupTable::Subnet, QString::fromLatin1(r)));
        }
        CAutodiscoveryDlg dlg(nullptr, m_file);
        if (ip)
            dlg.ipBox()->click();
        QCOMPARE(dlg.mode(), ip ? DiscoveryMode::Ip : DiscoveryMode::NetBios);
        // Only the current mode's box can be on.
        (ip ? dlg.warnSuspiciousBox() : dlg.warnRouterBox())->click();
        QVERIFY(!(ip ? dlg.warnSuspiciousBox() : dlg.warnRouterBox())->isChecked());
        if (warn)
            (ip ? dlg.warnRouterBox() : dlg.warnSuspiciousBox())->click();
        if (answer != Answer::Ok)
            m_messages->answerNext(answer);
        captureAll(dlg);
        const int marked = dlg.nodeList()->rowCount() - 1;
        QCOMPARE(dlg.nodeList()->text(marked, CellIp), QStringLiteral("169.254.67.194"));
        QCOMPARE(dlg.nodeList()->text(marked, CellType), mark);
        QCOMPARE(dlg.nodeList()->text(0, CellType), QStringLiteral("-"));
        QCOMPARE(m_messages->shown().size(), warn ? 1 : 0);
        if (warn) {
            const auto& shown = m_messages->shown().first();
            QCOMPARE(shown.caption, caption);
            QVERIFY(shown.text.contains(QLatin1String("192.168.1.249")));
            QVERIFY(shown.text.contains(kMac));
            // The cause the row's tooltip and the log give.
            QVERIFY2(shown.text.contains(QLatin1String("(likely cause: the station assigned "
                                                       "itself an address in 169.254.0.0/16")),
                     qPrintable(shown.text));
            if (mark != QLatin1String("-"))
                QVERIFY(shown.text.contains(dlg.nodeToolTip(marked, CellType)));
        }
        if (ip) {
            // Local ends of stations only: the router stays; the broadcast
            // address (ff:ff:ff:ff:ff:ff at 192.168.1.255) is no station.
            QCOMPARE(column(dlg.nodeList(), CellMac),
                     words({"00:04:23:57:a5:7a", "00:0d:88:4f:25:91", "00:04:23:57:a5:7a"}));
            QVERIFY(dlg.workgroupList()->isHidden());
            QVERIFY(plainLog(dlg).contains(QStringLiteral("Local IP subnet filter list: ")));
        }
    }

    // A larger window gives its room to the lists: the last column takes what
    // the others leave. The widths kept on closing are the columns' own.
    void columnsUseTheRoom_data() {
        QTest::addColumn<int>("list");
        QTest::newRow("nodes") << int(CAutodiscoveryDlg::kNodeListId);
        QTest::newRow("workgroups") << int(CAutodiscoveryDlg::kWorkgroupListId);
        QTest::newRow("subnets") << int(CAutodiscoveryDlg::kSubnetListId);
    }
    void columnsUseTheRoom() {
        QFETCH(int, list);
        const QString columns = list == CAutodiscoveryDlg::kNodeListId ? kDiscoveryNodeColumns
                                : list == CAutodiscoveryDlg::kWorkgroupListId
                                    ? kDiscoveryWorkgroupColumns
                                    : kDiscoverySubnetColumns;
        const auto keptWidths = [&] {
            CReportList fresh(list);
            fresh.declareColumns(columns);
            QList<int> widths;
            for (int c = 0; c < fresh.reportModel()->columnCount(); ++c)
                widths << fresh.columnWidth(c);
            return widths;
        };
        const QList<int> before = keptWidths();
        CAutodiscoveryDlg dlg(nullptr, m_file);
        CReportList* l = list == CAutodiscoveryDlg::kNodeListId        ? dlg.nodeList()
                         : list == CAutodiscoveryDlg::kWorkgroupListId ? dlg.workgroupList()
                                                                       : dlg.subnetList();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        for (const QSize size : {QSize(1700, 1100), QSize(2400, 1400)}) {
            dlg.resize(size);
            QTRY_COMPARE(dlg.size(), size);
            QCoreApplication::processEvents();
            // No empty band right of the last column.
            QCOMPARE(l->horizontalHeader()->length(), l->viewport()->width());
        }
        dlg.reject();
        QCOMPARE(keptWidths(), before);
    }

    // IP listening needs local ranges; mode changes and saves wait for Stop.
    void modesAndRefusals() {
        CAutodiscoveryDlg dlg(nullptr, m_file);
        int editors = 0;
        dlg.setGroupEditorRunner([&editors](QWidget*, const QString&) {
            ++editors;
            return 0;
        });
        dlg.ipBox()->click();
        QCOMPARE(editors, 1);
        QCOMPARE(dlg.mode(), DiscoveryMode::NetBios);
        QVERIFY(dlg.netbiosBox()->isChecked() && !dlg.ipBox()->isChecked());
        QCOMPARE(m_messages->shown().value(0).caption, QStringLiteral("Local Range Unknown"));
        dlg.netbiosBox()->click(); // checked already: stays checked
        QVERIFY(dlg.netbiosBox()->isChecked());
        m_messages->clear();

        captureAll(dlg, false);
        dlg.ipBox()->click();
        QVERIFY(dlg.netbiosBox()->isChecked() && !dlg.ipBox()->isChecked());
        dlg.button(QStringLiteral("Save All"))->click();
        QStringList captions;
        for (const auto& s : m_messages->shown()) {
            QCOMPARE(s.text, QStringLiteral("Capture thread is still running"));
            captions << s.caption;
        }
        QCOMPARE(captions, QStringList({MessageService::applicationTitle(),
                                        QStringLiteral("Save Selected Node"),
                                        QStringLiteral("Save Selected Workgroup"),
                                        QStringLiteral("Save Selected Subnet")}));
        QCOMPARE(nodesIn(m_file).size(), 0);
        dlg.stop();
        dlg.stop(); // while idle: only the activity line
        QCOMPARE(dlg.activity().value(0), QStringLiteral("Stopped"));
        QCOMPARE(plainLog(dlg).count(QStringLiteral("Capture Stopped")), 1);
    }

    // Save All stores both rows of the one station (the last decides), the
    // workgroup and the subnets, then every row compares as current.
    void saveAll() {
        CAutodiscoveryDlg dlg(nullptr, m_file);
        captureAll(dlg);
        dlg.button(QStringLiteral("Save All"))->click();
        const QList<NodeRecord> nodes = nodesIn(m_file);
        QCOMPARE(nodes.size(), 1);
        QCOMPARE(nodes[0].ip, QStringLiteral("169.254.67.194"));
        QCOMPARE(nodes[0].type, kVirusMark);
        QCOMPARE(nodes[0].description, QStringLiteral("Detected Node"));
        QCOMPARE(groupsIn(m_file, GroupTable::Workgroup), words({"ARBEITSGRUPPE"}));
        QCOMPARE(groupsIn(m_file, GroupTable::Subnet), words({"192.168.1.0", "169.254.67.0"}));
        const QStringList log = plainLog(dlg);
        QVERIFY(log.contains(QStringLiteral(" added new node 00:04:23:57:a5:7a  ")));
        QVERIFY(log.contains(QStringLiteral(" 00:04:23:57:a5:7a  updated")));
        QCOMPARE(column(dlg.nodeList(), CellInfo), words({"Update", "Current"}));
        QCOMPARE(column(dlg.subnetList(), 1), words({"Current", "Current"}));
        // Now the saved subnets are the local ranges IP listening needs.
        dlg.ipBox()->click();
        QCOMPARE(dlg.mode(), DiscoveryMode::Ip);
    }

    // A sort of the list takes the rows' nodes along: the duplicate pass, the
    // save of a selected row and the tooltips work on what each row shows.
    void sortedListKeepsItsNodes() {
        CAutodiscoveryDlg dlg(nullptr, m_file);
        captureAll(dlg, false);
        ReportListModel* model = dlg.nodeList()->reportModel();
        model->sortBy(CellIp, true);
        dlg.stop();
        // The pass ran in the order shown: the link-local row came first.
        QCOMPARE(column(dlg.nodeList(), CellIp), words({"169.254.67.194", "192.168.1.249"}));
        QCOMPARE(column(dlg.nodeList(), CellType), words({"-", "Virus??"}));
        const QList<DiscoveredNode> nodes = dlg.nodes();
        QCOMPARE(nodes.size(), 2);
        for (int i = 0; i < nodes.size(); ++i)
            QCOMPARE(discoveredNodeTexts(nodes[i]).mid(1), model->rowTexts(i).mid(1));
        QVERIFY(dlg.nodeToolTip(1, CellType).contains(QLatin1String("192.168.1.249 now")));
        QVERIFY(dlg.nodeToolTip(0, CellType).isEmpty());
        dlg.nodeList()->selectionModel()->select(model->index(0, 0), QItemSelectionModel::Select |
                                                                         QItemSelectionModel::Rows);
        dlg.saveNodes();
        const QList<NodeRecord> saved = nodesIn(m_file);
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved[0].ip, QStringLiteral("169.254.67.194"));
        QCOMPARE(saved[0].type, QStringLiteral("-"));
        QCOMPARE(column(dlg.nodeList(), CellInfo), words({"Current", "Update"}));
    }

    // Lookups run inside a namespace without routes: 127.0.0.1 answers from
    // the hosts file, "-" is never sent, the note comes first.
    void dnsLookup() {
        LiveNet net(false);
        if (!net.skipReason().isEmpty())
            QSKIP(qPrintable(net.skipReason()));
        QVERIFY2(net.ok(), qPrintable(net.error()));
        CAutodiscoveryDlg dlg(nullptr, m_file);
        DiscoveredNode local;
        local.mac = {0, 0, 0, 0, 0, 1};
        local.ip = 0x7F000001;
        DiscoveredNode unknown; // no address to look up
        unknown.mac = {0, 0, 0, 0, 0, 2};
        unknown.domainName = QStringLiteral("old.name");
        dlg.addNodes({local, unknown});
        QSignalSpy done(&dlg, &CAutodiscoveryDlg::lookupsFinished);
        dlg.button(QStringLiteral("DNS Lookup"))->click();
        QCOMPARE(m_messages->shown().value(0).caption, QStringLiteral("Note"));
        QVERIFY(done.wait(20000));
        const QString name = dlg.nodeList()->text(0, CellDomainName);
        QVERIFY(name != QLatin1String("-") && !name.isEmpty());
        QCOMPARE(dlg.nodeList()->text(1, CellDomainName), QStringLiteral("old.name"));
        // The name reaches the node a save stores, not only the list.
        QVERIFY(!dlg.nodes().isEmpty());
        QCOMPARE(dlg.nodes().first().domainName, std::optional<QString>(name));
        QCOMPARE(plainLog(dlg), QStringList({QStringLiteral("Sending Out DNS Queries"),
                                             QStringLiteral("127.0.0.1 -> ") + name,
                                             QStringLiteral("- -> no reply")}));
    }

private:
    QTemporaryDir m_dir;
    QString m_file;
    int m_count = 0;
    std::unique_ptr<ScriptedMessageService> m_messages;
};

QTEST_MAIN(TestAutodiscoveryDlg)
#include "tst_autodiscovery_dlg.moc"
