#include "core/stats/chart_wnd.h"

#include "core/app/message_service.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace {

// Degrees to radians as the chart has always converted them (pi taken as 3.14159).
constexpr double kRadiansPerDegree = 0.017453277777777776;
// Pixels between a pie label's category and its value.
constexpr int kPieLabelGap = 5;

int toInt(double value) {
    return static_cast<int>(value);
}

// Text placed by its top left corner (the chart's coordinates name the top
// of each text, not its baseline).
void textOut(QPainter& p, int x, int y, const QString& text) {
    p.drawText(x, y + p.fontMetrics().ascent(), text);
}

// Text whose right end is at x.
void textOutRight(QPainter& p, int x, int y, const QString& text) {
    textOut(p, x - p.fontMetrics().horizontalAdvance(text), y, text);
}

void line(QPainter& p, QPoint a, QPoint b) {
    p.drawLine(a, b);
}

// Outline and fill in one colour.
void fillPolygon(QPainter& p, const QPolygon& polygon, QColor colour) {
    p.setPen(QPen(colour, 1));
    p.setBrush(colour);
    p.drawPolygon(polygon);
}

// Pixel rectangle from left/top to right/bottom, the right and bottom edges
// excluded, filled in one colour.
void fillBox(QPainter& p, int left, int top, int right, int bottom, QColor colour) {
    if (right > left && bottom > top)
        p.fillRect(QRect(left, top, right - left, bottom - top), colour);
}

// A white box with a one-pixel black border.
void whiteBox(QPainter& p, int left, int top, int right, int bottom) {
    fillBox(p, left, top, right, bottom, Qt::black);
    fillBox(p, left + 1, top + 1, right - 1, bottom - 1, Qt::white);
}

// The largest of start, start - 2, ... down to 2 that `fits`; 0 when none does.
template <typename Fits> int fittingHeight(int start, Fits fits) {
    for (int h = start; h > 0; h -= 2)
        if (fits(h))
            return h;
    return 0;
}

// The point of a circle at `degrees`, counted from 9 o'clock through
// 6 o'clock, 3 o'clock and 12 o'clock. The sine and cosine are taken of the
// remainder within the quarter, which keeps the chart's pixels.
QPoint circlePoint(int cx, int cy, int radius, int degrees) {
    if (degrees >= 360 || degrees < 0)
        degrees = degrees >= 360 ? 360 : 0;
    const double r = radius;
    const double rem = (degrees % 90) * kRadiansPerDegree;
    double dx = 0;
    double dy = 0;
    switch (degrees / 90) {
    case 0:
        dx = -r * std::cos(rem);
        dy = r * std::sin(rem);
        break;
    case 1:
        dx = r * std::sin(rem);
        dy = r * std::cos(rem);
        break;
    case 2:
        dx = r * std::cos(rem);
        dy = -r * std::sin(rem);
        break;
    case 3:
        dx = -r * std::sin(rem);
        dy = -r * std::cos(rem);
        break;
    default:
        dx = -r;
        break;
    }
    return {cx + toInt(dx), cy + toInt(dy)};
}

// A pie sector in one colour (outline and fill) of the circle centred at
// (cx, cy), from `fromDegrees` to `toDegrees` in the chart's counting.
void drawSector(QPainter& p, int cx, int cy, int radius, int fromDegrees, int spanDegrees,
                QColor colour) {
    p.setPen(QPen(colour, 1));
    p.setBrush(colour);
    // Qt counts from 3 o'clock, counter-clockwise on the screen, in 1/16 degree.
    p.drawPie(QRect(cx - radius, cy - radius, 2 * radius, 2 * radius), (180 + fromDegrees) * 16,
              spanDegrees * 16);
}

// The angle a slice ends at: its share of the circle, truncated. Integer
// arithmetic: floating point turns 1/3 of 360 into 119.
int shareDegrees(std::int64_t part, std::int64_t total) {
    return static_cast<int>(part * 360 / total);
}

} // namespace

