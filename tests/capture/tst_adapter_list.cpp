#include "core/capture/adapter_list.h"
#include "core/capture/link_speed.h"

#include "support/test_util.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;

namespace {

// Builds a fake /sys/class/net with the entries the adapter list reads.
class FakeSysfs {
public:
    FakeSysfs() { Q_ASSERT(m_dir.isValid()); }

    void add(const QString& dev, const QMap<QString, QString>& files) {
        QDir().mkpath(m_dir.filePath(dev));
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const QString path = m_dir.filePath(dev + QLatin1Char('/') + it.key());
            QDir().mkpath(QFileInfo(path).path());
            if (it.value() == QLatin1String("<dir>")) {
                QDir().mkpath(path);
                continue;
            }
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(it.value().toLatin1() + '\n');
        }
    }
    void linkDriver(const QString& dev, const QString& driver) {
        const QString drivers = m_dir.filePath(QStringLiteral("../drivers/") + driver);
        QDir().mkpath(drivers);
        QDir().mkpath(m_dir.filePath(dev + QStringLiteral("/device")));
        QFile::link(drivers, m_dir.filePath(dev + QStringLiteral("/device/driver")));
    }
    SysfsNet sysfs() const { return SysfsNet(m_dir.path()); }

private:
    QTemporaryDir m_dir;
};

using Files = QMap<QString, QString>;

} // namespace

