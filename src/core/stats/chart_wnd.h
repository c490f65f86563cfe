#pragma once

#include "core/stats/chart_series.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>

#include <utility>
#include <vector>

class QFontMetrics;
class QPainter;

/// A titled, framed chart drawn from series of integer values, category labels
/// and a colour table: a three-dimensional stacked bar chart (type 320, bars
/// lying along a horizontal value axis, one row per series) or a
/// three-dimensional pie chart (type 32, one pie per series). It knows nothing
/// of networks. Drawing is double-buffered: the whole chart goes into an
/// off-screen image of the client size, which is then copied in one step.
///
/// Geometry that does not fit the image (a tiny client area, no series, a pie
/// whose values add up to 0) is left out rather than drawn outside or divided
/// by zero; the frame is always drawn.
class CChartWnd {
public:
    static constexpr int kBarChart = 320;
    static constexpr int kPieChart = 32;

    /// `typeCode` 320 or 32; any other code draws "No graph type to display".
    explicit CChartWnd(int typeCode);

    int typeCode() const { return m_type; }
    bool threeD() const { return m_threeD; }

    void setTitle(const QString& text) { m_title = text; }
    void setCategoryAxisTitle(const QString& text) { m_categoryAxisTitle = text; }
    void setValueAxisTitle(const QString& text) { m_valueAxisTitle = text; }
    /// 0: bars lie along a horizontal value axis (the only layout drawn).
    void setOrientation(int orientation) { m_orientation = orientation; }
    void setTickFontHeight(int height) { m_tickFontHeight = height; }
    void setCategoryFontHeight(int height) { m_categoryFontHeight = height; }
    void setLegendFontHeight(int height) { m_legendFontHeight = height; }
    /// Depth of the 3-D faces relative to the plot height (bar) or radius (pie).
    void setDepthRatio(double ratio) { m_depthRatio = ratio; }
    void setGrid(bool on) { m_grid = on; }
    void setColourBySeries(bool on) { m_colourBySeries = on; }
    /// Pie labels show the category label and the point label instead of a percentage.
    void setPieCategoryLabels(bool on) { m_pieCategoryLabels = on; }
    /// Pie slices get leader lines and labels (on by default).
    void setPieLabels(bool on) { m_pieLabels = on; }

    const QString& title() const { return m_title; }
    int orientation() const { return m_orientation; }
    int tickFontHeight() const { return m_tickFontHeight; }
    int categoryFontHeight() const { return m_categoryFontHeight; }
    int legendFontHeight() const { return m_legendFontHeight; }
    double depthRatio() const { return m_depthRatio; }
    bool grid() const { return m_grid; }
    bool colourBySeries() const { return m_colourBySeries; }
    bool pieCategoryLabels() const { return m_pieCategoryLabels; }

    /// Appends; raises the largest point count to the series' point count.
    void addSeries(ChartSeries series);
    void clearSeries() { m_series.clear(); }
    const std::vector<ChartSeries>& series() const { return m_series; }
    /// The number of categories drawn: the most points any added series had.
    int largestPointCount() const { return m_largestPointCount; }

    /// Appends to the colour table, which is read by position.
    void addColour(int index, QColor colour) { m_colours.emplace_back(index, colour); }
    /// The colour at `position` of the table; black when there is none.
    QColor colourAt(int position) const;
    /// Appends to the category labels (read by position) and turns the legend on.
    void setCategoryLabel(int index, const QString& text);
    QString categoryLabelAt(int position) const;
    bool hasLegend() const { return !m_categoryLabels.empty(); }

    /// max becomes min + 1 when it is not above min. A step that does not
    /// fit the span becomes the span (one tick); a step of 0 or less too.
    void setValueRange(int minimum, int maximum, int step);
    int valueMinimum() const { return m_min; }
    int valueMaximum() const { return m_max; }
    int valueStep() const { return m_step; }
    int tickCount() const { return m_tickCount; }

    /// The colour the client area is filled with before the frame is drawn.
    void setBackground(QColor colour) { m_background = colour; }

    /// Draws into an off-screen image of `client`'s size and copies it to
    /// `target` at `client`'s top left in one step.
    void draw(QPainter& target, const QRect& client) const;
    /// The off-screen image alone (null for an empty size).
    QImage render(QSize size) const;

    /// The fonts the chart makes: bold Arial of `pixelHeight` pixels.
    static QFont chartFont(int pixelHeight);
    /// A pie slice's label as drawn: the leader line from inside the slice
    /// out to the text, and the text's box. Labels stand in a column on each
    /// side of the pie, in the order of their slices, so leader lines never
    /// cross and texts stand on white, never on a slice.
    struct PieLabel {
        int category = 0;
        QPolygon leader;
        QRect box;
        QString name; ///< the category label as drawn (elided when it must be)
    };
    /// The labels of pie `series` as drawn at `size` (empty when none are).
    std::vector<PieLabel> pieLabels(QSize size, int series = 0) const;
    /// The font of the pie's names and labels: the painter's own default.
    static QFont deviceFont();
    /// 3-D shades: each of red, green and blue 35 darker (0 at 34 or less) or
    /// 35 lighter (at most 255).
    static QColor darker(QColor colour);
    static QColor lighter(QColor colour);

private:
    struct Plot {
        int x0 = 0; ///< left
        int y0 = 0; ///< bottom
        int width = 0;
        int height = 0;
    };

    struct PieFrame {
        int cx = 0;
        int cy = 0;
        int radius = 0;
        int depth = 0;
        int labelRoom = 0; ///< the widest label a column beside this pie takes
    };

    void paint(QPainter& p, int width, int height) const;
    /// The legend's left edge at this size, or -1 when it does not fit.
    int legendLeft(int width, int height) const;
    /// Where each series' pie goes; empty when the pies do not fit.
    std::vector<PieFrame> pieFrames(int width, int height) const;
    std::vector<PieLabel> layoutPieLabels(const ChartSeries& series, const PieFrame& frame,
                                          int height) const;
    /// A slice's percentage text (without category labels).
    QString pieLabelText(const ChartSeries& series, int category, std::int64_t total) const;
    /// The width of a slice's label text in `fm`.
    int pieLabelWidth(const QFontMetrics& fm, const ChartSeries& series, int category,
                      std::int64_t total) const;
    void drawTitle(QPainter& p, int width) const;
    /// Returns the legend's left edge, or -1 when it is not drawn.
    int drawLegend(QPainter& p, int width, int height) const;
    void drawBarChart(QPainter& p, int width, int height) const;
    void drawPieChart(QPainter& p, int width, int height) const;
    void drawPie(QPainter& p, const ChartSeries& series, const PieFrame& frame, int height) const;
    QColor pointColour(const ChartSeries& series, int category) const;

    int m_type;
    bool m_threeD;
    int m_orientation = 1;
    QString m_title;
    QString m_categoryAxisTitle;
    QString m_valueAxisTitle;
    int m_tickFontHeight = 12;
    int m_categoryFontHeight = 12;
    int m_legendFontHeight = 12;
    double m_depthRatio = 0.05;
    bool m_grid = false;
    bool m_colourBySeries = false;
    bool m_pieCategoryLabels = false;
    bool m_pieLabels = true;
    std::vector<ChartSeries> m_series;
    int m_largestPointCount = 0;
    std::vector<std::pair<int, QColor>> m_colours;
    std::vector<std::pair<int, QString>> m_categoryLabels;
    int m_longestLabel = 0;
    int m_min = 0;
    int m_max = 100;
    int m_step = 10;
    int m_tickCount = 10;
    QColor m_background{240, 240, 240};
};