CChartWnd::CChartWnd(int typeCode)
    : m_type(typeCode)
    , m_threeD(typeCode == kBarChart || typeCode == kPieChart) {}

void CChartWnd::addSeries(ChartSeries series) {
    m_largestPointCount = std::max(m_largestPointCount, series.pointCount());
    m_series.push_back(std::move(series));
}

QColor CChartWnd::colourAt(int position) const {
    if (position < 0 || position >= static_cast<int>(m_colours.size()))
        return Qt::black;
    return m_colours[static_cast<std::size_t>(position)].second;
}

void CChartWnd::setCategoryLabel(int index, const QString& text) {
    m_categoryLabels.emplace_back(index, text);
    m_longestLabel = std::max(m_longestLabel, static_cast<int>(text.length()));
}

QString CChartWnd::categoryLabelAt(int position) const {
    if (position < 0 || position >= static_cast<int>(m_categoryLabels.size()))
        return {};
    return m_categoryLabels[static_cast<std::size_t>(position)].second;
}

void CChartWnd::setValueRange(int minimum, int maximum, int step) {
    if (maximum <= minimum)
        maximum = minimum + 1;
    m_min = minimum;
    m_max = maximum;
    const long long span = static_cast<long long>(maximum) - minimum;
    // A step of 0 would divide by zero: one tick across the whole span.
    if (step <= 0 || span < step) {
        m_step = static_cast<int>(std::min<long long>(span, INT32_MAX));
        m_tickCount = 1;
        return;
    }
    m_step = step;
    long long ticks = span / step;
    if (static_cast<long long>(step) * ticks < span)
        ++ticks;
    m_tickCount = static_cast<int>(std::min<long long>(ticks, INT32_MAX));
}

QFont CChartWnd::chartFont(int pixelHeight) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::max(pixelHeight, 1));
    font.setWeight(QFont::Bold);
    return font;
}

QFont CChartWnd::deviceFont() {
    return QGuiApplication::font();
}

QColor CChartWnd::darker(QColor c) {
    auto down = [](int v) { return v <= 34 ? 0 : v - 35; };
    return QColor(down(c.red()), down(c.green()), down(c.blue()));
}

QColor CChartWnd::lighter(QColor c) {
    auto up = [](int v) { return std::min(v + 35, 255); };
    return QColor(up(c.red()), up(c.green()), up(c.blue()));
}

void CChartWnd::draw(QPainter& target, const QRect& client) const {
    const QImage image = render(client.size());
    if (!image.isNull())
        target.drawImage(client.topLeft(), image);
}

QImage CChartWnd::render(QSize size) const {
    if (size.isEmpty())
        return {};
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    p.setFont(deviceFont());
    paint(p, size.width(), size.height());
    return image;
}

void CChartWnd::paint(QPainter& p, int width, int height) const {
    p.fillRect(0, 0, width, height, m_background);
    whiteBox(p, 0, 0, width, height);
    drawTitle(p, width);
    switch (m_type) {
    case kBarChart:
        drawBarChart(p, width, height);
        break;
    case kPieChart:
        drawPieChart(p, width, height);
        break;
    default:
        qarsilo::MessageService::message(QStringLiteral("No graph type to display"));
        break;
    }
}

void CChartWnd::drawTitle(QPainter& p, int width) const {
    const int usable = width - 5;
    const int length = static_cast<int>(m_title.length());
    if (length == 0)
        return;
    // A title that fits at no height is left out rather than spill over the frame.
    const int h = fittingHeight(24, [&](int h) { return length * (h / 2) <= usable; });
    if (h == 0)
        return;
    p.save();
    p.setFont(chartFont(h));
    p.setPen(Qt::black);
    textOut(p, width / 2 - (length / 2) * p.fontMetrics().averageCharWidth(), 10, m_title);
    p.restore();
}