class TestAdapterList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        // A machine as libpcap lists it on Linux, in libpcap's order.
        m_fake.add(QStringLiteral("eth0"),
                   {{QStringLiteral("type"), QStringLiteral("1")},
                    {QStringLiteral("address"), QStringLiteral("00:1b:21:3a:4f:10")},
                    {QStringLiteral("speed"), QStringLiteral("1000")},
                    {QStringLiteral("operstate"), QStringLiteral("up")}});
        m_fake.linkDriver(QStringLiteral("eth0"), QStringLiteral("e1000e"));
        m_fake.add(QStringLiteral("wlan0"),
                   {{QStringLiteral("type"), QStringLiteral("1")},
                    {QStringLiteral("address"), QStringLiteral("a4:c3:f0:11:22:33")},
                    {QStringLiteral("speed"), QStringLiteral("-1")},
                    {QStringLiteral("operstate"), QStringLiteral("dormant")},
                    {QStringLiteral("wireless"), QStringLiteral("<dir>")}});
        m_fake.linkDriver(QStringLiteral("wlan0"), QStringLiteral("iwlwifi"));
        m_fake.add(QStringLiteral("br0"),
                   {{QStringLiteral("type"), QStringLiteral("1")},
                    {QStringLiteral("address"), QStringLiteral("02:00:00:00:00:01")},
                    {QStringLiteral("operstate"), QStringLiteral("down")},
                    {QStringLiteral("bridge"), QStringLiteral("<dir>")}});
        m_fake.add(QStringLiteral("veth7"),
                   {{QStringLiteral("type"), QStringLiteral("1")},
                    {QStringLiteral("address"), QStringLiteral("56:bc:7f:2c:15:c5")},
                    {QStringLiteral("speed"), QStringLiteral("10000")},
                    {QStringLiteral("operstate"), QStringLiteral("up")}});
        m_fake.linkDriver(QStringLiteral("veth7"), QStringLiteral("veth"));
        m_fake.add(QStringLiteral("lo"),
                   {{QStringLiteral("type"), QStringLiteral("772")},
                    {QStringLiteral("address"), QStringLiteral("00:00:00:00:00:00")},
                    {QStringLiteral("operstate"), QStringLiteral("unknown")}});
        m_fake.add(QStringLiteral("tun0"), {{QStringLiteral("type"), QStringLiteral("65534")},
                                            {QStringLiteral("operstate"), QStringLiteral("up")}});
        m_fake.add(QStringLiteral("ib0"), {{QStringLiteral("type"), QStringLiteral("32")}});
        m_fake.add(QStringLiteral("eth9"), {}); // no type published
    }

    void whichDevicesAreOffered_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pcapDescription");
        QTest::addColumn<bool>("loopback");
        QTest::addColumn<QString>("description"); // empty: not offered

        QTest::newRow("wired") << "eth0"
                               << "" << false << "Ethernet (e1000e), 00:1b:21:3a:4f:10, 1 Gbps, up";
        QTest::newRow("wireless, speed unknown")
            << "wlan0"
            << "" << false << "Wireless (iwlwifi), a4:c3:f0:11:22:33, dormant";
        QTest::newRow("bridge, link down") << "br0"
                                           << "" << false << "Bridge, 02:00:00:00:00:01, down";
        QTest::newRow("veth at 10 Gb/s")
            << "veth7"
            << "" << false << "Virtual Ethernet, 56:bc:7f:2c:15:c5, 10 Gbps, up";
        QTest::newRow("loopback frames as Ethernet") << "lo"
                                                     << "" << true << "Loopback, unknown";
        QTest::newRow("libpcap's own description wins")
            << "eth0"
            << "Intel PRO/1000" << false << "Intel PRO/1000";
        QTest::newRow("blanks around the name")
            << " eth0 "
            << "" << false << "Ethernet (e1000e), 00:1b:21:3a:4f:10, 1 Gbps, up";
        QTest::newRow("any") << "any"
                             << "Pseudo-device that captures on all interfaces" << false << "";
        QTest::newRow("nflog") << "nflog"
                               << "Linux netfilter log (NFLOG) interface" << false << "";
        QTest::newRow("nfqueue") << "nfqueue"
                                 << "Linux netfilter queue (NFQUEUE) interface" << false << "";
        QTest::newRow("dbus") << "dbus-system"
                              << "D-Bus system bus" << false << "";
        QTest::newRow("bluetooth") << "bluetooth-monitor"
                                   << "Bluetooth Linux Monitor" << false << "";
        QTest::newRow("usbmon") << "usbmon1"
                                << "Raw USB traffic, bus number 1" << false << "";
        QTest::newRow("tunnel carries bare IP") << "tun0"
                                                << "" << false << "";
        QTest::newRow("infiniband") << "ib0"
                                    << "" << false << "";
        QTest::newRow("type not published") << "eth9"
                                            << "" << false << "";
        QTest::newRow("path in the name") << "../eth0"
                                          << "" << false << "";
        QTest::newRow("empty name") << ""
                                    << "" << false << "";
    }

    void whichDevicesAreOffered() {
        QFETCH(QString, name);
        QFETCH(QString, pcapDescription);
        QFETCH(bool, loopback);
        QFETCH(QString, description);
        const auto offered = captureAdapters({{name, pcapDescription, loopback}}, m_fake.sysfs());
        if (description.isEmpty()) {
            QVERIFY2(offered.empty(), qPrintable(name + QStringLiteral(" must not be offered")));
            return;
        }
        QCOMPARE(offered.size(), size_t(1));
        QCOMPARE(offered[0].name, name.trimmed());
        QCOMPARE(offered[0].description, description);
    }

    void libpcapOrderIsKept() {
        const std::vector<PcapDevice> devices = {
            {QStringLiteral("any"), {}, false},  {QStringLiteral("wlan0"), {}, false},
            {QStringLiteral("lo"), {}, true},    {QStringLiteral("nflog"), {}, false},
            {QStringLiteral("eth0"), {}, false}, {QStringLiteral("br0"), {}, false},
        };
        QStringList names;
        for (const auto& a : captureAdapters(devices, m_fake.sysfs()))
            names << a.name;
        QCOMPARE(names, QStringList({QStringLiteral("wlan0"), QStringLiteral("lo"),
                                     QStringLiteral("eth0"), QStringLiteral("br0")}));
    }

    void defaultDevice_data() {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first Ethernet device")
            << qarsilo::test::words({"any", "eth0", "wlan0"}) << "eth0";
        QTest::newRow("loopback listed first is passed over")
            << qarsilo::test::words({"lo", "nflog", "wlan0"}) << "wlan0";
        QTest::newRow("only loopback") << qarsilo::test::words({"any", "lo"}) << "lo";
        QTest::newRow("nothing usable") << qarsilo::test::words({"any", "nflog", "tun0"}) << "";
        QTest::newRow("no devices") << qarsilo::test::words({}) << "";
    }

    void defaultDevice() {
        QFETCH(QStringList, devices);
        QFETCH(QString, expected);
        std::vector<PcapDevice> list;
        for (const QString& d : devices)
            list.push_back({d, {}, d == QLatin1String("lo")});
        QCOMPARE(qarsilo::defaultDevice(list, m_fake.sysfs()), expected);
    }

    void linkSpeedText_data() {
        QTest::addColumn<qint64>("bps");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << "10 Mbps";
        QTest::newRow("negative") << qint64(-1) << "10 Mbps";
        QTest::newRow("10 Mb/s") << qint64(10'000'000) << "10 Mbps";
        QTest::newRow("just under 100") << qint64(99'999'999) << "100 Mbps";
        QTest::newRow("exactly 100") << qint64(100'000'000) << "100 Mbps";
        QTest::newRow("just over 100") << qint64(100'000'001) << "100 Mbps";
        QTest::newRow("1 Gb/s") << qint64(1'000'000'000) << "1000 Mbps";
        // Utilization is reckoned against the real speed: the label says it.
        QTest::newRow("2.5 Gb/s") << qint64(2'500'000'000) << "2500 Mbps";
        QTest::newRow("10 Gb/s") << qint64(10'000'000'000) << "10000 Mbps";
        QTest::newRow("100 Gb/s") << qint64(100'000'000'000) << "100000 Mbps";
        QTest::newRow("1.5 Mb/s") << qint64(1'500'000) << "1.5 Mbps";
    }

    void linkSpeedText() {
        QFETCH(qint64, bps);
        QFETCH(QString, text);
        QCOMPARE(qarsilo::linkSpeedText(bps), text);
    }

    void linkSpeedFromSysfs_data() {
        QTest::addColumn<QString>("dev");
        QTest::addColumn<qint64>("bps");
        QTest::newRow("1000 Mb/s") << "eth0" << qint64(1'000'000'000);
        // 10 Gb/s overflows a 32-bit signed bit rate; it must stay positive.
        QTest::newRow("10000 Mb/s") << "veth7" << qint64(10'000'000'000);
        QTest::newRow("-1 (unknown)") << "wlan0" << kUnknownLinkSpeedBps;
        QTest::newRow("no speed file") << "lo" << kUnknownLinkSpeedBps;
        QTest::newRow("no such device") << "eth5" << kUnknownLinkSpeedBps;
        QTest::newRow("capture file") << "file:/tmp/x.pcap" << kUnknownLinkSpeedBps;
    }

    void linkSpeedFromSysfs() {
        QFETCH(QString, dev);
        QFETCH(qint64, bps);
        const qint64 speed = linkSpeedBps(dev, m_fake.sysfs());
        QCOMPARE(speed, bps);
        QVERIFY(speed > 0); // utilization divides by it
    }

private:
    FakeSysfs m_fake;
};

QTEST_GUILESS_MAIN(TestAdapterList)
#include "tst_adapter_list.moc"
