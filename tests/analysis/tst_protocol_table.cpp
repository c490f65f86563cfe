// The shared protocol table through its consumers: for every number it lists,
// the chart and the trace agree on the colour, the trace legends and the
// charts on their categories, and what the list names the decoder names too.
#include "core/analysis/classify.h"
#include "core/analysis/decode_tree.h"
#include "core/analysis/protocol_table.h"
#include "core/stats/distribution_tables.h"
#include "core/trace/trace_colours.h"
#include "support/chart_frames.h"

#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;
namespace P = qarsilo::protocols;

Q_DECLARE_METATYPE(qarsilo::ChartKind)

namespace {

enum class Kind { EtherType, Sap, IpProtocol, Port };

QByteArray frameOf(Kind kind, int value) {
    switch (kind) {
    case Kind::EtherType:
        return etherFrame(static_cast<std::uint16_t>(value));
    case Kind::Sap:
        return llcFrame(static_cast<std::uint8_t>(value));
    case Kind::IpProtocol:
        return ipv4Frame(static_cast<std::uint8_t>(value));
    case Kind::Port:
        break;
    }
    // The source port is listed in no row: only the destination counts.
    return ipv4Frame(6, 1, static_cast<std::uint16_t>(value));
}

ChartKind chartOf(Kind kind) {
    switch (kind) {
    case Kind::EtherType:
    case Kind::Sap:
        return ChartKind::NetworkLayer;
    case Kind::IpProtocol:
        return ChartKind::IPv4;
    case Kind::Port:
        break;
    }
    return ChartKind::Application;
}

int layerOf(Kind kind) {
    return kind == Kind::Port ? 2 : kind == Kind::IpProtocol ? 1 : 0;
}

std::uint32_t rgbOf(const ChartCategory& c) {
    return std::uint32_t{c.red} << 16 | std::uint32_t{c.green} << 8 | c.blue;
}

template <typename Row, std::size_t N>
void addRows(Kind kind, const char* name, const Row (&rows)[N]) {
    for (const Row& row : rows)
        QTest::addRow("%s %d", name, int(row.key)) << int(kind) << int(row.key);
}

void addAllRows() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("value");
    addRows(Kind::EtherType, "type", P::kEtherTypes);
    addRows(Kind::Sap, "SAP", P::kSaps);
    addRows(Kind::IpProtocol, "IP protocol", P::kIpProtocols);
    addRows(Kind::Port, "port", P::kPorts);
    // Values no row lists.
    QTest::addRow("type 0x88CC") << int(Kind::EtherType) << 0x88CC;
    QTest::addRow("SAP 0x06") << int(Kind::Sap) << 0x06;
    QTest::addRow("IP protocol 41") << int(Kind::IpProtocol) << 41;
    QTest::addRow("port 8080") << int(Kind::Port) << 8080;
}

} // namespace