int CChartWnd::legendLeft(int width, int height) const {
    if (!hasLegend())
        return -1;
    const int usableW = width - 5;
    const int usableH = height - 20;
    const int legendHeight = m_largestPointCount * 18 + 26;
    const int top = usableH / 2 - legendHeight / 2;
    const int right = usableW - 5;
    const QFontMetrics legendMetrics(chartFont(m_legendFontHeight));
    int widest = 0;
    for (int i = 0; i < m_largestPointCount; ++i)
        widest = std::max(widest, legendMetrics.horizontalAdvance(categoryLabelAt(i)));
    const int room = (m_legendFontHeight / 2) * m_longestLabel + 2;
    const int extra = std::max(0, widest - room);
    const int left = usableW - m_longestLabel * toInt(m_legendFontHeight * 0.66) - 30 - extra;
    if (left < 1 || top < 1 || top + legendHeight > height - 1 || right > width - 1)
        return -1;
    return left;
}

int CChartWnd::drawLegend(QPainter& p, int width, int height) const {
    if (!hasLegend())
        return -1;
    const int usableW = width - 5;
    const int usableH = height - 20;
    const int n = m_largestPointCount;
    const int legendHeight = n * 18 + 26;
    const int top = usableH / 2 - legendHeight / 2;
    const int right = usableW - 5;
    const int perChar = toInt(m_legendFontHeight * 0.66);
    // The texts get (font height / 2) pixels a character before the swatches;
    // a font whose letters are wider widens the legend to the left, so that
    // no text runs into its swatch.
    const QFontMetrics legendMetrics(chartFont(m_legendFontHeight));
    int widest = 0;
    for (int i = 0; i < n; ++i)
        widest = std::max(widest, legendMetrics.horizontalAdvance(categoryLabelAt(i)));
    const int room = (m_legendFontHeight / 2) * m_longestLabel + 2;
    const int extra = std::max(0, widest - room);
    const int legendWidth = m_longestLabel * perChar + 25 + extra;
    const int left = usableW - m_longestLabel * perChar - 30 - extra;
    // A legend that does not fit the client area is left out.
    if (left < 1 || top < 1 || top + legendHeight > height - 1 || right > width - 1)
        return -1;

    p.save();
    whiteBox(p, left, top, right, top + legendHeight);
    p.setPen(Qt::black);
    p.setFont(chartFont(16));
    textOut(p, left + legendWidth / 2 - 3 * p.fontMetrics().averageCharWidth(), top + 3,
            QStringLiteral("Legend"));
    p.setFont(chartFont(m_legendFontHeight));
    const int swatchLeft = left + 10 + (m_legendFontHeight / 2) * m_longestLabel + extra;
    int y = top + 25;
    for (int i = 0; i < n; ++i) {
        p.setPen(Qt::black);
        textOut(p, left + 5, y, categoryLabelAt(i));
        fillBox(p, swatchLeft, y, usableW - 10, y + 12, Qt::black);
        fillBox(p, swatchLeft + 1, y + 1, usableW - 11, y + 11, colourAt(i));
        y += 18;
    }
    p.restore();
    return left;
}

QColor CChartWnd::pointColour(const ChartSeries& series, int category) const {
    return m_colourBySeries ? series.colour() : colourAt(category);
}

