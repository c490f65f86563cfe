// The statistics views' core: the frame rule and the Top Users rows, the tick
// with its strict peaks and averages, the graphs' scale rules and pixels, the
// single node figures and address lookups, and capture threads feeding the
// counters while the tick takes them.

#include "core/stats/distribution_counters.h"
#include "core/stats/general_stats.h"
#include "core/stats/rolling_graph_canvas.h"
#include "core/stats/single_node_stats.h"
#include "core/stats/tick_clock.h"
#include "core/stats/top_users_model.h"
#include "support/chart_frames.h"

#include <QAbstractItemModelTester>
#include <QTest>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

// An IPv4 frame from 10.0.0.1 (02:00:00:00:00:01) to 192.168.1.200 (0A:0B:0C:0D:0E:0F).
QByteArray ipv4From(int length, std::uint8_t lastSourceByte = 1) {
    QByteArray f = ipv4Frame(6, 1, 2, length);
    const char dst[6] = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
    const char src[6] = {0x02, 0, 0, 0, 0, static_cast<char>(lastSourceByte)};
    f.replace(0, 6, QByteArray(dst, 6));
    f.replace(6, 6, QByteArray(src, 6));
    const char ips[8] = {
        10, 0, 0, 1, static_cast<char>(192), static_cast<char>(168), 1, static_cast<char>(200)};
    f.replace(26, 8, QByteArray(ips, 8));
    return f;
}

QStringList cells(const TopUser& r) {
    QStringList out;
    for (int c = 0; c < TopUserColumn::Count; ++c)
        out << topUserCell(r, c);
    return out;
}

// Pixels of a known picture: which columns hold a bar of which height.
int barHeight(const QImage& image, int x, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        n += image.pixel(x, y) == colour;
    return n;
}

} // namespace

