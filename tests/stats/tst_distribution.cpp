// The chart windows' categories from crafted frames, their byte texts, and the
// tick: per second, cumulative, a quiet second, the switch to the pie.

#include "core/stats/distribution_chart.h"
#include "core/stats/file_seconds.h"
#include "support/chart_frames.h"

#include <QTest>

#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace qarsilo;
using namespace qarsilo::test;

Q_DECLARE_METATYPE(qarsilo::ChartKind)

namespace {

// The categories (by row name) a frame adds to, and the bytes it adds.
QStringList categoriesOf(ChartKind kind, int slot, const QByteArray& frame, std::uint32_t wire,
                         std::uint32_t* bytes) {
    const pcap_pkthdr h = snapHeader(frame, wire);
    const FrameShare share = chartFrameShare(kind, slot, h, bytesOf(frame));
    const auto& categories = chartKindInfo(kind).categories;
    QStringList names;
    for (int i = 0; i < share.count; ++i)
        names << QLatin1String(categories[share.category[std::size_t(i)]].name);
    *bytes = share.bytes;
    return names;
}

QStringList names(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* i : items)
        out << QLatin1String(i);
    return out;
}

} // namespace

class TestDistribution : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void categories_data() {
        QTest::addColumn<ChartKind>("kind");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<uint>("wire"); // 0: the frame's own length
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<uint>("bytes");

        using K = ChartKind;
        // Frame sizes: the wire length decides, not the 64 captured bytes.
        struct Size {
            uint length;
            const char* name;
        };
        for (const Size s :
             {Size{60, "size <= 64"}, Size{64, "size <= 64"}, Size{65, "65 <= size < 128"},
              Size{127, "65 <= size < 128"}, Size{128, nullptr}, Size{129, "129 <= size < 256"},
              Size{1024, nullptr}, Size{1025, "1025 <= size < 1152"},
              Size{1514, "1409 <= size < 1518"}, Size{1517, "1409 <= size < 1518"},
              Size{1518, nullptr}, Size{9000, nullptr}})
            QTest::addRow("size %u", s.length)
                << K::PacketSize << 0 << etherFrame(0x0800, 64) << s.length
                << (s.name ? names({s.name}) : QStringList()) << s.length;

        // Network layer: type, or the SSAP of an 802.3 frame; L + 24 bytes.
        struct Type {
            std::uint16_t type;
            const char* name;
        };
        for (const Type t :
             {Type{0x0800, "IPv4"}, Type{0x0801, "X.75"}, Type{0x0806, "ARP"},
              Type{0x8035, "Rev ARP"}, Type{0x8038, "DEC LAN Bridge"}, Type{0x809B, "AppleTalk"},
              Type{0x80F3, "AppleTalk ARP"}, Type{0x86DD, "IPv6"}, Type{0x8847, "MPLS"},
              Type{0x8848, "MPLS"}, Type{0x88CC, "Others"}, Type{0x05DD, "Others"}})
            QTest::addRow("type 0x%04X", t.type)
                << K::NetworkLayer << 0 << etherFrame(t.type, 60) << 0u << names({t.name}) << 84u;
        QTest::newRow("802.3 SSAP 0x42")
            << K::NetworkLayer << 0 << llcFrame(0x42) << 0u << names({"Spanning Tree"}) << 84u;
        QTest::newRow("802.3 SSAP 0xE0")
            << K::NetworkLayer << 0 << llcFrame(0xE0) << 0u << names({"IPX"}) << 84u;
        QTest::newRow("802.3 SSAP 0xF0")
            << K::NetworkLayer << 0 << llcFrame(0xF0) << 0u << names({"NetBIOS"}) << 84u;
        QTest::newRow("802.3 SSAP 0xFF")
            << K::NetworkLayer << 0 << llcFrame(0xFF) << 0u << names({"Others"}) << 84u;
        QTest::newRow("length 1500 is 802.3") << K::NetworkLayer << 0 << llcFrame(0x42, 1500, 1514)
                                              << 0u << names({"Spanning Tree"}) << 1538u;
        QTest::newRow("802.3 cut before the SSAP")
            << K::NetworkLayer << 0 << llcFrame(0x42, 46, 15) << 0u << names({"Others"}) << 39u;
        QTest::newRow("13 bytes") << K::NetworkLayer << 0 << etherFrame(0x0800, 13) << 0u
                                  << names({"Others"}) << 37u;