void CChartWnd::drawBarChart(QPainter& p, int width, int height) const {
    const int usableW = width - 5;
    const int usableH = height - 20;
    const int lenC = static_cast<int>(m_categoryAxisTitle.length());
    const int lenV = static_cast<int>(m_valueAxisTitle.length());
    // The caption font is sized by the longer side's title.
    auto captionFits = [&](int h) {
        return usableH < usableW ? usableH >= (h / 2) * lenV : usableW >= (h / 2) * lenC;
    };

    // Layout: room on the left for the rotated category caption and the row texts.
    int h = 0;
    int a = 0;
    if (const int fh = fittingHeight(20, captionFits); fh > 0) {
        const QFontMetrics fm(chartFont(fh));
        h = fm.height();
        a = fm.averageCharWidth();
    }
    const int t = lenC == 0 ? 0 : h + 10;
    Plot plot;
    plot.x0 = t + lenC * a + 85;
    plot.y0 = usableH - h - 15;
    plot.height = usableH - h - 55;
    plot.width = usableW - plot.x0 - 5;

    const int legendLeft = drawLegend(p, width, height);
    if (legendLeft >= 0)
        plot.width = legendLeft - plot.x0 - 10;

    const int d = toInt(plot.height * m_depthRatio);
    plot.width -= d;
    plot.height -= d;
    // Too small for a plot: nothing is drawn rather than drawn outside the image.
    if (plot.width <= 10 || plot.height <= 10 || d < 0 || plot.x0 - toInt(0.8 * d) < 1 ||
        plot.y0 - plot.height - d < 1 || plot.x0 + plot.width + d > width - 1)
        return;

    const int x0 = plot.x0;
    const int y0 = plot.y0;
    const int pw = plot.width;
    const int ph = plot.height;
    p.save();

    // Axes: the back plane's two axes, then the front plane's edges and the
    // edges that join the two planes.
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::NoBrush);
    line(p, {x0 + d - 1, y0 - d + 1}, {x0 + d - 1, y0 - d - ph + 1});
    line(p, {x0 + d - 1, y0 - d + 1}, {x0 + d + pw - 1, y0 - d + 1});
    line(p, {x0, y0 + toInt(0.2 * d)}, {x0, y0 - ph});
    line(p, {x0 - toInt(0.8 * d), y0}, {x0 + pw, y0});
    for (const QPoint from : {QPoint(x0, y0), QPoint(x0, y0 - ph), QPoint(x0 + pw, y0)})
        line(p, from, from + QPoint(d, -d));
    line(p, {x0 + d, y0 - ph - d}, {x0 + pw + d, y0 - ph - d});
    line(p, {x0 + pw + d, y0 - ph - d}, {x0 + pw + d, y0 - d});

    // Captions.
    if (const int ch = fittingHeight(16, captionFits); ch > 0) {
        p.setPen(Qt::black);
        p.setFont(chartFont(ch));
        const QFontMetrics fm = p.fontMetrics();
        if (lenC > 0) {
            p.save();
            p.translate(10, y0 - ph / 2 + (lenC / 2) * fm.averageCharWidth());
            p.rotate(-90);
            textOut(p, 0, 0, m_categoryAxisTitle);
            p.restore();
        }
        if (lenV > 0)
            textOut(p, x0 + pw / 2 - (lenV / 2) * fm.averageCharWidth(), usableH - 11,
                    m_valueAxisTitle);
    }

    // One row per series: ticks at the band tops, name and label on the left.
    const int n = static_cast<int>(m_series.size());
    const int r = n > 0 ? ph / n : 0;
    if (n > 0 && r > 0) {
        p.setFont(chartFont(m_categoryFontHeight));
        const int textHeight = p.fontMetrics().height();
        const int v = m_largestPointCount > 0 ? (ph - 10) / m_largestPointCount : 0;
        for (int k = 1; k <= n; ++k) {
            const int y = y0 - r * k;
            p.setPen(QPen(Qt::black, 1));
            line(p, {x0 - toInt(0.8 * d), y}, {x0, y});
            line(p, {x0, y}, {x0 + d, y - d});
            const ChartSeries& s = m_series[static_cast<std::size_t>(k - 1)];
            p.setPen(QColor(128, 0, 0));
            textOutRight(p, x0 - 10, y - textHeight / 2 + toInt(0.3 * v), s.name());
            p.setPen(QColor(0, 0, 255));
            textOutRight(p, x0 - 10, y - textHeight / 2 + toInt(0.7 * v), s.label());
        }
    }

    // Value ticks, grid and the half-step marks.
    p.setFont(chartFont(m_tickFontHeight));
    const double s = static_cast<double>(pw - 10) / m_tickCount;
    for (int k = 1; k <= m_tickCount; ++k) {
        const int x = x0 + toInt(k * s);
        p.setPen(QPen(Qt::black, 1));
        line(p, {x, y0}, {x + d, y0 - d});
        if (m_grid) {
            p.setPen(QPen(QColor(128, 128, 128), 1));
            line(p, {x, y0}, {x + d, y0 - d});
            line(p, {x + d, y0 - d}, {x + d, y0 - ph - d});
        }
        const QString text =
            QString::number(static_cast<long long>(m_min) + static_cast<long long>(m_step) * k);
        p.setPen(Qt::black);
        textOut(p, x - p.fontMetrics().horizontalAdvance(text) / 2, y0 + 8, text);
        const int xm = x0 + toInt((k - 0.5) * s);
        p.setPen(QPen(Qt::black, 1));
        line(p, {xm, y0 + toInt(0.8 * d)}, {xm, y0});
        if (m_grid) {
            p.setPen(QPen(QColor(225, 225, 225), 1));
            line(p, {xm, y0}, {xm + d, y0 - d});
            line(p, {xm + d, y0 - d}, {xm + d, y0 - ph - d});
        }
    }
    p.setPen(Qt::black);
    textOut(p, x0 - m_tickFontHeight / 2, y0 + 8,
            m_min < 1 ? QStringLiteral("0") : QString::number(m_min));

    // Bars: one row per series, its points stacked from the value axis.
    if (n > 0 && r > 0) {
        const int thickness = toInt(r * (m_threeD ? 0.9 : 0.8));
        const double scale = static_cast<double>(pw - 10) / (static_cast<double>(m_max) - m_min);
        for (int k = 0; k < n; ++k) {
            const ChartSeries& series = m_series[static_cast<std::size_t>(k)];
            const int centre = y0 - (k + 1) * r + r / 2;
            const int top = centre - thickness / 2;
            const int bottom = top + thickness;
            int left = x0;
            for (int j = 0; j < m_largestPointCount; ++j) {
                const std::int32_t value = series.value(j);
                if (value < 0 || value < m_min)
                    continue;
                const double units = static_cast<double>(value) - m_min;
                int length = units * scale >= pw ? pw : toInt(units * scale);
                if (value > m_min && length < 1)
                    length = toInt(scale);
                // Stacked bars end at the plot's right edge.
                length = std::clamp(length, 0, x0 + pw - left);
                if (length == 0)
                    continue; // nothing to show: no 3-D stub either
                const int right = left + length;
                const QColor colour = pointColour(series, j);
                fillBox(p, left, top, right, bottom, colour);
                if (m_threeD && d > 0) {
                    fillPolygon(p,
                                QPolygon({QPoint(left, top), QPoint(left + d, top - d),
                                          QPoint(right + d, top - d), QPoint(right, top)}),
                                darker(colour));
                    fillPolygon(p,
                                QPolygon({QPoint(right, top), QPoint(right + d, top - d),
                                          QPoint(right + d, bottom - d), QPoint(right, bottom)}),
                                lighter(colour));
                }
                left = right;
            }
        }
    }
    p.restore();
}

