// The Autodiscovery dialog listening on a live adapter: the eapon1 capture is
// replayed into a veth pair inside a private network namespace while the
// dialog listens. Needs root; skipped elsewhere.

#include "core/app/app_state.h"
#include "core/discovery/discovery_store.h"
#include "core/discovery/discovery_tables.h"
#include "gui/discovery/autodiscovery_dlg.h"
#include "gui/widgets/report_list.h"
#include "support/capture_frames.h"
#include "support/live_net.h"
#include "support/scripted_message_service.h"
#include "support/test_paths.h"
#include "support/test_util.h"

#include <QCheckBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;

class TestAutodiscoveryLive : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        LiveNet::removeStale();
        app::setSelectedAdapter(QString::fromLatin1(LiveNet::kCaptureEnd));
    }

    void findsNamesAndWorkgroups_data() {
        QTest::addColumn<bool>("ip");
        QTest::newRow("netbios") << false;
        QTest::newRow("ip") << true;
    }
    void findsNamesAndWorkgroups() {
        QFETCH(bool, ip);
        LiveNet net(true);
        if (!net.skipReason().isEmpty())
            QSKIP(qPrintable(net.skipReason()));
        QVERIFY2(net.ok(), qPrintable(net.error()));
        std::vector<CapturedFrame> captured;
        QCOMPARE(readCaptureFile(pcapDir() + QStringLiteral("/tcpdump__eapon1.pcap"), captured),
                 QString());
        std::vector<QByteArray> frames;
        for (const CapturedFrame& f : captured)
            frames.emplace_back(reinterpret_cast<const char*>(f.bytes.get()),
                                static_cast<qsizetype>(f.header.capLen));

        DiscoveryStore::instance().resetForTests();
        ScriptedMessageService messages;
        const QString file =
            m_dir.filePath(ip ? QStringLiteral("ip.mdb") : QStringLiteral("nb.mdb"));
        if (ip) {
            AddressDatabase db(file);
            QVERIFY(db.open());
            QVERIFY(db.addGroupIfAbsent(GroupTable::Subnet, QStringLiteral("192.168.1.0")));
            QVERIFY(db.addGroupIfAbsent(GroupTable::Subnet, QStringLiteral("169.254.67.0")));
        }
        CAutodiscoveryDlg dlg(nullptr, file);
        if (ip)
            dlg.ipBox()->click();
        dlg.start();
        QVERIFY(dlg.running());
        FrameSender sender;
        QVERIFY2(sender.ok(), qPrintable(sender.error()));
        QCOMPARE(sender.send(frames), int(frames.size()));
        if (ip) {
            // 68 IPv4 frames (the kernel may add its own); counted each second
            // while the rows wait for Stop.
            QTRY_VERIFY_WITH_TIMEOUT(
                dlg.activity().value(2).startsWith(QLatin1String("Accepted IP Packet: ")) &&
                    dlg.activity().value(2).mid(20).toInt() >= 68,
                10000);
            QCOMPARE(dlg.nodeList()->rowCount(), 0);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(dlg.nodeList()->rowCount(), 13, 10000);
            QCOMPARE(dlg.workgroupList()->text(0, 0), QStringLiteral("ARBEITSGRUPPE"));
        }
        dlg.stop();
        QVERIFY(!dlg.running());
        QStringList names;
        QStringList ips;
        for (int i = 0; i < dlg.nodeList()->rowCount(); ++i) {
            names << dlg.nodeList()->text(i, CellName);
            ips << dlg.nodeList()->text(i, CellIp);
        }
        if (ip) {
            // 192.168.1.255 is the broadcast MAC's: no station.
            QCOMPARE(ips, words({"192.168.1.249", "192.168.1.1", "169.254.67.194"}));
        } else {
            QCOMPARE(names, words({"DJP95S0J", "DJP95S0J"}));
            QCOMPARE(ips, words({"192.168.1.249", "169.254.67.194"}));
            QCOMPARE(dlg.subnetList()->rowCount(), 2);
        }
        QCOMPARE(dlg.nodeList()->text(dlg.nodeList()->rowCount() - 1, CellType),
                 ip ? kRouterMark : kVirusMark);
        QCOMPARE(messages.shown().size(), 0);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestAutodiscoveryLive)
#include "tst_autodiscovery_live.moc"