class TestStatsCore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Bits count the 24 bytes of framing from the wire length, whatever was captured.
    void frameRule_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("wire");
        QTest::addColumn<QStringList>("row");
        QTest::newRow("1514 bytes, 64 captured")
            << ipv4From(1514) << 1514
            << QStringList{QStringLiteral("12304"), QStringLiteral("10.0.0.1"),
                           QStringLiteral("192.168.1.200"), QStringLiteral("02:00:00:00:00:01"),
                           QStringLiteral("0A:0B:0C:0D:0E:0F")};
        QTest::newRow("60 bytes") << ipv4From(60) << 60
                                  << QStringList{QStringLiteral("672"), QStringLiteral("10.0.0.1"),
                                                 QStringLiteral("192.168.1.200"),
                                                 QStringLiteral("02:00:00:00:00:01"),
                                                 QStringLiteral("0A:0B:0C:0D:0E:0F")};
        QTest::newRow("ARP") << etherFrame(0x0806) << 60
                             << QStringList{QStringLiteral("672"), QStringLiteral("0.0.0.0"),
                                            QStringLiteral("0.0.0.0"),
                                            QStringLiteral("02:03:04:05:06:07"),
                                            QStringLiteral("FF:FF:FF:FF:FF:FF")};
        QTest::newRow("IPv6") << ipv6Frame(17) << 80
                              << QStringList{QStringLiteral("832"), QStringLiteral("0.0.0.0"),
                                             QStringLiteral("0.0.0.0"),
                                             QStringLiteral("02:03:04:05:06:07"),
                                             QStringLiteral("FF:FF:FF:FF:FF:FF")};
        // Cut inside the IPv4 header: no address is read past the capture.
        QTest::newRow("IPv4 cut at 30 bytes")
            << ipv4From(1514).left(30) << 1514
            << QStringList{QStringLiteral("12304"), QStringLiteral("10.0.0.1"),
                           QStringLiteral("0.0.0.0"), QStringLiteral("02:00:00:00:00:01"),
                           QStringLiteral("0A:0B:0C:0D:0E:0F")};
        // Cut inside the destination address: the captured bytes count, the rest read as 0.
        QTest::newRow("IPv4 cut at 32 bytes")
            << ipv4From(1514).left(32) << 1514
            << QStringList{QStringLiteral("12304"), QStringLiteral("10.0.0.1"),
                           QStringLiteral("192.168.0.0"), QStringLiteral("02:00:00:00:00:01"),
                           QStringLiteral("0A:0B:0C:0D:0E:0F")};
    }
    void frameRule() {
        QFETCH(QByteArray, frame);
        QFETCH(int, wire);
        QFETCH(QStringList, row);
        GeneralStats stats(100'000'000);
        const pcap_pkthdr h = snapHeader(frame, static_cast<std::uint32_t>(wire));
        stats.countFrame(h, bytesOf(frame));
        stats.tick(1000);
        QCOMPARE(stats.currentBits(), static_cast<std::uint64_t>((wire + 24) * 8));
        QCOMPARE(stats.currentPackets(), 1u);
        QCOMPARE(stats.rows().size(), 1u);
        QCOMPARE(cells(stats.rows()[0]), row);
    }

    // A wire length no Ethernet frame has is counted as the largest one (or as
    // what was captured, when more) and as malformed, in every figure;
    // so is a frame shorter on the wire than captured, at its own length.
    void wireLengthCap_data() {
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<int>("captured");
        QTest::addColumn<quint32>("wire");
        QTest::addColumn<quint32>("counted");
        QTest::addColumn<bool>("malformed");
        QTest::newRow("0xFFFFFFFF on the wire") << 1514 << 64 << 0xFFFFFFFFu << 9018u << true;
        QTest::newRow("more captured than the cap")
            << 12000 << 12000 << 0xFFFFFFFFu << 12000u << true;
        QTest::newRow("shorter on the wire than captured") << 60 << 60 << 40u << 40u << true;
        QTest::newRow("jumbo frame") << 9018 << 64 << 9018u << 9018u << false;
    }
    void wireLengthCap() {
        QFETCH(int, frameSize);
        QFETCH(int, captured);
        QFETCH(quint32, wire);
        QFETCH(quint32, counted);
        QFETCH(bool, malformed);
        const QByteArray frame = ipv4From(frameSize);
        pcap_pkthdr h{};
        h.caplen = static_cast<std::uint32_t>(captured);
        h.len = wire;
        const std::uint64_t bits = (std::uint64_t{counted} + 24) * 8;

        // 10 Mb/s: a 0xFFFFFFFF frame counted as it says is 343,597 %.
        GeneralStats general(10'000'000);
        general.countFrame(h, bytesOf(frame));
        general.tick(1000);
        QCOMPARE(general.currentBits(), bits);
        QVERIFY2(general.currentUtilization() < 1.0,
                 qPrintable(QString::number(general.currentUtilization())));
        QVERIFY(general.peakUtilization() < 1.0);
        QCOMPARE(general.malformedFrames(), std::uint64_t(malformed));

        SingleNodeStats single(10'000'000, 1000);
        single.countSent(h, bytesOf(frame));
        single.countReceived(h, bytesOf(frame));
        single.tick(1001);
        QCOMPARE(single.bytes(SingleNodeStats::Send), std::uint64_t{counted} + 24);
        QVERIFY(single.current(SingleNodeStats::Send) < 1.0);
        QCOMPARE(single.malformedFrames(), std::uint64_t(malformed ? 2 : 0));

        DistributionCounters counters;
        const FrameShare share = chartFrameShare(ChartKind::NetworkLayer, 0, h, bytesOf(frame));
        QCOMPARE(share.bytes, counted + 24);
        counters.add(0, share);
        QCOMPARE(counters.malformedFrames(), std::uint64_t(malformed));
        QCOMPARE(chartFrameShare(ChartKind::PacketSize, 0, h, bytesOf(frame)).bytes, counted);
    }

    // Ticks of 1000, 3000, 3000 (equal: no new peak), 0 (quiet) bits on a 10 kb/s link.
    void tickPeaksAndAverages() {
        GeneralStats stats(10'000);
        const QByteArray f = ipv4From(101); // (101 + 24) * 8 = 1000 bits
        const pcap_pkthdr h = snapHeader(f);
        const int frames[] = {1, 3, 3, 0};
        struct Expected {
            const char* current;
            const char* average;
            const char* peak;
            qint64 peakTime;
            double averageBits;
        };
        const Expected expected[] = {{"10.00", "10.00", "10.00", 101, 1000},
                                     {"30.00", "20.00", "30.00", 102, 2000},
                                     {"30.00", "23.33", "30.00", 102, 7000.0 / 3},
                                     {"0.00", "17.50", "30.00", 102, 1750}};
        for (int t = 0; t < 4; ++t) {
            for (int i = 0; i < frames[t]; ++i)
                stats.countFrame(h, bytesOf(f));
            stats.tick(101 + t);
            const Expected& e = expected[t];
            QCOMPARE(utilizationText(stats.currentUtilization()), QLatin1String(e.current));
            QCOMPARE(utilizationText(stats.averageUtilization()), QLatin1String(e.average));
            QCOMPARE(utilizationText(stats.peakUtilization()), QLatin1String(e.peak));
            QCOMPARE(stats.peakBitsTime(), e.peakTime);
            QCOMPARE(stats.peakPacketsTime(), e.peakTime);
            QCOMPARE(stats.averageBits(), e.averageBits);
            QCOMPARE(stats.sampleCount(), double(t + 1));
        }
        QCOMPARE(stats.peakPackets(), 3u);
        QCOMPARE(averageText(stats.averagePackets()), QStringLiteral("2"));
        QVERIFY(stats.rows().empty()); // the quiet second has no rows
        // Counters are 64 bits wide: more than 2^32 bits in one second (jumbo
        // frames, the longest a wire length counts) do not wrap.
        GeneralStats fast(10'000'000'000);
        const pcap_pkthdr big = snapHeader(f, 9018);
        for (int i = 0; i < 60'000; ++i)
            fast.countFrame(big, bytesOf(f));
        fast.tick(1);
        QCOMPARE(fast.currentBits(), 60'000ull * (9018 + 24) * 8);
        QCOMPARE(utilizationText(fast.currentUtilization()), QStringLiteral("43.40"));
    }

    // On a capture file the peaks carry the second of the frames counted, not
    // the tick's clock; the file's first second and the ticked one are known.
    void fileTimePeaks_data() {
        QTest::addColumn<bool>("fileTime");
        QTest::addColumn<QList<qint64>>("peakTimes"); // after each of three ticks
        // Ticks at 5000, 5001, 5002; frames stamped 100 (1), 103 (2), none.
        QTest::newRow("file time") << true << QList<qint64>{100, 103, 103};
        QTest::newRow("wall clock") << false << QList<qint64>{5000, 5001, 5001};
    }
    void fileTimePeaks() {
        QFETCH(bool, fileTime);
        QFETCH(QList<qint64>, peakTimes);
        GeneralStats stats(10'000);
        stats.setFileTime(fileTime);
        const QByteArray f = ipv4From(101);
        const int frames[] = {1, 2, 0};
        const qint64 stamps[] = {100, 103, 0};
        for (int t = 0; t < 3; ++t) {
            pcap_pkthdr h = snapHeader(f);
            h.ts.tv_sec = stamps[t];
            for (int i = 0; i < frames[t]; ++i)
                stats.countFrame(h, bytesOf(f));
            stats.tick(5000 + t);
            QCOMPARE(stats.peakBitsTime(), peakTimes[t]);
            QCOMPARE(stats.peakPacketsTime(), peakTimes[t]);
            qint64 first = 0;
            qint64 last = 0;
            QCOMPARE(stats.fileSeconds(first, last), fileTime);
            if (fileTime) {
                QCOMPARE(first, 100);
                QCOMPARE(last, t == 0 ? 100 : 103);
            }
        }
    }

    // Rows sort by Bits, larger first, equal ones in arrival order; both the
    // small-list sort and the radix sort of large seconds. No row while stopped.
    void topUsersOrder_data() {
        QTest::addColumn<int>("frames");
        QTest::newRow("few") << 7;
        QTest::newRow("some") << 300;
        QTest::newRow("many") << 5000;
    }
    void topUsersOrder() {
        QFETCH(int, frames);
        GeneralStats stats(10'000'000);
        std::vector<std::pair<int, int>> sent; // (length, arrival)
        for (int i = 0; i < frames; ++i) {
            const int length = 60 + ((i / 2) * 7919) % 70000; // pairs of equal lengths
            QByteArray f = ipv4From(64, static_cast<std::uint8_t>(i));
            const pcap_pkthdr h = snapHeader(f, static_cast<std::uint32_t>(length));
            stats.countFrame(h, bytesOf(f));
            sent.emplace_back(length, i);
        }
        stats.setStopped(true);
        stats.countFrame(snapHeader(ipv4From(60), 9000), bytesOf(ipv4From(60)));
        stats.tick(5);
        std::stable_sort(sent.begin(), sent.end(),
                         [](auto a, auto b) { return a.first > b.first; });
        QCOMPARE(stats.rows().size(), static_cast<std::size_t>(frames));
        QCOMPARE(stats.currentPackets(), static_cast<std::uint64_t>(frames + 1));
        for (int i = 0; i < frames; ++i) {
            const TopUser& r = stats.rows()[static_cast<std::size_t>(i)];
            QCOMPARE(int(r.length), sent[static_cast<std::size_t>(i)].first);
            QCOMPARE(int(r.sourceMac[5]), sent[static_cast<std::size_t>(i)].second & 0xFF);
        }
        TopUsersModel model(stats);
        QAbstractItemModelTester tester(&model);
        QCOMPARE(model.rowCount(), frames);
        QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("Destination MAC"));
        QCOMPARE(model.index(0, 0).data().toString(),
                 QString::number(std::uint64_t(sent[0].first) * 8 + 192));
    }

    // With a row limit a second keeps only the rows that may be listed: the
    // rows shown are the first ones of the whole second's list, ties in
    // arrival order, over several seconds, also when later seconds are
    // shorter than the rows dropped before or quiet. The same for a reader
    // that counts and ticks on one thread, and its figures while stopped.
    void rowLimit_data() {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("lengths"); // distinct lengths: few make many ties
        QTest::addColumn<bool>("oneThread");
        for (const bool one : {false, true}) {
            const char* how = one ? ", one thread" : "";
            QTest::addRow("1 of 50, all equal%s", how) << 1 << 50 << 1 << one;
            QTest::addRow("3 of 1000, few lengths%s", how) << 3 << 1000 << 4 << one;
            QTest::addRow("10 of 5000, many lengths%s", how) << 10 << 5000 << 3000 << one;
            QTest::addRow("20 of 2000, some lengths%s", how) << 20 << 2000 << 300 << one;
            QTest::addRow("600 of 3000, few lengths%s", how) << 600 << 3000 << 5 << one;
            QTest::addRow("more than the frames%s", how) << 40 << 30 << 7 << one;
        }
    }
    void rowLimit() {
        QFETCH(int, limit);
        QFETCH(int, frames);
        QFETCH(int, lengths);
        QFETCH(bool, oneThread);
        GeneralStats all(10'000'000);
        GeneralStats limited(10'000'000);
        GeneralStats counted(10'000'000);
        limited.setRowLimit(static_cast<std::size_t>(limit));
        limited.setGraphs(false); // the figures do not depend on the graphs
        counted.setStopped(true);
        std::uint32_t state = 7;
        // Later seconds: shorter frames than the first's, a quiet one, and
        // frames too long to be true (counted capped).
        const int base[] = {6200, 6200 - lengths, 0, 6200 - lengths / 2, 10000};
        const int counts[] = {frames, frames, 0, frames, frames / 2};
        for (int second = 0; second < 5; ++second) {
            for (int i = 0; i < counts[second]; ++i) {
                state = state * 1664525u + 1013904223u;
                const auto length = static_cast<std::uint32_t>(base[second]) -
                                    (state >> 8) % static_cast<std::uint32_t>(lengths);
                const QByteArray f = ipv4From(64, static_cast<std::uint8_t>(i));
                const pcap_pkthdr h = snapHeader(f, length);
                all.countFrame(h, bytesOf(f));
                if (oneThread) {
                    limited.countFrameOnTickThread(h, bytesOf(f));
                    counted.countFrameOnTickThread(h, bytesOf(f));
                } else {
                    limited.countFrame(h, bytesOf(f));
                    counted.countFrame(h, bytesOf(f));
                }
            }
            all.tick(second);
            for (GeneralStats* g : {&limited, &counted})
                oneThread ? g->tickOnCountingThread(second) : g->tick(second);
            const std::size_t listed = std::min(all.rows().size(), std::size_t(limit));
            QCOMPARE(limited.rows().size(), listed);
            for (std::size_t r = 0; r < listed; ++r)
                QCOMPARE(cells(limited.rows()[r]), cells(all.rows()[r]));
            QVERIFY(counted.rows().empty());
            for (const GeneralStats* g : {&limited, &counted}) {
                QCOMPARE(g->currentBits(), all.currentBits());
                QCOMPARE(g->currentPackets(), all.currentPackets());
                QCOMPARE(g->averageBits(), all.averageBits());
                QCOMPARE(g->peakUtilization(), all.peakUtilization());
                QCOMPARE(g->sampleCount(), all.sampleCount());
                QCOMPARE(g->malformedFrames(), all.malformedFrames());
            }
            QVERIFY(limited.bitsGraph().history().empty());
            QCOMPARE(all.bitsGraph().history().size(), std::size_t(second + 1));
        }
        QVERIFY(all.malformedFrames() > 0); // lengths over the largest frame
    }

    // The figures' texts made without printf are printf's, rounding of
    // halves, huge values, zeros, infinities and NaNs included.
    void figureTexts_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("precision");
        const double values[] = {0.0,
                                 -0.0,
                                 0.125,
                                 0.375,
                                 2.5,
                                 3.5,
                                 0.005,
                                 1.005,
                                 99.995,
                                 12345.675,
                                 1e-7,
                                 123456789.987654321,
                                 1e17,
                                 1e300,
                                 -1.5,
                                 0.1 + 0.2,
                                 std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN(),
                                 -std::numeric_limits<double>::quiet_NaN()};
        for (int precision : {0, 2, 6})
            for (double v : values)
                QTest::addRow("%.17g, %d", v, precision) << v << precision;
    }
    void figureTexts() {
        QFETCH(double, value);
        QFETCH(int, precision);
        char expected[kMaxFigureText + 1];
        const char format[] = {'%', '.', char('0' + precision), 'f', '\0'};
        std::snprintf(expected, sizeof expected, format, value);
        char text[kMaxFigureText];
        const char* end = writeFixed(text, value, precision);
        QCOMPARE(QByteArray(text, end - text), QByteArray(expected));
        // Counts: "%llu" of the value's bits, every size of number.
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        std::snprintf(expected, sizeof expected, "%llu", static_cast<unsigned long long>(bits));
        end = writeCount(text, bits);
        QCOMPARE(QByteArray(text, end - text), QByteArray(expected));
        end = writeCount(text, bits >> (precision * 8));
        std::snprintf(expected, sizeof expected, "%llu",
                      static_cast<unsigned long long>(bits >> (precision * 8)));
        QCOMPARE(QByteArray(text, end - text), QByteArray(expected));
    }

    // Many values of each kind that occurs (and the edges of the exact way:
    // ties, tiny values, the largest it takes), against printf.
    void fixedTextsAgreeWithPrintf_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("precision");
        for (int precision : {0, 2, 6})
            for (int kind = 0; kind < 5; ++kind)
                QTest::addRow("kind %d, precision %d", kind, precision) << kind << precision;
    }
    void fixedTextsAgreeWithPrintf() {
        QFETCH(int, kind);
        QFETCH(int, precision);
        std::uint64_t state = 0x9E3779B97F4A7C15ULL * std::uint64_t(kind * 16 + precision + 1);
        const auto next = [&state] {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            return state;
        };
        double scale = 1;
        for (int i = 0; i < precision; ++i)
            scale *= 10;
        const char format[] = {'%', '.', char('0' + precision), 'f', '\0'};
        for (int i = 0; i < 100000; ++i) {
            double value = 0;
            const std::uint64_t r = next();
            switch (kind) {
            case 0: // percentages and averages
                value = double(r % 100000000) / double(1 + r % 1000);
                break;
            case 1: // halves of the last digit, and a few ulps beside them
                value = std::nextafter((double(r % 2000000) + 0.5) / scale,
                                       (r >> 40) % 3 == 0   ? 0.0
                                       : (r >> 40) % 3 == 1 ? 1e300
                                                            : (double(r % 2000000) + 0.5) / scale);
                break;
            case 2: // any bits of a positive finite double up to 2^63
                std::memcpy(&value, &r, sizeof value);
                value = std::fabs(value);
                if (!std::isfinite(value) || value > 9.2e18)
                    value = double(r >> 11);
                break;
            case 3: // tiny and subnormal
                value = std::ldexp(double(r >> 11), -int(60 + r % 1000));
                break;
            default: // around the largest the exact way takes, and negatives
                value = (r & 1 ? -1 : 1) * std::ldexp(double(r >> 11), int(r % 70) - 20);
                break;
            }
            char expected[kMaxFigureText + 1];
            std::snprintf(expected, sizeof expected, format, value);
            char text[kMaxFigureText];
            const char* end = writeFixed(text, value, precision, true);
            if (QByteArray(text, end - text) != QByteArray(expected))
                QFAIL(qPrintable(QStringLiteral("%1: \"%2\", printf \"%3\"")
                                     .arg(value, 0, 'g', 17)
                                     .arg(QString::fromLatin1(text, end - text),
                                          QString::fromLatin1(expected))));
        }
    }

    void scaleRules_data() {
        QTest::addColumn<bool>("utilization");
        QTest::addColumn<double>("largest");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QString>("label");
        QTest::newRow("9 bits") << false << 9.0 << 10.0 << "10  ";
        QTest::newRow("10 bits") << false << 10.0 << 100.0 << "100  ";
        QTest::newRow("12,345 bits") << false << 12345.0 << 100000.0 << "100 k";
        QTest::newRow("quiet bits") << false << 0.0 << 10.0 << "10  ";
        QTest::newRow("2.5 Gb") << false << 2.5e9 << 1e10 << "10 G";
        QTest::newRow("0.5%") << true << 0.5 << 0.5 << "0.50";
        QTest::newRow("1%") << true << 1.0 << 10.0 << "10.00";
        QTest::newRow("7.2%") << true << 7.2 << 8.0 << "8.00";
        QTest::newRow("37%") << true << 37.0 << 40.0 << "40.00";
        QTest::newRow("0.07%") << true << 0.07 << 0.07 << "0.07";
        QTest::newRow("idle %") << true << 0.0 << 0.0 << "0.00"; // never "-0.00"
    }
    void scaleRules() {
        QFETCH(bool, utilization);
        QFETCH(double, largest);
        QFETCH(double, scale);
        QFETCH(QString, label);
        GraphTrack track(utilization ? GraphScaleRule::Utilization : GraphScaleRule::PowerOfTen,
                         Qt::red);
        track.append(largest / 2);
        track.append(largest);
        track.append(0);
        QVERIFY(qFuzzyCompare(track.scale(), scale));
        QCOMPARE(utilization ? utilizationText(track.scale()) : engineeringText(track.scale()),
                 label);
    }

    // The 42nd sample pushes the first out, and the picture has one bar per sample.
    void graphHistoryAndPixels() {
        GraphTrack track(GraphScaleRule::PowerOfTen, QColor(255, 0, 0));
        track.append(99); // scale 100 while it stays
        for (int i = 1; i < 42; ++i)
            track.append(i % 2 ? 50 : 0);
        QCOMPARE(track.history().size(), 41u);
        QCOMPARE(track.scale(), 100.0); // 99 has gone: the largest is 50
        QCOMPARE(track.history().front(), 50.0);

        RollingGraphCanvas canvas(QSize(500, 110));
        canvas.setRange(kGraphRange);
        canvas.draw(track);
        const QImage& image = canvas.image();
        const QRgb red = qRgb(255, 0, 0);
        const QRgb green = RollingGraphCanvas::kGridColour.rgb();
        // The newest bar at x = W - 10 .. W - 6: 50 of a scale of 100 is 50 of
        // the range 110, so 50 of 110 pixels. Older bars carry the grid lines
        // drawn over them since (5 of them cross a bar of 50).
        QCOMPARE(barHeight(image, 490, red), 50);
        QCOMPARE(barHeight(image, 494, red), 50);
        QCOMPARE(barHeight(image, 495, red), 0); // 5 pixels wide
        QCOMPARE(barHeight(image, 480, red), 0);
        QCOMPARE(barHeight(image, 470, red), 45);
        QCOMPARE(barHeight(image, 490 - 40 * 10, red), 45); // the oldest kept
        QCOMPARE(barHeight(image, 490 - 41 * 10, red), 0);  // nothing older
        QCOMPARE(image.pixel(3, 10), green);                // grid line
        QCOMPARE(image.pixel(3, 11), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(480, 53), green); // the tick from H/2 - 2 to H/2 + 2
        QCOMPARE(image.pixel(480, 57), green);
        QCOMPARE(image.pixel(480, 58), qRgb(255, 255, 255));
        // A value above the range fills the whole height.
        canvas.addValue(500, QColor(0, 0, 255));
        QCOMPARE(barHeight(image, 490, qRgb(0, 0, 255)), 110);
    }

    void singleNodeFigures() {
        SingleNodeStats stats(100'000'000, 1000);
        const QByteArray sent = ipv4From(1514);
        stats.countSent(snapHeader(sent), bytesOf(sent));
        const QByteArray arp = etherFrame(0x0806);
        stats.countReceived(snapHeader(arp), bytesOf(arp));
        stats.tick(1001);
        QCOMPARE(stats.bytes(SingleNodeStats::Send), 1538u);
        QCOMPARE(stats.bitsPerSecond(SingleNodeStats::Send), 12304u);
        QCOMPARE(nodeUtilizationText(stats.current(SingleNodeStats::Send)),
                 QStringLiteral("0.012304"));
        QCOMPARE(stats.bytes(SingleNodeStats::Total), 1538u + 84u);
        QCOMPARE(stats.lastSentToMac(), QStringLiteral("0A:0B:0C:0D:0E:0F"));
        QCOMPARE(stats.lastSentToIp(), QStringLiteral("192.168.1.200"));
        QCOMPARE(stats.lastReceivedFromMac(), QStringLiteral("02:03:04:05:06:07"));
        QCOMPARE(stats.lastReceivedFromIp(), QStringLiteral("-"));
        QCOMPARE(stats.peakTime(SingleNodeStats::Send), 1001);

        // Averages run over the minute since the start and restart at 60 s.
        for (qint64 t = 1002; t < 1060; ++t)
            stats.tick(t);
        QVERIFY(stats.average(SingleNodeStats::Send) > 0);
        stats.countSent(snapHeader(sent), bytesOf(sent));
        stats.tick(1060);
        QCOMPARE(stats.average(SingleNodeStats::Send), stats.current(SingleNodeStats::Send));
        QCOMPARE(stats.average(SingleNodeStats::Receive), 0.0);
        QCOMPARE(stats.peakTime(SingleNodeStats::Send), 1001); // equal is no new peak
    }

    void nodeLookup_data() {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ip");
        QTest::newRow("book in lower case") << "0A:0B:0C:0D:0E:0F"
                                            << "HOST"
                                            << "10.0.0.9";
        QTest::newRow("same case") << "02:00:00:00:00:01"
                                   << "PRINTER"
                                   << "10.0.0.1";
        QTest::newRow("name '-' skipped") << "02:00:00:00:00:02"
                                          << "LATER"
                                          << "10.0.0.2";
        QTest::newRow("unknown") << "02:00:00:00:00:99"
                                 << "02:00:00:00:00:99"
                                 << "Undiscover";
    }
    void nodeLookup() {
        QFETCH(QString, node);
        QFETCH(QString, name);
        QFETCH(QString, ip);
        const std::vector<AddressEntry> list = {
            {QStringLiteral("0a:0b:0c:0d:0e:0f"), QStringLiteral("HOST"),
             QStringLiteral("10.0.0.9")},
            {QStringLiteral("02:00:00:00:00:01"), QStringLiteral("PRINTER"),
             QStringLiteral("10.0.0.1")},
            {QStringLiteral("02:00:00:00:00:02"), QStringLiteral("-"), QStringLiteral("10.0.0.2")},
            {QStringLiteral("02:00:00:00:00:02"), QStringLiteral("LATER"),
             QStringLiteral("10.0.0.3")}};
        const NodeLookup found = lookupNode(list, node);
        QCOMPARE(found.name, name);
        QCOMPARE(found.ip, ip);
    }

    // Capture threads add while the tick takes: no frame is lost or counted twice.
    void threadsLoseNothing() {
        GeneralStats general(10'000'000);
        SingleNodeStats node(10'000'000, 0);
        const QByteArray f = ipv4From(100);
        const pcap_pkthdr h = snapHeader(f);
        constexpr int kFrames = 200'000;
        std::atomic<int> running{2};
        auto feed = [&](bool receive) {
            for (int i = 0; i < kFrames; ++i) {
                general.countFrame(h, bytesOf(f));
                if (receive)
                    node.countReceived(h, bytesOf(f));
                else
                    node.countSent(h, bytesOf(f));
            }
            running.fetch_sub(1);
        };
        std::thread a(feed, true);
        std::thread b(feed, false);
        std::uint64_t packets = 0;
        std::size_t rows = 0;
        int mismatches = 0;
        std::uint64_t nodeBytes = 0;
        std::uint64_t sentBytes = 0;
        qint64 second = 0;
        auto tick = [&] {
            general.tick(++second);
            node.tick(second);
            packets += general.currentPackets();
            rows += general.rows().size();
            // A second's rows are the frames of its figures, not a frame more or less.
            mismatches += general.rows().size() != general.currentPackets();
            nodeBytes += node.bytes(SingleNodeStats::Total);
            sentBytes += node.bytes(SingleNodeStats::Send);
            (void)node.lastSentToIp();
        };
        while (running.load() > 0)
            tick();
        a.join();
        b.join();
        tick();
        QCOMPARE(packets, 2u * kFrames);
        QCOMPARE(rows, 2u * kFrames);
        QCOMPARE(mismatches, 0);
        QCOMPARE(nodeBytes, 2u * kFrames * 124);
        QCOMPARE(sentBytes, 1u * kFrames * 124);
    }

    // One tick per second from the first frame's to the last one's, quiet ones included.
    void tickClock() {
        TickClock clock;
        QList<qint64> ticks;
        const auto tick = [&ticks](qint64 s) { ticks << s; };
        for (qint64 s : {100, 100, 103, 102, 104})
            clock.frame(s, tick);
        clock.finish(tick);
        QCOMPARE(ticks, (QList<qint64>{100, 101, 102, 103, 104}));
        QCOMPARE(clock.firstSecond(), 100);
    }
};

QTEST_GUILESS_MAIN(TestStatsCore)
#include "tst_stats_core.moc"