std::vector<CChartWnd::PieFrame> CChartWnd::pieFrames(int width, int height) const {
    const int usableW = width - 5;
    const int usableH = height - 20;
    Plot plot;
    plot.x0 = 5;
    plot.width = usableW - 10;
    plot.height = usableH - 50;
    if (const int left = legendLeft(width, height); left >= 0)
        plot.width = left - plot.x0 - 10;

    const int n = static_cast<int>(m_series.size());
    if (n == 0 || plot.width <= 0 || plot.height <= 0)
        return {};
    const QFontMetrics fm(deviceFont());
    const int cw = fm.maxWidth() + 10;
    int l = std::min(plot.width, plot.height) / n;
    if (m_pieLabels)
        l -= 3 * cw;
    const int fullRadius = l / 3;
    int radius = fullRadius;
    const int cy = (plot.height + 60) / 2;
    const int half = n == 1 ? plot.width / 2 : plot.width / n / 2;
    // A label column takes radius + gap (1.5 depth + 8) + 12 + its width + 5
    // of the pie's half share.
    const auto roomBeside = [&](int r) {
        return half - 25 - toInt(r * (1.0 + 1.5 * m_depthRatio));
    };
    if (m_pieLabels) {
        // Wide labels make the pie smaller, down to half its size; beyond
        // that the category names are elided.
        for (const ChartSeries& series : m_series) {
            std::int64_t total = 0;
            for (int j = 0; j < m_largestPointCount; ++j)
                total += std::max<std::int32_t>(series.value(j), 0);
            int widest = 0;
            for (int j = 0; total > 0 && j < m_largestPointCount; ++j)
                if (series.value(j) > 0)
                    widest = std::max(widest, pieLabelWidth(fm, series, j, total) + 4);
            while (radius > fullRadius / 2 && roomBeside(radius) < widest)
                --radius;
        }
    }
    // Too small for a pie (or a pie that would leave the image).
    if (radius <= 0 || cy - radius < 1)
        return {};
    std::vector<PieFrame> frames;
    for (int k = 1; k <= n; ++k) {
        const int share = plot.width / n;
        const int cx = n == 1 ? plot.x0 + plot.width / 2 : (2 * k - 1) * (share / 2) + plot.x0 + 15;
        frames.push_back(
            {cx, cy, radius, toInt(radius * m_depthRatio), std::max(roomBeside(radius), 0)});
    }
    return frames;
}