        // IPv4 protocol field.
        struct Proto {
            std::uint8_t value;
            const char* name;
        };
        for (const Proto p :
             {Proto{1, "ICMP"}, Proto{2, "IGMP"}, Proto{6, "TCP"}, Proto{8, "EGP"},
              Proto{9, "IGRP"}, Proto{17, "UDP"}, Proto{46, "RSVP"}, Proto{47, "GRE"},
              Proto{50, "ESP"}, Proto{83, "VINES"}, Proto{89, "OSPF"}, Proto{132, "SCTP"},
              Proto{88, "Other"}, Proto{58, "Other"}, Proto{0, "Other"}})
            QTest::addRow("IPv4 protocol %u", p.value)
                << K::IPv4 << 0 << ipv4Frame(p.value, 0, 0, 70) << 0u << names({p.name}) << 70u;
        QTest::newRow("IPv4 cut before the protocol")
            << K::IPv4 << 0 << etherFrame(0x0800, 20) << 0u << names({"Other"}) << 20u;
        // IPv6 next header: IGRP is 88 here, hop-by-hop (0) is "Other".
        for (const Proto p :
             {Proto{58, "ICMP"}, Proto{2, "IGMP"}, Proto{6, "TCP"}, Proto{8, "EGP"},
              Proto{88, "IGRP"}, Proto{17, "UDP"}, Proto{46, "RSVP"}, Proto{47, "GRE"},
              Proto{50, "ESP"}, Proto{83, "VINES"}, Proto{89, "OSPF"}, Proto{132, "SCTP"},
              Proto{0, "Other"}, Proto{9, "Other"}, Proto{1, "Other"}})
            QTest::addRow("IPv6 next header %u", p.value)
                << K::IPv6 << 0 << ipv6Frame(p.value) << 0u << names({p.name}) << 80u;

        // Comparison: IPv4 capture in slot 0, IPv6 in slot 1; other values add nothing.
        QTest::newRow("v4v6 IPv4 ICMP")
            << K::IPv4IPv6 << 0 << ipv4Frame(1) << 0u << names({"IPv4 /ICMP"}) << 60u;
        QTest::newRow("v4v6 IPv4 4 is BGP")
            << K::IPv4IPv6 << 0 << ipv4Frame(4) << 0u << names({"IPv4 /BGP"}) << 60u;
        QTest::newRow("v4v6 IPv4 OSPF")
            << K::IPv4IPv6 << 0 << ipv4Frame(89) << 0u << names({"IPv4 /OSPF"}) << 60u;
        QTest::newRow("v4v6 IPv4 58 not charted")
            << K::IPv4IPv6 << 0 << ipv4Frame(58) << 0u << QStringList() << 60u;
        QTest::newRow("v4v6 IPv6 ICMP")
            << K::IPv4IPv6 << 1 << ipv6Frame(58) << 0u << names({"IPv6 /ICMP"}) << 80u;
        QTest::newRow("v4v6 IPv6 TCP")
            << K::IPv4IPv6 << 1 << ipv6Frame(6) << 0u << names({"IPv6 /TCP"}) << 80u;
        QTest::newRow("v4v6 IPv6 hop-by-hop adds nothing")
            << K::IPv4IPv6 << 1 << ipv6Frame(0) << 0u << QStringList() << 80u;

