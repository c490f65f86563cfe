// The chart renderer, checked on the pixels of its image: the places are
// worked out here from the chart's layout rules and the fonts' metrics.

#include "core/capture/capture_params.h"
#include "core/stats/chart_wnd.h"
#include "core/stats/distribution_chart.h"
#include "support/scripted_message_service.h"

#include <QDir>
#include <QFontMetrics>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <map>

#include <pcap/pcap.h>

using namespace qarsilo;

namespace {

QColor pixel(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

QString rgb(QColor c) {
    return QStringLiteral("(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

#define QCOMPARE_PIXEL(image, x, y, colour) QCOMPARE(rgb(pixel(image, x, y)), rgb(colour))

// `text` drawn by its top left corner at `at` on a white image: its ink must be
// in `chart` at the same place, pixel for pixel. Returns the number of ink
// pixels compared (0 when any differs).
int inkAt(const QImage& chart, const QFont& font, QPoint at, const QString& text,
          QColor colour = Qt::black) {
    QImage expected(chart.size(), QImage::Format_RGB32);
    expected.fill(Qt::white);
    {
        QPainter p(&expected);
        p.setFont(font);
        p.setPen(colour);
        p.drawText(at.x(), at.y() + p.fontMetrics().ascent(), text);
    }
    int ink = 0;
    // The frame's border is left out: a text may run over it.
    for (int y = 1; y < chart.height() - 1; ++y)
        for (int x = 1; x < chart.width() - 1; ++x) {
            const QRgb e = expected.pixel(x, y);
            if (e == qRgb(255, 255, 255))
                continue;
            if (chart.pixel(x, y) != e)
                return 0;
            ++ink;
        }
    return ink;
}

// Pixels of `colour` inside a rectangle.
int countColour(const QImage& image, const QRect& area, QColor colour) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += image.pixelColor(x, y) == colour;
    return n;
}

// Every pixel inside the one-pixel frame is white.
bool blankInside(const QImage& image) {
    return countColour(image, image.rect().adjusted(1, 1, -1, -1), Qt::white) ==
           (image.width() - 2) * (image.height() - 2);
}

// The title's height: the largest even height from 24 whose half, times the
// title's length, fits the width less 5; 0 when none does.
int titleHeight(int titleLength, int width) {
    for (int h = 24; h > 0; h -= 2)
        if (titleLength * (h / 2) <= width - 5)
            return h;
    return 0;
}

// The bar chart's plot (orientation 0) worked out from the layout rules.
struct BarPlot {
    int x0, y0, width, height, depth, row;
};

BarPlot barPlot(const CChartWnd& chart, int W, int H, const QString& categoryTitle,
                const QString& valueTitle, int longestLabel) {
    const int w = W - 5;
    const int h = H - 20;
    const int lenC = int(categoryTitle.length());
    const int lenV = int(valueTitle.length());
    int fh = 0;
    for (int k = 20; k > 0 && !fh; k -= 2)
        if (h < w ? h >= (k / 2) * lenV : w >= (k / 2) * lenC)
            fh = k;
    const QFontMetrics fm(CChartWnd::chartFont(fh));
    const int t = lenC ? fm.height() + 10 : 0;
    BarPlot p{};
    p.x0 = t + lenC * fm.averageCharWidth() + 85;
    p.y0 = h - fm.height() - 15;
    p.height = h - fm.height() - 55;
    p.width = w - p.x0 - 5;
    if (chart.hasLegend()) {
        const int left = w - longestLabel * int(chart.legendFontHeight() * 0.66) - 30;
        p.width = left - p.x0 - 10;
    }
    p.depth = int(p.height * chart.depthRatio());
    p.width -= p.depth;
    p.height -= p.depth;
    p.row = chart.series().empty() ? 0 : p.height / int(chart.series().size());
    return p;
}

// A pie's centre and radius for one series, pie labels on, no legend.
struct PieGeometry {
    int cx, cy, radius, cw, line;
};

PieGeometry pieGeometry(int W, int H) {
    const int pw = W - 5 - 10;
    const int ph = H - 20 - 50;
    const QFontMetrics fm(CChartWnd::deviceFont());
    PieGeometry g{};
    g.cw = fm.maxWidth() + 10;
    g.line = fm.height() + 6;
    g.radius = (std::min(pw, ph) - 3 * g.cw) / 3;
    g.cy = (ph + 60) / 2;
    g.cx = 5 + pw / 2 - g.radius + g.radius;
    return g;
}

// The point of the circle at `degrees` from 9 o'clock towards 6 o'clock.
QPoint onCircle(int cx, int cy, int radius, int degrees) {
    const double a = degrees * M_PI / 180.0;
    return {cx + int(-radius * std::cos(a)), cy + int(radius * std::sin(a))};
}

ChartSeries pieSeries(std::initializer_list<int> values) {
    ChartSeries s;
    int c = 0;
    for (int v : values)
        s.addPoint(c++, v);
    return s;
}

// The contrast ratio of two colours (relative luminance, as for text on screens).
double contrast(QColor a, QColor b) {
    const auto luminance = [](QColor c) {
        const auto channel = [](double v) {
            v /= 255.0;
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Whether segments ab and cd cross or touch.
bool segmentsMeet(QPoint a, QPoint b, QPoint c, QPoint d) {
    const auto cross = [](QPoint o, QPoint p, QPoint q) {
        return static_cast<long long>(p.x() - o.x()) * (q.y() - o.y()) -
               static_cast<long long>(p.y() - o.y()) * (q.x() - o.x());
    };
    const auto within = [](QPoint p, QPoint q, QPoint r) {
        return std::min(p.x(), q.x()) <= r.x() && r.x() <= std::max(p.x(), q.x()) &&
               std::min(p.y(), q.y()) <= r.y() && r.y() <= std::max(p.y(), q.y());
    };
    const long long d1 = cross(c, d, a);
    const long long d2 = cross(c, d, b);
    const long long d3 = cross(a, b, c);
    const long long d4 = cross(a, b, d);
    if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0)))
        return true;
    return (d1 == 0 && within(c, d, a)) || (d2 == 0 && within(c, d, b)) ||
           (d3 == 0 && within(a, b, c)) || (d4 == 0 && within(a, b, d));
}

// The pie labels of `chart` drawn at `size`: one per slice, inside the image,
// apart from each other and from the legend; texts with ink in a colour that
// reads on the box's background; leader lines that never meet.
void checkPieLabels(const CChartWnd& chart, QSize size) {
    const std::vector<CChartWnd::PieLabel> labels = chart.pieLabels(size);
    int slices = 0;
    for (int c = 0; c < chart.largestPointCount(); ++c)
        slices += chart.series()[0].value(c) > 0;
    QCOMPARE(int(labels.size()), slices);
    const QImage image = chart.render(size);
    const QRect inside = image.rect().adjusted(1, 1, -1, -1);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const QRect& box = labels[i].box;
        QVERIFY2(inside.contains(box), qPrintable(QStringLiteral("label %1 at %2,%3 %4x%5")
                                                      .arg(i)
                                                      .arg(box.x())
                                                      .arg(box.y())
                                                      .arg(box.width())
                                                      .arg(box.height())));
        for (std::size_t j = 0; j < i; ++j)
            QVERIFY2(!box.intersects(labels[j].box),
                     qPrintable(QStringLiteral("labels %1 and %2 overlap").arg(i).arg(j)));
        // The background is the box's most common colour; every other colour
        // in it is ink, and the text's own colours read on it.
        std::map<QRgb, int> colours;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                ++colours[image.pixel(x, y)];
        QRgb background = 0;
        int most = 0;
        for (const auto& [rgb, n] : colours)
            if (n > most) {
                most = n;
                background = rgb;
            }
        QVERIFY2(colours.size() > 1, qPrintable(QStringLiteral("label %1 has no ink").arg(i)));
        const QColor textColours[] = {Qt::black, QColor(128, 0, 0), QColor(0, 0, 255)};
        for (QColor text : textColours)
            if (colours.count(text.rgb()))
                QVERIFY2(contrast(text, QColor(background)) >= 4.5,
                         qPrintable(QStringLiteral("label %1 on %2").arg(i).arg(rgb(background))));
        // The leader runs from inside the pie to the box's near edge.
        const QPolygon& leader = labels[i].leader;
        QVERIFY(leader.size() >= 2);
        const int gapToBox = std::min(std::abs(leader.last().x() - box.left()),
                                      std::abs(leader.last().x() - box.right()));
        QVERIFY(gapToBox <= 4);
        QVERIFY(leader.last().y() >= box.top() && leader.last().y() <= box.bottom());
        for (std::size_t j = 0; j < i; ++j) {
            const QPolygon& other = labels[j].leader;
            for (int a = 0; a + 1 < leader.size(); ++a)
                for (int b = 0; b + 1 < other.size(); ++b)
                    QVERIFY2(!segmentsMeet(leader[a], leader[a + 1], other[b], other[b + 1]),
                             qPrintable(QStringLiteral("leaders %1 and %2 cross").arg(i).arg(j)));
        }
    }
}

// Counts `file` into `chart` as its window's captures would: each frame that
// passes a capture's filter, in that capture's slot. False when the file is
// not an Ethernet capture.
bool countFile(DistributionChart& chart, ChartKind kind, const QString& file) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_open_offline(QFile::encodeName(file).constData(), errbuf);
    if (!handle)
        return false;
    if (pcap_datalink(handle) != DLT_EN10MB) {
        pcap_close(handle);
        return false;
    }
    const CaptureWindowParams& params = captureWindowParams(chartKindInfo(kind).window);
    std::array<bpf_program, 2> programs{};
    for (int slot = 0; slot < params.sessions; ++slot)
        pcap_compile(handle, &programs[std::size_t(slot)], params.filters[std::size_t(slot)], 1,
                     PCAP_NETMASK_UNKNOWN);
    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    while (pcap_next_ex(handle, &header, &bytes) == 1)
        for (int slot = 0; slot < params.sessions; ++slot)
            if (pcap_offline_filter(&programs[std::size_t(slot)], header, bytes))
                chart.countFrame(slot, *header, bytes);
    for (int slot = 0; slot < params.sessions; ++slot)
        pcap_freecode(&programs[std::size_t(slot)]);
    pcap_close(handle);
    return true;
}

} // namespace

class TestChartWnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void titleHeightSteps_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("expectedHeight");
        const QString title = QStringLiteral("Packet Size Distribution Bar Chart"); // 34
        QTest::newRow("wide: 24") << 600 << 24;
        QTest::newRow("exactly 24: 34 x 12 + 5") << 413 << 24;
        QTest::newRow("one short of 24: 22") << 412 << 22;
        QTest::newRow("300: 16") << 300 << 16;
        QTest::newRow("60: 2") << 60 << 2;
        QTest::newRow("38: none fits") << 38 << 0;
    }
    void titleHeightSteps() {
        QFETCH(int, width);
        QFETCH(int, expectedHeight);
        const QString title = QStringLiteral("Packet Size Distribution Bar Chart");
        QCOMPARE(titleHeight(int(title.length()), width), expectedHeight);

        // A pie chart without series draws nothing but the frame and the title.
        CChartWnd chart(CChartWnd::kPieChart);
        chart.setTitle(title);
        const QImage image = chart.render(QSize(width, 200));
        QCOMPARE(image.size(), QSize(width, 200));
        QCOMPARE_PIXEL(image, 0, 0, Qt::black);
        QCOMPARE_PIXEL(image, width - 1, 199, Qt::black);
        QCOMPARE_PIXEL(image, 1, 1, Qt::white);
        if (expectedHeight == 0) {
            QVERIFY(blankInside(image));
            return;
        }
        const QFont font = CChartWnd::chartFont(expectedHeight);
        const int x = width / 2 - int(title.length() / 2) * QFontMetrics(font).averageCharWidth();
        QVERIFY(inkAt(image, font, QPoint(x, 10), title) > 0);
        // and at no other height
        if (expectedHeight < 24)
            QCOMPARE(inkAt(image, CChartWnd::chartFont(expectedHeight + 2), QPoint(x, 10), title),
                     0);
    }

    void legendSwatchesAtTheirPlaces_data() {
        QTest::addColumn<int>("type");
        QTest::newRow("bar, 14-pixel legend") << CChartWnd::kBarChart;
        QTest::newRow("pie, 16-pixel legend") << CChartWnd::kPieChart;
    }
    void legendSwatchesAtTheirPlaces() {
        QFETCH(int, type);
        DistributionChart sizes(ChartKind::PacketSize);
        const CChartWnd& chart = type == CChartWnd::kBarChart ? sizes.barChart() : sizes.pieChart();
        const QImage image = chart.render(kChartViewSize);
        const int w = kChartViewSize.width() - 5;
        const int h = kChartViewSize.height() - 20;
        const int longest = 25; // "1025 <= size < 1152 bytes"
        const int lfh = chart.legendFontHeight();
        const int left = w - longest * int(lfh * 0.66) - 30;
        const int top = h / 2 - (13 * 18 + 26) / 2;
        // The box, its border black.
        QCOMPARE_PIXEL(image, left, top + 5, Qt::black);
        QCOMPARE_PIXEL(image, w - 6, top + 5, Qt::black);
        QCOMPARE_PIXEL(image, left + 2, top + 2, Qt::white);
        const QFont legend = CChartWnd::chartFont(16);
        QVERIFY(inkAt(image, legend,
                      QPoint(left + (longest * int(lfh * 0.66) + 25) / 2 -
                                 3 * QFontMetrics(legend).averageCharWidth(),
                             top + 3),
                      QStringLiteral("Legend")) > 0);
        const int swatchLeft = left + 10 + (lfh / 2) * longest;
        for (int i = 0; i < 13; ++i) {
            const int y = top + 25 + 18 * i;
            const ChartCategory& c = sizes.info().categories[std::size_t(i)];
            const QColor colour(c.red, c.green, c.blue);
            QCOMPARE_PIXEL(image, swatchLeft, y + 6, Qt::black); // border
            QCOMPARE_PIXEL(image, w - 11, y + 6, Qt::black);
            QCOMPARE_PIXEL(image, swatchLeft + 1, y + 1, colour);
            QCOMPARE_PIXEL(image, (swatchLeft + w - 10) / 2, y + 6, colour);
            QCOMPARE_PIXEL(image, w - 12, y + 10, colour);
            QCOMPARE_PIXEL(image, w - 12, y + 14, Qt::white); // the gap below
        }
        QVERIFY(inkAt(image, CChartWnd::chartFont(lfh), QPoint(left + 5, top + 25 + 18 * 12),
                      QStringLiteral("1409 <= size < 1518 bytes")) > 0);
    }

    // Texts wider than the room the legend allots them (letters of a font
    // wider than half its height) widen the legend: none runs into its swatch.
    void legendTextsClearTheirSwatches_data() {
        QTest::addColumn<int>("fontHeight");
        QTest::addColumn<QString>("label");
        QTest::newRow("14, capitals") << 14 << QStringLiteral("MMMMMMMMMMMMMMMM");
        QTest::newRow("16, mixed") << 16 << QStringLiteral("Wide WWW mmm QQQ");
        QTest::newRow("14, narrow") << 14 << QStringLiteral("iiiiiiiiiiiiiiii");
    }
    void legendTextsClearTheirSwatches() {
        QFETCH(int, fontHeight);
        QFETCH(QString, label);
        CChartWnd chart(CChartWnd::kBarChart);
        chart.setLegendFontHeight(fontHeight);
        for (int i = 0; i < 3; ++i)
            chart.setCategoryLabel(i, label.left(label.size() - i));
        chart.addSeries(pieSeries({5, 3, 2}));
        const QImage image = chart.render(kChartViewSize);
        const int w = kChartViewSize.width() - 5;
        const int top = (kChartViewSize.height() - 20) / 2 - (3 * 18 + 26) / 2;
        const int longest = int(label.size());
        const int swatchLeft =
            w - longest * int(fontHeight * 0.66) - 30 + 10 + (fontHeight / 2) * longest;
        const int textWidth =
            QFontMetrics(CChartWnd::chartFont(fontHeight)).horizontalAdvance(label);
        const int textLeft =
            std::min(w - longest * int(fontHeight * 0.66) - 25, swatchLeft - 3 - textWidth);
        for (int i = 0; i < 3; ++i) {
            const int y = top + 25 + 18 * i;
            QCOMPARE_PIXEL(image, swatchLeft, y + 6, Qt::black);
            for (int x = swatchLeft - 2; x < swatchLeft; ++x)
                for (int dy = 0; dy <= 12; ++dy)
                    QCOMPARE_PIXEL(image, x, y + dy, Qt::white);
        }
        QVERIFY(inkAt(image, CChartWnd::chartFont(fontHeight), QPoint(textLeft, top + 25), label) >
                0);
    }

    void missingColourIsBlack() {
        CChartWnd chart(CChartWnd::kPieChart);
        chart.setCategoryLabel(0, QStringLiteral("first"));
        chart.setCategoryLabel(1, QStringLiteral("second"));
        chart.addColour(0, QColor(10, 200, 30));
        chart.addSeries(pieSeries({1, 1}));
        QCOMPARE(chart.colourAt(1), QColor(Qt::black));
        const QImage image = chart.render(QSize(500, 400));
        const int w = 495;
        const int top = 380 / 2 - (2 * 18 + 26) / 2;
        const int swatchLeft = w - 6 * int(12 * 0.66) - 30 + 10 + 6 * 6;
        QCOMPARE_PIXEL(image, swatchLeft + 3, top + 25 + 6, QColor(10, 200, 30));
        QCOMPARE_PIXEL(image, swatchLeft + 3, top + 25 + 18 + 6, Qt::black);
    }

    // 60, 128 and 1514 bytes in one second: class 0 holds 3.81 %, class 12
    // 96.19 %; their bars are 3 and 96 units long.
    void barLengthsAndShades() {
        DistributionChart sizes(ChartKind::PacketSize);
        DistributionChart::Bytes bytes{};
        bytes[0] = 60;
        bytes[12] = 1514;
        QVERIFY(sizes.show(bytes, false));
        const CChartWnd& chart = sizes.barChart();
        QCOMPARE(chart.series().size(), std::size_t(13));
        QCOMPARE(chart.series()[0].value(0), 3);
        QCOMPARE(chart.series()[12].value(12), 96);

        const QImage image = chart.render(kChartViewSize);
        const BarPlot p =
            barPlot(chart, kChartViewSize.width(), kChartViewSize.height(),
                    QStringLiteral("Packet Size"), QStringLiteral("Percentage (%)"), 25);
        QVERIFY(p.depth >= 3);
        const double scale = double(p.width - 10) / 100.0;
        const int thickness = int(p.row * 0.9);
        struct Row {
            int series;
            int value;
            QColor colour;
        };
        for (const Row& row : {Row{0, 3, QColor(0, 192, 0)}, Row{12, 96, QColor(255, 0, 0)}}) {
            const int centre = p.y0 - (row.series + 1) * p.row + p.row / 2;
            const int top = centre - thickness / 2;
            const int length = int(row.value * scale);
            QVERIFY(length > 1);
            // Front face from the axis to the length, then the lighter end face.
            QCOMPARE_PIXEL(image, p.x0 + 1, centre, row.colour);
            QCOMPARE_PIXEL(image, p.x0 + length - 1, centre, row.colour);
            QCOMPARE_PIXEL(image, p.x0 + length - 1, top + 1, row.colour);
            QCOMPARE_PIXEL(image, p.x0 + length - 1, top + thickness - 1, row.colour);
            QVERIFY(pixel(image, p.x0 + length - 1, top + thickness) != row.colour);
            QCOMPARE_PIXEL(image, p.x0 + length, centre, CChartWnd::lighter(row.colour));
            QCOMPARE_PIXEL(image, p.x0 + length + p.depth - 1, centre - p.depth + 1,
                           CChartWnd::lighter(row.colour));
            QVERIFY(pixel(image, p.x0 + length + p.depth + 1, centre) !=
                    CChartWnd::lighter(row.colour));
            // The darker top face above the front face.
            QCOMPARE_PIXEL(image, p.x0 + 2, top - 1, CChartWnd::darker(row.colour));
            if (length > p.depth + 2)
                QCOMPARE_PIXEL(image, p.x0 + length / 2, top - p.depth / 2,
                               CChartWnd::darker(row.colour));
        }
        // A row whose value is 0 draws nothing, not even a 3-D stub.
        for (int series = 1; series < 12; ++series) {
            const ChartCategory& c = sizes.info().categories[std::size_t(series)];
            const QColor colour(c.red, c.green, c.blue);
            const int centre = p.y0 - (series + 1) * p.row + p.row / 2;
            const QRect band(p.x0 + 1, centre - thickness / 2 - p.depth, 2 * p.depth + 4,
                             thickness + p.depth);
            for (QColor shade : {colour, CChartWnd::darker(colour), CChartWnd::lighter(colour)})
                QVERIFY2(countColour(image, band, shade) == 0,
                         qPrintable(QStringLiteral("row %1").arg(series)));
        }
        // Row names and labels on the left, right-aligned at x0 - 10.
        const QFont category = CChartWnd::chartFont(16);
        const QFontMetrics fm(category);
        const int v = (p.height - 10) / 13;
        const int bandTop = p.y0 - p.row * 1;
        const QString label = QStringLiteral("[ 60 B ]  3.81%");
        QVERIFY(inkAt(image, category,
                      QPoint(p.x0 - 10 - fm.horizontalAdvance(label),
                             bandTop - fm.height() / 2 + int(0.7 * v)),
                      label, QColor(0, 0, 255)) > 0);
        const QString name = QStringLiteral("size <= 64");
        QVERIFY(inkAt(image, category,
                      QPoint(p.x0 - 10 - fm.horizontalAdvance(name),
                             bandTop - fm.height() / 2 + int(0.3 * v)),
                      name, QColor(128, 0, 0)) > 0);
    }

    void shades_data() {
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QColor>("darker");
        QTest::addColumn<QColor>("lighter");
        QTest::newRow("mid") << QColor(100, 150, 200) << QColor(65, 115, 165)
                             << QColor(135, 185, 235);
        QTest::newRow("34 and 35 at the bottom")
            << QColor(34, 35, 0) << QColor(0, 0, 0) << QColor(69, 70, 35);
        QTest::newRow("capped at 255")
            << QColor(221, 220, 255) << QColor(186, 185, 220) << QColor(255, 255, 255);
    }
    void shades() {
        QFETCH(QColor, colour);
        QFETCH(QColor, darker);
        QFETCH(QColor, lighter);
        QCOMPARE(CChartWnd::darker(colour), darker);
        QCOMPARE(CChartWnd::lighter(colour), lighter);
    }

    void valueRange_data() {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("expectedMaximum");
        QTest::addColumn<int>("expectedStep");
        QTest::addColumn<int>("expectedTicks");
        QTest::newRow("0..100 step 10") << 0 << 100 << 10 << 100 << 10 << 10;
        QTest::newRow("0..5 step 10: one tick") << 0 << 5 << 10 << 5 << 5 << 1;
        QTest::newRow("0..95 step 10: ten ticks") << 0 << 95 << 10 << 95 << 10 << 10;
        QTest::newRow("max not above min") << 7 << 7 << 1 << 8 << 1 << 1;
        QTest::newRow("step 0: one tick") << 0 << 100 << 0 << 100 << 100 << 1;
    }
    void valueRange() {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, step);
        QFETCH(int, expectedMaximum);
        QFETCH(int, expectedStep);
        QFETCH(int, expectedTicks);
        CChartWnd chart(CChartWnd::kBarChart);
        chart.setOrientation(0);
        chart.setCategoryAxisTitle(QStringLiteral("Protocols"));
        chart.setValueAxisTitle(QStringLiteral("Percentage (%)"));
        chart.setTickFontHeight(16);
        chart.setGrid(true);
        chart.setValueRange(minimum, maximum, step);
        QCOMPARE(chart.valueMaximum(), expectedMaximum);
        QCOMPARE(chart.valueStep(), expectedStep);
        QCOMPARE(chart.tickCount(), expectedTicks);

        const QSize size(800, 500);
        const QImage image = chart.render(size);
        const BarPlot p = barPlot(chart, size.width(), size.height(), QStringLiteral("Protocols"),
                                  QStringLiteral("Percentage (%)"), 0);
        const QFont tick = CChartWnd::chartFont(16);
        const QFontMetrics fm(tick);
        const double s = double(p.width - 10) / expectedTicks;
        for (int k = 1; k <= expectedTicks; ++k) {
            const int x = p.x0 + int(k * s);
            const QString text = QString::number(minimum + expectedStep * k);
            QVERIFY2(
                inkAt(image, tick, QPoint(x - fm.horizontalAdvance(text) / 2, p.y0 + 8), text) > 0,
                qPrintable(text));
            // The grid line up the back plane, and the half-step mark below the axis.
            QCOMPARE_PIXEL(image, x + p.depth, p.y0 - p.height / 2, QColor(128, 128, 128));
            const int xm = p.x0 + int((k - 0.5) * s);
            QCOMPARE_PIXEL(image, xm, p.y0 + 2, Qt::black);
            QCOMPARE_PIXEL(image, xm + p.depth, p.y0 - p.height / 2, QColor(225, 225, 225));
        }
        // Nothing past the last tick's label.
        const QString past = QString::number(minimum + expectedStep * (expectedTicks + 1));
        const int xPast = p.x0 + int((expectedTicks + 1) * s);
        QCOMPARE(inkAt(image, tick, QPoint(xPast - fm.horizontalAdvance(past) / 2, p.y0 + 8), past),
                 0);
        const QString origin = minimum < 1 ? QStringLiteral("0") : QString::number(minimum);
        QVERIFY(inkAt(image, tick, QPoint(p.x0 - 8, p.y0 + 8), origin) > 0);
    }

    void barsStayInsideThePlot() {
        CChartWnd chart(CChartWnd::kBarChart);
        chart.setOrientation(0);
        ChartSeries s;
        s.addPoint(0, 70);
        s.addPoint(1, 250); // past the maximum, and stacked behind 70
        s.setColour(QColor(0, 0, 192));
        chart.setColourBySeries(true);
        chart.addSeries(s);
        const QSize size(600, 400);
        const QImage image = chart.render(size);
        const BarPlot p = barPlot(chart, size.width(), size.height(), {}, {}, 0);
        const int centre = p.y0 - p.row + p.row / 2;
        QCOMPARE_PIXEL(image, p.x0 + p.width - 1, centre, QColor(0, 0, 192));
        QCOMPARE_PIXEL(image, p.x0 + p.width, centre, CChartWnd::lighter(QColor(0, 0, 192)));
        QCOMPARE(countColour(image, QRect(p.x0 + p.width + 1, 0, size.width(), size.height()),
                             QColor(0, 0, 192)),
                 0);
    }

    void pieOfTotalZeroDrawsNothing() {
        CChartWnd empty(CChartWnd::kPieChart);
        empty.setTitle(QStringLiteral("Pie"));
        CChartWnd zeros(CChartWnd::kPieChart);
        zeros.setTitle(QStringLiteral("Pie"));
        zeros.addSeries(pieSeries({0, 0, 0, 0}));
        const QImage a = empty.render(QSize(640, 480));
        const QImage b = zeros.render(QSize(640, 480));
        QCOMPARE(a, b);
        // The same series with one value draws.
        CChartWnd one(CChartWnd::kPieChart);
        one.setTitle(QStringLiteral("Pie"));
        one.addSeries(pieSeries({0, 5, 0, 0}));
        QVERIFY(one.render(QSize(640, 480)) != a);
    }

    void pieSlicesFromNineOClock() {
        // A quarter in black, three quarters in red: 9 o'clock to 6 o'clock is black.
        CChartWnd chart(CChartWnd::kPieChart);
        chart.addColour(0, QColor(0, 0, 120));
        chart.addColour(1, QColor(200, 0, 0));
        chart.addSeries(pieSeries({25, 75}));
        const QSize size(640, 480);
        const QImage image = chart.render(size);
        const PieGeometry g = pieGeometry(size.width(), size.height());
        const int r = g.radius * 2 / 3;
        QCOMPARE_PIXEL(image, g.cx - r * 7 / 10, g.cy + r * 7 / 10,
                       QColor(0, 0, 120)); // lower left
        QCOMPARE_PIXEL(image, g.cx + r * 7 / 10, g.cy + r * 7 / 10,
                       QColor(200, 0, 0)); // lower right
        QCOMPARE_PIXEL(image, g.cx - r * 7 / 10, g.cy - r * 7 / 10,
                       QColor(200, 0, 0)); // upper left
        // The side of the pie below its front, in the darker shades.
        // Just outside the front circle, inside the one moved down by the depth.
        QVERIFY(int(g.radius * 0.05) >= 2);
        const QPoint side0 = onCircle(g.cx, g.cy, g.radius + 2, 60);
        const QPoint side1 = onCircle(g.cx, g.cy, g.radius + 2, 120);
        QCOMPARE_PIXEL(image, side0.x(), side0.y(), CChartWnd::darker(QColor(0, 0, 120)));
        QCOMPARE_PIXEL(image, side1.x(), side1.y(), CChartWnd::darker(QColor(200, 0, 0)));
        // Labels: 25 % on the left of the pie (its slice is on the lower
        // left), 75 % on the right, each where the layout puts it.
        const QFont font = CChartWnd::deviceFont();
        const std::vector<CChartWnd::PieLabel> labels = chart.pieLabels(size);
        QCOMPARE(labels.size(), std::size_t(2));
        QVERIFY(labels[0].box.right() < g.cx - g.radius);
        QVERIFY(labels[1].box.left() > g.cx + g.radius);
        QVERIFY(labels[0].box.top() > g.cy && labels[1].box.bottom() < g.cy);
        QVERIFY(inkAt(image, font, labels[0].box.topLeft() + QPoint(2, 0), QStringLiteral("25%")) >
                0);
        QVERIFY(inkAt(image, font, labels[1].box.topLeft() + QPoint(2, 0), QStringLiteral("75%")) >
                0);
    }

    // Pie labels stand in a column on each side of the pie: every slice has
    // one, none covers another or a slice, each is readable on what lies under
    // it, and no two leader lines cross.
    void pieLabelLayout_data() {
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<bool>("categoryLabels");
        QTest::newRow("one in a thousand") << QList<int>{1, 999} << false;
        QTest::newRow("two small, one large") << QList<int>{2, 2, 96} << false;
        QTest::newRow("halves") << QList<int>{50, 50} << false;
        QTest::newRow("ten small at nine o'clock")
            << QList<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 90} << false;
        QTest::newRow("small all round")
            << QList<int>{10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 34} << false;
        QTest::newRow("names, small ones clustered")
            << QList<int>{79, 0, 5, 0, 3, 3, 0, 4, 0, 0, 3, 0, 0} << true;
        QTest::newRow("names, all thirteen")
            << QList<int>{8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 4} << true;
    }
    void pieLabelLayout() {
        QFETCH(QList<int>, values);
        QFETCH(bool, categoryLabels);
        CChartWnd chart(CChartWnd::kPieChart);
        chart.setTitle(QStringLiteral("Pie"));
        ChartSeries series;
        int total = 0;
        for (int v : values)
            total += v;
        for (int c = 0; c < int(values.size()); ++c) {
            chart.addColour(c, QColor::fromHsv(c * 27 % 360, 255, 60 + c * 15));
            series.addPoint(c, values[c]);
            series.addPointLabel(c, QStringLiteral("%1.00%").arg(values[c] * 100 / total));
            if (categoryLabels)
                chart.setCategoryLabel(c, QStringLiteral("Category number %1 (long)").arg(c));
        }
        chart.setPieCategoryLabels(categoryLabels);
        chart.addSeries(series);
        for (const QSize size : {QSize(1024, 690), QSize(640, 480)}) {
            checkPieLabels(chart, size);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // The same on the pies of the test captures, one whole-file pie per chart.
    void pieLabelsOnTheTestCaptures_data() {
        QTest::addColumn<QString>("file");
        const QDir dir(QStringLiteral(QARSILO_PCAP_DIR));
        for (const QString& name :
             dir.entryList({QStringLiteral("*.pcap"), QStringLiteral("*.pcapng")}, QDir::Files))
            QTest::newRow(qPrintable(name)) << dir.filePath(name);
    }
    void pieLabelsOnTheTestCaptures() {
        QFETCH(QString, file);
        for (int k = 0; k < kChartKinds; ++k) {
            const auto kind = static_cast<ChartKind>(k);
            DistributionChart chart(kind);
            chart.setActiveType(CChartWnd::kPieChart);
            if (!countFile(chart, kind, file))
                QSKIP("not an Ethernet capture");
            if (!chart.tick(false))
                continue; // nothing of this chart in the file
            checkPieLabels(chart.pieChart(), kChartViewSize);
            if (QTest::currentTestFailed()) {
                qWarning("chart %s", chartKindInfo(kind).cliName);
                return;
            }
        }
    }

    void pieCategoryLabels() {
        DistributionChart sizes(ChartKind::PacketSize);
        sizes.setActiveType(CChartWnd::kPieChart);
        DistributionChart::Bytes bytes{};
        bytes[0] = 60;
        bytes[12] = 1514;
        QVERIFY(sizes.show(bytes, false));
        const CChartWnd& pie = sizes.pieChart();
        QCOMPARE(pie.series().size(), std::size_t(1));
        QCOMPARE(pie.series()[0].value(0), 3);
        QCOMPARE(pie.series()[0].pointLabel(0), QStringLiteral("3.81%"));
        QCOMPARE(pie.series()[0].pointLabel(12), QStringLiteral("96.19%"));
        QCOMPARE(pie.series()[0].pointLabel(5), QStringLiteral("0.00%"));
        const QImage image = pie.render(kChartViewSize);
        // The point labels in blue, the category labels in dark red, one each
        // for the two slices.
        const QFont font = CChartWnd::deviceFont();
        const QFontMetrics fm(font);
        int blue = 0;
        int red = 0;
        const int legendLeft = kChartViewSize.width() - 5 - 25 * int(16 * 0.66) - 30;
        for (int y = 1; y < image.height() - 1; ++y)
            for (int x = 1; x < legendLeft; ++x) {
                const QColor c = image.pixelColor(x, y);
                blue += c == QColor(0, 0, 255);
                red += c == QColor(128, 0, 0);
            }
        QImage expected(kChartViewSize, QImage::Format_RGB32);
        expected.fill(Qt::white);
        {
            QPainter p(&expected);
            p.setFont(font);
            p.setPen(QColor(0, 0, 255));
            p.drawText(100, 100, QStringLiteral("3.81%"));
            p.drawText(100, 200, QStringLiteral("96.19%"));
            p.setPen(QColor(128, 0, 0));
            p.drawText(300, 100, QStringLiteral("size <= 64 bytes"));
            p.drawText(300, 200, QStringLiteral("1409 <= size < 1518 bytes"));
        }
        QCOMPARE(blue, countColour(expected, expected.rect(), QColor(0, 0, 255)));
        QCOMPARE(red, countColour(expected, expected.rect(), QColor(128, 0, 0)));
    }

    void noGraphTypeToDisplay() {
        test::ScriptedMessageService messages;
        CChartWnd chart(7);
        QVERIFY(!chart.threeD());
        chart.setTitle(QStringLiteral("Chart"));
        const QImage image = chart.render(QSize(300, 200));
        QCOMPARE(messages.shown().size(), 1);
        QCOMPARE(messages.shown()[0].text, QStringLiteral("No graph type to display"));
        QVERIFY(
            inkAt(image, CChartWnd::chartFont(24),
                  QPoint(150 - 2 * QFontMetrics(CChartWnd::chartFont(24)).averageCharWidth(), 10),
                  QStringLiteral("Chart")) > 0);
    }

    // Sizes at which the layout leaves no room: the frame, and nothing drawn
    // outside the image or through a division by zero.
    void tinyWindowsDrawOnlyWhatFits_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("blank");
        for (int type : {CChartWnd::kBarChart, CChartWnd::kPieChart}) {
            const char* t = type == CChartWnd::kBarChart ? "bar" : "pie";
            QTest::addRow("%s 1x1", t) << type << QSize(1, 1) << true;
            QTest::addRow("%s 2x2", t) << type << QSize(2, 2) << true;
            QTest::addRow("%s 30x20", t) << type << QSize(30, 20) << true;
            QTest::addRow("%s 120x90", t) << type << QSize(120, 90) << false;
            QTest::addRow("%s 300x150", t) << type << QSize(300, 150) << false;
        }
    }
    void tinyWindowsDrawOnlyWhatFits() {
        QFETCH(int, type);
        QFETCH(QSize, size);
        QFETCH(bool, blank);
        DistributionChart sizes(ChartKind::PacketSize);
        DistributionChart::Bytes bytes{};
        bytes[3] = 500;
        bytes[7] = 100;
        sizes.setActiveType(type);
        QVERIFY(sizes.show(bytes, false));
        const QImage image = sizes.render(size);
        QCOMPARE(image.size(), size);
        QCOMPARE_PIXEL(image, 0, 0, Qt::black);
        if (blank && size.width() > 2 && size.height() > 2)
            QVERIFY(blankInside(image));
        if (!blank)
            QVERIFY(!blankInside(image)); // at least the title
        QVERIFY(CChartWnd(type).render(QSize(0, 10)).isNull());
    }

    void barChartWithoutSeries() {
        CChartWnd chart(CChartWnd::kBarChart);
        chart.setOrientation(0);
        chart.setCategoryLabel(0, QStringLiteral("a"));
        chart.addColour(0, QColor(0, 192, 0));
        const QImage image = chart.render(QSize(640, 480));
        // Axes and legend, no bar.
        QVERIFY(countColour(image, image.rect(), Qt::black) > 100);
        QCOMPARE(countColour(image, image.rect(), CChartWnd::lighter(QColor(0, 192, 0))), 0);
    }
};

QTEST_MAIN(TestChartWnd)
#include "tst_chart_wnd.moc"