void CChartWnd::drawPieChart(QPainter& p, int width, int height) const {
    drawLegend(p, width, height);
    const std::vector<PieFrame> frames = pieFrames(width, height);
    if (frames.empty())
        return;
    const QFontMetrics fm(deviceFont());
    const int lineHeight = fm.height() + 6;
    p.save();
    p.setFont(deviceFont());
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const PieFrame& f = frames[k];
        const ChartSeries& series = m_series[k];
        drawPie(p, series, f, height);
        const int nameY = m_pieLabels ? f.cy + lineHeight + toInt(1.5 * f.radius) + 15
                                      : f.cy + f.radius + lineHeight + 15;
        p.setPen(Qt::black);
        textOut(p, f.cx - 4 * static_cast<int>(series.name().length()), nameY, series.name());
    }
    p.restore();
}

QString CChartWnd::pieLabelText(const ChartSeries& series, int category, std::int64_t total) const {
    return QStringLiteral("%1%").arg(static_cast<long long>(series.value(category)) * 100 / total);
}

int CChartWnd::pieLabelWidth(const QFontMetrics& fm, const ChartSeries& series, int category,
                             std::int64_t total) const {
    if (m_pieCategoryLabels)
        return fm.horizontalAdvance(categoryLabelAt(category)) + kPieLabelGap +
               fm.horizontalAdvance(series.pointLabel(category));
    return fm.horizontalAdvance(pieLabelText(series, category, total));
}