        // Application: once per listed port, source first.
        QTest::newRow("HTTPS 443 -> 52000 once in Web")
            << K::Application << 0 << ipv4Frame(6, 443, 52000) << 0u << names({"Web"}) << 60u;
        QTest::newRow("DNS 53 -> 53 twice")
            << K::Application << 1 << ipv4Frame(17, 53, 53) << 0u << names({"DNS", "DNS"}) << 60u;
        QTest::newRow("80 -> 53 in both")
            << K::Application << 0 << ipv4Frame(6, 80, 53) << 0u << names({"Web", "DNS"}) << 60u;
        QTest::newRow("unlisted ports count nowhere")
            << K::Application << 0 << ipv4Frame(6, 40000, 50000) << 0u << QStringList() << 60u;
        QTest::newRow("DHCPv6 547 and H.323 11720")
            << K::Application << 1 << ipv4Frame(17, 547, 11720) << 0u << names({"DHCP", "H.323"})
            << 60u;
        QTest::newRow("IPv6 TCP ports behind the IPv6 header")
            << K::Application << 0 << ipv6Frame(6, 52000, 22) << 0u << names({"SSH"}) << 80u;
        QTest::newRow("ports not captured")
            << K::Application << 0 << ipv4Frame(6, 80, 80).left(35) << 0u << QStringList() << 35u;
    }
    void categories() {
        QFETCH(ChartKind, kind);
        QFETCH(int, slot);
        QFETCH(QByteArray, frame);
        QFETCH(uint, wire);
        QFETCH(QStringList, expected);
        QFETCH(uint, bytes);
        std::uint32_t added = 0;
        QCOMPARE(categoriesOf(kind, slot, frame, wire, &added), expected);
        if (!expected.isEmpty())
            QCOMPARE(added, bytes);

        // The chart adds the same to those rows (twice for a category named twice).
        DistributionChart chart(kind);
        chart.countFrame(slot, snapHeader(frame, wire), bytesOf(frame));
        const DistributionChart::Bytes counted = chart.counters().take();
        std::uint64_t total = 0;
        for (int i = 0; i < chart.categoryCount(); ++i) {
            total += counted[std::size_t(i)];
            QCOMPARE(counted[std::size_t(i)],
                     std::uint64_t(expected.count(chart.rowName(i))) * bytes);
        }
        QCOMPARE(total, std::uint64_t(expected.size()) * bytes);
    }

    void everyCategoryHasItsNamesAndColour() {
        for (int k = 0; k < kChartKinds; ++k) {
            const DistributionChart chart{ChartKind(k)};
            const CChartWnd& bar = chart.barChart();
            const CChartWnd& pie = chart.pieChart();
            QCOMPARE(chart.categoryCount(), k == int(ChartKind::IPv4IPv6) ? 12 : 13);
            QCOMPARE(int(bar.series().size()), chart.categoryCount());
            QCOMPARE(pie.series().size(), std::size_t(1));
            for (int i = 0; i < chart.categoryCount(); ++i) {
                const ChartCategory& c = chart.info().categories[std::size_t(i)];
                QCOMPARE(bar.series()[std::size_t(i)].name(), QLatin1String(c.name));
                QCOMPARE(bar.series()[std::size_t(i)].colour(), QColor(c.red, c.green, c.blue));
                QCOMPARE(bar.series()[std::size_t(i)].label(), QStringLiteral("[ 0 B ]  0.00%"));
                QCOMPARE(bar.colourAt(i), QColor(c.red, c.green, c.blue));
                QCOMPARE(pie.colourAt(i), QColor(c.red, c.green, c.blue));
                QCOMPARE(bar.categoryLabelAt(i), QLatin1String(c.longName));
                QCOMPARE(pie.series()[0].pointLabel(i), QStringLiteral("0.00%"));
            }
            QCOMPARE(bar.typeCode(), 320);
            QCOMPARE(pie.typeCode(), 32);
            QCOMPARE(bar.orientation(), 0);
            QVERIFY(bar.grid() && !pie.grid());
            QVERIFY(bar.colourBySeries() && !pie.colourBySeries());
            QVERIFY(pie.pieCategoryLabels());
            QCOMPARE(bar.legendFontHeight(), 14);
            QCOMPARE(pie.legendFontHeight(), 16);
            QCOMPARE(bar.tickFontHeight(), 16);
            QCOMPARE(bar.categoryFontHeight(), 16);
            QCOMPARE(bar.depthRatio(), 0.05);
            QCOMPARE(bar.tickCount(), 10);
        }
        QCOMPARE(DistributionChart(ChartKind::Application).barChart().categoryLabelAt(7),
                 QStringLiteral("DNS (Domain Name)"));
        QCOMPARE(DistributionChart(ChartKind::PacketSize).barChart().categoryLabelAt(5),
                 QStringLiteral("513 <= size < 640 B"));
        QCOMPARE(DistributionChart(ChartKind::IPv4IPv6).barChart().title(),
                 QStringLiteral("IPv6 & IPv4 Comparison Distribution Bar Chart"));
    }

    void byteSizeTexts_data() {
        QTest::addColumn<double>("bytes");
        QTest::addColumn<bool>("petabytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << 0.0 << false << QStringLiteral("0 B");
        QTest::newRow("50,000 in bytes") << 50000.0 << true << QStringLiteral("50000 B");
        QTest::newRow("100 KB is still bytes") << 102400.0 << false << QStringLiteral("102400 B");
        QTest::newRow("one above 100 KB") << 102401.0 << false << QStringLiteral("100.00 KB");
        QTest::newRow("200,000") << 200000.0 << false << QStringLiteral("195.31 KB");
        QTest::newRow("250,000") << 250000.0 << true << QStringLiteral("244.14 KB");
        QTest::newRow("1 MB is kilobytes") << 1048576.0 << true << QStringLiteral("1024.00 KB");
        QTest::newRow("above 1 MB") << 1572864.0 << false << QStringLiteral("1.50 MB");
        QTest::newRow("above 1 GB") << 3221225472.0 << true << QStringLiteral("3.00 GB");
        QTest::newRow("2^41, terabytes") << 2199023255552.0 << true << QStringLiteral("2.00 TB");
        QTest::newRow("2^41, the size view stops at GB")
            << 2199023255552.0 << false << QStringLiteral("2048.00 GB");
        QTest::newRow("2^51") << 2251799813685248.0 << true << QStringLiteral("2.00 PB");
    }
    void byteSizeTexts() {
        QFETCH(double, bytes);
        QFETCH(bool, petabytes);
        QFETCH(QString, expected);
        QCOMPARE(
            byteSizeText(bytes, petabytes ? ByteUnits::UpToPetabytes : ByteUnits::UpToGigabytes),
            expected);
    }

    // The labels' numbers are written without asprintf: each must read as
    // asprintf writes it, ties of the exact binary value included.
    void fixedTextsAsAsprintf_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::newRow("0") << 0.0 << 2;
        QTest::newRow("an eighth: a tie") << 0.125 << 2;
        QTest::newRow("three eighths: a tie") << 0.375 << 2;
        QTest::newRow("12.125 %: a tie") << 100.0 / 800 * 97 << 2;
        QTest::newRow("just below a tie") << std::nextafter(0.125, 0.0) << 2;
        QTest::newRow("just above a tie") << std::nextafter(0.125, 1.0) << 2;
        QTest::newRow("0.005 is below its tie") << 0.005 << 2;
        QTest::newRow("100.125 KB: a tie") << 102528.0 / 1024 << 2;
        QTest::newRow("1023.995 KB carries") << 1048571.0 / 1024 << 2;
        QTest::newRow("99.999 % carries") << 99.999 << 2;
        QTest::newRow("100 %") << 100.0 << 2;
        QTest::newRow("a third") << 100.0 / 3 << 2;
        QTest::newRow("2.5 without places: a tie") << 2.5 << 0;
        QTest::newRow("0.5 without places: a tie") << 0.5 << 0;
        QTest::newRow("whole bytes") << 102400.0 << 0;
        QTest::newRow("one place") << 0.25 << 1;
        QTest::newRow("smallest double") << std::numeric_limits<double>::denorm_min() << 2;
        QTest::newRow("smallest normal double") << std::numeric_limits<double>::min() << 2;
        QTest::newRow("2^-60 + tie") << 0.005 + std::ldexp(1.0, -60) << 2;
        QTest::newRow("largest below 2^53") << std::ldexp(1.0, 53) - 1 << 2;
        QTest::newRow("2^53 and above") << std::ldexp(1.0, 60) + 4096 << 2;
        QTest::newRow("16384 PB") << 18446744073709551615.0 / std::ldexp(1.0, 50) << 2;
        QTest::newRow("negative") << -0.125 << 2;
    }
    void fixedTextsAsAsprintf() {
        QFETCH(double, value);
        QFETCH(int, decimals);
        std::string text;
        appendFixed(text, value, decimals);
        QCOMPARE(QString::fromStdString(text), QString::asprintf("%.*f", decimals, value));
    }

    // Every value the labels show in a range, or a wide seeded sample of it,
    // beside asprintf.
    void fixedTextsOverWholeRanges_data() {
        QTest::addColumn<int>("range");
        QTest::newRow("every kilobyte count: 100 KB to 1 MB") << 0;
        QTest::newRow("every megabyte fraction of 7 MB") << 1;
        QTest::newRow("shares of random totals") << 2;
        QTest::newRow("random gigabyte, terabyte and petabyte counts") << 3;
        QTest::newRow("every share of totals up to 800") << 4;
    }
    void fixedTextsOverWholeRanges() {
        QFETCH(int, range);
        std::mt19937_64 random(20261208);
        std::string text;
        long long compared = 0;
        long long differing = 0;
        QString first;
        const auto check = [&](double value) {
            text.clear();
            appendFixed(text, value, 2);
            ++compared;
            const QString expected = QString::asprintf("%.2f", value);
            if (QLatin1String(text.data(), qsizetype(text.size())) != expected && !differing++)
                first = QStringLiteral("%1: %2, asprintf %3")
                            .arg(value, 0, 'g', 17)
                            .arg(QString::fromStdString(text), expected);
        };
        switch (range) {
        case 0:
            for (double bytes = 102401; bytes <= 1048576; ++bytes)
                check(bytes / 1024);
            break;
        case 1:
            for (double f = 0; f < 1048576; ++f)
                check((7 * 1048576.0 + f) / 1048576);
            break;
        case 2:
            for (int i = 0; i < 1000000; ++i) {
                const std::uint64_t total = random() >> (random() % 64);
                const std::uint64_t shown = total ? random() % (total + 1) : 0;
                if (total)
                    check(100.0 / static_cast<double>(total) * static_cast<double>(shown));
            }
            break;
        case 3:
            for (int i = 0; i < 300000; ++i) {
                const auto bytes = static_cast<double>(random() >> (random() % 34));
                check(bytes / std::ldexp(1.0, 30 + 10 * (i % 3)));
            }
            break;
        case 4:
            for (int total = 1; total <= 800; ++total)
                for (int shown = 0; shown <= total; ++shown)
                    check(100.0 / total * shown);
            break;
        }
        QVERIFY2(differing == 0, qPrintable(QStringLiteral("%1 of %2 differ, first %3")
                                                .arg(differing)
                                                .arg(compared)
                                                .arg(first)));
        QVERIFY(compared > 100000);
    }

    // 60, 128 and 1514 bytes in one second.
    void tickShowsTheSecond() {
        DistributionChart chart(ChartKind::PacketSize);
        for (int length : {60, 128, 1514}) {
            const QByteArray f = etherFrame(0x0800, length);
            chart.countFrame(0, snapHeader(f), bytesOf(f));
        }
        QVERIFY(chart.tick(false));
        QCOMPARE(chart.rowLabel(0), QStringLiteral("[ 60 B ]  3.81%"));
        QCOMPARE(chart.rowLabel(12), QStringLiteral("[ 1514 B ]  96.19%"));
        QCOMPARE(chart.rowLabel(1), QStringLiteral("[ 0 B ]  0.00%"));
        const auto& series = chart.barChart().series();
        QCOMPARE(series[0].value(0), 3);
        QCOMPARE(series[12].value(12), 96);
        for (int j = 0; j < 13; ++j)
            if (j != 0)
                QCOMPARE(series[0].value(j), 0);
        QCOMPARE(series[0].label(), chart.rowLabel(0));
        // Without the cumulative flag the counts are gone after the tick.
        QCOMPARE(chart.keptBytes(0), std::uint64_t(0));
    }

    void quietSecondKeepsThePicture_data() {
        QTest::addColumn<bool>("cumulative");
        QTest::addColumn<int>("type");
        QTest::newRow("per second, bar") << false << 320;
        QTest::newRow("per second, pie") << false << 32;
        QTest::newRow("cumulative, bar") << true << 320;
    }
    void quietSecondKeepsThePicture() {
        QFETCH(bool, cumulative);
        QFETCH(int, type);
        DistributionChart chart(ChartKind::PacketSize);
        chart.setActiveType(type);
        const QByteArray small = etherFrame(0x0806, 60);
        chart.countFrame(0, snapHeader(small), bytesOf(small));
        QVERIFY(chart.tick(cumulative));
        const QImage before = chart.render(QSize(800, 600));
        QCOMPARE(chart.rowLabel(0), QStringLiteral("[ 60 B ]  100.00%"));
        // A second with no frame, then one with a frame of no size class.
        for (int length : {0, 128}) {
            if (length) {
                const QByteArray f = etherFrame(0x0800, length);
                chart.countFrame(0, snapHeader(f), bytesOf(f));
            }
            // Per second there is nothing to show; cumulative shows the same again.
            QCOMPARE(chart.tick(cumulative), cumulative);
            QCOMPARE(chart.rowLabel(0), QStringLiteral("[ 60 B ]  100.00%"));
            QCOMPARE(chart.render(QSize(800, 600)), before);
        }
    }

    void cumulativeAddsUp() {
        DistributionChart chart(ChartKind::PacketSize);
        chart.counters().addBytes(0, 0, 100000);
        QVERIFY(chart.tick(true));
        QCOMPARE(chart.rowLabel(0), QStringLiteral("[ 100000 B ]  100.00%"));
        chart.counters().addBytes(0, 0, 100000);
        QVERIFY(chart.tick(true));
        QCOMPARE(chart.rowLabel(0), QStringLiteral("[ 195.31 KB ]  100.00%"));
        QCOMPARE(chart.keptBytes(0), std::uint64_t(200000));
        // Switched off: the next tick shows what was kept with the new second,
        // then starts afresh.
        chart.counters().addBytes(0, 12, 200000);
        QVERIFY(chart.tick(false));
        QCOMPARE(chart.rowLabel(0), QStringLiteral("[ 195.31 KB ]  50.00%"));
        QCOMPARE(chart.rowLabel(12), QStringLiteral("[ 195.31 KB ]  50.00%"));
        chart.counters().addBytes(0, 12, 1000);
        QVERIFY(chart.tick(false));
        QCOMPARE(chart.rowLabel(0), QStringLiteral("[ 0 B ]  0.00%"));
        QCOMPARE(chart.rowLabel(12), QStringLiteral("[ 1000 B ]  100.00%"));
        QCOMPARE(chart.barChart().series()[12].value(12), 100);
    }

    void pieChosenShowsTheLastFiguresAtOnce() {
        DistributionChart chart(ChartKind::IPv4);
        const QByteArray tcp = ipv4Frame(6);
        const QByteArray udp = ipv4Frame(17);
        chart.countFrame(0, snapHeader(tcp), bytesOf(tcp));
        QVERIFY(chart.tick(false));
        QCOMPARE(chart.barChart().series()[2].value(2), 100);
        // The pie shows the last figures as soon as it is chosen (a file read
        // to its end brings no tick that would), then each tick's counts.
        chart.setActiveType(CChartWnd::kPieChart);
        QCOMPARE(&chart.activeChart(), &chart.pieChart());
        QCOMPARE(chart.pieChart().series()[0].value(2), 100);
        QCOMPARE(chart.pieChart().series()[0].pointLabel(2), QStringLiteral("100.00%"));
        chart.countFrame(0, snapHeader(udp), bytesOf(udp));
        chart.countFrame(0, snapHeader(udp), bytesOf(udp));
        chart.countFrame(0, snapHeader(tcp), bytesOf(tcp));
        QVERIFY(chart.tick(false));
        QCOMPARE(chart.pieChart().series()[0].value(2), 33);
        QCOMPARE(chart.pieChart().series()[0].value(5), 66);
        QCOMPARE(chart.pieChart().series()[0].pointLabel(5), QStringLiteral("66.67%"));
        // The bar chart keeps its last picture; its labels follow.
        QCOMPARE(chart.barChart().series()[2].value(2), 100);
        QCOMPARE(chart.rowLabel(5), QStringLiteral("[ 120 B ]  66.67%"));
    }

    // Two threads count at full speed while the tick hands the counters
    // over: every byte turns up in exactly one hand-over.
    void noByteLostBetweenThreadsAndTick() {
        DistributionChart chart(ChartKind::Application);
        const QByteArray web = ipv4Frame(6, 443, 52000, 1514); // Web
        const QByteArray dns = ipv4Frame(17, 53, 53, 90);      // DNS twice
        const QByteArray mixed = ipv4Frame(6, 22, 80, 300);    // SSH and Web
        constexpr int kFrames = 400000;
        std::atomic<int> running{2};
        auto feed = [&](int slot, const QByteArray& a, const QByteArray& b) {
            const pcap_pkthdr ha = snapHeader(a);
            const pcap_pkthdr hb = snapHeader(b);
            for (int i = 0; i < kFrames; ++i) {
                chart.countFrame(slot, ha, bytesOf(a));
                chart.countFrame(slot, hb, bytesOf(b));
            }
            running.fetch_sub(1);
        };
        std::thread tcp(feed, 0, web, mixed);
        std::thread udp(feed, 1, dns, dns);
        DistributionChart::Bytes sum{};
        int handOvers = 0;
        while (running.load() > 0) {
            const auto taken = chart.counters().take();
            for (std::size_t i = 0; i < sum.size(); ++i)
                sum[i] += taken[i];
            ++handOvers;
        }
        tcp.join();
        udp.join();
        const auto rest = chart.counters().take();
        for (std::size_t i = 0; i < sum.size(); ++i)
            sum[i] += rest[i];
        QVERIFY(handOvers > 1);
        const std::uint64_t n = kFrames;
        QCOMPARE(sum[0], n * (1514 + 300)); // Web
        QCOMPARE(sum[4], n * 300);          // SSH
        QCOMPARE(sum[7], n * 2 * 2 * 90);   // DNS: two frames a round, twice each
        std::uint64_t others = 0;
        for (std::size_t i = 0; i < sum.size(); ++i)
            if (i != 0 && i != 4 && i != 7)
                others += sum[i];
        QCOMPARE(others, std::uint64_t(0));
    }

    // Seconds of a file replayed faster than real time: whole, in order, merged
    // across the two captures, late stamps kept in the second they arrive in.
    // Each step is "slot:second:bytes", "slot:end" or "take=SECOND:BYTES,...".
    void fileSecondsComeWholeAndInOrder_data() {
        QTest::addColumn<QString>("steps");
        QTest::newRow("one capture")
            << QStringLiteral("0:10:5 0:10:5 take= 0:11:1 take=10:10 0:13:2 0:end take=11:1,13:2");
        QTest::newRow("late stamp counts in the second it arrives in")
            << QStringLiteral("0:10:5 0:11:1 0:10:7 0:end take=10:5,11:8");
        QTest::newRow("two captures: a second waits for the slower")
            << QStringLiteral("0:10:1 0:12:1 take= 1:10:4 take= 1:11:2 take=10:5 1:end "
                              "take=11:2 0:end take=12:1");
        QTest::newRow("a capture that sees nothing")
            << QStringLiteral("0:10:1 0:11:1 take= 1:end take=10:1 0:end take=11:1");
    }
    void fileSecondsComeWholeAndInOrder() {
        QFETCH(QString, steps);
        FileSeconds seconds;
        seconds.reset(steps.contains(QLatin1String(" 1:")) ? 2 : 1);
        for (const QString& step : steps.split(QLatin1Char(' '))) {
            if (step.startsWith(QLatin1String("take="))) {
                QStringList got;
                for (const FileSeconds::Second& s : seconds.take())
                    got << QStringLiteral("%1:%2").arg(s.second).arg(s.bytes[3]);
                QCOMPARE(got.join(QLatin1Char(',')), step.mid(5));
                continue;
            }
            const QStringList f = step.split(QLatin1Char(':'));
            if (f[1] == QLatin1String("end")) {
                seconds.finish(f[0].toInt());
                continue;
            }
            FrameShare share;
            share.count = 1;
            share.category[0] = 3;
            share.bytes = f[2].toUInt();
            seconds.add(f[0].toInt(), f[1].toLongLong(), share);
        }
        QVERIFY(seconds.done());
    }

    // A capture far ahead of the other waits for the tick instead of piling
    // up seconds, and the slower one never waits: both end, every byte taken.
    void fileSecondsStayBoundedWithoutDeadlock() {
        FileSeconds seconds;
        seconds.reset(2);
        constexpr long long kSeconds = 3 * FileSeconds::kMaxPending;
        FrameShare share;
        share.count = 1;
        share.bytes = 1;
        auto run = [&](int slot) {
            for (long long s = 0; s < kSeconds; ++s)
                seconds.add(slot, s, share);
            seconds.finish(slot);
        };
        std::thread fast(run, 0);
        // The fast capture stops at the bound while the slow one has not begun.
        QTRY_COMPARE(seconds.pending(), FileSeconds::kMaxPending);
        QTest::qWait(50);
        QCOMPARE(seconds.pending(), FileSeconds::kMaxPending);
        std::thread slow(run, 1);
        std::uint64_t total = 0;
        long long expected = 0;
        bool ordered = true;
        while (!seconds.done()) {
            const auto taken = seconds.take();
            for (const auto& s : taken) {
                ordered = ordered && s.second == expected++;
                total += s.bytes[0];
            }
        }
        fast.join();
        slow.join();
        QVERIFY(ordered);
        QCOMPARE(total, std::uint64_t(2 * kSeconds));
    }
};

QTEST_MAIN(TestDistribution)
#include "tst_distribution.moc"