class TestProtocolTable : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A value's trace colour is its chart category's colour; values the chart
    // counts under "Other(s)" or not at all are black in the trace. Two
    // values are known to differ and are pinned here.
    void traceDrawsAValueInItsChartColour_data() { addAllRows(); }
    void traceDrawsAValueInItsChartColour() {
        QFETCH(int, kind);
        QFETCH(int, value);
        const QByteArray frame = frameOf(Kind(kind), value);
        const ChartKind chart = chartOf(Kind(kind));
        const FrameShare share = chartFrameShare(chart, 0, snapHeader(frame), bytesOf(frame));
        const auto trace = traceColour(layerOf(Kind(kind)), bytesOf(frame),
                                       static_cast<std::size_t>(frame.size()));
        QVERIFY(trace);

        const auto categories = chartKindInfo(chart).categories;
        const bool other = share.count == 0 || share.category[0] + 1u == categories.size();
        // The application chart has no "Others" category: all 13 are protocols.
        const bool charted = share.count == 1 && (chart == ChartKind::Application || !other);
        if (Kind(kind) == Kind::EtherType && value == 0x814C) {
            QVERIFY(!charted);
            QCOMPARE(*trace, 0x800000u); // the trace alone colours it
        } else if (Kind(kind) == Kind::Port && value == 1720) {
            QVERIFY(charted);
            QCOMPARE(*trace, 0x000000u); // the chart counts it as H.323, the trace does not
        } else if (charted) {
            QCOMPARE(*trace, rgbOf(categories[share.category[0]]));
        } else {
            QCOMPARE(*trace, 0x000000u);
        }
    }

    // Each trace legend shows the chart's categories in the chart's order and
    // colours, then its own black "Other(s)"; no two rows of a legend share a
    // colour, or two protocols could not be told apart.
    void legendsFollowTheCharts_data() {
        QTest::addColumn<int>("layer");
        QTest::addColumn<ChartKind>("chart");
        QTest::newRow("network") << 0 << ChartKind::NetworkLayer;
        QTest::newRow("IP-based") << 1 << ChartKind::IPv4;
        QTest::newRow("application") << 2 << ChartKind::Application;
    }
    void legendsFollowTheCharts() {
        QFETCH(int, layer);
        QFETCH(ChartKind, chart);
        const auto legend = traceLegend(layer);
        const auto categories = chartKindInfo(chart).categories;
        // The chart's last category is its "Other(s)", except in the application chart.
        const std::size_t shared =
            chart == ChartKind::Application ? categories.size() : categories.size() - 1;
        QCOMPARE(legend.size(), shared + 1);
        QSet<std::uint32_t> colours;
        for (std::size_t i = 0; i < legend.size(); ++i) {
            if (i < shared)
                QCOMPARE(legend[i].rgb, rgbOf(categories[i]));
            QVERIFY2(!colours.contains(legend[i].rgb), legend[i].name);
            colours.insert(legend[i].rgb);
        }
        QCOMPARE(legend.back().rgb, 0x000000u);
    }

    // A number the list names is one the decoder names too: the field that
    // holds it never shows the decoder's suffix for unlisted values.
    void whatTheListNamesTheDecoderNames_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("unlisted");
        const QString unknown = QStringLiteral(" (?]");
        for (const P::EtherTypeRow& row : P::kEtherTypes) {
            if (!row.list.protocol.empty())
                QTest::addRow("type 0x%04X", row.key)
                    << etherFrame(row.key, 80) << QStringLiteral("Ethertype ") << unknown;
        }
        // 0xAA, SNAP, is "???" to the list: it names only what follows.
        for (const P::SapRow& row : P::kSaps) {
            if (!row.list.protocol.empty() && row.list.protocol.latin1 != "???")
                QTest::addRow("SAP 0x%02X", row.key)
                    << llcFrame(row.key, 46, 80) << QStringLiteral("SSAP ") << unknown;
        }
        for (const P::IpProtocolRow& row : P::kIpProtocols) {
            if (!row.list.protocol.empty())
                QTest::addRow("IP protocol %d", row.key)
                    << ipv4Frame(row.key, 1, 2, 80) << QStringLiteral("Protocol ") << unknown;
        }
        for (const P::SnapOrganizationRow& row : P::kSnapOrganizations) {
            QByteArray f = llcFrame(0xAA, 46, 80);
            f[17] = static_cast<char>(row.key >> 16);
            f[18] = static_cast<char>(row.key >> 8);
            f[19] = static_cast<char>(row.key);
            QTest::addRow("SNAP 0x%06X", row.key)
                << f << QStringLiteral("Organization Code ") << unknown;
        }
        for (const P::IpxSocketRow& row : P::kIpxSockets) {
            QByteArray f = llcFrame(0xE0, 46, 80);
            f[33] = static_cast<char>(row.key >> 8);
            f[34] = static_cast<char>(row.key);
            QTest::addRow("IPX socket 0x%04X", row.key)
                << f << QStringLiteral("Destination Socket ") << QStringLiteral(" (IPX)");
        }
        for (const P::NetbiosCommandRow& row : P::kNetbiosCommands) {
            QByteArray f = llcFrame(0xF0, 46, 80);
            f[21] = static_cast<char>(row.key);
            QTest::addRow("NetBIOS command 0x%02X", row.key)
                << f << QStringLiteral("Command ") << QStringLiteral(" (NetBIOS unknown)");
        }
    }
    void whatTheListNamesTheDecoderNames() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, field);
        QFETCH(QString, unlisted);
        FrameHeader header{};
        header.capLen = header.wireLen = static_cast<std::uint32_t>(frame.size());
        QVERIFY(classifyFrame(header, bytesOf(frame)).protocol != "???");
        const QString tree = decodeTreeText(decodeFrame(header, bytesOf(frame)));
        int found = 0;
        for (const QString& line : tree.split(QLatin1Char('\n'))) {
            if (line.trimmed().startsWith(field)) {
                ++found;
                QVERIFY2(!line.endsWith(unlisted), qPrintable(line));
            }
        }
        QCOMPARE(found, 1);
    }

    // Ports: the list's name and the decoder's application agree on which
    // ports are known, and the chart counts every port the list names.
    void listedPortsAreDecodedAndCharted_data() {
        QTest::addColumn<int>("port");
        for (const P::PortRow& row : P::kPorts) {
            if (!row.list.protocol.empty())
                QTest::addRow("%d", row.key) << int(row.key);
        }
    }
    void listedPortsAreDecodedAndCharted() {
        QFETCH(int, port);
        const QByteArray frame = ipv4Frame(6, 1, static_cast<std::uint16_t>(port), 80);
        FrameHeader header{};
        header.capLen = header.wireLen = static_cast<std::uint32_t>(frame.size());
        QVERIFY(classifyFrame(header, bytesOf(frame)).protocol != "TCP");
        const QString tree = decodeTreeText(decodeFrame(header, bytesOf(frame)));
        QVERIFY2(!tree.endsWith(QLatin1String("Undecoded\n")), qPrintable(tree));
        QVERIFY(applicationPortCategory(static_cast<std::uint16_t>(port)) >= 0);
    }
};

QTEST_MAIN(TestProtocolTable)
#include "tst_protocol_table.moc"