std::vector<CChartWnd::PieLabel> CChartWnd::layoutPieLabels(const ChartSeries& series,
                                                            const PieFrame& f, int height) const {
    std::int64_t total = 0;
    for (int j = 0; j < m_largestPointCount; ++j)
        total += std::max<std::int32_t>(series.value(j), 0);
    if (!m_pieLabels || total <= 0)
        return {};
    const QFontMetrics fm(deviceFont());
    const int lineHeight = fm.height() + 6;
    const int gap = toInt(1.5 * f.depth) + 8; // clear of the pie's 3-D side
    struct Item {
        PieLabel label;
        QPoint from; // inside the slice
        QPoint out;  // beyond the rim, on the slice's middle
        bool right;
        int width;
        int top = 0;
    };
    std::vector<Item> items;
    std::int64_t cumulative = 0;
    for (int j = 0; j < m_largestPointCount; ++j) {
        const std::int32_t value = series.value(j);
        if (value <= 0)
            continue; // no slice, no label
        cumulative += value;
        const std::int64_t middle = cumulative - std::max<std::int64_t>(value / 2, 1);
        const int q = shareDegrees(middle, total);
        const QPoint onCircle = circlePoint(f.cx, f.cy, f.radius, q);
        Item item;
        item.label.category = j;
        item.from = QPoint((f.cx + onCircle.x()) / 2, (f.cy + onCircle.y()) / 2);
        item.out = circlePoint(f.cx, f.cy, f.radius + gap, q);
        const int quarter = std::min(q / 90, 3);
        item.right = item.out.x() != f.cx ? item.out.x() > f.cx : quarter == 1 || quarter == 2;
        item.width = pieLabelWidth(fm, series, j, total) + 4;
        if (m_pieCategoryLabels) {
            item.label.name = categoryLabelAt(j);
            if (item.width > f.labelRoom) {
                // The value stays whole; the name gives way, in its middle.
                const int nameRoom = std::max(
                    f.labelRoom - 4 - kPieLabelGap - fm.horizontalAdvance(series.pointLabel(j)), 0);
                item.label.name = fm.elidedText(item.label.name, Qt::ElideMiddle, nameRoom);
                item.width = fm.horizontalAdvance(item.label.name) + kPieLabelGap +
                             fm.horizontalAdvance(series.pointLabel(j)) + 4;
            }
        }
        items.push_back(item);
    }

    // Each side is a column. Its upper labels are placed from the middle up
    // and its lower ones from the middle down, each one line from the last:
    // a label only ever moves away from the middle, in the order of the
    // slices, so no two leaders cross.
    const int h = fm.height();
    const int minTop = 2;
    const int maxTop = height - 22 - h;
    for (bool right : {false, true}) {
        std::vector<Item*> upper;
        std::vector<Item*> lower;
        for (Item& item : items)
            if (item.right == right)
                (item.out.y() < f.cy ? upper : lower).push_back(&item);
        std::sort(upper.begin(), upper.end(),
                  [](const Item* a, const Item* b) { return a->out.y() > b->out.y(); });
        std::sort(lower.begin(), lower.end(),
                  [](const Item* a, const Item* b) { return a->out.y() < b->out.y(); });
        int last = INT_MAX;
        int lowestUpper = INT_MIN;
        for (Item* item : upper) {
            item->top = std::min(item->out.y() - h / 2, last - lineHeight);
            last = item->top;
            lowestUpper = std::max(lowestUpper, item->top);
        }
        last = lowestUpper == INT_MIN ? INT_MIN / 2 : lowestUpper;
        for (Item* item : lower) {
            item->top = std::max(item->out.y() - h / 2, last + lineHeight);
            last = item->top;
        }
        // A column longer than the image moves in as a whole.
        if (!upper.empty() && upper.back()->top < minTop) {
            const int shift = minTop - upper.back()->top;
            for (Item* item : upper)
                item->top += shift;
            for (Item* item : lower)
                item->top += shift;
        }
        if (!lower.empty() && lower.back()->top > maxTop) {
            const int shift = lower.back()->top - maxTop;
            for (Item* item : lower)
                item->top -= shift;
            for (Item* item : upper)
                item->top -= shift;
        }
    }

    std::vector<PieLabel> labels;
    const int columnGap = 12;
    for (Item& item : items) {
        const int mid = item.top + h / 2;
        const int edge =
            item.right ? f.cx + f.radius + gap + columnGap : f.cx - f.radius - gap - columnGap;
        item.label.box = item.right ? QRect(edge, item.top, item.width, h)
                                    : QRect(edge - item.width, item.top, item.width, h);
        const int stop = item.right ? edge - 3 : edge + 3;
        // Straight on from the rim to the text: with the order kept, a later
        // leader stays on the far side of every earlier one.
        item.label.leader = QPolygon({item.from, item.out, QPoint(stop, mid)});
        labels.push_back(item.label);
    }
    return labels;
}

std::vector<CChartWnd::PieLabel> CChartWnd::pieLabels(QSize size, int series) const {
    if (m_type != kPieChart || series < 0 || series >= static_cast<int>(m_series.size()))
        return {};
    const std::vector<PieFrame> frames = pieFrames(size.width(), size.height());
    if (frames.empty())
        return {};
    return layoutPieLabels(m_series[static_cast<std::size_t>(series)],
                           frames[static_cast<std::size_t>(series)], size.height());
}

void CChartWnd::drawPie(QPainter& p, const ChartSeries& series, const PieFrame& frame,
                        int height) const {
    const int cx = frame.cx;
    const int cy = frame.cy;
    const int radius = frame.radius;
    const int depth = frame.depth;
    const int categories = m_largestPointCount;
    std::int64_t total = 0;
    for (int j = 0; j < categories; ++j)
        total += std::max<std::int32_t>(series.value(j), 0);
    // Nothing to share out: no slices and no labels.
    if (total <= 0)
        return;

    const QPoint moved(depth, depth);
    auto startPoint = [&](int j, int fromDegrees) {
        QPoint point = circlePoint(cx, cy, radius, fromDegrees);
        // The first category's start sits one pixel above 9 o'clock.
        if (j == 0)
            point.ry() -= 1;
        return point;
    };

    // Three-dimensional pass: the pie's side, on the circle moved by the depth.
    if (m_threeD && depth > 0) {
        std::int64_t cumulative = 0;
        int from = 0;
        int previousQuarter = 0;
        QColor remembered = Qt::black;
        for (int j = 0; j < categories; ++j) {
            const std::int32_t value = series.value(j);
            if (value <= 0)
                continue;
            cumulative += value;
            const int to = shareDegrees(cumulative, total);
            const int quarter = to / 90;
            const QPoint start = startPoint(j, from);
            const QPoint end = circlePoint(cx, cy, radius, to);
            const int span = to - from == 0 && value == total ? 360 : to - from;
            if (quarter < 2 || previousQuarter < 2) {
                const QColor colour = darker(pointColour(series, j));
                fillPolygon(p, QPolygon({start + moved, end + moved, end, start}), colour);
                if (span > 0)
                    drawSector(p, cx + depth, cy + depth, radius, from, span, colour);
                if (quarter > 1 && previousQuarter < 2)
                    remembered = colour;
            } else {
                if (span > 0)
                    drawSector(p, cx + depth, cy + depth, radius, from, span, remembered);
                fillPolygon(p, QPolygon({end + moved, end, start}), remembered);
            }
            previousQuarter = quarter;
            from = to;
        }
    }

    // Front pass.
    {
        std::int64_t cumulative = 0;
        int from = 0;
        for (int j = 0; j < categories; ++j) {
            const std::int32_t value = series.value(j);
            if (value <= 0)
                continue;
            cumulative += value;
            const int to = shareDegrees(cumulative, total);
            // A slice too thin for a whole degree has no sector to draw (a
            // sector of span 0 would otherwise be a whole circle).
            const int span = to - from == 0 && value == total ? 360 : to - from;
            if (span > 0)
                drawSector(p, cx, cy, radius, from, span, pointColour(series, j));
            from = to;
        }
    }

    // Labels: leader lines from inside the slice out to a column beside the
    // pie; the texts on white, whatever lies under them.
    const std::vector<PieLabel> labels = layoutPieLabels(series, frame, height);
    const QFontMetrics fm(p.font());
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    for (const PieLabel& label : labels)
        p.drawPolyline(label.leader);
    for (const PieLabel& label : labels) {
        p.fillRect(label.box, Qt::white);
        const int x = label.box.left() + 2;
        const int y = label.box.top();
        if (m_pieCategoryLabels) {
            const QString& name = label.name;
            p.setPen(QColor(128, 0, 0));
            textOut(p, x, y, name);
            p.setPen(QColor(0, 0, 255));
            textOut(p, x + fm.horizontalAdvance(name) + kPieLabelGap, y,
                    series.pointLabel(label.category));
        } else {
            p.setPen(Qt::black);
            textOut(p, x, y, pieLabelText(series, label.category, total));
        }
    }
}
